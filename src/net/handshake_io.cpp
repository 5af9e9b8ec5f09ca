#include "net/handshake_io.h"

#include <cstdio>

#include "net/connection_log.h"
#include "net/net_texts.h"

namespace fetchora {

IoResult HandshakeIo::finish(IoResult result)
{
    if (result.status == IoStatus::TimedOut)
        m_log.logMessage(ConnectionLogKind::Error, kMsgTimeOut);
    if (result.status == IoStatus::Closed)
        return handshakeFailure(builtinText(kStrNetProxyClosedHandshake));
    return result;
}

IoResult HandshakeIo::send(std::string_view bytes)
{
    IoResult result = writeAll(m_stream, bytes, m_idleTimeoutMs);
    return result.ok() ? result : finish(std::move(result));
}

IoResult HandshakeIo::readExact(std::size_t count, std::string& out)
{
    if (m_received + count > kHandshakeBufferSize)
        return handshakeFailure(builtinText(kStrNetProxyAnswerTooLong));
    char buffer[kHandshakeBufferSize];
    std::size_t got = 0;
    while (got < count) {
        IoResult result = m_stream.read(buffer, count - got, m_idleTimeoutMs);
        if (!result.ok())
            return finish(std::move(result));
        out.append(buffer, result.bytes);
        got += result.bytes;
        m_received += result.bytes;
    }
    return IoResult{IoStatus::Ok, got, 0, {}};
}

IoResult HandshakeIo::readLine(std::string& line)
{
    line.clear();
    for (;;) {
        std::string byte;
        IoResult result = readExact(1, byte);
        if (!result.ok())
            return result;
        if (byte[0] == '\n')
            break;
        line += byte[0];
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return IoResult{IoStatus::Ok, line.size(), 0, {}};
}

IoResult handshakeFailure(std::string detail)
{
    return IoResult{IoStatus::Failed, 0, 0, std::move(detail)};
}

std::string socksLogText(std::string_view message)
{
    char text[32];
    const auto byteAt = [&](std::size_t i) { return i < message.size() ? static_cast<unsigned char>(message[i]) : 0U; };
    std::snprintf(text, sizeof text, "Socks: %02x %02x", byteAt(0), byteAt(1));
    return text;
}

}  // namespace fetchora
