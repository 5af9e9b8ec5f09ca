#include "shell/selection_summary.h"

#include <cstdio>
#include <string>

#include "lang/string_table.h"

namespace fetchora {
namespace {

constexpr int64_t kKiB = 1024;
constexpr int64_t kMiB = 1024 * kKiB;
constexpr int64_t kGiB = 1024 * kMiB;

std::string printedFraction(const char* format, int64_t bytes, int64_t unit)
{
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<double>(bytes) / static_cast<double>(unit));
    return text;
}

std::string lookUp(const StringLookup& strings, uint32_t id)
{
    std::string text = strings ? strings(id) : std::string();
    if (text.empty())
        text = std::string(builtinString(id));
    return text;
}

}  // namespace

std::string selectionSizeText(int64_t bytes)
{
    if (bytes < 0)
        bytes = 0;
    if (bytes > kGiB)
        return printedFraction("%0.2f GB", bytes, kGiB);
    if (bytes < kKiB)
        return std::to_string(bytes) + " Byte";
    if (bytes < kMiB)
        return printedFraction("%0.2f KB", bytes, kKiB);
    return printedFraction("%0.2f M", bytes, kMiB);
}

std::string selectionSummaryText(int64_t count, int64_t bytes)
{
    return std::to_string(count) + " File(s)  " + selectionSizeText(bytes);
}

std::string trayTooltipText(int queued, int running, const StringLookup& strings)
{
    if (queued <= 0)
        return lookUp(strings, kStrAppTitle);
    const std::string q = std::to_string(queued);
    if (running <= 0)
        return formatMessage(lookUp(strings, kStrTrayQueue), {q});
    return formatMessage(lookUp(strings, kStrTrayQueueRunning), {q, std::to_string(running)});
}

}  // namespace fetchora
