#include "model/category_tree.h"

#include <climits>

#include <algorithm>

namespace fetchora {
namespace {

constexpr size_t kNotFound = static_cast<size_t>(-1);

}  // namespace

CComPtrTree::~CComPtrTree()
{
    Clear();
}

void CComPtrTree::Clear()
{
    // Free leaf-first so that no node destructor has children left to walk.
    std::vector<DownloadJob*> all = m_nodes;
    m_nodes.clear();
    m_firstTop = nullptr;
    selected1 = nullptr;
    selected2 = nullptr;
    for (DownloadJob* node : all) {
        node->m_firstChild = nullptr;
        node->m_tree = nullptr;
    }
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        delete *it;
}

size_t CComPtrTree::indexOf(const DownloadJob* node) const
{
    const auto it = std::find(m_nodes.begin(), m_nodes.end(), node);
    return it == m_nodes.end() ? kNotFound : static_cast<size_t>(it - m_nodes.begin());
}

void CComPtrTree::collectSubtree(DownloadJob* node, std::vector<DownloadJob*>& out) const
{
    // Pre-order without recursion.
    std::vector<DownloadJob*> pending{node};
    while (!pending.empty()) {
        DownloadJob* current = pending.back();
        pending.pop_back();
        out.push_back(current);
        std::vector<DownloadJob*> children;
        for (DownloadJob* child = current->firstChild(); child; child = child->nextSibling())
            children.push_back(child);
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
}

size_t CComPtrTree::subtreeEnd(size_t index) const
{
    std::vector<DownloadJob*> subtree;
    collectSubtree(m_nodes[index], subtree);
    return index + subtree.size();
}

bool CComPtrTree::isInSubtree(const DownloadJob* node, const DownloadJob* root) const
{
    for (const DownloadJob* at = node; at; at = at->parent()) {
        if (at == root)
            return true;
    }
    return false;
}

void CComPtrTree::link(DownloadJob* parent, DownloadJob* node, DownloadJob* before)
{
    DownloadJob*& first = parent ? parent->m_firstChild : m_firstTop;
    node->m_parent = parent;
    node->parentId = parent ? parent->id : -1;
    if (before) {
        node->m_nextSibling = before;
        node->m_prevSibling = before->m_prevSibling;
        if (before->m_prevSibling)
            before->m_prevSibling->m_nextSibling = node;
        else
            first = node;
        before->m_prevSibling = node;
        return;
    }
    DownloadJob* last = first;
    while (last && last->m_nextSibling)
        last = last->m_nextSibling;
    node->m_prevSibling = last;
    node->m_nextSibling = nullptr;
    if (last)
        last->m_nextSibling = node;
    else
        first = node;
}

void CComPtrTree::unlink(DownloadJob* node)
{
    DownloadJob*& first = node->m_parent ? node->m_parent->m_firstChild : m_firstTop;
    if (node->m_prevSibling)
        node->m_prevSibling->m_nextSibling = node->m_nextSibling;
    else
        first = node->m_nextSibling;
    if (node->m_nextSibling)
        node->m_nextSibling->m_prevSibling = node->m_prevSibling;
    node->m_parent = nullptr;
    node->m_prevSibling = nullptr;
    node->m_nextSibling = nullptr;
}

int32_t CComPtrTree::LargestId() const
{
    int32_t largest = 0;
    for (const DownloadJob* node : m_nodes)
        largest = std::max(largest, node->id);
    return largest;
}

DownloadJob* CComPtrTree::Insert(DownloadJob* parent, std::unique_ptr<DownloadJob> node, uint32_t mode)
{
    if (!node || node->tree())
        return nullptr;
    if (parent && !Contains(parent))
        return nullptr;
    DownloadJob* before = nullptr;
    if (parent && (mode & 3) == kInsertFirst)
        before = parent->firstChild();
    return insertAt(parent, std::move(node), before, (mode & kInsertKeepId) != 0);
}

DownloadJob* CComPtrTree::InsertBefore(DownloadJob* parent, std::unique_ptr<DownloadJob> node, DownloadJob* sibling)
{
    if (!sibling)
        return Insert(parent, std::move(node), 0);
    if (!node || node->tree())
        return nullptr;
    if ((parent && !Contains(parent)) || !Contains(sibling) || sibling->parent() != parent)
        return nullptr;
    return insertAt(parent, std::move(node), sibling, false);
}

DownloadJob* CComPtrTree::insertAt(DownloadJob* parent, std::unique_ptr<DownloadJob> owned, DownloadJob* before,
                                   bool keepIds)
{
    DownloadJob* node = owned.release();
    std::vector<DownloadJob*> subtree;
    collectSubtree(node, subtree);
    if (!keepIds) {
        int64_t next = LargestId();
        std::vector<bool> used;  // filled only when the ids above the largest run out
        int32_t freeCandidate = 1;
        for (DownloadJob* member : subtree) {
            if (next < INT32_MAX) {
                member->id = static_cast<int32_t>(++next);
                continue;
            }
            // A damaged database may hold the largest id there is: reuse the
            // lowest free one instead of overflowing.
            if (used.empty()) {
                used.assign(m_nodes.size() + subtree.size() + 2, false);
                for (const DownloadJob* existing : m_nodes) {
                    if (existing->id > 0 && static_cast<size_t>(existing->id) < used.size())
                        used[static_cast<size_t>(existing->id)] = true;
                }
            }
            while (used[static_cast<size_t>(freeCandidate)])
                ++freeCandidate;
            used[static_cast<size_t>(freeCandidate)] = true;
            member->id = freeCandidate;
        }
    }
    link(parent, node, before);
    // A node's block goes right after its previous sibling's whole subtree,
    // or right after its parent when it is the first child.
    size_t position = 0;
    if (node->prevSibling())
        position = subtreeEnd(indexOf(node->prevSibling()));
    else if (parent)
        position = indexOf(parent) + 1;
    m_nodes.insert(m_nodes.begin() + static_cast<std::ptrdiff_t>(position), subtree.begin(), subtree.end());
    for (DownloadJob* member : subtree) {
        member->m_tree = this;
        if (member != node)
            member->parentId = member->parent()->id;
    }
    return node;
}

std::unique_ptr<DownloadJob> CComPtrTree::takeOut(DownloadJob* node)
{
    const size_t index = indexOf(node);
    if (index == kNotFound)
        return nullptr;
    const size_t end = subtreeEnd(index);
    for (size_t i = index; i < end; ++i)
        m_nodes[i]->m_tree = nullptr;
    m_nodes.erase(m_nodes.begin() + static_cast<std::ptrdiff_t>(index),
                  m_nodes.begin() + static_cast<std::ptrdiff_t>(end));
    unlink(node);
    return std::unique_ptr<DownloadJob>(node);
}

void CComPtrTree::forgetSelection()
{
    if (selected1 && !Contains(selected1))
        selected1 = nullptr;
    if (selected2 && !Contains(selected2))
        selected2 = nullptr;
}

std::unique_ptr<DownloadJob> CComPtrTree::Detach(DownloadJob* node)
{
    std::unique_ptr<DownloadJob> taken = takeOut(node);
    forgetSelection();
    return taken;
}

void CComPtrTree::Remove(DownloadJob* node)
{
    Detach(node);
}

bool CComPtrTree::Move(DownloadJob* newParent, DownloadJob* node)
{
    if (!Contains(node) || (newParent && !Contains(newParent)) || isInSubtree(newParent, node))
        return false;
    std::unique_ptr<DownloadJob> taken = takeOut(node);
    insertAt(newParent, std::move(taken), nullptr, true);
    return true;
}

bool CComPtrTree::MoveUp(DownloadJob* node)
{
    if (!Contains(node) || !node->prevSibling())
        return false;
    DownloadJob* previous = node->prevSibling();
    const size_t previousStart = indexOf(previous);
    const size_t nodeStart = indexOf(node);
    const size_t nodeEnd = subtreeEnd(nodeStart);
    std::rotate(m_nodes.begin() + static_cast<std::ptrdiff_t>(previousStart),
                m_nodes.begin() + static_cast<std::ptrdiff_t>(nodeStart),
                m_nodes.begin() + static_cast<std::ptrdiff_t>(nodeEnd));
    DownloadJob* parent = node->parent();
    unlink(node);
    link(parent, node, previous);
    return true;
}

bool CComPtrTree::MoveToEnd(DownloadJob* node)
{
    if (!Contains(node))
        return false;
    if (!node->nextSibling())
        return true;
    DownloadJob* last = node->nextSibling();
    while (last->nextSibling())
        last = last->nextSibling();
    const size_t nodeStart = indexOf(node);
    const size_t nodeEnd = subtreeEnd(nodeStart);
    const size_t lastEnd = subtreeEnd(indexOf(last));
    std::rotate(m_nodes.begin() + static_cast<std::ptrdiff_t>(nodeStart),
                m_nodes.begin() + static_cast<std::ptrdiff_t>(nodeEnd),
                m_nodes.begin() + static_cast<std::ptrdiff_t>(lastEnd));
    DownloadJob* parent = node->parent();
    unlink(node);
    link(parent, node, nullptr);
    return true;
}

void CComPtrTree::AdoptLoaded(std::vector<std::unique_ptr<DownloadJob>> records, const std::vector<size_t>& parents)
{
    Clear();
    std::vector<DownloadJob*> nodes(records.size(), nullptr);
    std::vector<DownloadJob*> lastChildOf(records.size(), nullptr);
    DownloadJob* lastTop = nullptr;
    for (size_t i = 0; i < records.size(); ++i) {
        DownloadJob* node = records[i].release();
        nodes[i] = node;
        const size_t parentIndex = i < parents.size() ? parents[i] : kLoadTopLevel;
        DownloadJob* parent = parentIndex < i ? nodes[parentIndex] : nullptr;
        DownloadJob*& last = parent ? lastChildOf[parentIndex] : lastTop;
        node->m_parent = parent;
        node->parentId = parent ? parent->id : -1;
        node->m_firstChild = nullptr;
        node->m_prevSibling = last;
        node->m_nextSibling = nullptr;
        node->m_tree = this;
        if (last)
            last->m_nextSibling = node;
        else if (parent)
            parent->m_firstChild = node;
        else
            m_firstTop = node;
        last = node;
    }
    // The flat list in tree order, which is the file order of a well-formed file.
    m_nodes.reserve(nodes.size());
    std::vector<DownloadJob*> pending;
    for (DownloadJob* top = lastTop; top; top = top->m_prevSibling)
        pending.push_back(top);
    while (!pending.empty()) {
        DownloadJob* node = pending.back();
        pending.pop_back();
        m_nodes.push_back(node);
        DownloadJob* child = node->m_firstChild;
        const size_t mark = pending.size();
        for (; child; child = child->m_nextSibling)
            pending.push_back(child);
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(mark), pending.end());
    }
}

DownloadJob* CComPtrTree::FindById(int32_t id) const
{
    for (DownloadJob* node : m_nodes) {
        if (node->id == id)
            return node;
    }
    return nullptr;
}

DownloadJob* CComPtrTree::FindCategory(CategoryKind kind) const
{
    for (DownloadJob* node : m_nodes) {
        if (node->IsCategory() && node->GetCategoryKind() == kind)
            return node;
    }
    return nullptr;
}

bool CComPtrTree::Contains(const DownloadJob* node) const
{
    return node && indexOf(node) != kNotFound;
}

int CComPtrTree::CountJobs(const DownloadJob* category) const
{
    if (!Contains(category))
        return 0;
    int count = 0;
    for (const DownloadJob* child = category->firstChild(); child; child = child->nextSibling()) {
        if (!child->IsCategory())
            ++count;
    }
    return count;
}

int CComPtrTree::CountRunning() const
{
    const DownloadJob* queue = FindCategory(CategoryKind::Downloading);
    if (!queue)
        return 0;
    int count = 0;
    for (const DownloadJob* child = queue->firstChild(); child; child = child->nextSibling()) {
        if (!child->IsCategory() && child->GetState() == JobState::Downloading)
            ++count;
    }
    return count;
}

}  // namespace fetchora
