#include "lists/database_merge.h"

#include <gtest/gtest.h>
#include <set>

#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;

DownloadJob* named(const CZoviradDoc& doc, const std::string& name)
{
    for (DownloadJob* node : doc.tree().nodes()) {
        if (node->IsCategory() && node->name == name)
            return node;
    }
    return nullptr;
}

DownloadJob* addJob(CZoviradDoc& doc, DownloadJob* category, const std::string& url)
{
    auto job = doc.NewRecord(NodeKind::Job, JobDefaults{}, 1000);
    job->SetUrl(url);
    job->categoryId = category->id;
    return doc.AddJob(std::move(job), category);
}

std::vector<std::string> urlsUnder(const DownloadJob* category)
{
    std::vector<std::string> urls;
    for (const DownloadJob* child = category->firstChild(); child; child = child->nextSibling()) {
        if (!child->IsCategory())
            urls.push_back(child->url);
    }
    return urls;
}

class DatabaseMergeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        target.OnNewDocument(dir.path().string());
        source.OnNewDocument(dir.path().string());
    }

    test::TempDir dir;
    JobLock targetLock;
    JobLock sourceLock;
    CZoviradDoc target{targetLock};
    CZoviradDoc source{sourceLock};
};

TEST_F(DatabaseMergeTest, CategoriesMapBySpecialKindAndByNameIgnoringCase)
{
    // Source: Downloaded/GAME (matches "Game"), Downloaded/Books/Novels (new), the queue.
    DownloadJob* game = named(source, "Game");
    game->name = "GAME";
    DownloadJob* books = source.AddCategory("Books", "/books", source.downloaded());
    DownloadJob* novels = source.AddCategory("Novels", "/novels", books);
    addJob(source, game, "http://h/g1");
    addJob(source, novels, "http://h/n1");
    DownloadJob* queued = addJob(source, source.downloading(), "http://h/q1");
    queued->categoryId = books->id;
    addJob(source, source.downloaded(), "http://h/d1");

    const MergeResult result = MergeDatabase(target, source, AllCategories(source));
    EXPECT_EQ(result.jobsMoved, 4);
    EXPECT_EQ(result.categoriesCreated, 2);
    EXPECT_EQ(urlsUnder(named(target, "Game")), std::vector<std::string>{"http://h/g1"});
    DownloadJob* newBooks = named(target, "Books");
    ASSERT_NE(newBooks, nullptr);
    EXPECT_EQ(newBooks->parent(), target.downloaded());
    EXPECT_EQ(newBooks->saveFolder, "/books");
    DownloadJob* newNovels = named(target, "Novels");
    ASSERT_NE(newNovels, nullptr);
    EXPECT_EQ(newNovels->parent(), newBooks);
    EXPECT_EQ(urlsUnder(newNovels), std::vector<std::string>{"http://h/n1"});
    EXPECT_EQ(newNovels->firstChild()->categoryId, newNovels->id);
    EXPECT_EQ(urlsUnder(target.downloading()), std::vector<std::string>{"http://h/q1"});
    EXPECT_EQ(target.downloading()->firstChild()->categoryId, newBooks->id);
    EXPECT_EQ(urlsUnder(target.downloaded()), std::vector<std::string>{"http://h/d1"});
    EXPECT_TRUE(urlsUnder(source.downloading()).empty());

    // Ids in the open database stay unique.
    std::set<int32_t> ids;
    for (const DownloadJob* node : target.tree().nodes())
        EXPECT_TRUE(ids.insert(node->id).second) << node->id;
}

TEST_F(DatabaseMergeTest, UntickedCategoriesKeepTheirJobsAndCreateNothing)
{
    DownloadJob* books = source.AddCategory("Books", "/books", source.downloaded());
    DownloadJob* novels = source.AddCategory("Novels", "/novels", books);
    DownloadJob* game = named(source, "Game");
    addJob(source, books, "http://h/b1");
    addJob(source, novels, "http://h/n1");
    addJob(source, game, "http://h/g1");

    auto ticked = AllCategories(source);
    ticked.erase(books);  // Novels stays ticked but has no parent to go under
    ticked.erase(game);  // Game exists in the open database but is not taken
    const MergeResult result = MergeDatabase(target, source, ticked);
    EXPECT_EQ(result.jobsMoved, 0);
    EXPECT_EQ(result.categoriesCreated, 0);
    EXPECT_EQ(named(target, "Books"), nullptr);
    EXPECT_TRUE(urlsUnder(named(target, "Game")).empty());
    EXPECT_EQ(urlsUnder(books), std::vector<std::string>{"http://h/b1"});
}

TEST_F(DatabaseMergeTest, LoadingRefusesMissingForeignAndDamagedFiles)
{
    JobLock lock;
    CZoviradDoc other{lock};
    const MergeLoadResult missing = LoadMergeSource(dir / "none.kxd", other, {});
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error.rfind("Create or Open file error.", 0), 0u) << missing.error;

    test::writeFile(dir / "text.kxd", "not a database");
    EXPECT_FALSE(LoadMergeSource(dir / "text.kxd", other, {}).ok);

    addJob(source, source.downloaded(), "http://h/1");
    addJob(source, source.downloaded(), "http://h/2");
    const std::string image = StoreTree(source.tree());
    test::writeFile(dir / "good.kxd", image);
    const MergeLoadResult good = LoadMergeSource(dir / "good.kxd", other, {});
    ASSERT_TRUE(good.ok) << good.error;
    EXPECT_EQ(good.jobs, 2);

    test::writeFile(dir / "cut.kxd", image.substr(0, image.size() - 5));
    const MergeLoadResult cut = LoadMergeSource(dir / "cut.kxd", other, {});
    EXPECT_FALSE(cut.ok);
    EXPECT_NE(cut.error.find("cut.kxd"), std::string::npos);
}

}  // namespace
}  // namespace fetchora
