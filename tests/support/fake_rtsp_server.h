#pragma once
// A fake RTSP server for the stream worker tests, answering one TCP
// connection at a time with interleaved data: OPTIONS (as a Windows Media or
// a RealMedia server), DESCRIBE (optionally after a Basic, RN5 or NTLM
// challenge), SETUP, SET_PARAMETER and PLAY, then the packets of an ASF file
// the test made as RTP packets (Windows Media), or a few data frames with
// the RealMedia length rule. It can send a request of its own before the
// data and cut the connection after some packets.
//
// Thread: one server thread; accessors from any thread.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fetchora::test {

struct FakeRtspOptions {
    bool windowsMedia = true;
    std::vector<uint8_t> asf{};  // Windows Media: the file served
    std::string realSdp{};  // RealMedia: the description's streams
    std::vector<std::string> realFrames{};  // RealMedia: payloads sent on channel 0
    std::string auth{};  // "", "Basic", "RN5" or "NTLM"
    bool askFirst = false;  // send a SET_PARAMETER request before the data
    uint32_t cutAfterPackets = UINT32_MAX;  // connection 0 only
    int packetDelayMs = 0;  // a pause before each packet, as a live source paces them
    int describeStatus = 200;
    std::string rawAfterPlay{};  // sent after the PLAY answer instead of the data; then silence
    std::string describeExtra{};  // headers added to the DESCRIBE answer
};

class FakeRtspServer {
public:
    explicit FakeRtspServer(FakeRtspOptions options);
    ~FakeRtspServer();
    FakeRtspServer(const FakeRtspServer&) = delete;
    FakeRtspServer& operator=(const FakeRtspServer&) = delete;

    std::string url(const std::string& path = "/clip.wmv") const;
    int connections() const { return m_connections; }
    // Every request head received, in order.
    std::vector<std::string> requests() const;
    // What the client sent after the server's own request.
    std::string answerToServerRequest() const;

private:
    void serveLoop();
    void serve(int socket, int index);

    FakeRtspOptions m_options;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::string m_answer;
    std::thread m_thread;
};

}  // namespace fetchora::test
