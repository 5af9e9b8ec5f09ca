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
};

// The retry delay (a negative delay counts as 1 second) in steps of the stop
// check, without a log line: the job window logged the wait when it allowed
// the retry. False when the part was stopped meanwhile.
bool waitRetryDelay(const TransferTask& task);

// Runs cycles to the worker's end and returns the thread procedure's result:
// 0 ended, 1 finished, 2 failed. A part started again after a failure waits
// the retry delay first.
int runWorkerCycles(TransferTask& task, ProtocolKind kind, const std::function<CycleResult()>& runCycle);

}  // namespace fetchora
