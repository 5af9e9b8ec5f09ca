#include "net/worker_cycles.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "net/connection_log.h"
#include "net/error_step.h"
#include "net/net_texts.h"
#include "net/socket_error.h"
#include "net/speed_limiter.h"

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
    case 0: return builtinText(kStrNetConnectionFailed);
    case kWsaEconnrefused: return builtinText(kStrNetConnectionRefused);
    case kWsaEconnreset: return builtinText(kStrNetConnectionReset);
    case kWsaEconnaborted: return builtinText(kStrNetConnectionAborted);
    case kWsaEtimedout: return builtinText(kStrNetConnectionTimedOut);
    case kWsaEnetunreach: return builtinText(kStrNetNetworkUnreachable);
    case kWsaEhostunreach: return builtinText(kStrNetHostUnreachable);
    default: return builtinText(kStrNetSocketError, {std::to_string(cycle.socketError)});
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

CycleConnection connectCycle(TransferTask& task, std::string& proxyAddress)
{
    UrlEntry& url = task.url;
    PartChannel& channel = *task.channel;
    ConnectionRequest request;
    request.target = connectionTargetFor(url);
    request.proxy = task.proxy;
    request.proxyAddress = proxyAddress;
    request.connectTimeoutMs = task.settings.connectTimeoutMs;

    ConnectionEnvironment environment(channel);
    environment.alive = [&channel] { return channel.alive(); };
    environment.tls = task.tls;
    environment.rememberTargetAddress = [&channel, &url](const std::string& address) {
        url.resolvedAddress = address;
        channel.resolved(address, false);
    };
    environment.rememberProxyAddress = [&channel, &proxyAddress](const std::string& address) {
        proxyAddress = address;
        channel.resolved(address, true);
    };

    ConnectionResult connection = openConnection(request, environment);
    CycleConnection out;
    switch (connection.outcome) {
    case ConnectOutcome::Open:
        out.stream = std::move(connection.stream);
        out.route = connection.route;
        break;
    case ConnectOutcome::Stopped: out.ended = {CycleEnd::Ended}; break;
    case ConnectOutcome::ResolveFailed: out.ended = {CycleEnd::ResolveFailed, 0, connection.detail}; break;
    case ConnectOutcome::Rejected: out.ended = {CycleEnd::Failed, 0, connection.detail}; break;
    case ConnectOutcome::Failed: out.ended = {CycleEnd::ErrorStep, connection.socketError, connection.detail}; break;
    }
    return out;
}

std::optional<CycleResult> sendCycleBytes(TransferTask& task, ByteStream& stream, std::string_view bytes,
                                          std::string_view timeoutCause)
{
    PartChannel& channel = *task.channel;
    const IoResult sent = writeAll(stream, bytes, std::max(task.settings.dataTimeoutMs, 0));
    switch (sent.status) {
    case IoStatus::Ok: return std::nullopt;
    case IoStatus::Stopped: return CycleResult{CycleEnd::Ended};
    case IoStatus::TimedOut:
        channel.logMessage(ConnectionLogKind::Error, kMsgTimeOut);
        return CycleResult{CycleEnd::ErrorStep, 0, std::string(timeoutCause)};
    case IoStatus::Closed:
    case IoStatus::Failed: break;
    }
    if (!sent.detail.empty())
        channel.logLine(ConnectionLogKind::Error, sent.detail);
    return CycleResult{CycleEnd::ErrorStep, sent.socketError, sent.detail};
}

IoResult readThroughLimiter(TransferTask& task, ByteStream& stream, std::span<uint8_t> target, int limitedWaitMs)
{
    SpeedGrant grant;
    std::size_t allowed = target.size();
    int waitMs = kStopPollIntervalMs;
    if (task.limiter) {
        grant = task.limiter->acquire();
        allowed = std::min<std::size_t>(allowed, grant.bytes());
        if (task.limiter->mode() != SpeedMode::Unlimited)
            waitMs = limitedWaitMs;
    }
    IoResult got;
    got.status = IoStatus::TimedOut;
    if (allowed > 0) {
        got = stream.read(target.data(), allowed, waitMs);
        grant.commit(got.ok() ? static_cast<uint32_t>(got.bytes) : 0);
        return got;
    }
    grant = SpeedGrant();
    std::this_thread::sleep_for(std::chrono::milliseconds(limitedWaitMs));
    if (!task.channel->alive())
        got.status = IoStatus::Stopped;
    return got;
}

std::optional<CycleResult> cycleEndOf(WriteResult result)
{
    switch (result) {
    case WriteResult::Continue: return std::nullopt;
    case WriteResult::Reconnect: return CycleResult{CycleEnd::Reconnect};
    case WriteResult::Stop: break;
    }
    return CycleResult{CycleEnd::Ended};
}

}  // namespace fetchora
