#pragma once
// The framing of a browser's native messaging: each message is a 32-bit
// length in this machine's byte order, then that many bytes of UTF-8 JSON,
// in both directions. The browser refuses a message from the host above
// 1 MiB; we refuse what the browser sends above our own limit.
//
// Thread: any; the functions block on the descriptor they are given.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fetchora {

// What a browser accepts from a host.
inline constexpr size_t kMaxHostMessageBytes = 1024 * 1024;
// What we take from the browser: a page's links fit well within it.
inline constexpr size_t kMaxBrowserMessageBytes = 1024 * 1024;

enum class FrameStatus {
    Message,  // text holds one whole message
    End,  // the browser closed the pipe between messages
    TooLarge,  // the length says more than the limit; nothing of it was read
    Truncated,  // the pipe ended inside a length or a message
    Failed,  // a read error; error says which
};

struct FrameRead {
    FrameStatus status = FrameStatus::Failed;
    std::string text;
    uint32_t declaredBytes = 0;  // the length field, when it was read whole
    std::string error;
};

FrameRead ReadNativeFrame(int fd, size_t maxBytes = kMaxBrowserMessageBytes);

// The length and the text as one buffer (for writing and for tests).
std::string EncodeNativeFrame(std::string_view text);

// Writes one whole frame; false (with error) when the text is above
// kMaxHostMessageBytes or the pipe fails. Nothing is written for a text that
// is too large, so the stream stays well formed.
bool WriteNativeFrame(int fd, std::string_view text, std::string& error);

}  // namespace fetchora
