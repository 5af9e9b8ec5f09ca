#pragma once
// The clipboard watcher's decision: whether a clipboard change holds exactly
// one URL of a monitored file type that is not yet a job, and so is handed to
// the main view as an add request (message 1228, source 1).
//
// Thread: any; pure functions apart from the caller's predicate.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace fetchora {

// "Monitor Flags" bit: watch the clipboard for URLs.
inline constexpr int32_t kMonitorWatchClipboard = 0x1;
// A caught URL must fit the view's 512-byte buffer with its terminator.
inline constexpr size_t kMaxCapturedUrlBytes = 511;

// Whether the text is a URL a job can fetch: a supported scheme and a host.
bool IsCapturableUrl(std::string_view text);

// The extension of the URL's path, from its last "." (query and fragment not
// included); empty when the path has no ".". Empty for a text that is no URL.
std::string UrlPathExtension(std::string_view url);

// Whether the extension equals, without regard to ASCII case, one entry of the
// ";"-separated list. Entries are compared as they stand: pattern characters
// ("?", "[...]") match only themselves.
bool MonitorTypeListsExtension(std::string_view monitorType, std::string_view extension);

struct ClipboardChange {
    std::string_view text;  // the clipboard's text
    int32_t monitorFlags = 0;
    // Owned: the settings hand the list out as a temporary string.
    std::string monitorType;
    // The program's own main window is in front: the user copied inside it.
    bool ownWindowInFront = false;
    // The program itself is writing the clipboard (copying a job's URL).
    bool writingClipboard = false;
};

// Answers whether a job already has this URL (the caller walks the list under
// the job lock).
using UrlListedPredicate = std::function<bool(std::string_view url)>;

// The URL to post as an add request, or none. The whole text must be one URL
// (a second line, leading or trailing blanks make it no URL), shorter than
// 512 bytes, of a listed type, and not yet a job.
std::optional<std::string> ClipboardUrlToCapture(const ClipboardChange& change, const UrlListedPredicate& isListed);

}  // namespace fetchora
