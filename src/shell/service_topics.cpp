#include "shell/service_topics.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "engine/job_progress.h"
#include "engine/job_runner.h"
#include "model/category_tree.h"
#include "model/download_job.h"

namespace fetchora {

namespace {

constexpr int64_t kDaySeconds = 24 * 60 * 60;

}  // namespace

OpenUrlItem SplitOpenUrlItem(std::string_view item)
{
    OpenUrlItem result;
    const size_t first = item.find(',');
    result.url = std::string(item.substr(0, first));
    if (first == std::string_view::npos)
        return result;
    const size_t second = item.find(',', first + 1);
    result.referer
        = std::string(item.substr(first + 1, second == std::string_view::npos ? second : second - first - 1));
    if (second != std::string_view::npos)
        result.comment = std::string(item.substr(second + 1));
    return result;
}

std::string OpenUrlItemText(const std::string& url, const std::string& referer, bool hasReferer)
{
    return hasReferer ? url + "," + referer : url;
}

std::string DownloadInfoLine(const DownloadInfoEntry& entry)
{
    if (entry.fileSize < 0)
        return entry.fileName + "|||";
    // The list's figure; a file not yet finished never reads 100.
    const int percent = std::min(percentDone(entry.completedBytes, entry.fileSize), 99);
    char time[32] = "";
    if (entry.secondsLeft >= 0 && entry.secondsLeft <= kDaySeconds) {
        const auto seconds = static_cast<int>(entry.secondsLeft);
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
    }
    char figures[96];
    std::snprintf(figures, sizeof figures, "|%" PRId64 "|%d%c|", entry.fileSize, static_cast<int>(percent), '%');
    return entry.fileName + figures + time;
}

int32_t ReadDecimalItem(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{1} << 32);
    value = negative ? -value : value;
    return static_cast<int32_t>(
        std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

std::optional<std::string> DownloadInfoReply(const std::vector<DownloadInfoEntry>& entries, std::string_view item)
{
    const int32_t n = ReadDecimalItem(item);
    if (entries.empty() || n == 0 || (n > 0 && static_cast<size_t>(n) > entries.size()))
        return std::nullopt;
    if (n > 0)
        return DownloadInfoLine(entries[static_cast<size_t>(n) - 1]);
    std::string reply;
    for (const DownloadInfoEntry& entry : entries) {
        if (!reply.empty())
            reply += "\r\n";
        reply += DownloadInfoLine(entry);
    }
    return reply;
}

std::vector<DownloadInfoEntry> DownloadInfoEntries(const CComPtrTree& tree)
{
    std::vector<DownloadInfoEntry> entries;
    const DownloadJob* queue = tree.FindCategory(CategoryKind::Downloading);
    if (queue == nullptr)
        return entries;
    for (const DownloadJob* job = queue->firstChild(); job != nullptr; job = job->nextSibling()) {
        if (job->IsCategory() || job->IsComplete())
            continue;
        DownloadInfoEntry entry;
        entry.fileName = job->GetDisplayName();
        entry.fileSize = job->IsSizeKnown() ? job->fileSize : -1;
        entry.completedBytes = job->completedBytes;
        if (job->runner())
            entry.secondsLeft = job->runner()->figures().secondsLeft;
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace fetchora
