#include "lists/completed_file_export.h"

#include <system_error>

#include "lang/string_table.h"
#include "lang/system_error_text.h"
#include "lists/companion_file.h"
#include "lists/companion_texts.h"

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
            result.failures.push_back(builtinText(kStrExportAlreadyThere, {from.string()}));
            continue;
        }
        ec.clear();
        std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) {
            result.failures.push_back(from.string() + ": " + systemErrorText(ec.value()));
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
