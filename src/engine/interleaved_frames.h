#pragma once
// Cuts what an RTSP server sends over its one TCP connection into messages:
// answers ("RTSP/" up to the empty line, then a body of the announced
// Content-Length when the caller asks for it), requests from the server
// (also up to the empty line), and interleaved data frames ("$", a channel
// byte, a 16-bit length, the payload). A Windows Media server's length is
// byte 2 × 256 + byte 3; a RealMedia server's is ((byte 2 + 16 × byte 1)
// mod 256) × 256 + byte 3.
//
// Thread: the worker's. Bounded: a head longer than kMaxRtspHead and a body
// longer than kMaxRtspBody are errors, so the buffer never holds more than
// one message and one read.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/rtsp_request.h"

namespace fetchora {

inline constexpr std::size_t kMaxRtspHead = 16384;
inline constexpr std::size_t kMaxRtspBody = 1 << 20;

struct RtspItem {
    enum class Kind { NeedMore, Answer, Request, Body, Frame, Error };
    Kind kind = Kind::NeedMore;
    std::string text;  // Answer, Request: the head; Body: the bytes; Error: why
    uint8_t channel = 0;  // Frame
    std::vector<uint8_t> payload;  // Frame
};

class InterleavedSplitter {
public:
    explicit InterleavedSplitter(RtspServerKind server = RtspServerKind::RealMedia) : m_server(server) { }
    void setServer(RtspServerKind server) { m_server = server; }
    // The next bytes after the answer just taken are its body of this size.
    void expectBody(std::size_t size) { m_body = size; }

    void feed(std::span<const uint8_t> bytes);
    RtspItem next();
    std::size_t buffered() const { return m_buffer.size() - m_start; }

private:
    RtspServerKind m_server;
    std::vector<uint8_t> m_buffer;
    std::size_t m_start = 0;
    std::size_t m_body = 0;
};

// The payload length of an interleaved frame header (its first four bytes).
std::size_t InterleavedLength(RtspServerKind server, uint8_t byte1, uint8_t byte2, uint8_t byte3);

}  // namespace fetchora
