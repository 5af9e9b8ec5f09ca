#pragma once
// An in-process fake server for network tests: it listens on a free loopback
// port, follows a script on each connection ("read the request up to the
// empty line", "send this exact reply", "close after N bytes", "stall") and
// records every byte it received, so tests can state the exact request bytes
// a client sent and see how it copes with a peer that misbehaves.
//
// Thread: the server runs its own threads (one accepting, one per
// connection); its methods may be called from any thread. Stopped and joined
// in the destructor.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fetchora::test {

class ServerScript {
public:
    enum class Kind { ReadBytes, ReadUntil, Send, Pause, Stall, Close, Reset };
    struct Step {
        Kind kind;
        std::string bytes;  // what to send, or the marker to read up to
        std::size_t count = 0;
    };

    // Waits for count more bytes from the client.
    ServerScript& readBytes(std::size_t count);
    // Waits until the client has sent marker (after what earlier steps read).
    ServerScript& readUntil(std::string marker);
    // Waits for a whole HTTP request head (up to the empty line).
    ServerScript& readRequestHead() { return readUntil("\r\n\r\n"); }
    ServerScript& send(std::string bytes);
    // Sends the first count bytes of reply, then closes: a peer that dies
    // halfway through its answer.
    ServerScript& closeAfter(const std::string& reply, std::size_t count);
    ServerScript& pause(int milliseconds);
    // Sends nothing more but keeps the connection open (still recording) until
    // the client closes it or the server stops.
    ServerScript& stall();
    // Orderly close; also what happens after the last step.
    ServerScript& close();
    // Close with a reset (RST) instead of an orderly end.
    ServerScript& reset();

    const std::vector<Step>& steps() const { return m_steps; }

private:
    std::vector<Step> m_steps;
};

class ScriptedServer {
public:
    // Connection n follows scripts[n]; later connections follow the last one.
    explicit ScriptedServer(std::vector<ServerScript> scripts, bool ipv6 = false);
    explicit ScriptedServer(ServerScript script, bool ipv6 = false)
        : ScriptedServer(std::vector<ServerScript>{std::move(script)}, ipv6)
    {
    }
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    uint16_t port() const { return m_port; }
    // "127.0.0.1" or "::1".
    std::string host() const { return m_ipv6 ? "::1" : "127.0.0.1"; }

    std::size_t connectionCount() const;
    // Every byte received on that connection so far.
    std::string received(std::size_t connection = 0) const;
    // Waits until the connection's script has ended (or its client went
    // away); false after timeoutMs.
    bool waitUntilFinished(std::size_t connection, int timeoutMs = 5000) const;

private:
    struct Connection {
        int socket = -1;
        std::string received;
        bool finished = false;
        std::thread thread;
    };

    void acceptLoop();
    void serve(std::size_t index, const ServerScript& script);
    // Reads what has arrived into the connection's record; false when the
    // client closed or the server is stopping.
    bool receiveSome(std::size_t index, int waitMs);
    std::size_t receivedSize(std::size_t index) const;

    std::vector<ServerScript> m_scripts;
    bool m_ipv6;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::thread m_acceptThread;
};

}  // namespace fetchora::test
