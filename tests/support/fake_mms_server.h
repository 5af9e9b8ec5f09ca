#pragma once
// A fake MMS (over TCP) server for the stream worker tests. It answers the
// client's commands in the order of the protocol (connected, funnel
// information, funnel connected, open-file report, the ASF header in data
// frames, then the data packets from the packet the client asked for, and
// the end of the stream), serving an ASF file the test made. Options make it
// misbehave: cut the connection, skip packets, strip padding, ask for a
// login, send pings, report a failure code, or send raw bytes instead of
// packets.
//
// Thread: one server thread serves connections one after another; the
// accessors may be called from any thread. Stopped and joined in the
// destructor.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fetchora::test {

struct FakeMmsOptions {
    std::vector<uint8_t> asf;  // the file served: header, then packets
    bool live = false;  // packets numbered from liveFirstLocation, no seeking
    uint32_t liveFirstLocation = 0;
    int packetDelayMs = 0;
    // Connection 0 closes after sending this many packets.
    uint32_t cutAfterPackets = UINT32_MAX;
    std::set<uint32_t> skipPackets{};  // never sent
    bool stripPadding = false;  // trailing zero bytes of packets are not sent
    std::string authScheme{};  // "", "BASIC" or "NTLM"
    uint32_t openFileResult = 0;  // the open-file report's result code
    int pingsDuringPlay = 0;  // pings sent after the first packet
    int pingsInsteadOfEnd = -1;  // >= 0: after the packets, this many pings and no end
    bool sendEnd = true;
    uint32_t lastPacket = UINT32_MAX;  // packets after this are not sent
    std::string rawAfterStart{};  // sent after start playing instead of packets
};

class FakeMmsServer {
public:
    explicit FakeMmsServer(FakeMmsOptions options);
    ~FakeMmsServer();
    FakeMmsServer(const FakeMmsServer&) = delete;
    FakeMmsServer& operator=(const FakeMmsServer&) = delete;

    uint16_t port() const { return m_port; }
    std::string url(const std::string& path = "/clip.asf") const;

    int connections() const { return m_connections; }
    // The first packet each start-playing command asked for, in order.
    std::vector<uint32_t> startPackets() const;
    // The command codes the client sent, in order, over all connections.
    std::vector<uint32_t> commands() const;
    // What the client sent in its security responses.
    std::vector<std::string> securityResponses() const;
    // The UTF-16 texts of the connect and open-file commands, as UTF-8.
    std::vector<std::string> texts() const;
    // Bytes of a command message as received, by code (the last one).
    std::vector<uint8_t> lastCommand(uint32_t code) const;

    // Builders the tests use for odd input.
    static std::vector<uint8_t> command(uint32_t code, std::vector<uint8_t> fields);
    static std::vector<uint8_t> frame(uint32_t location, uint8_t type, const std::vector<uint8_t>& payload);

private:
    void serveLoop();
    void serve(int socket, int index);

    FakeMmsOptions m_options;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    std::vector<uint32_t> m_startPackets;
    std::vector<uint32_t> m_commands;
    std::vector<std::string> m_security;
    std::vector<std::string> m_texts;
    std::vector<std::vector<uint8_t>> m_messages;
    std::thread m_thread;
};

}  // namespace fetchora::test
