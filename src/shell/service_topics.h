#pragma once
// The two topics of the program's service "Fetchora": "WWW_OPENURL" hands a
// URL (with referrer and comment) to the running instance; "DownloadInfo"
// answers status lines of the jobs waiting or running in the download
// queue. This file holds what the requests and replies look like; the
// endpoint that carries them is platform/ipc_endpoint.h.
//
// Thread: pure functions, except DownloadInfoEntries, which reads the tree on
// the loop thread under the job lock (the caller holds it).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

class CComPtrTree;

inline constexpr std::string_view kTopicOpenUrl = "WWW_OPENURL";
inline constexpr std::string_view kTopicDownloadInfo = "DownloadInfo";

// "URL[,referrer[,comment]]": split at the first two commas; the comment
// keeps any further commas.
struct OpenUrlItem {
    std::string url;
    std::string referer;
    std::string comment;
};
OpenUrlItem SplitOpenUrlItem(std::string_view item);

// What a second instance sends: the URL, and "," and the referrer when one
// was given.
std::string OpenUrlItemText(const std::string& url, const std::string& referer, bool hasReferer);

// One job's figures for a status line.
struct DownloadInfoEntry {
    std::string fileName;
    int64_t fileSize = -1;  // -1: not known yet
    int64_t completedBytes = 0;
    int64_t secondsLeft = -1;  // -1: no estimate
};

// "%s|%I64d|%d%c|%s": name, size, percent done (truncated; 100 shows as 99)
// with "%", time left as "%02d:%02d:%02d" (empty above 24 hours or without
// an estimate); "name|||" while the size is not known.
std::string DownloadInfoLine(const DownloadInfoEntry& entry);

// The reply to item text N (read like atoi): N < 0 every line joined by
// "\r\n", N >= 1 the N-th line; N = 0, N beyond the last job, or no jobs at
// all: no data.
std::optional<std::string> DownloadInfoReply(const std::vector<DownloadInfoEntry>& entries, std::string_view item);

// The jobs directly under the Downloading Category that are not finished,
// in list order.
std::vector<DownloadInfoEntry> DownloadInfoEntries(const CComPtrTree& tree);

// The decimal number at the start of the text, as atoi reads it (blanks, an
// optional sign, digits; anything after is ignored; no digits give 0). Values
// beyond 32 bits are clamped.
int32_t ReadDecimalItem(std::string_view text);

}  // namespace fetchora
