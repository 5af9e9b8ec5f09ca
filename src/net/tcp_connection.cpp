#include "net/tcp_connection.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "net/resolver.h"
#include "net/socket_error.h"

namespace fetchora {

namespace {

using SteadyClock = std::chrono::steady_clock;

IoResult failure(uint32_t socketError)
{
    return IoResult{IoStatus::Failed, 0, socketError, {}};
}

IoResult withStatus(IoStatus status)
{
    return IoResult{status, 0, 0, {}};
}

// Fills storage with the address and port; 0 when the text is no address.
socklen_t socketAddress(const std::string& address, uint16_t port, sockaddr_storage& storage)
{
    std::memset(&storage, 0, sizeof storage);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        return sizeof(sockaddr_in);
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        return sizeof(sockaddr_in6);
    }
    return 0;
}

// What is left of a time-out that began at start; kWaitForever stays so.
int remainingMs(SteadyClock::time_point start, int timeoutMs)
{
    if (timeoutMs < 0)
        return timeoutMs;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
    return static_cast<int>(std::max<long long>(timeoutMs - elapsed, 0));
}

}  // namespace

IoStatus waitForSocket(int socket, short events, int timeoutMs, const AliveCheck& alive)
{
    const auto start = SteadyClock::now();
    for (;;) {
        const int left = remainingMs(start, timeoutMs);
        const int slice = left < 0 ? kStopPollIntervalMs : std::min(left, kStopPollIntervalMs);
        pollfd entry{socket, events, 0};
        const int ready = ::poll(&entry, 1, slice);
        if (ready > 0)
            return IoStatus::Ok;
        if (ready < 0 && errno != EINTR)
            return IoStatus::Ok;  // let the caller's socket call report the error
        if (alive && !alive())
            return IoStatus::Stopped;
        if (timeoutMs >= 0 && SteadyClock::now() - start >= std::chrono::milliseconds(timeoutMs))
            return IoStatus::TimedOut;
    }
}

TcpConnectResult TcpConnection::connect(std::string_view hostOrAddress, uint16_t port, int timeoutMs, AliveCheck alive)
{
    const LookupResult lookup = lookUpHostAddress(hostOrAddress, alive);
    if (lookup.status == LookupStatus::Stopped)
        return {nullptr, withStatus(IoStatus::Stopped)};
    sockaddr_storage storage;
    const socklen_t length = lookup.status == LookupStatus::Found ? socketAddress(lookup.address, port, storage) : 0;
    if (length == 0)
        return {nullptr, failure(kWsaEinval)};

    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return {nullptr, failure(socketErrorFromErrno(errno))};
    auto connection = std::make_unique<TcpConnection>(fd, std::move(alive));

    if (::connect(fd, reinterpret_cast<const sockaddr*>(&storage), length) != 0 && errno != EINPROGRESS)
        return {nullptr, failure(socketErrorFromErrno(errno))};

    const IoStatus waited = waitForSocket(fd, POLLOUT, timeoutMs, connection->m_alive);
    if (waited != IoStatus::Ok)
        return {nullptr, withStatus(waited)};
    int error = 0;
    socklen_t errorLength = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLength) != 0)
        error = errno;
    if (error != 0)
        return {nullptr, failure(socketErrorFromErrno(error))};
    return {std::move(connection), withStatus(IoStatus::Ok)};
}

TcpConnection::TcpConnection(int socket, AliveCheck alive) : m_socket(socket), m_alive(std::move(alive))
{
    const int flags = ::fcntl(m_socket, F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK))
        ::fcntl(m_socket, F_SETFL, flags | O_NONBLOCK);
}

TcpConnection::~TcpConnection()
{
    close();
}

IoResult TcpConnection::read(void* buffer, std::size_t size, int timeoutMs)
{
    if (m_socket < 0)
        return failure(kWsaEnotconn);
    const auto start = SteadyClock::now();
    for (;;) {
        const ssize_t received = ::recv(m_socket, buffer, size, 0);
        if (received > 0)
            return IoResult{IoStatus::Ok, static_cast<std::size_t>(received), 0, {}};
        if (received == 0)
            return withStatus(size == 0 ? IoStatus::Ok : IoStatus::Closed);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return failure(socketErrorFromErrno(errno));
        const IoStatus waited = waitForSocket(m_socket, POLLIN, remainingMs(start, timeoutMs), m_alive);
        if (waited != IoStatus::Ok)
            return withStatus(waited);
    }
}

IoResult TcpConnection::write(const void* data, std::size_t size, int timeoutMs)
{
    if (m_socket < 0)
        return failure(kWsaEnotconn);
    const auto start = SteadyClock::now();
    for (;;) {
        const ssize_t sent = ::send(m_socket, data, size, MSG_NOSIGNAL);
        if (sent >= 0)
            return IoResult{IoStatus::Ok, static_cast<std::size_t>(sent), 0, {}};
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return failure(socketErrorFromErrno(errno));
        const IoStatus waited = waitForSocket(m_socket, POLLOUT, remainingMs(start, timeoutMs), m_alive);
        if (waited != IoStatus::Ok)
            return withStatus(waited);
    }
}

void TcpConnection::close()
{
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
}

}  // namespace fetchora
