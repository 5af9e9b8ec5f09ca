#pragma once
// Exporting the jobs of a Category: as one HTML page assembled from an
// export template, or as one job information file (".log") per job.
//
// Values put into the page are HTML-escaped (& < > " '): job URLs, names and
// comments come from web pages and servers, and the page is opened in a
// browser afterwards, so a value must never become markup. The fixed
// "&nbsp;" placeholders are markup on purpose and are not escaped.
//
// Thread: loop thread. The tree is read under the job lock; files are
// written after it is released. Borrows the tree and the template.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "lists/export_template.h"
#include "model/download_job.h"
#include "platform/job_lock.h"

namespace fetchora {

struct ExportOptions {
    bool includeSubCategories = false;
    bool sizesInBytes = false;  // the "Display file size in bytes" setting
};

// The Category's display path: its ordinary ancestors' names, each followed
// by "->", then its own name. Special ancestors are left out.
std::string CategoryDisplayPath(const DownloadJob& category);

// "{F_SIZE}": "&nbsp;" when the size is unknown; a completed job " %lu "
// (bytes) or " %luK " (size / 1024); otherwise " %lu / %lu " received and size.
std::string ExportSizeText(const DownloadJob& job, bool sizesInBytes);
// "{F_COMPLETETIME}": "&nbsp;" for -1, else the ctime text without its line feed.
std::string ExportCompleteTimeText(int32_t completeTime);

// C_START with "{C_NAME}" replaced, and ITEM with the job tokens replaced.
// Tokens are replaced in one pass over the template, so a value that
// happens to contain a token is never expanded again.
std::string ExpandCategoryStart(const std::string& categoryStart, const DownloadJob& category);
std::string ExpandItem(const std::string& item, const DownloadJob& job, bool sizesInBytes);

// The Category, then (when asked) its sub-categories depth first.
std::vector<const DownloadJob*> ExportedCategories(const DownloadJob& category, bool includeSubCategories);

// The whole page: F_START, a C_START / ITEM... / C_END block per Category,
// F_END. C_START, ITEM and C_END are each followed by CR LF.
std::string BuildHtmlExport(const ExportTemplate& format, const DownloadJob& category, const ExportOptions& options);

struct ExportResult {
    bool ok = false;
    std::string error;  // the file that failed and why
    int filesWritten = 0;
    int filesFailed = 0;
};

// Builds the page under the lock and writes it to output, replacing it.
ExportResult WriteHtmlExport(const std::filesystem::path& output, const ExportTemplate& format,
                             const DownloadJob& category, const ExportOptions& options, JobLock& jobLock);

// Writes the job information file of every job of the exported Categories.
// A file that fails does not stop the others; ok only when none failed.
ExportResult ExportIndividualLogs(const DownloadJob& category, const ExportOptions& options, JobLock& jobLock);

}  // namespace fetchora
