#pragma once
// The outer loop every transfer worker runs: connection cycles until the
// part ends, with the error step between failed cycles. The protocol worker
// supplies one cycle; this loop asks the job window whether to retry, waits
// the retry delay while watching the alive flag, and reports a URL that
// failed for good.
//
// Thread: the worker thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "net/byte_stream.h"
#include "net/connection_setup.h"
#include "net/transfer_channel.h"

namespace fetchora {

enum class CycleEnd {
    Reconnect,  // begin a new cycle at once
    ErrorStep,  // the error step: ask the job window, wait, begin again
    Ended,  // the worker ends (stopped, or the job window said so)
    Finished,  // the data of a file without a known size ended
    Failed,  // the URL failed for good (outcome 2 to the job window)
    ResolveFailed,  // the host name could not be looked up: failed for good too
};

struct CycleResult {
    CycleEnd end = CycleEnd::ErrorStep;
    uint32_t socketError = 0;
    // ErrorStep and Failed: why, in words the user can act on ("HTTP 404
    // Not Found"); empty when the socket error says it.
    std::string cause{};
    int32_t retryAfterSeconds = -1;  // ErrorStep: the server's Retry-After; -1 none
};

// The longest wait a server's Retry-After may ask for; a longer one is cut
// to this, so that a run never sits idle for hours on one answer.
inline constexpr int32_t kMaxRetryAfterSeconds = 600;

// Seconds to wait before a retry: what the server asked for when it said
// (at most kMaxRetryAfterSeconds), else the configured delay (a negative
// one counts as 1 second).
int32_t retryWaitSeconds(int32_t configuredSeconds, int32_t retryAfterSeconds);

// The cause of a failed cycle as the user reads it: its own cause, else the
// socket error's text ("connection refused"), else "the connection failed".
std::string cycleCause(const CycleResult& cycle);

// The retry delay in steps of the stop check, without a log line: the job
// window logged the wait when it allowed the retry. False when the part was
// stopped meanwhile.
bool waitRetryDelay(const TransferTask& task, int32_t retryAfterSeconds = -1);

// Runs cycles to the worker's end and returns the thread procedure's result:
// 0 ended, 1 finished, 2 failed. A part started again after a failure waits
// the retry delay first.
int runWorkerCycles(TransferTask& task, ProtocolKind kind, const std::function<CycleResult()>& runCycle);

// ---- steps every protocol worker's cycle takes -------------------------------------

// A cycle's connection to the task's URL through the task's proxy. Addresses
// learnt on the way are remembered (the URL entry's in task.url, the proxy's
// in proxyAddress, kept across cycles) and reported to the job window.
struct CycleConnection {
    std::unique_ptr<ByteStream> stream;  // set when the connection is open
    RequestRoute route = RequestRoute::Direct;
    CycleResult ended{};  // how the cycle ends when no stream is set
};
CycleConnection connectCycle(TransferTask& task, std::string& proxyAddress);

// Sends bytes within the data time-out. Nothing when they went out; else how
// the cycle ends: a time-out logs its message and ends with timeoutCause, a
// failure logs its detail as an error line.
std::optional<CycleResult> sendCycleBytes(TransferTask& task, ByteStream& stream, std::string_view bytes,
                                          std::string_view timeoutCause);

// One read of at most target.size() bytes, as many as the speed limiter
// allows (waiting up to the stop-poll interval, or limitedWaitMs when the
// limiter paces). When it allows nothing now, the read sleeps limitedWaitMs
// and answers TimedOut, or Stopped when the part stopped meanwhile.
IoResult readThroughLimiter(TransferTask& task, ByteStream& stream, std::span<uint8_t> target, int limitedWaitMs);

// How the job window's answer to a block ends the cycle: nothing to go on,
// Reconnect at the part's new start, or Ended.
std::optional<CycleResult> cycleEndOf(WriteResult result);

}  // namespace fetchora
