#pragma once
// An HTTP answer's body on its way to the job window: chunked decoding, the
// limit the head gave (a range's last byte, a Content-Length), the bytes held
// back while a proxy is in use, and the file offset of every block handed
// over. Also the rule that says whether a body that ended is whole.
//
// Thread: the worker thread; no shared state.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/write_result.h"

namespace fetchora {

// The longest chunk-size line accepted (with its extensions).
inline constexpr std::size_t kMaxChunkLineLength = 1024;

// Decodes a chunked body in place as it arrives in pieces of any size.
class ChunkedDecoder {
public:
    // Moves the data bytes that bytes carries to its front and returns their
    // count; nothing on a bad chunk-size line (error() says why). Bytes after
    // the last chunk are ignored.
    std::optional<std::size_t> decode(std::span<uint8_t> bytes);

    // The last chunk (size 0) has been read.
    bool ended() const { return m_state == State::Done; }
    const std::string& error() const { return m_error; }

private:
    enum class State { SizeLine, Data, DataEnd, Done };

    // Reads the size line in m_line; false on a bad one.
    bool takeSizeLine();

    State m_state = State::SizeLine;
    int64_t m_left = 0;
    std::string m_line;
    std::string m_error;
};

// Hands a block over at a file offset; the job window's answer.
using BodySink = std::function<WriteResult(int64_t position, std::span<const uint8_t> block)>;

// The last bytes received, kept back while a proxy is in use: a proxy that
// loses the connection to the server may end its answer early without
// saying so, and the bytes just before such an end cannot be trusted. They
// are handed over only when the body ends whole.
class HoldBack {
public:
    // amount: how many bytes to keep back; 0 hands everything over at once.
    explicit HoldBack(std::size_t amount);

    // Appends block; what goes beyond the amount is handed over from the
    // front (one or two calls). The sink's first answer other than
    // Continue ends the call and is returned.
    WriteResult push(std::span<const uint8_t> block, const std::function<WriteResult(std::span<const uint8_t>)>& sink);
    // Hands over every held byte.
    WriteResult flush(const std::function<WriteResult(std::span<const uint8_t>)>& sink);
    void drop() { m_fill = 0; }
    std::size_t held() const { return m_fill; }

private:
    std::size_t m_amount;
    std::vector<uint8_t> m_bytes;  // room for the amount, allocated once
    std::size_t m_fill = 0;
};

enum class BodyStatus { Continue, Stop, Reconnect, Error };

struct BodySetup {
    int64_t offset = 0;  // the file offset of the body's first byte
    std::optional<int64_t> end;  // the file offset past its last byte, when the head said
    bool chunked = false;
    std::size_t holdBack = 0;  // bytes to keep back (through a proxy)
};

class HttpBodyReader {
public:
    explicit HttpBodyReader(const BodySetup& setup);

    // Takes the bytes of one read (decoded in place). Bytes beyond the
    // body's end are dropped.
    BodyStatus take(std::span<uint8_t> bytes, const BodySink& sink);
    // Hands over the held-back bytes.
    BodyStatus flush(const BodySink& sink);

    // The body has all it announced: the last chunk, or its end offset.
    bool complete() const;
    // The offset of the next byte to hand over.
    int64_t offset() const { return m_offset; }
    // Where the body has got to, held-back bytes included.
    int64_t reached() const { return m_offset + static_cast<int64_t>(m_holdBack.held()); }
    std::size_t held() const { return m_holdBack.held(); }
    int64_t startOffset() const { return m_start; }
    // Whether the job window took any block of this body.
    bool accepted() const { return m_accepted; }
    bool chunked() const { return m_chunked; }
    const std::optional<int64_t>& end() const { return m_end; }
    const std::string& error() const { return m_error; }

private:
    // Hands one block over at the current offset and advances past it.
    WriteResult handOver(std::span<const uint8_t> block, const BodySink& sink);
    static BodyStatus statusOf(WriteResult result);

    int64_t m_start;
    int64_t m_offset;
    std::optional<int64_t> m_end;
    bool m_chunked;
    ChunkedDecoder m_decoder;
    HoldBack m_holdBack;
    bool m_accepted = false;
    std::string m_error;
};

// What to do when a body has ended (the connection closed, or the body
// reached its end).
enum class BodyEnd {
    HandOverAndDone,  // the job has no size: hand over the rest and say the body ended
    HandOverRest,  // the job's size is reached (or one byte short): hand over the rest
    Short,  // the body is not whole: drop the held bytes and take the error step
};

struct BodyEndDecision {
    BodyEnd action = BodyEnd::Short;
    std::string reason;  // for Short: why, for the log
};

// knownSize: the job's size, -1 when it has none.
BodyEndDecision decideBodyEnd(const HttpBodyReader& body, int64_t knownSize);

}  // namespace fetchora
