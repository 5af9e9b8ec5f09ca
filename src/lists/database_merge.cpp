#include "lists/database_merge.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "lang/string_table.h"
#include "lang/system_error_text.h"
#include "lists/file_error.h"
#include "model/database_texts.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

DownloadJob* ordinaryChildNamed(DownloadJob* parent, const std::string& name)
{
    for (DownloadJob* child = parent->firstChild(); child; child = child->nextSibling()) {
        if (child->IsCategory() && !child->IsSpecialCategory() && equalsIgnoringCase(child->name, name))
            return child;
    }
    return nullptr;
}

std::string openErrorText(const std::filesystem::path& file, const std::string& reason)
{
    return std::string(builtinString(kStrCreateOrOpenError)) + " " + file.string() + ": " + reason;
}

}  // namespace

MergeLoadResult LoadMergeSource(const std::filesystem::path& file, CZoviradDoc& source, const KxdLoadOptions& options)
{
    MergeLoadResult result;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec) {
        result.error = openErrorText(file, systemErrorText(ec.value()));
        return result;
    }
    if (size > kMergeFileLimit) {
        result.error = openErrorText(file, std::string(builtinString(kStrFileTooLarge)));
        return result;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        result.error = openErrorText(file, systemErrorText(errno));
        return result;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        result.error = openErrorText(file, std::string(builtinString(kStrFileReasonReadError)));
        return result;
    }
    JobLockGuard lock(source.jobLock());
    const KxdLoadReport report = LoadTree(bytes, source, options);
    if (!report.signature) {
        result.error = openErrorText(file, std::string(builtinString(kStrFileNotDatabase)));
        return result;
    }
    if (report.damaged()) {
        result.error = openErrorText(
            file, builtinText(kStrFileDamagedAt, {shownArchiveError(report.error), std::to_string(report.errorOffset)}));
        return result;
    }
    for (const DownloadJob* node : source.tree().nodes()) {
        if (!node->IsCategory())
            ++result.jobs;
    }
    result.ok = true;
    return result;
}

MergeResult MergeDatabase(CZoviradDoc& target, CZoviradDoc& source,
                          const std::unordered_set<const DownloadJob*>& ticked)
{
    MergeResult result;
    JobLockGuard targetLock(target.jobLock());
    JobLockGuard sourceLock(source.jobLock());

    // Flat order puts every Category after its parent, so one pass maps
    // them depth first.
    std::unordered_map<const DownloadJob*, DownloadJob*> mapped;
    std::vector<std::pair<DownloadJob*, DownloadJob*>> moves;  // job, destination
    for (DownloadJob* node : source.tree().nodes()) {
        if (!node->IsCategory())
            continue;
        DownloadJob* match = nullptr;
        if (node->IsSpecialCategory()) {
            match = target.tree().FindCategory(node->GetCategoryKind());
        } else {
            DownloadJob* parentMatch = nullptr;
            if (!node->parent())
                parentMatch = target.root();
            else if (const auto found = mapped.find(node->parent()); found != mapped.end())
                parentMatch = found->second;
            if (parentMatch) {
                match = ordinaryChildNamed(parentMatch, node->name);
                if (!match && ticked.count(node)) {
                    match = target.AddCategory(node->name, node->saveFolder, parentMatch);
                    if (match)
                        ++result.categoriesCreated;
                }
            }
        }
        if (!match)
            continue;
        mapped.emplace(node, match);
        if (!ticked.count(node))
            continue;
        for (DownloadJob* child = node->firstChild(); child; child = child->nextSibling()) {
            if (!child->IsCategory())
                moves.emplace_back(child, match);
        }
    }
    for (auto& [job, destination] : moves) {
        // A queued job's categoryId names where it is filed when it
        // completes; it follows that Category's match.
        int32_t categoryId = destination->id;
        const DownloadJob* filedIn = source.tree().FindById(job->categoryId);
        if (const auto found = mapped.find(filedIn); filedIn && found != mapped.end())
            categoryId = found->second->id;
        else if (destination->GetCategoryKind() == CategoryKind::Downloading && target.downloaded())
            categoryId = target.downloaded()->id;
        std::unique_ptr<DownloadJob> taken = source.tree().Detach(job);
        if (!taken)
            continue;
        taken->categoryId = categoryId;
        taken->notifyWindow = target.notifyWindow();
        if (target.AddJob(std::move(taken), destination))
            ++result.jobsMoved;
    }
    return result;
}

std::unordered_set<const DownloadJob*> AllCategories(const CZoviradDoc& doc)
{
    std::unordered_set<const DownloadJob*> out;
    for (const DownloadJob* node : doc.tree().nodes()) {
        if (node->IsCategory())
            out.insert(node);
    }
    return out;
}

}  // namespace fetchora
