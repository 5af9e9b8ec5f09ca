#pragma once
// The job database document: owns the category tree with every job and
// Category in it for as long as the database is open, creates records with
// their defaults and the main view as their notify window, and builds the
// default tree (root, Download, Downloaded with four user Categories,
// Deleted).
//
// Thread: loop thread. Holds a reference to the application's job lock, which
// the database file pass takes. Borrows the notify window and the string
// lookup.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/category_tree.h"
#include "model/download_job.h"
#include "platform/job_lock.h"

namespace fetchora {

// String-table ids the document uses.
inline constexpr uint32_t kStrAppTitle = 0xE000;  // "Fetchora"
inline constexpr uint32_t kStrDownloading = 61204;  // "Download"
inline constexpr uint32_t kStrDownloaded = 61206;  // "Downloaded"
inline constexpr uint32_t kStrDeleted = 61231;  // "Deleted"
inline constexpr uint32_t kStrDefaultCategories = 61296;  // "Software,Game,Driver,Mp3"

// Looks a message up in the active language.
using StringLookup = std::function<std::string(uint32_t id)>;

// A Category folder that could not be created.
struct FolderProblem {
    std::string folder;
    std::string error;
};

class CZoviradDoc {
public:
    // Without a lookup (or where it has no text) the built-in English strings apply.
    CZoviradDoc(JobLock& jobLock, StringLookup strings = {});
    ~CZoviradDoc();
    CZoviradDoc(const CZoviradDoc&) = delete;
    CZoviradDoc& operator=(const CZoviradDoc&) = delete;

    // A new, empty database with the default Categories. Category folders
    // are created below defaultDownloadFolder; those that cannot be are
    // returned (the Categories exist all the same).
    std::vector<FolderProblem> OnNewDocument(const std::string& defaultDownloadFolder);
    // Adds the default Categories to an empty tree (a loaded file without
    // nodes). Does nothing to a tree that has nodes.
    std::vector<FolderProblem> CreateDefaultCategories(const std::string& defaultDownloadFolder);
    // Special Categories take their names from the string table by kind.
    void RefreshSpecialNames();

    // Stops every queued job through the callback, then destroys the tree.
    void DeleteContents(const std::function<void(DownloadJob&)>& stopQueuedJob = {});

    CComPtrTree& tree() { return m_tree; }
    const CComPtrTree& tree() const { return m_tree; }
    JobLock& jobLock() { return m_jobLock; }

    // The main view; given to every record created from now on and set on
    // every record in the tree (none when the view goes away).
    void SetNotifyWindow(JobNotifySink* window);
    JobNotifySink* notifyWindow() const { return m_notifyWindow; }

    // A record with the creation defaults, not yet in the tree.
    std::unique_ptr<DownloadJob> NewRecord(NodeKind nodeKind, const JobDefaults& defaults, int32_t now) const;
    // Inserts a job last under category (default: Downloading, the queue).
    DownloadJob* AddJob(std::unique_ptr<DownloadJob> job, DownloadJob* category = nullptr);
    // A user Category under parent (default: the root).
    DownloadJob* AddCategory(std::string name, std::string folder, DownloadJob* parent = nullptr);

    DownloadJob* root() const { return m_tree.FindCategory(CategoryKind::Root); }
    DownloadJob* downloading() const { return m_tree.FindCategory(CategoryKind::Downloading); }
    DownloadJob* downloaded() const { return m_tree.FindCategory(CategoryKind::Downloaded); }
    DownloadJob* deleted() const { return m_tree.FindCategory(CategoryKind::Deleted); }

    // Files a completed job under the Category named by its categoryId
    // (Downloaded when that names none). False when it already is there.
    bool PlaceCompletedJob(DownloadJob& job);

private:
    std::string lookup(uint32_t id) const;
    std::string specialName(CategoryKind kind) const;
    DownloadJob* addSpecial(DownloadJob* parent, CategoryKind kind, int32_t image, const std::string& folder);

    JobLock& m_jobLock;
    StringLookup m_strings;
    CComPtrTree m_tree;
    JobNotifySink* m_notifyWindow = nullptr;
};

using JobDatabase = CZoviradDoc;

}  // namespace fetchora
