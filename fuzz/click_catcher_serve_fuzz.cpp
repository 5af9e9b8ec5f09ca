// The click catcher's whole serve path: an item as it comes over the service
// socket (the code and base64 data, or a file code whose data is read from
// "kxcatch.tmp"), in both topics' layouts, on to the URLs and links handed
// to the view.
//
// Input: a control byte (bit 0 the browser topic; bits 1-2 the form: 0 the
// rest is the item text, 1 the rest is the hand-over file, 2 the rest is the
// block sent as base64; bit 3 the program is closing; bit 4 a refused click
// goes back to the browser; bit 5 the user refuses what is sent), a code
// byte (its low bits pick the code, bit 7 spells it in hexadecimal), then
// the data.
#include "cli/daemon_prompts.h"
#include "fuzz_input.h"
#include "net/base64_codec.h"
#include "shell/click_catcher.h"
#include "shell/clipboard_capture.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ostream>
#include <string>
#include <unistd.h>

using namespace fetchora;

namespace {

class CheckingHost final : public ClickCatcherHost {
public:
    int32_t flags = 0;
    bool isClosing = false;
    int32_t sendAnswer = 0;

    int32_t monitorFlags() const override { return flags; }
    bool closing() const override { return isClosing; }
    int32_t sendUrl(const CaughtUrl& url) override
    {
        check(url);
        return sendAnswer;
    }
    void postUrl(const CaughtUrl& url) override { check(url); }
    void postLinks(std::vector<CapturedLink> links, const std::string& baseUrl, int32_t listSource) override
    {
        // Only links that are URLs get this far, and never an empty list.
        if (links.empty() || listSource < 1 || listSource > 4 || (!baseUrl.empty() && !IsCapturableUrl(baseUrl)))
            __builtin_trap();
        for (const CapturedLink& link : links) {
            if (link.url.empty() || !IsCapturableUrl(link.url) || link.fileName.size() > kMaxSuggestedNameBytes)
                __builtin_trap();
        }
    }

private:
    static void check(const CaughtUrl& url)
    {
        if (url.url.empty() || url.url.size() > kMaxFileUrlBytes || url.referer.size() > kMaxBlockRefererBytes
            || url.userAgent.size() > kMaxUserAgentBytes || url.fileName.size() > kMaxSuggestedNameBytes
            || url.url.find('\0') != std::string::npos)
            __builtin_trap();
    }
};

// A private folder of the run's own for the hand-over file.
const std::filesystem::path& folder()
{
    static const std::filesystem::path path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "fetchora-catch-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            __builtin_trap();
        return std::filesystem::path(pattern);
    }();
    return path;
}

void writeHandOverFile(std::span<const uint8_t> bytes)
{
    const std::filesystem::path file = folder() / kClickCatcherFile;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        __builtin_trap();
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

constexpr uint32_t kCodes[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
constexpr uint32_t kFileCodes[] = {0x11, 0x22, 0x33};

std::string spell(uint32_t code, bool hexadecimal)
{
    char text[16];
    std::snprintf(text, sizeof text, hexadecimal ? "0x%x" : "%u", code);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static std::ostream discard(nullptr);
    static DaemonPrompts prompts(discard);
    const uint8_t control = data[0];
    const uint8_t codeByte = data[1];
    const std::span<const uint8_t> rest(data + 2, size - 2);

    CheckingHost host;
    host.isClosing = (control & 0x08) != 0;
    host.flags = (control & 0x10) != 0 ? kMonitorReturnRefused : 0;
    host.sendAnswer = (control & 0x20) != 0 ? 1 : 0;
    ClickCatcher catcher(host, prompts, folder());
    const std::string topic(control & 0x01 ? kTopicBrowserCatch : kTopicClickCatcher);
    const bool hexadecimal = (codeByte & 0x80) != 0;

    std::string item;
    switch ((control >> 1) & 0x03) {
    case 1:
        writeHandOverFile(rest);
        item = spell(kFileCodes[codeByte % 3], hexadecimal);
        break;
    case 2: item = spell(kCodes[codeByte % 7], hexadecimal) + " " + Base64Codec().encode(rest); break;
    default: item = std::string(fuzz::text(rest.data(), rest.size())); break;
    }
    // The same click twice: the second goes through the refused-click memory.
    for (int round = 0; round < 2; ++round) {
        const std::optional<std::string> answer = catcher.serve(topic, item);
        if (!answer || (*answer != "0" && *answer != "1" && *answer != "85"))
            __builtin_trap();
        if (host.isClosing && *answer != "85")
            __builtin_trap();
    }
    return 0;
}
