#include "support/fake_rtsp_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "net/base64_codec.h"
#include "support/loopback_sockets.h"

namespace fetchora::test {

namespace {

bool sendText(int socket, const std::string& text)
{
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(socket, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

uint32_t le32(const std::vector<uint8_t>& bytes, std::size_t at)
{
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (uint32_t{bytes[at + 3]} << 24);
}

std::string headerValue(const std::string& head, const std::string& name)
{
    const auto at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return {};
    const auto start = at + name.size() + 4;
    return head.substr(start, head.find("\r\n", start) - start);
}

}  // namespace

FakeRtspServer::FakeRtspServer(FakeRtspOptions options) : m_options(std::move(options))
{
    m_listener = listenOnLoopback(8, m_port, "fake RTSP server");
    m_thread = std::thread([this] { serveLoop(); });
}

FakeRtspServer::~FakeRtspServer()
{
    m_stopping = true;
    ::shutdown(m_listener, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listener);
}

std::string FakeRtspServer::url(const std::string& path) const
{
    return "rtsp://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<std::string> FakeRtspServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::string FakeRtspServer::answerToServerRequest() const
{
    std::lock_guard lock(m_mutex);
    return m_answer;
}

void FakeRtspServer::serveLoop()
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

void FakeRtspServer::serve(int socket, int index)
{
    const FakeRtspOptions& o = m_options;
    std::string in;
    int unauthorized = 0;
    const auto readHead = [&](std::string& head) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (in.find("\r\n\r\n") == std::string::npos) {
            if (m_stopping || std::chrono::steady_clock::now() > deadline)
                return false;
            pollfd wait{socket, POLLIN, 0};
            if (::poll(&wait, 1, 100) <= 0)
                continue;
            char chunk[4096];
            const ssize_t n = ::recv(socket, chunk, sizeof chunk, 0);
            if (n <= 0)
                return false;
            in.append(chunk, static_cast<std::size_t>(n));
        }
        const auto end = in.find("\r\n\r\n") + 4;
        head = in.substr(0, end);
        in.erase(0, end);
        return true;
    };
    for (;;) {
        std::string head;
        if (!readHead(head))
            return;
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(head);
        }
        const std::string method = head.substr(0, head.find(' '));
        const std::string cseq = headerValue(head, "CSeq");
        std::string reply = "RTSP/1.0 200 OK\r\nCSeq: " + cseq + "\r\n";
        if (method == "OPTIONS") {
            reply += o.windowsMedia ? "Server: WMServer/9.1.1.5000\r\n"
                                    : "Server: RealServer Version 9.0\r\n"
                                      "RealChallenge1: 0123456789abcdef\r\n";
            reply += "Session: 777;timeout=60\r\n";
        } else if (method == "DESCRIBE") {
            const std::string authorization = headerValue(head, "Authorization");
            bool allowed = o.auth.empty();
            std::string challenge;
            if (o.auth == "Basic") {
                allowed = authorization == "Basic " + Base64Codec().encode(std::string_view("ann:pw"));
                challenge = "Basic realm=\"Media\"";
            } else if (o.auth == "RN5") {
                allowed = authorization.rfind("RN5 username=\"ann\"", 0) == 0
                    && authorization.find("realm=\"Media\",nonce=\"42abc\",responce=\"") != std::string::npos;
                challenge = "RN5 realm=\"Media\", nonce=\"42abc\"";
            } else if (o.auth == "NTLM") {
                allowed = authorization.rfind("NTLM ", 0) == 0 && unauthorized == 2;
                if (unauthorized == 0) {
                    challenge = "NTLM";
                } else {
                    std::vector<uint8_t> message = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0, 2, 0, 0, 0};
                    message.resize(40, 0);
                    for (int i = 0; i < 8; ++i)
                        message[24 + i] = static_cast<uint8_t>(i + 1);
                    challenge = "NTLM " + Base64Codec().encode(message);
                }
            }
            if (!allowed && unauthorized < 3) {
                ++unauthorized;
                if (!sendText(socket,
                              "RTSP/1.0 401 Unauthorized\r\nCSeq: " + cseq + "\r\nWWW-Authenticate: " + challenge
                                  + "\r\n\r\n"))
                    return;
                continue;
            }
            if (o.describeStatus != 200) {
                sendText(socket,
                         "RTSP/1.0 " + std::to_string(o.describeStatus) + " Refused\r\nCSeq: " + cseq + "\r\n\r\n");
                continue;
            }
            std::string sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=clip\r\n";
            if (o.windowsMedia) {
                const std::size_t headerSize = le32(o.asf, 16) + 50;
                const std::vector<uint8_t> header(o.asf.begin(),
                                                  o.asf.begin() + static_cast<std::ptrdiff_t>(headerSize));
                sdp += "a=pgmpu:data:application/vnd.ms.wms-hdr.asfv1;base64," + Base64Codec().encode(header) + "\r\n";
                sdp += "m=audio 0 RTP/AVP 96\r\na=control:audio\r\nm=video 0 RTP/AVP 96\r\na=control:video\r\n";
            } else {
                sdp += o.realSdp;
            }
            reply += "Content-Base: " + url() + "/\r\nETag: \"e1\"\r\nContent-Type: application/sdp\r\n";
            reply += o.describeExtra;
            reply += "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
            if (!sendText(socket, reply))
                return;
            continue;
        } else if (method == "SETUP") {
            reply += "Session: 4242;timeout=60\r\nTransport: " + headerValue(head, "Transport") + "\r\n";
        } else if (method == "PLAY") {
            reply += "Range: npt=0.000-3.000\r\n\r\n";
            if (!sendText(socket, reply))
                return;
            if (o.askFirst) {
                if (!sendText(socket, "SET_PARAMETER " + url() + " RTSP/1.0\r\nCSeq: 91\r\nX-Ping: 1\r\n\r\n"))
                    return;
                std::string answer;
                if (!readHead(answer))
                    return;
                std::lock_guard lock(m_mutex);
                m_answer = answer;
            }
            if (!o.rawAfterPlay.empty()) {
                sendText(socket, o.rawAfterPlay);
                for (int i = 0; i < 100 && !m_stopping; ++i) {
                    char chunk[256];
                    pollfd wait{socket, POLLIN, 0};
                    if (::poll(&wait, 1, 100) > 0 && ::recv(socket, chunk, sizeof chunk, 0) <= 0)
                        return;
                }
                return;
            }
            if (!o.windowsMedia) {
                for (const std::string& payload : o.realFrames) {
                    // ((byte 2 + 16 × byte 1) mod 256) × 256 + byte 3 with byte 1 = 0.
                    std::string frame = "$";
                    frame.push_back('\0');
                    frame.push_back(static_cast<char>(payload.size() >> 8));
                    frame.push_back(static_cast<char>(payload.size()));
                    if (!sendText(socket, frame + payload))
                        return;
                }
                return;  // the end of the stream
            }
            // The first packet wanted, from the range's start.
            const std::string range = headerValue(head, "Range");
            double start = 0;
            if (!range.empty())
                std::sscanf(range.c_str(), "npt=%lf-", &start);
            const std::size_t headerSize = le32(o.asf, 16) + 50;
            static constexpr uint8_t kProperties[16]
                = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
            const auto found = std::search(o.asf.begin(), o.asf.end(), std::begin(kProperties), std::end(kProperties));
            const auto at = static_cast<std::size_t>(found - o.asf.begin());
            const uint32_t packetLength = le32(o.asf, at + 92);
            const uint64_t duration = le32(o.asf, at + 64) | (uint64_t{le32(o.asf, at + 68)} << 32);
            const std::size_t packets = (o.asf.size() - headerSize) / packetLength;
            const auto first = duration ? static_cast<std::size_t>(start * 1e7 * packets / duration + 0.5) : 0;
            uint32_t sent = 0;
            for (std::size_t p = first; p < packets; ++p) {
                if (index == 0 && sent >= o.cutAfterPackets)
                    return;
                if (o.packetDelayMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(o.packetDelayMs));
                if (m_stopping)
                    return;
                std::string rtp
                    = {'\x80', '\x60', '\0', static_cast<char>(p), '\0', '\0', '\0', '\0', '\0', '\0', '\0', '\x01'};
                const std::size_t length = 4 + packetLength;
                rtp += static_cast<char>(0x40);
                rtp += static_cast<char>(length >> 16);
                rtp += static_cast<char>(length >> 8);
                rtp += static_cast<char>(length);
                rtp.append(reinterpret_cast<const char*>(o.asf.data()) + headerSize + p * packetLength, packetLength);
                std::string frame = "$";
                frame.push_back('\0');
                frame.push_back(static_cast<char>(rtp.size() >> 8));
                frame.push_back(static_cast<char>(rtp.size()));
                if (!sendText(socket, frame + rtp))
                    return;
                ++sent;
            }
            return;  // the end of the stream: the server closes
        }
        reply += "\r\n";
        if (!sendText(socket, reply))
            return;
    }
}

}  // namespace fetchora::test
