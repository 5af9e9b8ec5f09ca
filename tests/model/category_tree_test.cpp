#include "model/category_tree.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

std::unique_ptr<DownloadJob> makeCategory(const std::string& name)
{
    auto node = std::make_unique<DownloadJob>();
    node->nodeFlags = kNodeCategory;
    node->name = name;
    return node;
}

std::unique_ptr<DownloadJob> makeJob(const std::string& name)
{
    auto node = std::make_unique<DownloadJob>();
    node->fileName = name;
    return node;
}

// The flat list must be the pre-order walk of the sibling chains, and every
// back link must agree with the forward links.
void expectConsistent(const CComPtrTree& tree)
{
    std::vector<DownloadJob*> walk;
    std::vector<DownloadJob*> pending;
    DownloadJob* top = tree.empty() ? nullptr : tree.nodes().front();
    std::vector<DownloadJob*> tops;
    for (DownloadJob* node = top; node; node = node->nextSibling())
        tops.push_back(node);
    pending.assign(tops.rbegin(), tops.rend());
    while (!pending.empty()) {
        DownloadJob* node = pending.back();
        pending.pop_back();
        walk.push_back(node);
        std::vector<DownloadJob*> children;
        DownloadJob* previous = nullptr;
        for (DownloadJob* child = node->firstChild(); child; child = child->nextSibling()) {
            EXPECT_EQ(child->parent(), node);
            EXPECT_EQ(child->prevSibling(), previous);
            EXPECT_EQ(child->parentId, node->id);
            EXPECT_EQ(child->tree(), &tree);
            previous = child;
            children.push_back(child);
        }
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    EXPECT_EQ(walk, tree.nodes());
}

std::vector<std::string> flatNames(const CComPtrTree& tree)
{
    std::vector<std::string> names;
    for (const DownloadJob* node : tree.nodes())
        names.push_back(node->GetDisplayName());
    return names;
}

std::vector<int32_t> flatIds(const CComPtrTree& tree)
{
    std::vector<int32_t> ids;
    for (const DownloadJob* node : tree.nodes())
        ids.push_back(node->id);
    return ids;
}

using Names = std::vector<std::string>;

class CategoryTreeTest : public ::testing::Test {
protected:
    CategoryTreeTest()
    {
        root = tree.Insert(nullptr, makeCategory("root"));
        a = tree.Insert(root, makeCategory("A"));
        a1 = tree.Insert(a, makeJob("a1"));
        a2 = tree.Insert(a, makeJob("a2"));
        b = tree.Insert(root, makeCategory("B"));
    }

    CComPtrTree tree;
    DownloadJob* root;
    DownloadJob* a;
    DownloadJob* a1;
    DownloadJob* a2;
    DownloadJob* b;
};

TEST_F(CategoryTreeTest, InsertGivesEachNodeTheLargestIdPlusOne)
{
    EXPECT_EQ(flatIds(tree), (std::vector<int32_t>{1, 2, 3, 4, 5}));
    auto kept = makeJob("kept");
    kept->id = 40;
    tree.Insert(b, std::move(kept), CComPtrTree::kInsertKeepId);
    DownloadJob* next = tree.Insert(b, makeJob("next"));
    EXPECT_EQ(next->id, 41);
    expectConsistent(tree);
}

TEST_F(CategoryTreeTest, NewChildGoesAfterTheWholeSubtreeOfTheLastChild)
{
    DownloadJob* c = tree.Insert(root, makeCategory("C"));
    EXPECT_EQ(flatNames(tree), (Names{"root", "A", "a1", "a2", "B", "C"}));
    DownloadJob* first = tree.Insert(root, makeCategory("First"), CComPtrTree::kInsertFirst);
    EXPECT_EQ(flatNames(tree), (Names{"root", "First", "A", "a1", "a2", "B", "C"}));
    EXPECT_EQ(root->firstChild(), first);
    EXPECT_EQ(root->lastChild(), c);
    tree.Insert(a, makeJob("a3"));
    EXPECT_EQ(flatNames(tree), (Names{"root", "First", "A", "a1", "a2", "a3", "B", "C"}));
    expectConsistent(tree);
}

TEST_F(CategoryTreeTest, InsertUnderAParentOutsideTheTreeFails)
{
    DownloadJob outsider;
    EXPECT_EQ(tree.Insert(&outsider, makeJob("x")), nullptr);
    EXPECT_EQ(tree.size(), 5u);
    EXPECT_EQ(tree.Insert(a, nullptr), nullptr);
    expectConsistent(tree);
}

TEST_F(CategoryTreeTest, InsertBeforePlacesTheNodeInFrontOfItsSibling)
{
    DownloadJob* mid = tree.InsertBefore(a, makeJob("mid"), a2);
    ASSERT_NE(mid, nullptr);
    EXPECT_EQ(flatNames(tree), (Names{"root", "A", "a1", "mid", "a2", "B"}));
    tree.InsertBefore(root, makeCategory("Z"), a);
    EXPECT_EQ(flatNames(tree), (Names{"root", "Z", "A", "a1", "mid", "a2", "B"}));
    tree.InsertBefore(b, makeJob("b1"), nullptr);
    EXPECT_EQ(flatNames(tree), (Names{"root", "Z", "A", "a1", "mid", "a2", "B", "b1"}));
    EXPECT_EQ(tree.InsertBefore(b, makeJob("wrong parent"), a1), nullptr);
    expectConsistent(tree);
}

TEST_F(CategoryTreeTest, MoveKeepsIdsAndTheChildrensOrder)
{
    tree.Insert(a1, makeJob("deep"));
    const std::vector<int32_t> idsBefore = {a->id, a1->id, a2->id};
    ASSERT_TRUE(tree.Move(b, a));
    EXPECT_EQ(flatNames(tree), (Names{"root", "B", "A", "a1", "deep", "a2"}));
    EXPECT_EQ((std::vector<int32_t>{a->id, a1->id, a2->id}), idsBefore);
    EXPECT_EQ(a->parent(), b);
    EXPECT_EQ(a->parentId, b->id);
    expectConsistent(tree);
}

TEST_F(CategoryTreeTest, MoveRefusesCyclesAndUnknownParentsWithoutChangingAnything)
{
    const Names before = flatNames(tree);
    EXPECT_FALSE(tree.Move(a1, a)) << "into its own subtree";
    EXPECT_FALSE(tree.Move(a, a)) << "under itself";
    DownloadJob outsider;
    EXPECT_FALSE(tree.Move(&outsider, a2));
    EXPECT_EQ(flatNames(tree), before);
    expectConsistent(tree);
}

TEST_F(CategoryTreeTest, MoveKeepsTheSelection)
{
    tree.selected1 = a;
    tree.selected2 = a2;
    ASSERT_TRUE(tree.Move(b, a));
    EXPECT_EQ(tree.selected1, a);
    EXPECT_EQ(tree.selected2, a2);
}

TEST_F(CategoryTreeTest, MoveUpSwapsWholeSubtrees)
{
    EXPECT_FALSE(tree.MoveUp(a)) << "already first";
    ASSERT_TRUE(tree.MoveUp(b));
    EXPECT_EQ(flatNames(tree), (Names{"root", "B", "A", "a1", "a2"}));
    ASSERT_TRUE(tree.MoveUp(a2));
    EXPECT_EQ(flatNames(tree), (Names{"root", "B", "A", "a2", "a1"}));
    expectConsistent(tree);
}

TEST_F(CategoryTreeTest, MoveToEndMakesTheNodeTheLastSibling)
{
    tree.Insert(b, makeJob("b1"));
    ASSERT_TRUE(tree.MoveToEnd(a));
    EXPECT_EQ(flatNames(tree), (Names{"root", "B", "b1", "A", "a1", "a2"}));
    ASSERT_TRUE(tree.MoveToEnd(a));
    EXPECT_EQ(flatNames(tree), (Names{"root", "B", "b1", "A", "a1", "a2"}));
    ASSERT_TRUE(tree.MoveToEnd(a1));
    EXPECT_EQ(flatNames(tree), (Names{"root", "B", "b1", "A", "a2", "a1"}));
    expectConsistent(tree);
}

TEST_F(CategoryTreeTest, RemoveDestroysTheSubtreeAndForgetsIt)
{
    tree.selected1 = a;
    tree.selected2 = a1;
    const DownloadJob* gone = a1;
    tree.Remove(a);
    EXPECT_EQ(flatNames(tree), (Names{"root", "B"}));
    EXPECT_FALSE(tree.Contains(gone));
    EXPECT_EQ(tree.selected1, nullptr);
    EXPECT_EQ(tree.selected2, nullptr);
    EXPECT_EQ(tree.FindById(2), nullptr);
    expectConsistent(tree);
}

TEST_F(CategoryTreeTest, DetachHandsTheSubtreeOverForReinsertion)
{
    std::unique_ptr<DownloadJob> taken = tree.Detach(a);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->tree(), nullptr);
    EXPECT_EQ(taken->firstChild(), a1);
    EXPECT_EQ(flatNames(tree), (Names{"root", "B"}));
    DownloadJob* back = tree.Insert(b, std::move(taken), CComPtrTree::kInsertKeepId);
    EXPECT_EQ(back, a);
    EXPECT_EQ(flatNames(tree), (Names{"root", "B", "A", "a1", "a2"}));
    EXPECT_EQ(tree.Detach(nullptr), nullptr);
    expectConsistent(tree);
}

TEST_F(CategoryTreeTest, ASubtreeInsertedWithoutKeepIdGetsFreshIds)
{
    std::unique_ptr<DownloadJob> taken = tree.Detach(a);
    tree.Insert(b, std::move(taken));
    EXPECT_EQ(flatIds(tree), (std::vector<int32_t>{1, 5, 6, 7, 8}));
}

TEST_F(CategoryTreeTest, QueriesByIdKindAndCount)
{
    EXPECT_EQ(tree.FindById(a2->id), a2);
    EXPECT_EQ(tree.FindById(999), nullptr);
    b->kind = static_cast<uint32_t>(CategoryKind::Downloading);
    a->kind = static_cast<uint32_t>(CategoryKind::Downloaded) | 0x100;  // only the low bits count
    EXPECT_EQ(tree.FindCategory(CategoryKind::Downloading), b);
    EXPECT_EQ(tree.FindCategory(CategoryKind::Downloaded), a);
    EXPECT_EQ(tree.FindCategory(CategoryKind::Deleted), nullptr);
    tree.Insert(a, makeCategory("sub"));
    EXPECT_EQ(tree.CountJobs(a), 2);
    EXPECT_EQ(tree.CountJobs(root), 0);

    DownloadJob* running = tree.Insert(b, makeJob("running"));
    tree.Insert(b, makeJob("waiting"));
    running->SetState(JobState::Downloading, false);
    a1->SetState(JobState::Downloading, false);  // not in the queue
    EXPECT_EQ(tree.CountRunning(), 1);
    EXPECT_EQ(tree.LargestId(), 8);
}

TEST(CategoryTree, ClearAndDestructionFreeEveryNode)
{
    CComPtrTree tree;
    DownloadJob* parent = tree.Insert(nullptr, makeCategory("top"));
    for (int depth = 0; depth < 200; ++depth)
        parent = tree.Insert(parent, makeCategory("level"));
    tree.Insert(nullptr, makeCategory("second top"));
    EXPECT_EQ(tree.size(), 202u);
    tree.Clear();
    EXPECT_TRUE(tree.empty());
    EXPECT_EQ(tree.Insert(nullptr, makeCategory("again"))->id, 1);
}

}  // namespace
}  // namespace fetchora

namespace fetchora {
namespace {

TEST(CategoryTree, NewIdsNeverOverflowAfterTheLargestIdThereIs)
{
    CComPtrTree tree;
    DownloadJob* root = tree.Insert(nullptr, makeCategory("root"), 0);
    auto loaded = makeJob("damaged");
    loaded->id = INT32_MAX;
    tree.Insert(root, std::move(loaded), 8);
    DownloadJob* added = tree.Insert(root, makeJob("new"), 0);
    ASSERT_NE(added, nullptr);
    EXPECT_GT(added->id, 0);
    EXPECT_NE(added->id, root->id);
    EXPECT_NE(added->id, INT32_MAX);
}

}  // namespace
}  // namespace fetchora
