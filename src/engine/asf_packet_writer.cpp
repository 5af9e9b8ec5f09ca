#include "engine/asf_packet_writer.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "engine/stream_texts.h"
#include "lang/string_table.h"

namespace fetchora {

namespace {

AsfPacketWriter::Status statusOf(WriteResult result)
{
    using Kind = AsfPacketWriter::Status::Kind;
    switch (result) {
    case WriteResult::Continue: return {Kind::Continue, {}};
    case WriteResult::Reconnect: return {Kind::Reconnect, {}};
    case WriteResult::Stop: break;
    }
    return {Kind::Stop, {}};
}

}  // namespace

uint32_t AsfPacketWriter::begin(const AsfInfo& info, int64_t next)
{
    m_info = info;
    m_next = std::max<int64_t>(next, info.headerSize);
    m_received = 0;
    m_firstLocation.reset();
    m_firstSendTime.reset();
    m_sendTimeBase = m_highestSendTime;
    m_last.clear();
    m_lastTimes = {};
    m_noted = false;
    m_note.reset();
    const uint64_t packet = static_cast<uint64_t>(m_next - info.headerSize) / info.packetLength;
    m_wanted = info.onDemand ? static_cast<uint32_t>(std::min<uint64_t>(packet, 0xFFFFFFFFu)) : 0;
    return m_wanted;
}

double AsfPacketWriter::startSeconds() const
{
    if (m_wanted == 0 || m_info.playDuration == 0 || m_info.totalPackets == 0)
        return 0.0;
    return static_cast<double>(m_info.playDuration) / 1e7 * m_wanted / static_cast<double>(m_info.totalPackets);
}

std::optional<std::string> AsfPacketWriter::takeNote()
{
    std::optional<std::string> note = std::move(m_note);
    m_note.reset();
    return note;
}

int64_t AsfPacketWriter::slotAt(int64_t offset) const
{
    const int64_t into = offset - m_info.headerSize;
    return m_info.headerSize + into / m_info.packetLength * m_info.packetLength;
}

AsfPacketWriter::Status AsfPacketWriter::handOver(int64_t offset, std::span<const uint8_t> packet, Times times)
{
    const int64_t end = offset + static_cast<int64_t>(packet.size());
    if (end <= m_next)
        return {};  // already on disk
    const auto skip = static_cast<std::size_t>(std::max<int64_t>(0, m_next - offset));
    const Status status
        = statusOf(m_sink(offset + static_cast<int64_t>(skip), packet.subspan(skip), times.start, times.end));
    if (status.kind == Status::Kind::Continue)
        m_next = end;
    return status;
}

AsfPacketWriter::Status AsfPacketWriter::fillTo(int64_t offset, std::span<const uint8_t> packet, Times times)
{
    while (m_next < offset) {
        const int64_t before = m_next;
        const Status status = handOver(slotAt(m_next), packet, times);
        if (status.kind != Status::Kind::Continue)
            return status;
        if (m_next <= before)
            break;
    }
    return {};
}

AsfPacketWriter::Status AsfPacketWriter::packet(std::optional<uint32_t> location, std::span<const uint8_t> payload)
{
    const uint32_t length = m_info.packetLength;
    if (payload.size() > length) {
        return {Status::Kind::Error,
                fillPrintfFields(builtinString(kStrAsfPayloadPastPacket), {std::to_string(payload.size() - length)})};
    }
    std::vector<uint8_t> packet(length, 0);
    std::copy(payload.begin(), payload.end(), packet.begin());
    const std::optional<AsfPacketHead> head = ParseAsfPacketHead(packet);
    if (head && head->packetLength == 0 && payload.size() + head->paddingLength < length && !m_noted) {
        // Once a cycle: a server that strips padding would fill the log.
        m_noted = true;
        m_note = fillPrintfFields(builtinString(kStrAsfPayloadShort),
                                  {std::to_string(length - payload.size() - head->paddingLength)});
    }

    // A packet without a readable head keeps the stream time where it was.
    Times times{m_lastTimes.end, m_lastTimes.end};
    if (head)
        times = {head->sendTime, head->sendTime + head->duration};
    uint64_t number = 0;
    if (m_info.onDemand) {
        uint64_t step = m_received;
        if (location) {
            if (!m_firstLocation)
                m_firstLocation = *location;
            if (*location < *m_firstLocation)
                return {};  // older than what this cycle began with
            step = *location - *m_firstLocation;
        }
        number = uint64_t{m_wanted} + step;
        if (number >= m_info.totalPackets) {
            return {Status::Kind::Error,
                    builtinText(kStrAsfPacketBeyondFile,
                                {std::to_string(number), std::to_string(m_info.totalPackets)})};
        }
    } else {
        number = static_cast<uint64_t>(m_next - m_info.headerSize) / length;
        if (head) {
            if (!m_firstSendTime)
                m_firstSendTime = head->sendTime;
            const uint32_t rebased = head->sendTime >= *m_firstSendTime
                ? m_sendTimeBase + (head->sendTime - *m_firstSendTime)
                : m_sendTimeBase;
            SetAsfSendTime(packet, rebased);
            m_highestSendTime = std::max(m_highestSendTime, rebased);
            times = {rebased, rebased + head->duration};
        }
    }
    ++m_received;
    const int64_t offset = m_info.headerSize + static_cast<int64_t>(number) * length;
    Status status = fillTo(offset, packet, times);
    if (status.kind == Status::Kind::Continue)
        status = handOver(offset, packet, times);
    m_last = std::move(packet);
    m_lastTimes = times;
    return status;
}

AsfPacketWriter::Status AsfPacketWriter::end()
{
    if (!m_info.onDemand)
        return {Status::Kind::Stop, {}};
    const int64_t target = m_info.fileSize();
    if (m_next >= target)
        return {Status::Kind::Stop, {}};
    const uint32_t length = m_info.packetLength;
    const int64_t missing = (target - m_next + length - 1) / length;
    const int64_t tolerated = std::max<int64_t>(static_cast<int64_t>(m_info.totalPackets / 10), 10);
    if (missing < tolerated && !m_last.empty()) {
        const std::vector<uint8_t> last = m_last;
        Status status = fillTo(target, last, m_lastTimes);
        return status.kind == Status::Kind::Continue ? Status{Status::Kind::Stop, {}} : status;
    }
    return {Status::Kind::Error,
            builtinText(kStrAsfStreamEndedEarly, {std::to_string(missing)})};
}

std::optional<CycleResult> AsfCycleEnd(AsfPacketWriter& writer, const AsfPacketWriter::Status& status,
                                       PartChannel& channel)
{
    if (const std::optional<std::string> note = writer.takeNote())
        channel.logLine(ConnectionLogKind::Status, *note);
    switch (status.kind) {
    case AsfPacketWriter::Status::Kind::Continue: return std::nullopt;
    case AsfPacketWriter::Status::Kind::Stop: return CycleResult{CycleEnd::Ended};
    case AsfPacketWriter::Status::Kind::Reconnect: return CycleResult{CycleEnd::Reconnect};
    case AsfPacketWriter::Status::Kind::Error: break;
    }
    if (!status.text.empty())
        channel.logLine(ConnectionLogKind::Error, status.text);
    return CycleResult{CycleEnd::ErrorStep, 0, status.text};
}

}  // namespace fetchora
