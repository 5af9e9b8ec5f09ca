#pragma once
// The bottom layer of every connection: a non-blocking TCP socket, IPv4 or
// IPv6, waited on with poll() in slices so the alive check is seen at least
// every kStopPollIntervalMs.
//
// Thread: the worker that connected it. Owns the socket; borrows nothing (the
// alive check is a copy).
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "net/byte_stream.h"

namespace fetchora {

class TcpConnection;

struct TcpConnectResult {
    std::unique_ptr<TcpConnection> connection;  // set when result is Ok
    IoResult result;  // Ok, TimedOut, Stopped or Failed with the socket error
};

class TcpConnection final : public ByteStream {
public:
    // Connects to an address literal, or to a host name looked up first (a
    // failed look-up fails with kWsaEinval). Waits at most timeoutMs for the
    // connect to finish.
    static TcpConnectResult connect(std::string_view hostOrAddress, uint16_t port, int timeoutMs, AliveCheck alive);

    // Takes over a connected socket (made non-blocking here).
    TcpConnection(int socket, AliveCheck alive);
    ~TcpConnection() override;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    IoResult read(void* buffer, std::size_t size, int timeoutMs) override;
    IoResult write(const void* data, std::size_t size, int timeoutMs) override;
    void close() override;

    int nativeHandle() const { return m_socket; }
    // Another owner's check, for a connection handed to another worker: the
    // old check may name a worker that is gone.
    void setAliveCheck(AliveCheck alive) { m_alive = std::move(alive); }

private:
    int m_socket;
    AliveCheck m_alive;
};

// Waits until the socket has one of the events, the time-out has passed or the
// alive check says stop: Ok, TimedOut or Stopped. A time-out of 0 just looks.
IoStatus waitForSocket(int socket, short events, int timeoutMs, const AliveCheck& alive);

}  // namespace fetchora
