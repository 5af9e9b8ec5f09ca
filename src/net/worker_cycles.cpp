#include "net/worker_cycles.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "net/error_step.h"
#include "net/socket_error.h"

namespace fetchora {

int32_t retryWaitSeconds(int32_t configuredSeconds, int32_t retryAfterSeconds)
{
    if (retryAfterSeconds >= 0)
        return std::min(retryAfterSeconds, kMaxRetryAfterSeconds);
    return configuredSeconds < 0 ? 1 : configuredSeconds;
}

std::string cycleCause(const CycleResult& cycle)
{
    if (!cycle.cause.empty())
        return cycle.cause;
    switch (cycle.socketError) {
    case 0: return "the connection failed";
    case kWsaEconnrefused: return "connection refused";
    case kWsaEconnreset: return "connection reset by the peer";
    case kWsaEconnaborted: return "connection aborted";
    case kWsaEtimedout: return "connection timed out";
    case kWsaEnetunreach: return "network unreachable";
    case kWsaEhostunreach: return "host unreachable";
    default: return "socket error " + std::to_string(cycle.socketError);
    }
}

bool waitRetryDelay(const TransferTask& task, int32_t retryAfterSeconds)
{
    const int32_t seconds = retryWaitSeconds(task.settings.retryDelaySeconds, retryAfterSeconds);
    const int64_t steps = int64_t{seconds} * 1000 / kStopPollIntervalMs;
    for (int64_t i = 0; i < steps; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kStopPollIntervalMs));
        if (!task.channel->alive())
            return false;
    }
    return true;
}

int runWorkerCycles(TransferTask& task, ProtocolKind kind, const std::function<CycleResult()>& runCycle)
{
    PartChannel& channel = *task.channel;
    if (task.isRetry && !waitRetryDelay(task))
        return 0;
    for (;;) {
        // A part that stopped, or has nothing left to fetch, opens no
        // connection.
        if (!channel.alive() || channel.rangeStart() < 0)
            return 0;
        const CycleResult cycle = runCycle();
        switch (cycle.end) {
        case CycleEnd::Reconnect: continue;
        case CycleEnd::Ended: return 0;
        case CycleEnd::Finished: return 1;
        case CycleEnd::Failed:
        case CycleEnd::ResolveFailed: {
            // The job window treats the URL as one that failed for good.
            ResponseInfo failed;
            failed.outcome = ResponseOutcome::NotFound;
            failed.cause = cycleCause(cycle);
            channel.response(failed, kind);
            return 2;
        }
        case CycleEnd::ErrorStep: break;
        }
        // A stopped part's connection fails as it is closed: nothing to report.
        if (!channel.alive())
            return 0;
        channel.logLine(ConnectionLogKind::Error, connectionErrorText(channel, cycle.socketError));
        if (!channel.error({cycleCause(cycle), cycle.retryAfterSeconds}))
            return channel.alive() ? 2 : 0;
        if (!waitRetryDelay(task, cycle.retryAfterSeconds))
            return 0;
    }
}

}  // namespace fetchora
