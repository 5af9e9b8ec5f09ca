#pragma once
// The tree of Categories and jobs, with the flat list of all its nodes in tree
// order: every node follows its parent and its elder siblings' subtrees. That
// order is the order of the database file and of the download queue.
//
// Thread: loop thread only (the database file pass holds the job lock).
// Ownership: the tree owns its top-level nodes, each node its children; the
// flat list and the two selected nodes only point into that.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/download_job.h"

namespace fetchora {

class CComPtrTree {
public:
    // Insert modes.
    static constexpr uint32_t kInsertFirst = 1;  // (mode & 3) == 1: become the first child
    static constexpr uint32_t kInsertKeepId = 8;  // keep the node's ids instead of allocating

    CComPtrTree() = default;
    virtual ~CComPtrTree();
    CComPtrTree(const CComPtrTree&) = delete;
    CComPtrTree& operator=(const CComPtrTree&) = delete;

    // Links a node (with any subtree it carries) under parent: as its first
    // child when the parent has none or mode asks for it, else as the last
    // one; without a parent at the end of the top level. Unless
    // kInsertKeepId, every inserted node gets (largest id in the tree) + 1 in
    // turn. Returns the node, or none (and the node is destroyed) when the
    // parent is not in this tree.
    DownloadJob* Insert(DownloadJob* parent, std::unique_ptr<DownloadJob> node, uint32_t mode = 0);
    // As Insert, in front of sibling among parent's children; without a
    // sibling it is Insert with mode 0. Fails when the sibling is not a child
    // of parent.
    DownloadJob* InsertBefore(DownloadJob* parent, std::unique_ptr<DownloadJob> node, DownloadJob* sibling);

    // Unlinks the node and destroys it with its subtree.
    void Remove(DownloadJob* node);
    // Unlinks the node with its subtree and hands it over.
    std::unique_ptr<DownloadJob> Detach(DownloadJob* node);

    // Moves the node with its subtree under newParent (none = top level),
    // last among the children, keeping every id and the children's order.
    // False, and nothing changes, when newParent is not in the tree or lies
    // inside the node's own subtree.
    bool Move(DownloadJob* newParent, DownloadJob* node);
    // Swaps the node with its previous sibling. False when it is the first.
    bool MoveUp(DownloadJob* node);
    // Makes the node the last of its siblings.
    bool MoveToEnd(DownloadJob* node);

    // Loading: replaces the tree with records read in file order, keeping
    // their ids. parents[i] is the index of an earlier record to link record
    // i under as its last child, or kLoadTopLevel. Linear in the number of
    // records, where one Insert per record would be quadratic.
    static constexpr size_t kLoadTopLevel = static_cast<size_t>(-1);
    void AdoptLoaded(std::vector<std::unique_ptr<DownloadJob>> records, const std::vector<size_t>& parents);

    DownloadJob* FindById(int32_t id) const;
    // The first Category (in flat order) of that kind.
    DownloadJob* FindCategory(CategoryKind kind) const;
    // Whether the pointer names a node of this tree. Safe for pointers to
    // records that were destroyed meanwhile: it never dereferences them.
    bool Contains(const DownloadJob* node) const;
    // Direct children of the Category that are jobs.
    int CountJobs(const DownloadJob* category) const;
    // Jobs directly under Downloading whose state is Downloading.
    int CountRunning() const;

    const std::vector<DownloadJob*>& nodes() const { return m_nodes; }
    size_t size() const { return m_nodes.size(); }
    bool empty() const { return m_nodes.empty(); }
    int32_t LargestId() const;
    // Destroys every node.
    void Clear();

    std::string name;
    // The current Category and the current job of the views; marked in the
    // stored file. Cleared when the node they point at is removed.
    DownloadJob* selected1 = nullptr;
    DownloadJob* selected2 = nullptr;

private:
    size_t indexOf(const DownloadJob* node) const;  // npos when absent
    size_t subtreeEnd(size_t index) const;  // one past the node's subtree in m_nodes
    bool isInSubtree(const DownloadJob* node, const DownloadJob* root) const;
    void collectSubtree(DownloadJob* node, std::vector<DownloadJob*>& out) const;
    void link(DownloadJob* parent, DownloadJob* node, DownloadJob* before);
    void unlink(DownloadJob* node);
    DownloadJob* insertAt(DownloadJob* parent, std::unique_ptr<DownloadJob> node, DownloadJob* before, bool keepIds);
    std::unique_ptr<DownloadJob> takeOut(DownloadJob* node);
    void forgetSelection();

    std::vector<DownloadJob*> m_nodes;
    DownloadJob* m_firstTop = nullptr;
};

}  // namespace fetchora
