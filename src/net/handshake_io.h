#pragma once
// Reading and writing the short dialogues that open a proxy tunnel. Replies
// are read exactly to their end and never past it, so bytes the target sends
// right after the tunnel opens (an FTP welcome line) stay in the stream.
//
// Thread: the worker that runs the handshake. Borrows the stream and the log.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/byte_stream.h"

namespace fetchora {

class ConnectionLog;

// The most a proxy may answer in one handshake.
inline constexpr std::size_t kHandshakeBufferSize = 4096;

class HandshakeIo {
public:
    // idleTimeoutMs: how long the peer may stay silent; each byte that
    // arrives starts the clock again.
    HandshakeIo(ByteStream& stream, int idleTimeoutMs, ConnectionLog& log)
        : m_stream(stream), m_idleTimeoutMs(idleTimeoutMs), m_log(log)
    {
    }

    IoResult send(std::string_view bytes);
    // Appends exactly count bytes to out.
    IoResult readExact(std::size_t count, std::string& out);
    // One line without its CR LF (or bare LF).
    IoResult readLine(std::string& line);

private:
    // Logs the time-out, and turns a closed stream into a failure: a
    // handshake that ends early is a broken handshake.
    IoResult finish(IoResult result);

    ByteStream& m_stream;
    int m_idleTimeoutMs;
    ConnectionLog& m_log;
    std::size_t m_received = 0;
};

// A handshake failure without a socket error, with its reason for the log.
IoResult handshakeFailure(std::string detail);

// "Socks: 05 00": the first two bytes of a SOCKS message, as logged.
std::string socksLogText(std::string_view message);

}  // namespace fetchora
