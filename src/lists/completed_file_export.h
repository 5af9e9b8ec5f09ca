#pragma once
// Copying completed downloads into a folder, each with a companion
// information file beside the copy, so that another installation can import
// them with their history.
//
// Thread: loop thread. Borrows the jobs; the caller holds the job lock
// while it gathers them.
#include <filesystem>
#include <string>
#include <vector>

#include "model/download_job.h"

namespace fetchora {

inline constexpr uint32_t kStrErrorOccured = 61241;  // "Error occured!"

struct FileExportResult {
    int copied = 0;
    int skipped = 0;  // jobs that are not completed
    std::vector<std::string> failures;  // one line per failed copy or companion file
    bool ok() const { return failures.empty(); }
};

// For every completed job: its file is copied into folder under its name,
// replacing a file of that name, and on success the companion file is
// written next to the copy. A failure does not stop the others.
FileExportResult ExportCompletedFiles(const std::vector<const DownloadJob*>& jobs, const std::filesystem::path& folder);

}  // namespace fetchora
