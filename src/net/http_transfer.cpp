#include "net/http_transfer.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "net/byte_stream.h"
#include "net/connection_setup.h"
#include "net/http_body.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "net/net_texts.h"
#include "net/speed_limiter.h"
#include "net/worker_cycles.h"
#include "platform/tick.h"

namespace fetchora {

namespace {

constexpr int32_t kMinRollback = 1024;
constexpr int32_t kMaxRollback = 8192;
// Held-back bytes with no news for this long, when they complete the file,
// mean the proxy has sent everything but not closed.
constexpr uint32_t kHoldBackQuietMinMs = 5000;
constexpr uint32_t kHoldBackQuietMaxMs = 10000;

bool usesProxy(const std::optional<ProxyEntry>& proxy)
{
    return proxy && proxy->type != kProxyDirect;
}

HttpRequestOptions requestOptions(const TransferSettings& settings)
{
    HttpRequestOptions options;
    options.userAgentChoice = settings.userAgentChoice;
    options.userAgentText = settings.userAgentText;
    options.sendReferer = settings.sendReferer;
    options.sendCookies = settings.sendCookies;
    options.alwaysRange = settings.alwaysRange;
    options.noCacheWithoutProxy = settings.noCacheWithoutProxy;
    return options;
}

class HttpWorker {
public:
    explicit HttpWorker(TransferTask& task) : m_task(task), m_channel(*task.channel), m_bodyBuffer(kUnlimitedReadBytes)
    {
    }

    int run();

private:
    CycleResult runCycle();
    // Nothing when the request went out.
    std::optional<CycleResult> sendRequest(ByteStream& stream, RequestRoute route, int64_t rangeStart);
    CycleResult readAnswer(ByteStream& stream, int64_t rangeStart);
    // Feeds received head bytes to the parser; the head's end hands over to
    // the job window and sets up the body.
    std::optional<CycleResult> takeHead(int64_t rangeStart);
    std::optional<CycleResult> takeBody(std::span<uint8_t> bytes, int64_t rangeStart);
    CycleResult endBody(int64_t rangeStart);
    CycleResult reconnectOrRefuse(int64_t rangeStart);
    CycleResult fail(std::string_view reason, uint32_t socketError = 0);
    bool alive() const { return m_channel.alive(); }

    TransferTask& m_task;
    PartChannel& m_channel;
    std::string m_proxyAddress;
    std::vector<uint8_t> m_bodyBuffer;  // one read's worth of body, allocated once
    HeaderBuffer m_head;
    std::optional<HttpResponseParser> m_parser;
    std::optional<HttpBodyReader> m_body;
    bool m_canResume = false;
};

int HttpWorker::run()
{
    const ServiceCode service = m_task.url.service;
    if (service != ServiceCode::Http && service != ServiceCode::Https && service != ServiceCode::Ftp) {
        m_channel.logLine(ConnectionLogKind::Error, "The HTTP worker cannot fetch this URL.");
        return 2;
    }
    return runWorkerCycles(m_task, ProtocolKind::Http, [this] { return runCycle(); });
}

CycleResult HttpWorker::fail(std::string_view reason, uint32_t socketError)
{
    if (!reason.empty())
        m_channel.logLine(ConnectionLogKind::Error, reason);
    return {CycleEnd::ErrorStep, socketError, std::string(reason)};
}

CycleResult HttpWorker::runCycle()
{
    // Where to start is known before connecting: a part that stopped
    // meanwhile must not send a request without its range.
    const int64_t rangeStart = m_channel.rangeStart();
    if (rangeStart < 0)
        return {CycleEnd::Ended};
    CycleConnection connection = connectCycle(m_task, m_proxyAddress);
    if (!connection.stream)
        return connection.ended;
    std::unique_ptr<ByteStream> stream = std::move(connection.stream);
    const std::optional<CycleResult> unsent = sendRequest(*stream, connection.route, rangeStart);
    const CycleResult result = unsent ? *unsent : readAnswer(*stream, rangeStart);
    stream->close();
    return result;
}

std::optional<CycleResult> HttpWorker::sendRequest(ByteStream& stream, RequestRoute route, int64_t rangeStart)
{
    HttpRequestInput input;
    input.url = &m_task.url;
    input.referer = m_task.referer;
    input.rangeStart = rangeStart;
    input.proxy = m_task.proxy ? &*m_task.proxy : nullptr;
    input.viaHttpProxy = route == RequestRoute::HttpProxy;
    input.options = requestOptions(m_task.settings);
    input.cookies = m_task.cookies;
    input.log = &m_channel;
    const std::string request = BuildHttpRequest(input);

    return sendCycleBytes(m_task, stream, request, builtinText(kStrNetRequestNotTaken));
}

CycleResult HttpWorker::readAnswer(ByteStream& stream, int64_t rangeStart)
{
    m_head = HeaderBuffer();
    m_parser.emplace(rangeStart, m_channel.knownSize());
    m_body.reset();
    m_canResume = false;
    const int dataTimeoutMs = std::max(m_task.settings.dataTimeoutMs, 0);
    uint32_t lastData = tickNow();
    // A head trickled a byte at a time is never idle for long: it gets no
    // longer in all than an idle server would.
    const uint32_t headStarted = lastData;

    for (;;) {
        if (!m_body && ticksSince(headStarted, tickNow()) > static_cast<uint32_t>(dataTimeoutMs)) {
            m_channel.logMessage(ConnectionLogKind::Error, kMsgTimeOut);
            const std::string limit = std::to_string(dataTimeoutMs / 1000);
            return {CycleEnd::ErrorStep, 0, builtinText(kStrNetHeadTooSlow, {limit})};
        }
        std::span<uint8_t> target;
        if (m_body) {
            target = m_bodyBuffer;
        } else {
            const std::span<char> room = m_head.room();
            if (room.empty()) {
                return fail(builtinText(kStrNetHeaderLineTooLong, {std::to_string(kHeaderBufferSize)}));
            }
            target = {reinterpret_cast<uint8_t*>(room.data()), room.size()};
        }

        const IoResult got = readThroughLimiter(m_task, stream, target, kLimitedReadWaitMs);

        switch (got.status) {
        case IoStatus::Ok: {
            lastData = tickNow();
            std::optional<CycleResult> ended;
            if (m_body) {
                ended = takeBody(target.first(got.bytes), rangeStart);
            } else {
                m_head.added(got.bytes);
                ended = takeHead(rangeStart);
            }
            if (ended)
                return *ended;
            continue;
        }
        case IoStatus::Stopped: return {CycleEnd::Ended};
        case IoStatus::Failed: return fail(got.detail, got.socketError);
        case IoStatus::Closed:
            if (!m_body)
                return fail(builtinText(kStrNetClosedBeforeHead));
            return endBody(rangeStart);
        case IoStatus::TimedOut: break;
        }

        const uint32_t idle = ticksSince(lastData, tickNow());
        if (idle > static_cast<uint32_t>(dataTimeoutMs)
            && (!m_canResume || idle > 2 * static_cast<uint32_t>(dataTimeoutMs))) {
            m_channel.logMessage(ConnectionLogKind::Error, kMsgTimeOut);
            return {CycleEnd::ErrorStep, 0, builtinText(kStrNetNothingSentFor, {std::to_string(idle / 1000)})};
        }
        if (m_body && m_body->held() > 0 && idle >= kHoldBackQuietMinMs && idle <= kHoldBackQuietMaxMs) {
            const int64_t knownSize = m_channel.knownSize();
            if (knownSize >= 0 && m_body->reached() >= knownSize - 1)
                return endBody(rangeStart);
        }
    }
}

std::optional<CycleResult> HttpWorker::takeHead(int64_t rangeStart)
{
    HttpResponseParser& parser = *m_parser;
    std::string line;
    while (m_head.nextLine(line) == SplitStatus::Line) {
        parser.ParseResponseLine(line, &m_channel);
        if (!parser.error().empty())
            return fail(parser.error());
        if (parser.state() == ResponseState::Body)
            break;
    }
    if (parser.state() != ResponseState::Body)
        return std::nullopt;

    const ResponseInfo& info = parser.info();
    if (m_channel.response(info, ProtocolKind::Http) == 0)
        return CycleResult{CycleEnd::Ended};
    // The body of an error or a redirect is never data of the file: the job
    // window has its answer, and a retry goes through the error step.
    if (info.outcome != ResponseOutcome::Success)
        return CycleResult{CycleEnd::ErrorStep, 0, info.cause, info.retryAfterSeconds};
    m_canResume = info.resume == ResumeInfo::Honoured;

    BodySetup setup;
    setup.offset = parser.bodyOffset();
    setup.end = parser.bodyEnd();
    setup.chunked = parser.chunked();
    if (usesProxy(m_task.proxy))
        setup.holdBack = static_cast<std::size_t>(std::clamp(m_task.settings.rollback, kMinRollback, kMaxRollback));
    m_body.emplace(setup);

    const std::span<uint8_t> first = m_head.rest();
    std::optional<CycleResult> ended = takeBody(first, rangeStart);
    m_head.clear();
    if (!ended && m_body->complete())
        ended = endBody(rangeStart);
    return ended;
}

std::optional<CycleResult> HttpWorker::takeBody(std::span<uint8_t> bytes, int64_t rangeStart)
{
    const BodySink sink
        = [this](int64_t position, std::span<const uint8_t> block) { return m_channel.data(position, block); };
    switch (m_body->take(bytes, sink)) {
    case BodyStatus::Continue: break;
    case BodyStatus::Stop: return CycleResult{CycleEnd::Ended};
    case BodyStatus::Reconnect: return reconnectOrRefuse(rangeStart);
    case BodyStatus::Error: return fail(m_body->error());
    }
    if (m_body->complete())
        return endBody(rangeStart);
    return std::nullopt;
}

CycleResult HttpWorker::reconnectOrRefuse(int64_t rangeStart)
{
    // The job window refused the first block because it does not start where
    // the part asked: reconnecting at once would get the same answer again.
    if (!m_body->accepted() && m_body->startOffset() != rangeStart) {
        return fail("The server sent the data from byte " + std::to_string(m_body->startOffset()) + ", not from byte "
                    + std::to_string(rangeStart) + " as asked.");
    }
    return {CycleEnd::Reconnect};
}

CycleResult HttpWorker::endBody(int64_t rangeStart)
{
    const BodyEndDecision decision = decideBodyEnd(*m_body, m_channel.knownSize());
    if (decision.action == BodyEnd::Short)
        return fail(decision.reason);
    const BodySink sink
        = [this](int64_t position, std::span<const uint8_t> block) { return m_channel.data(position, block); };
    switch (m_body->flush(sink)) {
    case BodyStatus::Continue: break;
    case BodyStatus::Stop: return {CycleEnd::Ended};
    case BodyStatus::Reconnect: return reconnectOrRefuse(rangeStart);
    case BodyStatus::Error: return fail(m_body->error());
    }
    if (decision.action == BodyEnd::HandOverAndDone) {
        m_channel.done();
        return {CycleEnd::Finished};
    }
    // The file's end is reached but the part goes on: the job window decides
    // in the error step.
    return alive() ? CycleResult{CycleEnd::ErrorStep} : CycleResult{CycleEnd::Ended};
}

}  // namespace

int HttpTransfer(TransferTask& task)
{
    if (!task.channel)
        return 2;
    return HttpWorker(task).run();
}

}  // namespace fetchora
