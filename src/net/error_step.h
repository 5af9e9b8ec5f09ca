#pragma once
// What every worker does after a failed cycle: close the connection, log the
// error with its socket code, ask the job window whether to retry, and wait
// the retry delay while watching the alive check.
//
// Thread: the worker thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/byte_stream.h"

namespace fetchora {

class ConnectionLog;

// "Error occured!", and when a socket error is known (non-zero) " Socket
// Error=<code>" with SocketErrorText of it.
std::string connectionErrorText(const ConnectionLog& log, uint32_t socketError);

// Logs the retry delay ("Wait %d second for retry"; a negative delay counts
// as 1 second) and sleeps it in steps of 100 ms. False when the alive check
// said stop.
bool waitBeforeRetry(int32_t retryDelaySeconds, const AliveCheck& alive, ConnectionLog& log);

enum class ErrorStepResult { Retry, End, Stopped };

// The whole error step. askRetry stands for the job window's answer to the
// error message: true to wait and retry. stream may be null.
ErrorStepResult runErrorStep(std::unique_ptr<ByteStream> stream, uint32_t socketError,
                             const std::function<bool()>& askRetry, int32_t retryDelaySeconds, const AliveCheck& alive,
                             ConnectionLog& log);

}  // namespace fetchora
