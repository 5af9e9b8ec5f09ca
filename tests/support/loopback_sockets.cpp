#include "support/loopback_sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace fetchora::test {

namespace {

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Binds fd to a kernel-chosen loopback port and returns it.
uint16_t bindAnyPort(int fd)
{
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot bind a loopback port");
    }
    return ntohs(address.sin_port);
}

}  // namespace

int listenOnLoopback(int backlog, uint16_t& port, const char* who)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(fd, backlog) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error(std::string(who) + ": cannot listen on loopback");
    }
    port = ntohs(address.sin_port);
    return fd;
}

uint16_t refusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const uint16_t port = bindAnyPort(fd);
    ::close(fd);
    return port;
}

SilentListener::SilentListener()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    m_port = bindAnyPort(m_listener);
    // A backlog of 0 queues one connection; the filler takes that place.
    if (::listen(m_listener, 0) != 0)
        throw std::runtime_error("cannot listen on loopback");
    m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(m_port);
    if (::connect(m_filler, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot fill the listen queue");
}

SilentListener::~SilentListener()
{
    ::close(m_filler);
    ::close(m_listener);
}

}  // namespace fetchora::test
