#include "engine/mms_worker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include "engine/asf_header.h"
#include "engine/asf_packet_writer.h"
#include "engine/mms_commands.h"
#include "engine/stream_texts.h"
#include "lang/string_table.h"
#include "net/base64_codec.h"
#include "net/basic_credentials.h"
#include "net/connection_setup.h"
#include "net/ntlm.h"
#include "net/speed_limiter.h"
#include "net/tcp_connection.h"
#include "net/worker_cycles.h"
#include "platform/tick.h"

namespace fetchora {

namespace {

constexpr std::size_t kReadBytes = 4096;
constexpr int kLimitedWaitMs = 5;
constexpr const char* kClientGuid = "{7E3A1C52-94B0-4D6E-8F21-5B9C0A3D7E64}";

std::string hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

// The socket's own address and port, for the funnel name.
std::pair<std::string, uint16_t> localEndpoint(ByteStream& stream)
{
    const auto* tcp = dynamic_cast<TcpConnection*>(&stream);
    if (!tcp)
        return {"0.0.0.0", 0};
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (getsockname(tcp->nativeHandle(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return {"0.0.0.0", 0};
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        return {text, ntohs(v6->sin6_port)};
    }
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    return {text, ntohs(v4->sin_port)};
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

class MmsWorker {
public:
    explicit MmsWorker(TransferTask& task)
        : m_task(task),
          m_channel(*task.channel),
          m_writer([this](int64_t position, std::span<const uint8_t> bytes, uint32_t streamStart, uint32_t streamEnd) {
              return m_channel.streamData(position, bytes, streamStart, streamEnd);
          })
    {
    }

    int run()
    {
        const ServiceCode service = m_task.url.service;
        if (service != ServiceCode::Mms && service != ServiceCode::Mmst) {
            m_channel.logLine(ConnectionLogKind::Error, builtinText(kStrMmsCannotFetch));
            return 2;
        }
        return runWorkerCycles(m_task, ProtocolKind::Mms, [this] { return runCycle(); });
    }

private:
    // What one cycle keeps.
    struct Cycle {
        int64_t rangeStart = 0;
        uint32_t sequence = 0;
        MmsFrameSplitter splitter;
        int pingsInARow = 0;
        int securityExchanges = 0;
        std::string serverVersion;
        std::string authScheme;
        std::vector<uint8_t> header;
        bool playing = false;
        bool loggedData = false;  // the first data frame's line is written
    };

    CycleResult runCycle();
    CycleResult converse(ByteStream& stream);
    std::optional<CycleResult> send(ByteStream& stream, MmsClientCode code, std::span<const uint8_t> fields,
                                    bool logged = true);
    std::optional<CycleResult> onCommand(ByteStream& stream, const MmsCommand& command);
    std::optional<CycleResult> onServerError(uint32_t result);
    std::optional<CycleResult> onSecurityChallenge(ByteStream& stream, const MmsCommand& command);
    std::optional<CycleResult> onHeaderBytes(ByteStream& stream, std::span<const uint8_t> bytes);
    std::optional<CycleResult> onPacket(uint32_t location, std::span<const uint8_t> payload);
    std::optional<CycleResult> onEndOfStream();
    std::optional<CycleResult> writerStatus(const AsfPacketWriter::Status& status);
    void logAsfInfo(const AsfInfo& info);
    CycleResult fail(std::string reason, uint32_t socketError = 0);

    TransferTask& m_task;
    PartChannel& m_channel;
    std::string m_proxyAddress;
    std::optional<AsfInfo> m_asf;
    AsfPacketWriter m_writer;
    Cycle m_cycle;
};

CycleResult MmsWorker::fail(std::string reason, uint32_t socketError)
{
    if (!reason.empty())
        m_channel.logLine(ConnectionLogKind::Error, reason);
    return {CycleEnd::ErrorStep, socketError, std::move(reason)};
}

CycleResult MmsWorker::runCycle()
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

std::optional<CycleResult> MmsWorker::send(ByteStream& stream, MmsClientCode code, std::span<const uint8_t> fields,
                                           bool logged)
{
    const std::vector<uint8_t> message = BuildMmsCommand(code, m_cycle.sequence++, fields);
    if (logged)
        m_channel.logLine(ConnectionLogKind::Sent, fillPrintfFields(builtinString(kStrMmsSendCommand), {hex(static_cast<uint32_t>(code))}));
    return sendCycleBytes(m_task, stream, {reinterpret_cast<const char*>(message.data()), message.size()},
                          builtinText(kStrMmsCommandNotTaken));
}

CycleResult MmsWorker::converse(ByteStream& stream)
{
    const std::vector<uint8_t> hello = MmsConnectFields(kClientGuid, m_task.url.host);
    if (auto ended = send(stream, MmsClientCode::Connect, hello))
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
        case IoStatus::Closed: return fail(builtinText(kStrStreamServerClosed));
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
            MmsItem item = m_cycle.splitter.next();
            std::optional<CycleResult> ended;
            switch (item.kind) {
            case MmsItem::Kind::NeedMore: break;
            case MmsItem::Kind::Error: return fail(item.error);
            case MmsItem::Kind::Command: ended = onCommand(stream, item.command); break;
            case MmsItem::Kind::Frame:
                m_cycle.pingsInARow = 0;
                // Header frames and the first data frame of a cycle: a line
                // per packet would cost the job window a message each.
                if (item.type == kMmsFrameHeader || !m_cycle.loggedData) {
                    m_cycle.loggedData = m_cycle.loggedData || item.type != kMmsFrameHeader;
                    m_channel.logLine(ConnectionLogKind::Received,
                                      fillPrintfFields(builtinString(kStrMmsFrameReceived), {std::to_string(item.type), std::to_string(item.payload.size())}));
                }
                if (item.type == kMmsFrameHeader)
                    ended = onHeaderBytes(stream, item.payload);
                else
                    ended = onPacket(item.location, item.payload);
                break;
            }
            if (ended)
                return *ended;
            if (item.kind == MmsItem::Kind::NeedMore)
                break;
        }
    }
}

std::optional<CycleResult> MmsWorker::onServerError(uint32_t result)
{
    const std::optional<MmsServerError> error = MmsErrorFor(result);
    if (!error)
        return std::nullopt;
    m_channel.logLine(ConnectionLogKind::Error, error->text);
    if (!error->refused)
        return CycleResult{CycleEnd::ErrorStep, 0, error->text};
    ResponseInfo info;
    info.outcome = ResponseOutcome::NotFound;
    info.cause = error->text;
    m_channel.response(info, ProtocolKind::Ftp);
    return CycleResult{CycleEnd::Ended};
}

std::optional<CycleResult> MmsWorker::onCommand(ByteStream& stream, const MmsCommand& command)
{
    const uint32_t code = command.code();
    if (code == kMmsPing) {
        if (++m_cycle.pingsInARow > kMmsMaxPingsInARow)
            return onEndOfStream();
        return send(stream, MmsClientCode::Pong, MmsPongFields(), false);
    }
    m_cycle.pingsInARow = 0;
    m_channel.logLine(ConnectionLogKind::Received, fillPrintfFields(builtinString(kStrMmsReceivedCommand), {hex(code)}));
    if (auto ended = onServerError(command.result()))
        return ended;
    switch (code) {
    case kMmsConnected: {
        // Counts of UTF-16 characters: server version, version, version URL,
        // authentication package; the texts follow at 96.
        const std::span<const uint8_t> message = command.message;
        std::size_t at = 96;
        std::vector<std::string> texts;
        for (std::size_t field = 80; field <= 92; field += 4) {
            const uint64_t bytes = uint64_t{command.field(field)} * 2;
            if (at > message.size() || bytes > message.size() - at)
                break;
            texts.push_back(FromUtf16Le(message.subspan(at, static_cast<std::size_t>(bytes))));
            at += static_cast<std::size_t>(bytes);
        }
        if (!texts.empty())
            m_cycle.serverVersion = texts.front();
        if (texts.size() == 4)
            m_cycle.authScheme = texts[3];
        return send(stream, MmsClientCode::FunnelInfo, MmsFunnelInfoFields());
    }
    case kMmsFunnelInfo: {
        const auto [address, port] = localEndpoint(stream);
        m_channel.logLine(ConnectionLogKind::Status, address + ":" + std::to_string(port));
        return send(stream, MmsClientCode::ConnectFunnel, MmsConnectFunnelFields(address, port));
    }
    case kMmsFunnelConnected: return send(stream, MmsClientCode::OpenFile, MmsOpenFileFields(m_task.url.object));
    case kMmsFunnelDisconnected: return fail(builtinText(kStrMmsFunnelClosed));
    case kMmsOpenFileReport: return send(stream, MmsClientCode::ReadBlock, MmsReadBlockFields());
    case kMmsSecurityChallenge: return onSecurityChallenge(stream, command);
    case kMmsEndOfStream: return onEndOfStream();
    default: return std::nullopt;
    }
}

std::optional<CycleResult> MmsWorker::onSecurityChallenge(ByteStream& stream, const MmsCommand& command)
{
    if (++m_cycle.securityExchanges > kMmsMaxSecurityExchanges) {
        m_channel.markLoginFailed();
        return fail(builtinText(kStrStreamLoginRefused));
    }
    const UrlEntry& url = m_task.url;
    const Base64Codec base64;
    std::vector<uint8_t> response;
    if (upper(m_cycle.authScheme).find("BASIC") != std::string::npos) {
        const std::string token = BasicCredentials(url.userName, url.password);
        response.assign(token.begin(), token.end());
    } else if (m_cycle.securityExchanges == 1) {
        response = base64.decode(NtlmNegotiate());
    } else {
        const std::span<const uint8_t> message = command.message;
        const uint32_t length = command.field(44);
        NtlmChallenge challenge;
        if (message.size() < 48 || length > message.size() - 48
            || !NtlmReadChallenge("NTLM " + base64.encode(message.subspan(48, length)), challenge))
            return fail(builtinText(kStrMmsChallengeUnreadable));
        const std::string answer = NtlmAuthenticate("", url.userName, "", url.password, challenge);
        if (answer.empty())
            return fail(builtinText(kStrStreamNtlmAnswerFailed));
        response = base64.decode(answer);
    }
    return send(stream, MmsClientCode::SecurityResponse, MmsSecurityResponseFields(response));
}

void MmsWorker::logAsfInfo(const AsfInfo& info)
{
    m_channel.logLine(ConnectionLogKind::Status,
                      fillPrintfFields(builtinString(kStrMmsServerTool),
                                       {m_cycle.serverVersion, info.author, info.encryption}));
    m_channel.logLine(ConnectionLogKind::Status,
                      fillPrintfFields(builtinString(kStrMmsHeaderSizes),
                                       {std::to_string(info.packetLength), std::to_string(info.totalPackets),
                                        std::to_string(info.headerSize)}));
    m_channel.logLine(ConnectionLogKind::Status,
                      fillPrintfFields(builtinString(kStrStreamFlagsTime),
                                       {AsfFlagsText(info.flags), FormatMmsTime(info.playMilliseconds()),
                                        std::to_string(info.preroll)}));
}

std::optional<CycleResult> MmsWorker::onHeaderBytes(ByteStream& stream, std::span<const uint8_t> bytes)
{
    if (m_cycle.playing)
        return std::nullopt;  // a repeated header changes nothing of the file
    std::vector<uint8_t>& header = m_cycle.header;
    header.insert(header.end(), bytes.begin(), bytes.end());
    if (header.size() < 24)
        return std::nullopt;
    const std::optional<std::size_t> length = AsfHeaderLength(header);
    if (!length)
        return fail(builtinText(kStrMmsNoAsfHeader));
    if (header.size() < *length)
        return std::nullopt;
    header.resize(*length);
    m_channel.logLine(ConnectionLogKind::Received, builtinText(kStrMmsReceivedHeader));
    std::string error;
    const std::optional<AsfInfo> info = ParseAsfHeader(header, &error);
    if (!info)
        return fail(error);
    logAsfInfo(*info);
    m_asf = info;

    ResponseInfo response;
    response.size = info->fileSize();
    response.resume = (info->flags & kAsfFlagSeekable) ? ResumeInfo::Honoured : ResumeInfo::NotHonoured;
    if (m_channel.response(response, ProtocolKind::Mms) == 0)
        return CycleResult{CycleEnd::Ended};

    const int64_t headerSize = info->headerSize;
    if (m_cycle.rangeStart < headerSize) {
        const auto rest = std::span<const uint8_t>(header).subspan(static_cast<std::size_t>(m_cycle.rangeStart));
        if (auto ended = cycleEndOf(m_channel.data(m_cycle.rangeStart, rest)))
            return ended;
    }
    const uint32_t wanted = m_writer.begin(*info, m_cycle.rangeStart);
    m_cycle.playing = true;
    return send(stream, MmsClientCode::StartPlaying, MmsStartPlayingFields(wanted, m_writer.startSeconds()));
}

std::optional<CycleResult> MmsWorker::writerStatus(const AsfPacketWriter::Status& status)
{
    return AsfCycleEnd(m_writer, status, m_channel);
}

std::optional<CycleResult> MmsWorker::onPacket(uint32_t location, std::span<const uint8_t> payload)
{
    if (!m_cycle.playing || !m_asf)
        return fail(builtinText(kStrMmsDataBeforeHeader));
    return writerStatus(m_writer.packet(location, payload));
}

std::optional<CycleResult> MmsWorker::onEndOfStream()
{
    if (!m_asf || !m_cycle.playing)
        return fail(builtinText(kStrMmsEndedBeforeBegin));
    if (m_writer.live()) {
        m_channel.done();
        return CycleResult{CycleEnd::Finished};
    }
    return writerStatus(m_writer.end());
}

}  // namespace

int MmsTransfer(TransferTask& task)
{
    if (!task.channel)
        return 2;
    return MmsWorker(task).run();
}

}  // namespace fetchora
