#include "shell/clipboard_capture.h"

#include "net/url.h"
#include "platform/text_utils.h"

namespace fetchora {

bool IsCapturableUrl(std::string_view text)
{
    const std::optional<UrlEntry> entry = ParseUrl(text);
    return entry && IsTransferable(entry->service) && !entry->host.empty();
}

std::string UrlPathExtension(std::string_view url)
{
    const std::optional<UrlEntry> entry = ParseUrl(url);
    if (!entry)
        return {};
    std::string_view path = entry->object;
    path = path.substr(0, path.find_first_of("?#"));
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    return std::string(path.substr(dot));
}

bool MonitorTypeListsExtension(std::string_view monitorType, std::string_view extension)
{
    if (extension.empty())
        return false;
    size_t start = 0;
    while (start <= monitorType.size()) {
        size_t end = monitorType.find(';', start);
        if (end == std::string_view::npos)
            end = monitorType.size();
        if (equalsIgnoringCase(monitorType.substr(start, end - start), extension))
            return true;
        start = end + 1;
    }
    return false;
}

std::optional<std::string> ClipboardUrlToCapture(const ClipboardChange& change, const UrlListedPredicate& isListed)
{
    if ((change.monitorFlags & kMonitorWatchClipboard) == 0 || change.ownWindowInFront || change.writingClipboard)
        return std::nullopt;
    const std::string_view text = change.text;
    // One line, and nothing around the URL: the parser would trim blanks.
    if (text.empty() || text.size() > kMaxCapturedUrlBytes || text.find_first_of("\r\n") != std::string_view::npos
        || text.front() == ' ' || text.back() == ' ' || text.front() == '\t' || text.back() == '\t')
        return std::nullopt;
    if (!IsCapturableUrl(text))
        return std::nullopt;
    if (!MonitorTypeListsExtension(change.monitorType, UrlPathExtension(text)))
        return std::nullopt;
    if (isListed && isListed(text))
        return std::nullopt;
    return std::string(text);
}

}  // namespace fetchora
