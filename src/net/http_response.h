#pragma once
// Reading an HTTP answer's head: splitting the received bytes into lines
// (LF-only servers included) and turning the status line and the header
// lines into a ResponseInfo plus what the worker needs to read the body.
//
// A hostile or broken server is answered with an error, never with a guess:
// a line longer than the header buffer, too many lines, numbers that are not
// numbers or do not fit, a range that lies outside the file. The worker logs
// the reason and takes the error step.
//
// Thread: the worker thread; no shared state.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "net/response_info.h"

namespace fetchora {

class ConnectionLog;

// Bytes the header buffer holds: no header line may be longer.
inline constexpr std::size_t kHeaderBufferSize = 4096;
// Lines of one answer's head (boundary part headers included).
inline constexpr std::size_t kMaxHeaderLines = 256;

// 0 until a line ended in CR LF, then 2: from then on only CR LF ends a line.
inline constexpr int kLineModeStart = 0;
inline constexpr int kLineModeCrLf = 2;

enum class SplitStatus { Line, NeedMore };

// Takes one line off the front of buffer. While lineMode is below 2 a lone
// LF ends a line as well; a line ending in CR LF sets lineMode to 2. On Line,
// consumed is the length of the line and its ending. NeedMore when no line
// end is in the buffer (at most the first kHeaderBufferSize bytes are looked
// at).
SplitStatus SplitHeaderLine(int& lineMode, std::string_view buffer, std::string& line, std::size_t& consumed);

// The fixed header buffer of one connection and its fill.
class HeaderBuffer {
public:
    // Where the next read goes; empty when the buffer is full.
    std::span<char> room() { return {m_bytes.data() + m_fill, m_bytes.size() - m_fill}; }
    void added(std::size_t count) { m_fill += count; }
    bool full() const { return m_fill == m_bytes.size(); }

    // The next line. Before the first line of an answer, leading CR and LF
    // bytes are skipped.
    SplitStatus nextLine(std::string& line);

    // What follows the head: the first body bytes.
    std::span<uint8_t> rest();
    void clear() { m_fill = 0; }

private:
    std::array<char, kHeaderBufferSize> m_bytes{};
    std::size_t m_fill = 0;
    int m_lineMode = kLineModeStart;
    bool m_started = false;
};

enum class ResponseState { StatusLine = 0, Headers = 1, Body = 2 };

// A "Content-Range: bytes first-last/total" value.
struct ContentRange {
    int64_t first = 0;
    int64_t last = 0;
    int64_t total = -1;  // -1 for "*"
    bool firstIsZeroText = false;  // the first byte was written exactly "0"
};

// Parses "bytes first-last/total"; nothing when the text is not that form,
// a number does not fit 63 bits, or first is above last.
std::optional<ContentRange> ParseContentRange(std::string_view value);

// Parses a Content-Length value: decimal digits only, fitting 63 bits.
std::optional<int64_t> ParseContentLength(std::string_view value);

// The "Last-modified" value without its weekday and zone; the form without a
// zone ("Sun Nov  6 08:49:37 1994") has its year moved to the front.
std::string NormaliseLastModified(std::string_view value);

// The file name of a Content-Disposition value ("" when none), without any
// folder part: an extended `filename*=UTF-8''...` (or ISO-8859-1, turned
// into UTF-8) wins over a plain `filename=`, the quoted name or the unquoted
// token.
std::string ContentDispositionFileName(std::string_view value);

// Seconds a Retry-After value asks for: delta seconds, or an HTTP date less
// now (0 when it lies in the past); nothing when the value is neither.
std::optional<int32_t> ParseRetryAfter(std::string_view value, int64_t now);

class HttpResponseParser {
public:
    // rangeStart: where the request asked the body to start; knownSize: the
    // file's size as the job knows it, -1 when it does not.
    HttpResponseParser(int64_t rangeStart, int64_t knownSize) : m_rangeStart(rangeStart), m_knownSize(knownSize) { }

    // Takes one line of the head, logs it (non-empty lines, as received) and
    // returns the new state. Body means the head is complete. On a broken
    // answer the state stays and error() says why.
    ResponseState ParseResponseLine(std::string_view line, ConnectionLog* log);

    ResponseState state() const { return m_state; }
    const ResponseInfo& info() const { return m_info; }
    ResponseInfo& info() { return m_info; }
    int statusCode() const { return m_status; }
    bool chunked() const { return m_chunked; }
    const std::string& error() const { return m_error; }

    // The file offset of the body's first byte: what the server says it sent
    // (a 206's Content-Range, 0 for a whole file sent in answer to a range),
    // else the requested start.
    int64_t bodyOffset() const;
    // The file offset just past the last byte the body may carry, when the
    // head says (Content-Length of a plain body, the last byte of a range).
    std::optional<int64_t> bodyEnd() const;

private:
    void parseStatusLine(std::string_view line);
    void parseHeader(std::string_view name, std::string_view value);
    void contentLength(std::string_view value);
    void contentRange(std::string_view value);
    // The empty line: the head ends unless a multipart body's first part
    // headers are still to come.
    void endOfHead();
    void fail(std::string why);

    int64_t m_rangeStart;
    int64_t m_knownSize;
    ResponseState m_state = ResponseState::StatusLine;
    ResponseInfo m_info;
    int m_status = 0;
    bool m_chunked = false;
    std::string m_boundary;  // "--" + boundary while the first part is looked for
    bool m_inMultipart = false;  // the boundary line was seen: part headers follow
    std::optional<int64_t> m_contentLength;
    std::optional<ContentRange> m_range;
    std::size_t m_lines = 0;
    std::string m_error;
};

}  // namespace fetchora
