#include "net/error_step.h"

#include <chrono>
#include <thread>

#include "net/connection_log.h"
#include "net/socket_error.h"

namespace fetchora {

std::string connectionErrorText(const ConnectionLog& log, uint32_t socketError)
{
    std::string text = log.messageText(kMsgErrorOccured);
    if (socketError != 0)
        text += " Socket Error=" + std::to_string(socketError) + SocketErrorText(socketError, &log);
    return text;
}

bool waitBeforeRetry(int32_t retryDelaySeconds, const AliveCheck& alive, ConnectionLog& log)
{
    const int32_t seconds = retryDelaySeconds < 0 ? 1 : retryDelaySeconds;
    log.logMessage(ConnectionLogKind::Status, kMsgWaitForRetry, {std::to_string(seconds)});
    const auto step = std::chrono::milliseconds(kStopPollIntervalMs);
    const int64_t steps = int64_t{seconds} * 1000 / kStopPollIntervalMs;
    for (int64_t i = 0; i < steps; ++i) {
        std::this_thread::sleep_for(step);
        if (alive && !alive())
            return false;
    }
    return true;
}

ErrorStepResult runErrorStep(std::unique_ptr<ByteStream> stream, uint32_t socketError,
                             const std::function<bool()>& askRetry, int32_t retryDelaySeconds, const AliveCheck& alive,
                             ConnectionLog& log)
{
    if (stream)
        stream->close();
    stream.reset();
    log.logLine(ConnectionLogKind::Error, connectionErrorText(log, socketError));
    if (!askRetry || !askRetry())
        return ErrorStepResult::End;
    return waitBeforeRetry(retryDelaySeconds, alive, log) ? ErrorStepResult::Retry : ErrorStepResult::Stopped;
}

}  // namespace fetchora
