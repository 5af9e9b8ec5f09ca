#pragma once
// The hand-over from a browser's click catcher: a code says what the data
// holds (one URL, one URL with its referrer, or a list of links) and where
// it came from (the file "kxcatch.tmp" in the temporary folder, or a block
// handed over directly: the IPC topic below).
//
// Byte layouts (every length is a signed 32-bit little-endian number):
//   block, one URL:          length, URL bytes (at most 511)
//   block, code 0x77:        length, URL bytes, length, referrer (at most 510)
//   file, one URL:           the URL text (at most 1023 bytes read)
//   list (block or file):    length, description, then records of
//                            length, URL, length, link text, until the data ends
// A URL or text ends at its first zero byte, if any. A length that is
// negative or runs beyond the data is refused without reading past it: a
// single URL is then not read at all, a list keeps the whole records before
// it. List records whose URL is empty or no URL are dropped.
//
// The IPC topic kTopicClickCatcher takes the item "<code> <base64 data>",
// the code in decimal or "0x" hexadecimal. For the file codes the data may
// be left out: the handler then reads "kxcatch.tmp". The reply is the answer
// in decimal: 1 the program took the URL(s) (the browser drops the click),
// 0 the browser goes ahead itself, 85 the program is closing.
//
// The IPC topic kTopicBrowserCatch is our own browser host's: the same codes,
// items and replies, but the layouts carry what a browser knows beyond the
// URL and the referrer (an older program refuses the topic, and the host then
// falls back to kTopicClickCatcher):
//   one URL (every single-URL code): length, URL (at most 1023), length,
//                            referrer, length, user agent, length, file name
//   list (0x22, 0x55):       length, description, length, user agent, then
//                            records of length, URL, length, link text,
//                            length, file name, until the data ends
// A referrer or user agent above 510 bytes, or a file name above 1023, is
// dropped; the file name is only a suggestion (the job makes it safe).
//
// Thread: loop thread (the handler runs there, like the message it stands
// for). Borrows the host and the prompts.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "shell/captured_link.h"

namespace fetchora {

class UserPrompts;

inline constexpr std::string_view kTopicClickCatcher = "ClickCatcher";
inline constexpr std::string_view kTopicBrowserCatch = "BrowserCatch";
inline constexpr std::string_view kClickCatcherFile = "kxcatch.tmp";

// "Monitor Flags" bit: a click the user refused goes back to the browser.
inline constexpr int32_t kMonitorReturnRefused = 0x40;

enum class CatchCode : uint32_t {
    FileUrl = 0x11,  // one URL, refused-URL rule
    FileList = 0x22,  // list, list source 1
    FileUrlAlways = 0x33,  // one URL, always posted
    BlockUrl = 0x44,  // one URL, refused-URL rule
    BlockList = 0x55,  // list, list source 3 (4 with more than one link)
    BlockUrlAlways = 0x66,  // one URL, always posted
    BlockUrlReferer = 0x77,  // one URL and its referrer, refused-URL rule
};

inline constexpr int32_t kCatchNotTaken = 0;
inline constexpr int32_t kCatchTaken = 1;
inline constexpr int32_t kCatchClosing = 85;

inline constexpr size_t kMaxBlockUrlBytes = 511;
inline constexpr size_t kMaxBlockRefererBytes = 510;
inline constexpr size_t kMaxFileUrlBytes = 1023;
inline constexpr size_t kMaxUserAgentBytes = 510;
inline constexpr size_t kMaxSuggestedNameBytes = 1023;
// A list file larger than this is not read.
inline constexpr size_t kMaxCatchFileBytes = 16 * 1024 * 1024;

struct CaughtUrl {
    std::string url;
    std::string referer;
    // Only from kTopicBrowserCatch: the browser's agent and suggested name.
    std::string userAgent{};
    std::string fileName{};
};

struct CaughtLinks {
    std::string description;
    std::vector<CapturedLink> links;
};

// The layouts above; none when no URL could be read.
std::optional<CaughtUrl> ReadCaughtUrlBlock(std::span<const uint8_t> data, bool withReferer);
std::optional<CaughtUrl> ReadCaughtUrlFile(std::span<const uint8_t> data);
CaughtLinks ReadCaughtLinks(std::span<const uint8_t> data);
// The kTopicBrowserCatch layouts; a list's user agent goes to every link.
std::optional<CaughtUrl> ReadBrowserUrlBlock(std::span<const uint8_t> data);
CaughtLinks ReadBrowserLinks(std::span<const uint8_t> data);

// The encoded data of a single URL and of a list, as a catcher writes them
// (for the browser extension's host and for tests).
std::string EncodeCaughtUrlBlock(std::string_view url, std::optional<std::string_view> referer);
std::string EncodeCaughtLinks(std::string_view description, const std::vector<CapturedLink>& links);
std::string EncodeBrowserUrlBlock(const CaughtUrl& url);
std::string EncodeBrowserLinks(std::string_view description, std::string_view userAgent,
                               const std::vector<CapturedLink>& links);

// What the hand-over asks of the main view and the frame.
class ClickCatcherHost {
public:
    virtual ~ClickCatcherHost() = default;
    // Current "Monitor Flags".
    virtual int32_t monitorFlags() const = 0;
    // The main frame is closing: hand-overs are ignored.
    virtual bool closing() const = 0;
    // Message 1228, source 2, sent: 0 when the URL was taken.
    virtual int32_t sendUrl(const CaughtUrl& url) = 0;
    // Message 1228, source 2, posted.
    virtual void postUrl(const CaughtUrl& url) = 0;
    // Message 1231 with the list source (1, 3 or 4); baseUrl may be empty.
    virtual void postLinks(std::vector<CapturedLink> links, const std::string& baseUrl, int32_t listSource) = 0;
};

class ClickCatcher {
public:
    ClickCatcher(ClickCatcherHost& host, UserPrompts& prompts, std::filesystem::path temporaryFolder);

    // One hand-over with its data; the answer 0, 1 or 85. For the file codes
    // the data is the file's contents.
    // browserLayout: the data is in the kTopicBrowserCatch layouts.
    int32_t handOver(uint32_t code, std::span<const uint8_t> data, bool browserLayout = false);
    // A file code with the data read from "kxcatch.tmp" in the temporary
    // folder (0 when it cannot be read, or when the folder or the file is
    // not ours alone: another user's, writable by others, a symlink or a
    // hard link); a block code answers 0.
    int32_t handOverFromFile(uint32_t code, bool browserLayout = false);

    // The IPC handler for kTopicClickCatcher and kTopicBrowserCatch (other
    // topics: no data).
    std::optional<std::string> serve(const std::string& topic, const std::string& item);

    // The URL last refused by the user; empty when none is remembered.
    const std::string& lastRefused() const { return m_lastRefused; }

private:
    int32_t singleUrl(const std::optional<CaughtUrl>& url, bool refusedRule);
    int32_t linkList(CaughtLinks list, int32_t source, bool moreRaisesSource);

    ClickCatcherHost& m_host;
    UserPrompts& m_prompts;
    std::filesystem::path m_temporaryFolder;
    std::string m_lastRefused;
};

}  // namespace fetchora
