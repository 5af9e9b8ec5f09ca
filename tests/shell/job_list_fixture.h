#pragma once
// A category tree for the job list's tests: root, "Download", "Downloaded"
// and "Deleted", with jobs added under any of them.
#include <memory>
#include <string>
#include <vector>

#include "model/category_tree.h"
#include "model/download_job.h"

namespace fetchora::test {

class JobListTree {
public:
    JobListTree()
    {
        std::vector<std::unique_ptr<DownloadJob>> records;
        records.push_back(category("Fetchora", CategoryKind::Root, 1));
        records.push_back(category("Download", CategoryKind::Downloading, 2));
        records.push_back(category("Downloaded", CategoryKind::Downloaded, 3));
        records.push_back(category("Deleted", CategoryKind::Deleted, 8));
        tree.AdoptLoaded(std::move(records), {CComPtrTree::kLoadTopLevel, 0, 0, 0});
        download = tree.FindCategory(CategoryKind::Downloading);
        downloaded = tree.FindCategory(CategoryKind::Downloaded);
        deleted = tree.FindCategory(CategoryKind::Deleted);
    }

    // A job of that name last under the category.
    DownloadJob& add(DownloadJob* under, const std::string& fileName, int64_t size = -1, int64_t received = 0)
    {
        auto job = std::make_unique<DownloadJob>();
        job->fileName = fileName;
        job->url = "http://example.com/" + fileName;
        job->splitCount = 2;
        setSize(*job, size);
        job->completedBytes = received;
        return *tree.Insert(under, std::move(job));
    }

    static void setSize(DownloadJob& job, int64_t size)
    {
        job.fileSize = size;
        if (size >= 0)
            job.optionFlags |= kOptSizeKnown;
        else
            job.optionFlags &= ~kOptSizeKnown;
    }

    CComPtrTree tree;
    DownloadJob* download = nullptr;
    DownloadJob* downloaded = nullptr;
    DownloadJob* deleted = nullptr;

private:
    static std::unique_ptr<DownloadJob> category(const std::string& name, CategoryKind kind, int32_t id)
    {
        auto node = std::make_unique<DownloadJob>();
        node->name = name;
        node->kind = static_cast<uint32_t>(kind);
        node->nodeFlags = kNodeCategory;
        node->id = id;
        return node;
    }
};

}  // namespace fetchora::test
