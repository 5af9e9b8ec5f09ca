#include "lists/completed_file_export.h"

#include <system_error>

#include "lists/companion_file.h"

namespace fetchora {

FileExportResult ExportCompletedFiles(const std::vector<const DownloadJob*>& jobs, const std::filesystem::path& folder)
{
    FileExportResult result;
    for (const DownloadJob* job : jobs) {
        if (!job || job->IsCategory() || !job->IsComplete()) {
            ++result.skipped;
            continue;
        }
        const std::filesystem::path from = job->GetLocalPath();
        const std::filesystem::path to = folder / job->GetDisplayName();
        std::error_code ec;
        if (std::filesystem::equivalent(from, to, ec)) {
            result.failures.push_back(from.string() + ": already in the export folder");
            continue;
        }
        ec.clear();
        std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) {
            result.failures.push_back(from.string() + ": " + ec.message());
            continue;
        }
        std::string error;
        if (!WriteCompanionFile(to, *job, &error)) {
            result.failures.push_back(error);
            continue;
        }
        ++result.copied;
    }
    return result;
}

}  // namespace fetchora
