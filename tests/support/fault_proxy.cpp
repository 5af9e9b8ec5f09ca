#include "support/fault_proxy.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <regex>
#include <sys/socket.h>
#include <unistd.h>

#include "support/loopback_sockets.h"

namespace fetchora::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSliceMs = 100;
// A stalled connection is held at most this long, well past any data time-out.
constexpr auto kLongestStall = std::chrono::seconds(180);
// A passive data port waits this long for the client.
constexpr auto kDataAcceptWait = std::chrono::seconds(60);
// Heads longer than this are passed on unexamined.
constexpr std::size_t kLongestHead = 256 * 1024;
// What a spoiled head byte becomes: never a digit, a space or a letter, so
// that a number stays malformed instead of becoming another plausible number.
constexpr char kSpoilers[] = {'\0', '\x01', '\x7f', '\xff', '~', '#'};

// Non-blocking, as the proxy polls its listeners.
int nonBlockingListener(uint16_t* port)
{
    const int listener = listenOnLoopback(64, *port, "fault proxy");
    ::fcntl(listener, F_SETFL, O_NONBLOCK);
    return listener;
}

int connectToLoopback(uint16_t port)
{
    const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(sock);
        return -1;
    }
    ::fcntl(sock, F_SETFL, O_NONBLOCK);
    return sock;
}

void resetAndClose(int sock)
{
    linger option{1, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    ::close(sock);
}

}  // namespace

struct FaultProxy::Fault {
    enum Kind { Clean, Reset, Stall, TruncateHead, DelayHead, FlipHead, HandshakeReset } kind = Clean;
    // Reset, Stall: the byte of the reply stream where it strikes;
    // HandshakeReset: the byte of both directions together.
    uint64_t offset = 0;
    // Head faults: which FTP reply line (HTTP has one head per connection).
    uint64_t reply = 0;
    std::mt19937_64 random;

    std::string describe() const
    {
        static const char* const names[]
            = {"clean", "reset", "stall", "truncated head", "delayed head", "flipped head", "handshake reset"};
        std::string text = names[kind];
        if (kind == Reset || kind == Stall || kind == HandshakeReset)
            text += " at " + std::to_string(offset);
        if ((kind == TruncateHead || kind == DelayHead || kind == FlipHead) && reply > 0)
            text += " in reply " + std::to_string(reply);
        return text;
    }
};

namespace {

// Forwards one connection, applying its fault to what the server sends.
class Pipe {
public:
    Pipe(int client, int server, FaultProxy::Fault& fault, ProxiedProtocol protocol, const std::atomic<bool>& stopping,
         std::function<uint16_t(uint16_t)> openDataPort)
        : m_client(client),
          m_server(server),
          m_fault(fault),
          m_protocol(protocol),
          m_stopping(stopping),
          m_openDataPort(std::move(openDataPort))
    {
    }

    void run()
    {
        char buffer[64 * 1024];
        while (!m_stopping && !m_ended) {
            pollfd fds[2] = {{m_client, POLLIN, 0}, {m_server, POLLIN, 0}};
            if (::poll(fds, 2, kSliceMs) <= 0)
                continue;
            if (fds[0].revents) {
                const ssize_t got = ::recv(m_client, buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                if (!beforeForwarding(static_cast<uint64_t>(got)) || !sendAll(m_server, buffer, std::size_t(got)))
                    break;
            }
            if (fds[1].revents) {
                const ssize_t got = ::recv(m_server, buffer, sizeof buffer, 0);
                if (got <= 0) {
                    // The server ended: what is held back goes out first.
                    if (!m_head.empty() && !m_ended)
                        sendDown(m_head);
                    break;
                }
                if (!beforeForwarding(static_cast<uint64_t>(got)))
                    break;
                fromServer(std::string(buffer, std::size_t(got)));
            }
        }
        if (!m_resetDone)
            ::close(m_client);
        ::close(m_server);
    }

private:
    // Counts both directions for a reset in the handshake; false once it struck.
    bool beforeForwarding(uint64_t bytes)
    {
        if (m_fault.kind != FaultProxy::Fault::HandshakeReset)
            return true;
        m_both += bytes;
        if (m_both < m_fault.offset)
            return true;
        reset();
        return false;
    }

    void fromServer(std::string bytes)
    {
        if (m_protocol == ProxiedProtocol::Ftp) {
            m_head += bytes;
            for (std::size_t end; !m_ended && (end = m_head.find('\n')) != std::string::npos;) {
                std::string line = m_head.substr(0, end + 1);
                m_head.erase(0, end + 1);
                replyLine(std::move(line));
            }
            return;
        }
        if (m_protocol == ProxiedProtocol::Tls || m_headDone) {
            sendDown(bytes);
            return;
        }
        m_head += bytes;
        const std::size_t end = m_head.find("\r\n\r\n");
        if (end == std::string::npos && m_head.size() < kLongestHead)
            return;
        m_headDone = true;
        std::string rest;
        if (end != std::string::npos) {
            rest = m_head.substr(end + 4);
            m_head.resize(end + 4);
        }
        std::string head = std::move(m_head);
        m_head.clear();
        if (spoilHead(head))
            sendDown(rest);
    }

    void replyLine(std::string line)
    {
        rewritePassive(line);
        const uint64_t index = m_replies++;
        if (index != m_fault.reply) {
            sendDown(line);
            return;
        }
        spoilHead(line);
    }

    // Applies a head fault to one response head or reply line and sends it;
    // false when the connection ended.
    bool spoilHead(std::string head)
    {
        using F = FaultProxy::Fault;
        auto& random = m_fault.random;
        switch (m_fault.kind) {
        case F::FlipHead:
            if (!head.empty())
                head[random() % head.size()] = kSpoilers[random() % sizeof kSpoilers];
            break;
        case F::TruncateHead: {
            sendDown(head.substr(0, head.empty() ? 0 : random() % head.size()));
            if (random() % 2)
                reset();
            m_ended = true;
            return false;
        }
        case F::DelayHead: {
            const int pieces = 2 + int(random() % 3);
            std::size_t sent = 0;
            for (int piece = 1; piece <= pieces && !m_ended; ++piece) {
                const std::size_t size = piece == pieces ? head.size() - sent : (head.size() - sent) / 2;
                sendDown(head.substr(sent, size));
                sent += size;
                if (piece < pieces)
                    std::this_thread::sleep_for(std::chrono::milliseconds(200 + random() % 1300));
            }
            return !m_ended;
        }
        default: break;
        }
        sendDown(head);
        return !m_ended;
    }

    // Points a passive reply at a data port of the proxy's own.
    void rewritePassive(std::string& line)
    {
        static const std::regex pasv(R"(^227 .*\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\))");
        static const std::regex epsv(R"(^229 .*\(\|\|\|(\d+)\|\))");
        std::smatch match;
        if (std::regex_search(line, match, pasv)) {
            const auto serverPort = uint16_t(std::stoi(match[5]) * 256 + std::stoi(match[6]));
            const uint16_t port = m_openDataPort(serverPort);
            line = "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + ","
                + std::to_string(port % 256) + ").\r\n";
        } else if (std::regex_search(line, match, epsv)) {
            const uint16_t port = m_openDataPort(uint16_t(std::stoi(match[1])));
            line = "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)\r\n";
        }
    }

    // Sends to the client, applying a reset or stall at its byte.
    void sendDown(const std::string& bytes)
    {
        using F = FaultProxy::Fault;
        if (m_ended || bytes.empty())
            return;
        std::size_t count = bytes.size();
        const bool strikes = (m_fault.kind == F::Reset || m_fault.kind == F::Stall) && m_down + count > m_fault.offset
            && m_down <= m_fault.offset;
        if (strikes)
            count = std::size_t(m_fault.offset - m_down);
        if (!sendAll(m_client, bytes.data(), count)) {
            m_ended = true;
            return;
        }
        m_down += count;
        if (!strikes)
            return;
        if (m_fault.kind == F::Reset)
            reset();
        else
            stall();
        m_ended = true;
    }

    void reset()
    {
        resetAndClose(m_client);
        m_resetDone = true;
        m_ended = true;
    }

    // Sends nothing more; what the client sends is read and dropped until it
    // gives up.
    void stall()
    {
        const auto until = Clock::now() + kLongestStall;
        char sink[4096];
        while (!m_stopping && Clock::now() < until) {
            pollfd fd{m_client, POLLIN, 0};
            if (::poll(&fd, 1, kSliceMs) > 0 && ::recv(m_client, sink, sizeof sink, 0) <= 0)
                break;
        }
    }

    bool sendAll(int sock, const char* data, std::size_t size)
    {
        while (size > 0) {
            if (m_stopping)
                return false;
            const ssize_t sent = ::send(sock, data, size, MSG_NOSIGNAL);
            if (sent > 0) {
                data += sent;
                size -= std::size_t(sent);
                continue;
            }
            if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return false;
            pollfd fd{sock, POLLOUT, 0};
            ::poll(&fd, 1, kSliceMs);
        }
        return true;
    }

    int m_client;
    int m_server;
    FaultProxy::Fault& m_fault;
    ProxiedProtocol m_protocol;
    const std::atomic<bool>& m_stopping;
    std::function<uint16_t(uint16_t)> m_openDataPort;
    std::string m_head;
    bool m_headDone = false;
    bool m_ended = false;
    bool m_resetDone = false;
    uint64_t m_down = 0;
    uint64_t m_both = 0;
    uint64_t m_replies = 0;
};

}  // namespace

FaultProxy::FaultProxy(uint16_t targetPort, ProxiedProtocol protocol, uint64_t seed, FaultOdds odds)
    : m_targetPort(targetPort), m_protocol(protocol), m_seed(seed), m_odds(odds)
{
    m_listener = nonBlockingListener(&m_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

FaultProxy::~FaultProxy()
{
    m_stopping = true;
    m_acceptThread.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(m_mutex);
        threads.swap(m_threads);
    }
    for (auto& thread : threads)
        thread.join();
    ::close(m_listener);
}

std::vector<std::string> FaultProxy::faults() const
{
    std::lock_guard lock(m_mutex);
    return m_faults;
}

void FaultProxy::record(uint64_t index, std::string text)
{
    std::lock_guard lock(m_mutex);
    if (m_faults.size() <= index)
        m_faults.resize(index + 1);
    m_faults[index] = std::move(text);
}

void FaultProxy::startThread(std::thread thread)
{
    std::lock_guard lock(m_mutex);
    m_threads.push_back(std::move(thread));
}

FaultProxy::Fault FaultProxy::drawFault(uint64_t index, bool data)
{
    Fault fault;
    fault.random.seed(m_seed * 0x9E3779B97F4A7C15ULL + index + 1);
    auto& random = fault.random;
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    double roll = chance(random);
    const auto take = [&](double odds) {
        roll -= odds;
        return roll < 0;
    };
    // A reset or stall may strike anywhere from the first byte to far into a
    // big body: the offset is spread over powers of two.
    const auto offset = [&] { return random() % (uint64_t(1) << (4 + random() % 23)); };
    if (m_odds.everyResetAt >= 0 || m_odds.everyStallAt >= 0) {
        fault.kind = m_odds.everyResetAt >= 0 ? Fault::Reset : Fault::Stall;
        fault.offset = uint64_t(m_odds.everyResetAt >= 0 ? m_odds.everyResetAt : m_odds.everyStallAt);
    } else if (take(m_odds.reset)) {
        fault.kind = Fault::Reset;
        fault.offset = offset();
    } else if (take(m_odds.stall)) {
        fault.kind = Fault::Stall;
        fault.offset = offset();
    } else if (data) {
        // Data connections carry bodies only.
    } else if (m_protocol == ProxiedProtocol::Tls) {
        if (take(m_odds.handshakeReset)) {
            fault.kind = Fault::HandshakeReset;
            fault.offset = random() % 4096;
        }
    } else if (take(m_odds.truncateHead)) {
        fault.kind = Fault::TruncateHead;
    } else if (take(m_odds.delayHead)) {
        fault.kind = Fault::DelayHead;
    } else if (take(m_odds.flipHead)) {
        fault.kind = Fault::FlipHead;
    }
    // The replies of an FTP session: the welcome, the login, then the
    // commands of the transfer.
    if (m_protocol == ProxiedProtocol::Ftp && !data)
        fault.reply = random() % 10;
    return fault;
}

void FaultProxy::acceptLoop()
{
    while (!m_stopping) {
        pollfd fd{m_listener, POLLIN, 0};
        if (::poll(&fd, 1, kSliceMs) <= 0)
            continue;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const uint64_t index = m_nextIndex++;
        startThread(std::thread([this, client, index] { serve(client, index); }));
    }
}

void FaultProxy::serve(int client, uint64_t index)
{
    Fault fault = drawFault(index, false);
    record(index, fault.describe());
    const int server = connectToLoopback(m_targetPort);
    if (server < 0) {
        ::close(client);
        return;
    }
    Pipe(client, server, fault, m_protocol, m_stopping, [this](uint16_t port) { return openDataPort(port); }).run();
}

uint16_t FaultProxy::openDataPort(uint16_t serverPort)
{
    uint16_t port = 0;
    const int listener = nonBlockingListener(&port);
    const uint64_t index = m_nextIndex++;
    startThread(std::thread([this, listener, serverPort, index] { serveData(listener, serverPort, index); }));
    return port;
}

void FaultProxy::serveData(int listener, uint16_t serverPort, uint64_t index)
{
    Fault fault = drawFault(index, true);
    record(index, "data: " + fault.describe());
    const auto until = Clock::now() + kDataAcceptWait;
    int client = -1;
    while (!m_stopping && client < 0 && Clock::now() < until) {
        pollfd fd{listener, POLLIN, 0};
        if (::poll(&fd, 1, kSliceMs) > 0)
            client = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    }
    ::close(listener);
    if (client < 0)
        return;
    const int server = connectToLoopback(serverPort);
    if (server < 0) {
        ::close(client);
        return;
    }
    // Data is forwarded as it comes, like TLS: no head to find in it.
    Pipe(client, server, fault, ProxiedProtocol::Tls, m_stopping, {}).run();
}

}  // namespace fetchora::test
