#pragma once
// A TCP proxy on a free 127.0.0.1 port that forwards to a real server on
// 127.0.0.1 and spoils some connections on the way, each with one fault
// drawn from a seeded generator: a reset or a stall at a random byte of the
// reply stream, a response head (HTTP) or reply (FTP control) that is cut
// short, delayed in pieces or has one byte replaced, or a reset within the
// first few KiB (the TLS handshake). Bodies and FTP data are never altered,
// only cut or held up, since nothing can tell a flipped body byte without a
// checksum.
//
// For FTP it proxies the control connection and rewrites every passive reply
// (227 and 229) to a data port of its own, which forwards to the server's
// data port with faults of its own.
//
// Thread: one thread accepts, one serves each connection; stopped and joined
// in the destructor.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fetchora::test {

enum class ProxiedProtocol { Http, Tls, Ftp };

// The chance that a connection gets each fault; what is left over is a
// clean connection.
struct FaultOdds {
    double reset = 0.06;
    double stall = 0.02;
    double truncateHead = 0.04;
    double delayHead = 0.06;
    double flipHead = 0.06;
    double handshakeReset = 0.06;  // Tls only
    // When 0 or more, every connection is reset (or stalled) at this byte of
    // the reply stream instead: a server that always stops at the same place.
    int64_t everyResetAt = -1;
    int64_t everyStallAt = -1;
};

class FaultProxy {
public:
    FaultProxy(uint16_t targetPort, ProxiedProtocol protocol, uint64_t seed, FaultOdds odds = {});
    ~FaultProxy();
    FaultProxy(const FaultProxy&) = delete;
    FaultProxy& operator=(const FaultProxy&) = delete;

    uint16_t port() const { return m_port; }
    // One entry per connection so far (data connections too), naming the
    // fault it was given ("clean" when none).
    std::vector<std::string> faults() const;

    // What one connection is given (defined with the proxy's code).
    struct Fault;

private:
    void acceptLoop();
    void serve(int client, uint64_t index);
    void serveData(int listener, uint16_t serverPort, uint64_t index);
    Fault drawFault(uint64_t index, bool data);
    uint16_t openDataPort(uint16_t serverPort);
    void record(uint64_t index, std::string text);
    void startThread(std::thread thread);

    uint16_t m_targetPort;
    ProxiedProtocol m_protocol;
    uint64_t m_seed;
    FaultOdds m_odds;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<uint64_t> m_nextIndex{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_faults;
    std::vector<std::thread> m_threads;
    std::thread m_acceptThread;
};

}  // namespace fetchora::test
