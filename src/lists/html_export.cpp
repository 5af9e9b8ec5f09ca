#include "lists/html_export.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>

#include "engine/job_info_file.h"
#include "lang/string_table.h"
#include "lists/file_error.h"
#include "platform/atomic_file.h"

namespace fetchora {

namespace {

constexpr std::string_view kNbsp = "&nbsp;";

std::string escapeHtml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

struct Token {
    std::string_view name;
    std::string value;
};

std::string replaceTokens(const std::string& text, const std::vector<Token>& tokens)
{
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        bool replaced = false;
        if (text[pos] == '{') {
            for (const Token& token : tokens) {
                if (text.compare(pos, token.name.size(), token.name) == 0) {
                    out += token.value;
                    pos += token.name.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text[pos++];
    }
    return out;
}

bool isJob(const DownloadJob* node)
{
    return node && !node->IsCategory();
}

}  // namespace

namespace {

std::string displayPath(const DownloadJob& category, std::string (*nameText)(std::string_view))
{
    std::vector<const DownloadJob*> ancestors;
    for (const DownloadJob* up = category.parent(); up; up = up->parent()) {
        if (up->IsCategory() && !up->IsSpecialCategory())
            ancestors.push_back(up);
    }
    std::string path;
    for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
        path += nameText((*it)->name);
        path += "->";
    }
    path += nameText(category.name);
    return path;
}

std::string plainText(std::string_view text)
{
    return std::string(text);
}

}  // namespace

std::string CategoryDisplayPath(const DownloadJob& category)
{
    return displayPath(category, &plainText);
}

std::string ExportSizeText(const DownloadJob& job, bool sizesInBytes)
{
    if (!job.IsSizeKnown() || job.fileSize < 0)
        return std::string(kNbsp);
    const auto size = static_cast<uint64_t>(job.fileSize);
    if (job.IsComplete()) {
        if (sizesInBytes)
            return " " + std::to_string(size) + " ";
        return " " + std::to_string(size / 1024) + "K ";
    }
    const auto received = static_cast<uint64_t>(std::max<int64_t>(job.completedBytes, 0));
    return " " + std::to_string(received) + " / " + std::to_string(size) + " ";
}

std::string ExportCompleteTimeText(int32_t completeTime)
{
    if (completeTime == -1)
        return std::string(kNbsp);
    const std::time_t when = completeTime;
    char text[64];
    if (ctime_r(&when, text) == nullptr)
        return std::string(kNbsp);
    std::string out(text);
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

std::string ExpandCategoryStart(const std::string& categoryStart, const DownloadJob& category)
{
    return replaceTokens(categoryStart, {{"{C_NAME}", displayPath(category, &escapeHtml)}});
}

std::string ExpandItem(const std::string& item, const DownloadJob& job, bool sizesInBytes)
{
    const std::vector<Token> tokens = {
        {"{F_NAME}", escapeHtml(job.GetDisplayName())},
        {"{F_URL}", escapeHtml(job.url)},
        {"{F_REFERER}", escapeHtml(job.referer)},
        {"{F_SIZE}", ExportSizeText(job, sizesInBytes)},
        {"{F_COMPLETETIME}", ExportCompleteTimeText(job.completeTime)},
        {"{F_SAVEAS}", escapeHtml(job.GetLocalPath())},
        {"{F_COMMENT}", job.comment().empty() ? std::string(kNbsp) : escapeHtml(job.comment())},
    };
    return replaceTokens(item, tokens);
}

std::vector<const DownloadJob*> ExportedCategories(const DownloadJob& category, bool includeSubCategories)
{
    std::vector<const DownloadJob*> out{&category};
    if (!includeSubCategories)
        return out;
    // An explicit stack instead of recursion: a deep tree from a damaged
    // file must not exhaust the call stack.
    std::vector<const DownloadJob*> pending;
    const auto pushChildren = [&pending](const DownloadJob* parent) {
        std::vector<const DownloadJob*> children;
        for (const DownloadJob* child = parent->firstChild(); child; child = child->nextSibling()) {
            if (child->IsCategory())
                children.push_back(child);
        }
        pending.insert(pending.end(), children.rbegin(), children.rend());
    };
    pushChildren(&category);
    while (!pending.empty()) {
        const DownloadJob* next = pending.back();
        pending.pop_back();
        out.push_back(next);
        pushChildren(next);
    }
    return out;
}

std::string BuildHtmlExport(const ExportTemplate& format, const DownloadJob& category, const ExportOptions& options)
{
    std::string page = format.fileStart;
    for (const DownloadJob* exported : ExportedCategories(category, options.includeSubCategories)) {
        page += ExpandCategoryStart(format.categoryStart, *exported);
        page += "\r\n";
        for (const DownloadJob* child = exported->firstChild(); child; child = child->nextSibling()) {
            if (!isJob(child))
                continue;
            page += ExpandItem(format.item, *child, options.sizesInBytes);
            page += "\r\n";
        }
        page += format.categoryEnd;
        page += "\r\n";
    }
    page += format.fileEnd;
    return page;
}

ExportResult WriteHtmlExport(const std::filesystem::path& output, const ExportTemplate& format,
                             const DownloadJob& category, const ExportOptions& options, JobLock& jobLock)
{
    std::string page;
    {
        JobLockGuard lock(jobLock);
        page = BuildHtmlExport(format, category, options);
    }
    ExportResult result;
    errno = 0;
    if (!writeFileAtomically(output, page)) {
        result.error = errno ? FileErrorText(output, errno) : builtinText(kStrFileCannotBeWritten, {output.string()});
        result.filesFailed = 1;
        return result;
    }
    result.ok = true;
    result.filesWritten = 1;
    return result;
}

ExportResult ExportIndividualLogs(const DownloadJob& category, const ExportOptions& options, JobLock& jobLock)
{
    std::vector<JobInfo> infos;
    {
        JobLockGuard lock(jobLock);
        for (const DownloadJob* exported : ExportedCategories(category, options.includeSubCategories)) {
            for (const DownloadJob* child = exported->firstChild(); child; child = child->nextSibling()) {
                if (!isJob(child))
                    continue;
                JobInfo info;
                info.displayName = child->GetDisplayName();
                info.url = child->url;
                info.fileSize = child->IsSizeKnown() ? child->fileSize : -1;
                info.completedBytes = child->completedBytes;
                info.createTime = child->createTime;
                info.completeTime = child->completeTime;
                info.localPath = child->GetLocalPath();
                info.comment = child->comment();
                info.referer = child->referer;
                info.sizesInBytes = options.sizesInBytes;
                infos.push_back(std::move(info));
            }
        }
    }
    ExportResult result;
    for (const JobInfo& info : infos) {
        errno = 0;
        if (writeJobInfoFile(info)) {
            ++result.filesWritten;
            continue;
        }
        if (result.error.empty())
            result.error = errno ? FileErrorText(jobInfoPath(info.localPath), errno)
                                 : builtinText(kStrFileCannotBeWritten, {jobInfoPath(info.localPath).string()});
        ++result.filesFailed;
    }
    result.ok = result.filesFailed == 0;
    return result;
}

}  // namespace fetchora
