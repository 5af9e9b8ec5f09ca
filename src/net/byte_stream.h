#pragma once
// A connected stream of bytes, one layer of a connection: TCP at the bottom,
// a TLS session over any other. A protocol talks to the top layer and never
// knows which layers are below it.
//
// Waits are bounded: every read or write waits at most its time-out for the
// peer, and looks at the worker's alive check at least every
// kStopPollIntervalMs, so that a stop takes effect within about 100 ms.
//
// Thread: a stream is used by one worker thread at a time.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace fetchora {

// Whether the worker may go on; false once it has been told to stop. Called
// at every wake-up, so it must be cheap (a look at a flag under a lock).
using AliveCheck = std::function<bool()>;

inline constexpr int kStopPollIntervalMs = 100;

// A time-out of kWaitForever waits until the peer acts or the worker stops.
inline constexpr int kWaitForever = -1;

enum class IoStatus {
    Ok,  // bytes moved
    TimedOut,  // nothing moved within the time-out (at once for a time-out of 0)
    Closed,  // the peer ended the stream in order
    Stopped,  // the alive check said stop
    Failed,  // a socket or TLS error; see socketError and detail
};

struct IoResult {
    IoStatus status = IoStatus::Ok;
    std::size_t bytes = 0;
    uint32_t socketError = 0;  // the socket error code, 0 when none is known
    std::string detail;  // why it failed, for the log; empty when the code says it

    bool ok() const { return status == IoStatus::Ok; }
};

class ByteStream {
public:
    virtual ~ByteStream();

    // Waits up to timeoutMs for data and reads what has arrived, at most size
    // bytes, at least one when Ok.
    virtual IoResult read(void* buffer, std::size_t size, int timeoutMs) = 0;

    // Waits up to timeoutMs for room and writes at least one byte, at most
    // size, when Ok.
    virtual IoResult write(const void* data, std::size_t size, int timeoutMs) = 0;

    // Ends the connection (the layers below with it); later calls fail.
    virtual void close() = 0;
};

// Writes all of data; idleTimeoutMs bounds each wait for room, so a peer that
// keeps taking bytes, however slowly, is not timed out. Ok carries the whole
// length.
IoResult writeAll(ByteStream& stream, std::string_view data, int idleTimeoutMs);

}  // namespace fetchora
