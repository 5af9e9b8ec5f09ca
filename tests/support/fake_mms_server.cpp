#include "support/fake_mms_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "support/loopback_sockets.h"

namespace fetchora::test {

namespace {

void put32(std::vector<uint8_t>& out, std::size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get32(const std::vector<uint8_t>& in, std::size_t at)
{
    if (at + 4 > in.size())
        return 0;
    return in[at] | (in[at + 1] << 8) | (in[at + 2] << 16) | (uint32_t{in[at + 3]} << 24);
}

void append32(std::vector<uint8_t>& out, uint32_t value)
{
    out.resize(out.size() + 4);
    put32(out, out.size() - 4, value);
}

// ASCII text as UTF-16LE with a zero character; the tests use ASCII only.
std::vector<uint8_t> wide(const std::string& text)
{
    std::vector<uint8_t> out;
    for (char c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::string narrow(const std::vector<uint8_t>& bytes, std::size_t from)
{
    std::string out;
    for (std::size_t i = from; i + 1 < bytes.size(); i += 2) {
        if (bytes[i] == 0 && bytes[i + 1] == 0)
            break;
        out.push_back(bytes[i + 1] == 0 ? static_cast<char>(bytes[i]) : '?');
    }
    return out;
}

bool sendAll(int socket, const std::vector<uint8_t>& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::vector<uint8_t> FakeMmsServer::command(uint32_t code, std::vector<uint8_t> fields)
{
    const std::size_t length = (40 + fields.size() + 7) / 8 * 8;
    std::vector<uint8_t> out(length, 0);
    out[0] = 1;
    put32(out, 4, 0xB00BFACE);
    put32(out, 8, static_cast<uint32_t>(length - 16));
    std::memcpy(out.data() + 12, "MMS ", 4);
    put32(out, 16, static_cast<uint32_t>((length - 16) / 8));
    put32(out, 32, static_cast<uint32_t>((length - 32) / 8));
    put32(out, 36, 0x00040000u | code);
    std::copy(fields.begin(), fields.end(), out.begin() + 40);
    return out;
}

std::vector<uint8_t> FakeMmsServer::frame(uint32_t location, uint8_t type, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> out(8);
    put32(out, 0, location);
    out[4] = type;
    out[5] = 0;
    const std::size_t length = payload.size() + 8;
    out[6] = static_cast<uint8_t>(length);
    out[7] = static_cast<uint8_t>(length >> 8);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

FakeMmsServer::FakeMmsServer(FakeMmsOptions options) : m_options(std::move(options))
{
    m_listener = listenOnLoopback(8, m_port, "fake MMS server");
    m_thread = std::thread([this] { serveLoop(); });
}

FakeMmsServer::~FakeMmsServer()
{
    m_stopping = true;
    ::shutdown(m_listener, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listener);
}

std::string FakeMmsServer::url(const std::string& path) const
{
    return "mms://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<uint32_t> FakeMmsServer::startPackets() const
{
    std::lock_guard lock(m_mutex);
    return m_startPackets;
}

std::vector<uint32_t> FakeMmsServer::commands() const
{
    std::lock_guard lock(m_mutex);
    return m_commands;
}

std::vector<std::string> FakeMmsServer::securityResponses() const
{
    std::lock_guard lock(m_mutex);
    return m_security;
}

std::vector<std::string> FakeMmsServer::texts() const
{
    std::lock_guard lock(m_mutex);
    return m_texts;
}

std::vector<uint8_t> FakeMmsServer::lastCommand(uint32_t code) const
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_messages.rbegin(); it != m_messages.rend(); ++it) {
        if ((get32(*it, 36) & 0xFFFF) == code)
            return *it;
    }
    return {};
}

void FakeMmsServer::serveLoop()
{
    int index = 0;
    while (!m_stopping) {
        pollfd wait{m_listener, POLLIN, 0};
        if (::poll(&wait, 1, 100) <= 0)
            continue;
        const int socket = ::accept(m_listener, nullptr, nullptr);
        if (socket < 0)
            continue;
        ++m_connections;
        serve(socket, index++);
        ::close(socket);
    }
}

void FakeMmsServer::serve(int socket, int index)
{
    const FakeMmsOptions& o = m_options;
    const std::size_t headerSize = static_cast<std::size_t>(get32(o.asf, 16)) + 50;
    // The packet length from the file properties object (minimum size at +92).
    const uint32_t packetLength = [&] {
        static constexpr uint8_t kProperties[16]
            = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
        const auto found = std::search(o.asf.begin(), o.asf.end(), std::begin(kProperties), std::end(kProperties));
        return found == o.asf.end() ? 0u : get32(o.asf, static_cast<std::size_t>(found - o.asf.begin()) + 92);
    }();
    const std::size_t packets = packetLength ? (o.asf.size() - headerSize) / packetLength : 0;

    std::vector<uint8_t> in;
    int exchanges = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    // Waits for the client's answer to a ping and records it, so that no
    // answer is lost when the client closes with data still unread.
    const auto awaitPong = [&](int timeoutMs) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (in.size() < 16 || in.size() < get32(in, 8) + 16) {
            if (m_stopping || std::chrono::steady_clock::now() > until)
                return false;
            pollfd wait{socket, POLLIN, 0};
            if (::poll(&wait, 1, 50) <= 0)
                continue;
            uint8_t chunk[4096];
            const ssize_t n = ::recv(socket, chunk, sizeof chunk, 0);
            if (n <= 0)
                return false;
            in.insert(in.end(), chunk, chunk + n);
        }
        const std::size_t length = get32(in, 8) + 16;
        std::vector<uint8_t> message(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(length));
        in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(length));
        std::lock_guard lock(m_mutex);
        m_commands.push_back(get32(message, 36) & 0xFFFF);
        m_messages.push_back(std::move(message));
        return true;
    };
    while (!m_stopping && std::chrono::steady_clock::now() < deadline) {
        // One whole client command.
        while (in.size() < 16 || in.size() < get32(in, 8) + 16) {
            pollfd wait{socket, POLLIN, 0};
            if (m_stopping)
                return;
            if (::poll(&wait, 1, 100) <= 0)
                continue;
            uint8_t chunk[4096];
            const ssize_t n = ::recv(socket, chunk, sizeof chunk, 0);
            if (n <= 0)
                return;
            in.insert(in.end(), chunk, chunk + n);
        }
        const std::size_t length = get32(in, 8) + 16;
        std::vector<uint8_t> message(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(length));
        in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(length));
        const uint32_t code = get32(message, 36) & 0xFFFF;
        {
            std::lock_guard lock(m_mutex);
            m_commands.push_back(code);
            m_messages.push_back(message);
            if (code == 0x01)
                m_texts.push_back(narrow(message, 52));
            if (code == 0x02)
                m_texts.push_back(narrow(message, 60));
            if (code == 0x05)
                m_texts.push_back(narrow(message, 56));
        }
        std::vector<uint8_t> fields;
        switch (code) {
        case 0x01: {
            // Connected: result, revisions and play data, then the texts'
            // lengths in characters and the texts.
            fields.assign(56, 0);
            const std::vector<uint8_t> server = wide("FakeMediaServer/1.0");
            const std::vector<uint8_t> package = wide(o.authScheme);
            put32(fields, 40, static_cast<uint32_t>(server.size() / 2));
            put32(fields, 52, o.authScheme.empty() ? 0 : static_cast<uint32_t>(package.size() / 2));
            fields.insert(fields.end(), server.begin(), server.end());
            if (!o.authScheme.empty())
                fields.insert(fields.end(), package.begin(), package.end());
            if (!sendAll(socket, command(0x01, fields)))
                return;
            break;
        }
        case 0x18:
            if (!sendAll(socket, command(0x15, std::vector<uint8_t>(8, 0))))
                return;
            break;
        case 0x02:
            if (!sendAll(socket, command(0x02, std::vector<uint8_t>(8, 0))))
                return;
            break;
        case 0x05:
        case 0x1A: {
            if (code == 0x1A) {
                const uint32_t size = get32(message, 44);
                std::lock_guard lock(m_mutex);
                m_security.emplace_back(message.begin() + 48,
                                        message.begin() + 48 + std::min<std::size_t>(size, message.size() - 48));
            }
            const bool ntlm = o.authScheme == "NTLM";
            const int needed = o.authScheme.empty() ? 0 : (ntlm ? 2 : 1);
            if (exchanges < needed) {
                std::vector<uint8_t> challenge;
                if (ntlm && exchanges == 1) {
                    const char* signature = "NTLMSSP";
                    challenge.assign(signature, signature + 8);
                    append32(challenge, 2);
                    append32(challenge, 0);
                    append32(challenge, 40);
                    append32(challenge, 0x00008201);
                    for (uint8_t b : {1, 2, 3, 4, 5, 6, 7, 8})
                        challenge.push_back(b);
                    challenge.resize(40, 0);
                }
                ++exchanges;
                std::vector<uint8_t> body(8, 0);
                put32(body, 4, static_cast<uint32_t>(challenge.size()));
                body.insert(body.end(), challenge.begin(), challenge.end());
                if (!sendAll(socket, command(0x1A, body)))
                    return;
                break;
            }
            // The open-file report: result, then the file's data.
            fields.assign(96, 0);
            put32(fields, 0, o.openFileResult);
            if (!sendAll(socket, command(0x06, fields)))
                return;
            if (o.openFileResult & 0x80000000u)
                return;
            break;
        }
        case 0x15: {
            // The header in frames of at most 1000 bytes.
            for (std::size_t at = 0; at < headerSize; at += 1000) {
                const std::size_t end = std::min(headerSize, at + 1000);
                const std::vector<uint8_t> part(o.asf.begin() + static_cast<std::ptrdiff_t>(at),
                                                o.asf.begin() + static_cast<std::ptrdiff_t>(end));
                if (!sendAll(socket, frame(0, 0x02, part)))
                    return;
            }
            break;
        }
        case 0x07: {
            const uint32_t first = get32(message, 60);
            {
                std::lock_guard lock(m_mutex);
                m_startPackets.push_back(first);
            }
            if (!sendAll(socket, command(0x05, std::vector<uint8_t>(8, 0))))
                return;
            if (!o.rawAfterStart.empty()) {
                sendAll(socket, std::vector<uint8_t>(o.rawAfterStart.begin(), o.rawAfterStart.end()));
                // Keep the connection until the client gives up.
                for (int i = 0; i < 100 && !m_stopping; ++i) {
                    uint8_t chunk[256];
                    pollfd wait{socket, POLLIN, 0};
                    if (::poll(&wait, 1, 100) > 0 && ::recv(socket, chunk, sizeof chunk, 0) <= 0)
                        return;
                }
                return;
            }
            uint32_t sent = 0;
            const std::size_t from = o.live ? 0 : first;
            for (std::size_t p = from; p < packets && p <= o.lastPacket && !m_stopping; ++p) {
                if (o.skipPackets.count(static_cast<uint32_t>(p)))
                    continue;
                if (index == 0 && sent >= o.cutAfterPackets)
                    return;
                std::vector<uint8_t> packet(o.asf.begin() + static_cast<std::ptrdiff_t>(headerSize + p * packetLength),
                                            o.asf.begin()
                                                + static_cast<std::ptrdiff_t>(headerSize + (p + 1) * packetLength));
                if (o.stripPadding) {
                    while (packet.size() > 1 && packet.back() == 0)
                        packet.pop_back();
                }
                const uint32_t location
                    = o.live ? o.liveFirstLocation + static_cast<uint32_t>(p) : static_cast<uint32_t>(p);
                if (!sendAll(socket, frame(location, 0x04, packet)))
                    return;
                ++sent;
                if (sent == 1) {
                    for (int i = 0; i < o.pingsDuringPlay; ++i) {
                        if (!sendAll(socket, command(0x1B, std::vector<uint8_t>(8, 0))) || !awaitPong(3000))
                            return;
                    }
                }
                if (o.packetDelayMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(o.packetDelayMs));
            }
            if (o.pingsInsteadOfEnd >= 0) {
                for (int i = 0; i < o.pingsInsteadOfEnd; ++i) {
                    // A client that took the pings as the end answers no more.
                    if (!sendAll(socket, command(0x1B, std::vector<uint8_t>(8, 0))) || !awaitPong(1000))
                        return;
                }
            } else if (o.sendEnd) {
                if (!sendAll(socket, command(0x1E, std::vector<uint8_t>(8, 0))))
                    return;
            }
            break;
        }
        default: break;  // pongs and the rest need no answer
        }
    }
}

}  // namespace fetchora::test
