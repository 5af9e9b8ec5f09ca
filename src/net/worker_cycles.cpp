#include "net/worker_cycles.h"

#include <chrono>
#include <thread>

#include "net/error_step.h"

namespace fetchora {

bool waitRetryDelay(const TransferTask& task)
{
    const int32_t seconds = task.settings.retryDelaySeconds < 0 ? 1 : task.settings.retryDelaySeconds;
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
            channel.response(failed, kind);
            return 2;
        }
        case CycleEnd::ErrorStep: break;
        }
        // A stopped part's connection fails as it is closed: nothing to report.
        if (!channel.alive())
            return 0;
        channel.logLine(ConnectionLogKind::Error, connectionErrorText(channel, cycle.socketError));
        if (!channel.error())
            return channel.alive() ? 2 : 0;
        if (!waitRetryDelay(task))
            return 0;
    }
}

}  // namespace fetchora
