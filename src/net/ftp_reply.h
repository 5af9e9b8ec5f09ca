#pragma once
// Reading an FTP control connection: the received bytes split into lines
// (the header splitter's rules: LF alone ends a line until the first CR LF),
// lines gathered into replies, and the connection-limit hint some servers
// put in their welcome text.
//
// A hostile server is bounded: no line may be longer than the reply buffer
// and no reply may have more than kMaxFtpReplyLines lines.
//
// Thread: the worker thread; no shared state.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

// Bytes of the reply buffer: no reply line may be longer.
inline constexpr std::size_t kFtpReplyBufferSize = 4096;
// Lines of one multi-line reply.
inline constexpr std::size_t kMaxFtpReplyLines = 1000;
// No file is larger (a pebibyte): a bigger size is a broken or hostile answer.
inline constexpr int64_t kMaxFtpFileSize = int64_t{1} << 50;

// One complete reply: its code and its lines (continuation lines first).
struct FtpReply {
    int code = 0;
    std::vector<std::string> lines;

    // The last line, the one that carries the code.
    const std::string& last() const { return lines.back(); }
    // The last line after "ddd ".
    std::string_view text() const;
};

// The code of a line that ends a reply ("ddd" followed by a blank, or the
// three digits alone); nothing for a continuation line.
std::optional<int> FtpReplyEndCode(std::string_view line);

// The number after "fetchora: maxconnection=" or "netants: maxconnection="
// in a line (any case), when it is above 0; at most INT32_MAX.
std::optional<int32_t> ParseMaxConnectionHint(std::string_view line);

// A number the server wrote in decimal digits (blanks around it allowed),
// fitting 63 bits; nothing for anything else.
std::optional<int64_t> ParseFtpNumber(std::string_view text);

// The byte count of a 150 or 125 reply: the digits after its last "(";
// nothing when there is no "(" or no digits follow it, or they do not fit.
std::optional<int64_t> ParseFtpAnnouncedSize(std::string_view line);

class FtpReplyReader {
public:
    enum class Status { Line, NeedMore, Broken };

    // Where the next read goes; empty when the buffer is full.
    std::span<char> room() { return {m_bytes.data() + m_fill, m_bytes.size() - m_fill}; }
    void added(std::size_t count) { m_fill += count; }

    // The next line off the buffer. Broken when the buffer is full and holds
    // no line end: a line longer than the buffer.
    Status nextLine(std::string& line);

    // Adds a line to the reply being gathered; true when it ended the reply,
    // which is then moved to out. Broken replies (too many lines) set error.
    bool gather(std::string line, FtpReply& out);
    bool broken() const { return m_broken; }
    // Nothing received is waiting to be read or gathered.
    bool idle() const { return m_fill == 0 && m_pending.lines.empty(); }
    // A whole line is waiting in the buffer: nextLine gives it without a read.
    bool lineWaiting() const;

private:
    std::array<char, kFtpReplyBufferSize> m_bytes{};
    std::size_t m_fill = 0;
    int m_lineMode = 0;
    FtpReply m_pending;
    bool m_broken = false;
};

}  // namespace fetchora
