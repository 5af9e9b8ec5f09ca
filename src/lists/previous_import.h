#pragma once
// Turning files that already lie on disk into jobs: an earlier download as a
// completed job, a whole folder of them, and a partial file left by another
// program as a job that resumes where the file ends.
//
// Thread: loop thread, which alone changes the tree. Jobs are built and added
// under the document's job lock; files are moved outside it.
// Borrows the document and the Categories it is given.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "model/download_job.h"
#include "model/job_database.h"
#include "model/kxd_format.h"

namespace fetchora {

inline constexpr std::string_view kTextTotalAdded = "Total add %d files.";

// What the file on disk is.
struct DiskFile {
    std::filesystem::path path;
    int64_t size = 0;
    int32_t modified = -1;  // seconds since 1970, the last-write time
};
// False with a reason when the path is not a regular file that can be examined.
bool StatDiskFile(const std::filesystem::path& path, DiskFile& out, std::string* error = nullptr);

// The dialog's answers.
struct ImportChoice {
    std::string url;
    std::string referer;
    std::string comment;
    DownloadJob* category = nullptr;  // none: "Downloaded"
    bool moveFile = false;
};

struct ImportResult {
    DownloadJob* job = nullptr;  // the job added; none on failure
    bool moved = false;
    std::string error;  // why nothing was added
    std::string warning;  // e.g. why the file stayed where it was
};

// Adds an earlier download as a completed job. `loaded` is the job of the
// file's companion file when it had one (its history is kept); without it a
// new job is made. Either way the job takes the file's size and time and is
// Completed. URL, referer and comment come from the choice
// (an empty URL is allowed: an old file may have none; a non-empty one must
// parse). A move that fails leaves the file and files the job where it is.
ImportResult ImportPreviousFile(CZoviradDoc& doc, const JobDefaults& defaults, int32_t now, const DiskFile& file,
                                const ImportChoice& choice, std::unique_ptr<DownloadJob> loaded = nullptr);

// Adds a partial file as a job that resumes from its length: Ready, Manual,
// resume ability unknown, always in "Download"; the chosen Category is only
// recorded. The URL must parse. The job writes straight into the file (no
// ".kx!" file), since that is where its data already is.
ImportResult ImportBrokenDownload(CZoviradDoc& doc, const JobDefaults& defaults, int32_t now, const DiskFile& file,
                                  const ImportChoice& choice);

struct FolderImportOptions {
    std::filesystem::path folder;
    bool includeSubFolders = false;
    DownloadJob* category = nullptr;  // none: "Downloaded"
    bool autoCreateCategory = false;
    KxdLoadOptions companion;  // how companion files are read
};

struct FolderImportResult {
    int added = 0;
    int categoriesCreated = 0;
    std::vector<std::string> problems;  // folders or companion files that could not be read
    std::string message;  // "Total add %d files."
};

// Every regular file of the folder (and of its sub-folders when asked; links
// to folders are not followed, so a loop cannot make it run forever) becomes
// a completed job, in name order; companion files are skipped and used.
FolderImportResult ImportFolder(CZoviradDoc& doc, const JobDefaults& defaults, int32_t now,
                                const FolderImportOptions& options);

}  // namespace fetchora
