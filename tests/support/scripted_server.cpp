#include "support/scripted_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace fetchora::test {

namespace {

constexpr int kSliceMs = 20;

}  // namespace

ServerScript& ServerScript::readBytes(std::size_t count)
{
    m_steps.push_back({Kind::ReadBytes, {}, count});
    return *this;
}

ServerScript& ServerScript::readUntil(std::string marker)
{
    m_steps.push_back({Kind::ReadUntil, std::move(marker), 0});
    return *this;
}

ServerScript& ServerScript::send(std::string bytes)
{
    m_steps.push_back({Kind::Send, std::move(bytes), 0});
    return *this;
}

ServerScript& ServerScript::closeAfter(const std::string& reply, std::size_t count)
{
    send(reply.substr(0, count));
    return close();
}

ServerScript& ServerScript::pause(int milliseconds)
{
    m_steps.push_back({Kind::Pause, {}, static_cast<std::size_t>(milliseconds)});
    return *this;
}

ServerScript& ServerScript::stall()
{
    m_steps.push_back({Kind::Stall, {}, 0});
    return *this;
}

ServerScript& ServerScript::close()
{
    m_steps.push_back({Kind::Close, {}, 0});
    return *this;
}

ServerScript& ServerScript::reset()
{
    m_steps.push_back({Kind::Reset, {}, 0});
    return *this;
}

ScriptedServer::ScriptedServer(std::vector<ServerScript> scripts, bool ipv6)
    : m_scripts(std::move(scripts)), m_ipv6(ipv6)
{
    if (m_scripts.empty())
        m_scripts.emplace_back();
    m_listener = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listener < 0)
        throw std::runtime_error("scripted server: no socket");
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (ipv6) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_addr = in6addr_loopback;
        length = sizeof(sockaddr_in6);
    } else {
        auto* address = reinterpret_cast<sockaddr_in*>(&storage);
        address->sin_family = AF_INET;
        address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof(sockaddr_in);
    }
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(m_listener, 16) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        ::close(m_listener);
        throw std::runtime_error("scripted server: cannot listen on loopback");
    }
    m_port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                        : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

ScriptedServer::~ScriptedServer()
{
    m_stopping = true;
    m_acceptThread.join();
    for (auto& connection : m_connections) {
        if (connection->thread.joinable())
            connection->thread.join();
    }
    ::close(m_listener);
}

void ScriptedServer::acceptLoop()
{
    while (!m_stopping) {
        pollfd entry{m_listener, POLLIN, 0};
        if (::poll(&entry, 1, kSliceMs) <= 0)
            continue;
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket < 0)
            continue;
        std::lock_guard lock(m_mutex);
        const std::size_t index = m_connections.size();
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        const ServerScript& script = m_scripts[std::min(index, m_scripts.size() - 1)];
        connection->thread = std::thread([this, index, &script] { serve(index, script); });
        m_connections.push_back(std::move(connection));
        m_changed.notify_all();
    }
}

bool ScriptedServer::receiveSome(std::size_t index, int waitMs)
{
    const int socket = [&] {
        std::lock_guard lock(m_mutex);
        return m_connections[index]->socket;
    }();
    pollfd entry{socket, POLLIN, 0};
    if (::poll(&entry, 1, waitMs) <= 0)
        return !m_stopping;
    char buffer[4096];
    const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
    if (got < 0)
        return (errno == EAGAIN || errno == EINTR) && !m_stopping;
    if (got == 0)
        return false;
    std::lock_guard lock(m_mutex);
    m_connections[index]->received.append(buffer, static_cast<std::size_t>(got));
    m_changed.notify_all();
    return !m_stopping;
}

std::size_t ScriptedServer::receivedSize(std::size_t index) const
{
    std::lock_guard lock(m_mutex);
    return m_connections[index]->received.size();
}

void ScriptedServer::serve(std::size_t index, const ServerScript& script)
{
    const int socket = [&] {
        std::lock_guard lock(m_mutex);
        return m_connections[index]->socket;
    }();
    std::size_t consumed = 0;  // bytes earlier read steps have taken
    bool open = true;
    bool resetAtEnd = false;
    for (const ServerScript::Step& step : script.steps()) {
        if (!open || m_stopping)
            break;
        switch (step.kind) {
        case ServerScript::Kind::ReadBytes:
            while (open && receivedSize(index) < consumed + step.count)
                open = receiveSome(index, kSliceMs);
            consumed += step.count;
            break;
        case ServerScript::Kind::ReadUntil:
            for (;;) {
                const std::size_t found = received(index).find(step.bytes, consumed);
                if (found != std::string::npos) {
                    consumed = found + step.bytes.size();
                    break;
                }
                if (!open)
                    break;
                open = receiveSome(index, kSliceMs);
            }
            break;
        case ServerScript::Kind::Send: {
            std::size_t sent = 0;
            while (open && sent < step.bytes.size() && !m_stopping) {
                const ssize_t done = ::send(socket, step.bytes.data() + sent, step.bytes.size() - sent, MSG_NOSIGNAL);
                if (done > 0) {
                    sent += static_cast<std::size_t>(done);
                } else if (done < 0 && errno == EAGAIN) {
                    pollfd entry{socket, POLLOUT, 0};
                    ::poll(&entry, 1, kSliceMs);
                } else {
                    open = false;
                }
            }
            break;
        }
        case ServerScript::Kind::Pause: {
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(step.count);
            while (open && std::chrono::steady_clock::now() < end) {
                const auto left
                    = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                          .count();
                open
                    = receiveSome(index, static_cast<int>(std::max<long long>(0, std::min<long long>(left, kSliceMs))));
            }
            break;
        }
        case ServerScript::Kind::Stall:
            while (open)
                open = receiveSome(index, kSliceMs);
            break;
        case ServerScript::Kind::Close: open = false; break;
        case ServerScript::Kind::Reset:
            resetAtEnd = true;
            open = false;
            break;
        }
    }
    if (resetAtEnd) {
        linger option{1, 0};
        ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    }
    ::close(socket);
    std::lock_guard lock(m_mutex);
    m_connections[index]->socket = -1;
    m_connections[index]->finished = true;
    m_changed.notify_all();
}

std::size_t ScriptedServer::connectionCount() const
{
    std::lock_guard lock(m_mutex);
    return m_connections.size();
}

std::string ScriptedServer::received(std::size_t connection) const
{
    std::lock_guard lock(m_mutex);
    return connection < m_connections.size() ? m_connections[connection]->received : std::string();
}

bool ScriptedServer::waitUntilFinished(std::size_t connection, int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return connection < m_connections.size() && m_connections[connection]->finished; });
}

}  // namespace fetchora::test
