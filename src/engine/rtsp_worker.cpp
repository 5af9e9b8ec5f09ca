#include "engine/rtsp_worker.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "engine/asf_header.h"
#include "engine/asf_packet_writer.h"
#include "engine/interleaved_frames.h"
#include "engine/rtsp_request.h"
#include "engine/rule_book.h"
#include "engine/stream_texts.h"
#include "lang/string_table.h"
#include "net/basic_credentials.h"
#include "net/connection_setup.h"
#include "net/ntlm.h"
#include "net/speed_limiter.h"
#include "net/url.h"
#include "net/worker_cycles.h"
#include "platform/tick.h"

namespace fetchora {

namespace {

constexpr std::size_t kReadBytes = 4096;
constexpr int kLimitedWaitMs = 5;
constexpr std::size_t kMaxSetups = 8;

void put16(std::vector<uint8_t>& out, std::size_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void put32(std::vector<uint8_t>& out, std::size_t value)
{
    put16(out, (value >> 16) & 0xFFFF);
    put16(out, value & 0xFFFF);
}

void putText(std::vector<uint8_t>& out, std::string_view text)
{
    const std::size_t size = std::min<std::size_t>(text.size(), 0xFFFF);
    put16(out, size);
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size));
}

uint32_t be(std::span<const uint8_t> bytes, std::size_t at, std::size_t size)
{
    uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value = (value << 8) | bytes[at + i];
    return value;
}

std::string md5Hex(std::string_view text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr) != 1)
        return {};
    std::string out;
    char pair[3];
    for (unsigned int i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        out += pair;
    }
    return out;
}

std::string withoutParameters(const std::string& value)
{
    return value.substr(0, value.find(';'));
}

}  // namespace

std::string RtspSubscription(const SdpDescription& sdp)
{
    std::string out;
    for (std::size_t i = 0; i < sdp.streams.size(); ++i) {
        const SdpStream& stream = sdp.streams[i];
        const auto number = static_cast<unsigned>(stream.streamNumber >= 0 ? stream.streamNumber : i);
        std::vector<int32_t> rules;
        int count = 0;
        if (!stream.ruleBook.empty())
            count = EvaluateRuleBook(stream.ruleBook, kSubscribeBandwidth, rules);
        if (count <= 0) {
            // No rule book, none that could be read, or none matching: rule 0
            // keeps the stream playing.
            rules = {0, -1};
        }
        for (int32_t rule : rules) {
            if (rule < 0)
                break;
            out += "stream=" + std::to_string(number) + ";rule=" + std::to_string(rule) + ",";
        }
    }
    if (!out.empty() && out.back() == ',')
        out.pop_back();
    return out;
}

bool SplitAsfRtp(std::span<const uint8_t> rtp, std::vector<uint8_t>& assembly,
                 std::vector<std::vector<uint8_t>>& packets, std::size_t maxPacket)
{
    if (rtp.size() < 12 || (rtp[0] >> 6) != 2)
        return false;
    const bool marker = (rtp[1] & 0x80) != 0;
    std::size_t at = 12 + 4 * std::size_t{rtp[0] & 0x0Fu};
    if (rtp[0] & 0x10) {
        if (at + 4 > rtp.size())
            return false;
        at += 4 + 4 * std::size_t{be(rtp, at + 2, 2)};
    }
    while (at < rtp.size()) {
        if (at + 4 > rtp.size())
            return false;
        const uint8_t flags = rtp[at];
        const std::size_t field = be(rtp, at + 1, 3);
        std::size_t head = 4;
        for (uint8_t bit : {uint8_t{0x20}, uint8_t{0x10}, uint8_t{0x08}})
            head += (flags & bit) ? 4 : 0;
        if (at + head > rtp.size())
            return false;
        if (flags & 0x40) {
            // A whole packet: the field is the length of header and packet.
            if (field < head || field > rtp.size() - at || field - head > maxPacket)
                return false;
            packets.emplace_back(rtp.begin() + static_cast<std::ptrdiff_t>(at + head),
                                 rtp.begin() + static_cast<std::ptrdiff_t>(at + field));
            at += field;
            continue;
        }
        // A fragment at an offset of its packet; the marker ends the packet.
        const auto fragment = rtp.subspan(at + head);
        if (field == 0)
            assembly.clear();
        if (field != assembly.size() || assembly.size() + fragment.size() > maxPacket) {
            assembly.clear();  // a fragment was lost: the packet is dropped
            return field == 0 ? false : true;
        }
        assembly.insert(assembly.end(), fragment.begin(), fragment.end());
        if (marker) {
            packets.push_back(std::move(assembly));
            assembly.clear();
        }
        break;
    }
    return true;
}

std::vector<uint8_t> RealMediaFileHeader(const SdpDescription& sdp)
{
    std::vector<uint8_t> out = {'F', 'R', 'T', 'S'};
    put16(out, 1);  // layout version
    put16(out, sdp.streams.size());
    putText(out, sdp.title);
    putText(out, sdp.author);
    putText(out, sdp.copyright);
    putText(out, sdp.comment);
    for (const SdpStream& stream : sdp.streams) {
        put16(out, static_cast<std::size_t>(std::max(stream.streamNumber, 0)));
        put32(out, static_cast<std::size_t>(std::max(stream.maxBitRate, 0)));
        put32(out, static_cast<std::size_t>(std::max(stream.avgBitRate, 0)));
        put32(out, static_cast<std::size_t>(std::max(stream.preroll, 0)));
        put32(out, static_cast<std::size_t>(stream.duration * 1000));
        putText(out, stream.mimeType);
        putText(out, stream.streamName);
        putText(out, stream.ruleBook);
        put32(out, stream.opaqueData.size());
        out.insert(out.end(), stream.opaqueData.begin(), stream.opaqueData.end());
    }
    return out;
}

namespace {

class RtspWorker {
public:
    explicit RtspWorker(TransferTask& task)
        : m_task(task),
          m_channel(*task.channel),
          m_writer([this](int64_t position, std::span<const uint8_t> bytes, uint32_t streamStart, uint32_t streamEnd) {
              return m_channel.streamData(position, bytes, streamStart, streamEnd);
          })
    {
    }

    int run()
    {
        if (m_task.url.service != ServiceCode::Rtsp) {
            m_channel.logLine(ConnectionLogKind::Error, builtinText(kStrRtspCannotFetch));
            return 2;
        }
        return runWorkerCycles(m_task, ProtocolKind::Rtsp, [this] { return runCycle(); });
    }

private:
    enum class Step { Options, Describe, Setup, Subscribe, Play, Streaming };

    struct Cycle {
        int64_t rangeStart = 0;
        uint32_t cseq = 0;
        Step step = Step::Options;
        RtspServerKind server = RtspServerKind::RealMedia;
        InterleavedSplitter splitter;
        std::string session;
        std::string etag;
        std::string challenge1;
        std::string contentBase;
        SdpDescription sdp;
        std::size_t setups = 0;
        int authAnswers = 0;
        bool ntlmStarted = false;
        int64_t startMilliseconds = 0;
        std::vector<uint8_t> assembly;
        int64_t realNext = 0;  // RealMedia: where the next record goes
    };

    CycleResult runCycle();
    CycleResult converse(ByteStream& stream);
    std::optional<CycleResult> request(ByteStream& stream, RtspRequestKind kind, std::string authorization = {});
    std::optional<CycleResult> onAnswer(ByteStream& stream, const RtspHead& head);
    std::optional<CycleResult> onDescription(ByteStream& stream, std::string_view body);
    std::optional<CycleResult> onUnauthorized(ByteStream& stream, const RtspHead& head);
    std::optional<CycleResult> nextSetup(ByteStream& stream);
    std::optional<CycleResult> onFrame(const RtspItem& item);
    std::optional<CycleResult> writerStatus(const AsfPacketWriter::Status& status);
    std::optional<CycleResult> refuse(std::string cause);
    CycleResult endOfData();
    CycleResult fail(std::string reason, uint32_t socketError = 0);
    std::string streamUrl() const;

    TransferTask& m_task;
    PartChannel& m_channel;
    std::string m_proxyAddress;
    AsfPacketWriter m_writer;
    Cycle m_cycle;
};

CycleResult RtspWorker::fail(std::string reason, uint32_t socketError)
{
    if (!reason.empty())
        m_channel.logLine(ConnectionLogKind::Error, reason);
    return {CycleEnd::ErrorStep, socketError, std::move(reason)};
}

std::string RtspWorker::streamUrl() const
{
    return UrlWithoutLogin(m_task.url);
}

CycleResult RtspWorker::runCycle()
{
    m_cycle = Cycle();
    m_cycle.rangeStart = m_channel.rangeStart();
    if (m_cycle.rangeStart < 0)
        return {CycleEnd::Ended};
    CycleConnection connection = connectCycle(m_task, m_proxyAddress);
    if (!connection.stream)
        return connection.ended;
    const CycleResult result = converse(*connection.stream);
    connection.stream->close();
    return result;
}

std::optional<CycleResult> RtspWorker::request(ByteStream& stream, RtspRequestKind kind, std::string authorization)
{
    RtspRequestInput in;
    in.kind = kind;
    in.server = m_cycle.server;
    in.url = streamUrl();
    in.host = m_task.url.host;
    in.port = m_task.url.port;
    in.cseq = ++m_cycle.cseq;
    in.user = m_task.url.userName;
    in.password = m_task.url.password;
    in.session = m_cycle.session;
    in.etag = m_cycle.etag;
    in.contentBase = m_cycle.contentBase;
    if (m_cycle.setups < m_cycle.sdp.streams.size())
        in.control = m_cycle.sdp.streams[m_cycle.setups].control;
    if (kind == RtspRequestKind::FirstSetup && !m_cycle.challenge1.empty()) {
        // Our own answer to the server's challenge (see docs/stream-files.md).
        const std::string answer = md5Hex(m_cycle.challenge1 + "fetchora-stream");
        in.realChallenge2 = answer + "01d0a8e3";
        in.checkText = answer.substr(0, 8);
    }
    in.subscribe = RtspSubscription(m_cycle.sdp);
    in.authorization = std::move(authorization);
    in.startMilliseconds = m_cycle.startMilliseconds;
    const std::string text = BuildRtspRequest(in);
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find("\r\n", start);
        if (end == start || end == std::string::npos)
            break;
        m_channel.logLine(ConnectionLogKind::Sent, std::string_view(text).substr(start, end - start));
        start = end + 2;
    }
    return sendCycleBytes(m_task, stream, text, builtinText(kStrRtspRequestNotTaken));
}

CycleResult RtspWorker::converse(ByteStream& stream)
{
    if (auto ended = request(stream, RtspRequestKind::Options))
        return *ended;
    const int dataTimeoutMs = std::max(m_task.settings.dataTimeoutMs, 0);
    uint32_t lastData = tickNow();
    std::vector<uint8_t> buffer(kReadBytes);
    for (;;) {
        const IoResult got = readThroughLimiter(m_task, stream, buffer, kLimitedWaitMs);
        switch (got.status) {
        case IoStatus::Ok: break;
        case IoStatus::Stopped: return {CycleEnd::Ended};
        case IoStatus::Failed: return fail(got.detail, got.socketError);
        case IoStatus::Closed:
            if (m_cycle.step == Step::Streaming)
                return endOfData();
            return fail(builtinText(kStrStreamServerClosed));
        case IoStatus::TimedOut: {
            const uint32_t idle = ticksSince(lastData, tickNow());
            if (idle > static_cast<uint32_t>(dataTimeoutMs)) {
                m_channel.logMessage(ConnectionLogKind::Error, kMsgTimeOut);
                return {CycleEnd::ErrorStep, 0, builtinText(kStrStreamNothingSentFor, {std::to_string(idle / 1000)})};
            }
            continue;
        }
        }
        lastData = tickNow();
        m_cycle.splitter.feed(std::span<const uint8_t>(buffer).first(got.bytes));
        for (;;) {
            const RtspItem item = m_cycle.splitter.next();
            std::optional<CycleResult> ended;
            switch (item.kind) {
            case RtspItem::Kind::NeedMore: break;
            case RtspItem::Kind::Error: return fail(item.text);
            case RtspItem::Kind::Answer: {
                const std::optional<RtspHead> head = ParseRtspHead(item.text);
                if (!head)
                    return fail(builtinText(kStrRtspAnswerUnreadable));
                for (std::size_t start = 0; start < item.text.size();) {
                    const std::size_t end = item.text.find("\r\n", start);
                    if (end == start || end == std::string::npos)
                        break;
                    m_channel.logLine(ConnectionLogKind::Received,
                                      std::string_view(item.text).substr(start, end - start));
                    start = end + 2;
                }
                ended = onAnswer(stream, *head);
                break;
            }
            case RtspItem::Kind::Body: ended = onDescription(stream, item.text); break;
            case RtspItem::Kind::Request: {
                const std::optional<RtspHead> head = ParseRtspHead(item.text);
                if (head && !head->header("Alert")) {
                    const std::string refusal = RtspRefusal(head->cseq());
                    const IoResult sent = writeAll(stream, refusal, std::max(m_task.settings.dataTimeoutMs, 0));
                    if (!sent.ok())
                        return fail(sent.detail, sent.socketError);
                }
                break;
            }
            case RtspItem::Kind::Frame: ended = onFrame(item); break;
            }
            if (ended)
                return *ended;
            if (item.kind == RtspItem::Kind::NeedMore)
                break;
        }
    }
}

std::optional<CycleResult> RtspWorker::refuse(std::string cause)
{
    m_channel.logLine(ConnectionLogKind::Error, cause);
    ResponseInfo info;
    info.outcome = ResponseOutcome::NotFound;
    info.cause = std::move(cause);
    m_channel.response(info, ProtocolKind::Ftp);
    return CycleResult{CycleEnd::Ended};
}

std::optional<CycleResult> RtspWorker::onAnswer(ByteStream& stream, const RtspHead& head)
{
    const int status = head.status;
    if (status == 301 || status == 302 || status == 303 || status == 307) {
        const std::string* location = head.header("Location");
        if (!location)
            return fail(builtinText(kStrRtspRedirectNoLocation));
        ResponseInfo info;
        info.outcome = ResponseOutcome::Redirect;
        info.location = *location;
        m_channel.response(info, ProtocolKind::Rtsp);
        return CycleResult{CycleEnd::Ended};
    }
    if (status == 400 || status == 402 || (status >= 404 && status <= 407))
        return refuse("RTSP " + std::to_string(status));
    if (status == 401 && m_cycle.step == Step::Describe)
        return onUnauthorized(stream, head);
    if (status < 200 || status >= 300)
        return fail("RTSP " + std::to_string(status));

    if (const std::string* session = head.header("Session"))
        m_cycle.session = withoutParameters(*session);
    switch (m_cycle.step) {
    case Step::Options:
        m_cycle.server = RtspServerKindOf(head.header("Server"), m_task.url.host);
        m_cycle.splitter.setServer(m_cycle.server);
        if (const std::string* challenge = head.header("RealChallenge1"))
            m_cycle.challenge1 = *challenge;
        m_cycle.step = Step::Describe;
        return request(stream, RtspRequestKind::Describe);
    case Step::Describe: {
        if (const std::string* etag = head.header("ETag"))
            m_cycle.etag = *etag;
        const std::string* base = head.header("Content-Base");
        m_cycle.contentBase = base ? *base : streamUrl();
        while (!m_cycle.contentBase.empty() && m_cycle.contentBase.back() == '/')
            m_cycle.contentBase.pop_back();
        const int64_t length = head.contentLength();
        if (length <= 0)
            return fail(builtinText(kStrRtspNoDescription));
        m_cycle.splitter.expectBody(static_cast<std::size_t>(length));
        return std::nullopt;
    }
    case Step::Setup: return nextSetup(stream);
    case Step::Subscribe: m_cycle.step = Step::Play; return request(stream, RtspRequestKind::Play);
    case Step::Play: {
        if (const std::string* range = head.header("Range")) {
            double start = 0, end = 0;
            if (std::sscanf(range->c_str(), "npt=%lf-%lf", &start, &end) >= 1)
                m_channel.logLine(ConnectionLogKind::Status,
                                  "Range: " + std::to_string(start) + " - " + std::to_string(end));
        }
        m_cycle.step = Step::Streaming;
        return std::nullopt;
    }
    case Step::Streaming: return std::nullopt;
    }
    return std::nullopt;
}

std::optional<CycleResult> RtspWorker::onUnauthorized(ByteStream& stream, const RtspHead& head)
{
    if (++m_cycle.authAnswers > kRtspMaxAuthAnswers + (m_cycle.ntlmStarted ? 1 : 0)) {
        m_channel.markLoginFailed();
        return fail(builtinText(kStrStreamLoginRefused));
    }
    const std::string* challenge = head.header("WWW-Authenticate");
    const std::string value = challenge ? *challenge : std::string();
    const UrlEntry& url = m_task.url;
    if (value.rfind("NTLM", 0) == 0) {
        if (!m_cycle.ntlmStarted) {
            m_cycle.ntlmStarted = true;
            return request(stream, RtspRequestKind::DescribeNtlmNegotiate, NtlmNegotiate());
        }
        NtlmChallenge server;
        if (!NtlmReadChallenge(value, server))
            return fail(builtinText(kStrRtspNtlmChallengeUnreadable));
        const std::string answer = NtlmAuthenticate("", url.userName, "", url.password, server);
        if (answer.empty())
            return fail(builtinText(kStrStreamNtlmAnswerFailed));
        return request(stream, RtspRequestKind::DescribeNtlmAuthenticate, answer);
    }
    if (const std::optional<Rn5Challenge> rn5 = ReadRn5Challenge(value)) {
        const std::string response = Rn5Response(url.userName, rn5->realm, url.password, rn5->nonce, streamUrl());
        return request(stream, RtspRequestKind::DescribeAuthorized,
                       Rn5Authorization(url.userName, rn5->realm, rn5->nonce, response));
    }
    return request(stream, RtspRequestKind::DescribeAuthorized,
                   "Basic " + BasicCredentials(url.userName, url.password));
}

std::optional<CycleResult> RtspWorker::onDescription(ByteStream& stream, std::string_view body)
{
    m_cycle.sdp = ParseSdp(body);
    SdpDescription& sdp = m_cycle.sdp;
    if (sdp.streams.empty())
        return fail(builtinText(kStrRtspDescriptionNoStream));
    ResponseInfo response;
    std::vector<uint8_t> header;
    if (m_cycle.server == RtspServerKind::WindowsMedia) {
        std::string error;
        const std::optional<AsfInfo> info = ParseAsfHeader(sdp.asfHeader, &error);
        if (!info)
            return fail(error.empty() ? builtinText(kStrRtspDescriptionNoAsfHeader) : error);
        m_channel.logLine(ConnectionLogKind::Status,
                          fillPrintfFields(builtinString(kStrRtspPacketCounts),
                                           {std::to_string(info->totalPackets), std::to_string(info->packetLength),
                                            std::to_string(info->packetLength2)}));
        m_channel.logLine(ConnectionLogKind::Status,
                          fillPrintfFields(builtinString(kStrStreamFlagsTime),
                                           {AsfFlagsText(info->flags), std::to_string(info->playMilliseconds() / 1000),
                                            std::to_string(info->preroll)}));
        response.size = info->fileSize();
        response.resume = (info->flags & kAsfFlagSeekable) ? ResumeInfo::Honoured : ResumeInfo::NotHonoured;
        header.assign(sdp.asfHeader.begin(), sdp.asfHeader.begin() + info->headerSize);
        m_writer.begin(*info, m_cycle.rangeStart);
        m_cycle.startMilliseconds = static_cast<int64_t>(m_writer.startSeconds() * 1000);
    } else {
        header = RealMediaFileHeader(sdp);
        response.size = -1;
        response.resume = ResumeInfo::NotHonoured;
        m_cycle.realNext = std::max<int64_t>(m_cycle.rangeStart, static_cast<int64_t>(header.size()));
    }
    if (m_channel.response(response, ProtocolKind::Rtsp) == 0)
        return CycleResult{CycleEnd::Ended};
    if (m_cycle.rangeStart < static_cast<int64_t>(header.size())) {
        const auto rest = std::span<const uint8_t>(header).subspan(static_cast<std::size_t>(m_cycle.rangeStart));
        if (auto ended = cycleEndOf(m_channel.data(m_cycle.rangeStart, rest)))
            return ended;
    }
    m_cycle.step = Step::Setup;
    return request(stream, RtspRequestKind::FirstSetup);
}

std::optional<CycleResult> RtspWorker::nextSetup(ByteStream& stream)
{
    ++m_cycle.setups;
    const std::size_t wanted = m_cycle.server == RtspServerKind::WindowsMedia
        ? std::min<std::size_t>(2, m_cycle.sdp.streams.size())
        : std::min(kMaxSetups, m_cycle.sdp.streams.size());
    if (m_cycle.setups < wanted)
        return request(stream, RtspRequestKind::SecondSetup);
    if (m_cycle.server == RtspServerKind::RealMedia) {
        m_cycle.step = Step::Subscribe;
        return request(stream, RtspRequestKind::SetParameter);
    }
    m_cycle.step = Step::Play;
    return request(stream, RtspRequestKind::Play);
}

std::optional<CycleResult> RtspWorker::writerStatus(const AsfPacketWriter::Status& status)
{
    return AsfCycleEnd(m_writer, status, m_channel);
}

std::optional<CycleResult> RtspWorker::onFrame(const RtspItem& item)
{
    if (m_cycle.step != Step::Streaming && m_cycle.step != Step::Play)
        return fail(builtinText(kStrRtspDataBeforeSetup));
    if (m_cycle.server == RtspServerKind::RealMedia) {
        // A record: channel, a zero byte, the payload's length, the payload.
        std::vector<uint8_t> record = {item.channel, 0};
        put16(record, item.payload.size());
        record.insert(record.end(), item.payload.begin(), item.payload.end());
        if (auto ended = cycleEndOf(m_channel.data(m_cycle.realNext, record)))
            return ended;
        m_cycle.realNext += static_cast<int64_t>(record.size());
        return std::nullopt;
    }
    if (item.channel % 2 != 0)
        return std::nullopt;  // RTCP
    std::vector<std::vector<uint8_t>> packets;
    if (!SplitAsfRtp(item.payload, m_cycle.assembly, packets, kMaxAsfPacketLength))
        return fail(builtinText(kStrRtspFrameNotAsf));
    for (const std::vector<uint8_t>& packet : packets) {
        if (auto ended = writerStatus(m_writer.packet(std::nullopt, packet)))
            return ended;
    }
    return std::nullopt;
}

CycleResult RtspWorker::endOfData()
{
    if (m_cycle.server == RtspServerKind::WindowsMedia && !m_writer.live()) {
        const std::optional<CycleResult> ended = writerStatus(m_writer.end());
        return ended ? *ended : CycleResult{CycleEnd::Ended};
    }
    m_channel.done();
    return {CycleEnd::Finished};
}

}  // namespace

int RtspTransfer(TransferTask& task)
{
    if (!task.channel)
        return 2;
    return RtspWorker(task).run();
}

}  // namespace fetchora
