#pragma once
// Hands the data packets of an ASF stream to the job window so that the file
// is the header followed by whole packets: each payload zero-padded to the
// packet length and written at header size + packet number × packet length.
// Shared by the MMS and RTSP workers.
//
// On demand, a packet's number is the first packet asked for plus how far
// its sequence value lies past the first one seen (or the count received,
// when the transport numbers nothing); a packet past the next expected slot
// is also written into the slots it skipped, so that the file has no holes.
// Live, packets follow each other from where the part stands and their send
// times are rebased so that a recording starts at 0 and a reconnect
// continues where it was.
//
// Thread: the worker's; one writer per worker, begun again each cycle.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/asf_header.h"
#include "net/worker_cycles.h"
#include "net/write_result.h"

namespace fetchora {

class AsfPacketWriter {
public:
    // Where the packets go, with the stream positions (milliseconds) of
    // their two ends: the send time, and the send time plus the duration.
    using Sink = std::function<WriteResult(int64_t position, std::span<const uint8_t> bytes, uint32_t streamStart,
                                           uint32_t streamEnd)>;

    struct Status {
        enum class Kind { Continue, Stop, Reconnect, Error };
        Kind kind = Kind::Continue;
        std::string text;  // Error: the line for the log
    };

    explicit AsfPacketWriter(Sink sink) : m_sink(std::move(sink)) { }

    // A new cycle: the header it got and where the part stands (at or past
    // the header). Returns the first packet to ask for (0 for a live stream).
    uint32_t begin(const AsfInfo& info, int64_t next);
    // The start time (seconds) that goes with the packet begin returned.
    double startSeconds() const;

    // One packet payload; location is its sequence value when the transport
    // gives one.
    Status packet(std::optional<uint32_t> location, std::span<const uint8_t> payload);
    // The server says the stream ended: a live one is done; an on-demand one
    // is complete when few packets are missing (they get the last packet).
    Status end();

    bool live() const { return !m_info.onDemand; }
    int64_t next() const { return m_next; }
    // A line for the log once a cycle, when a payload left bytes uncovered.
    std::optional<std::string> takeNote();

private:
    struct Times {
        uint32_t start = 0;
        uint32_t end = 0;
    };
    Status handOver(int64_t offset, std::span<const uint8_t> packet, Times times);
    Status fillTo(int64_t offset, std::span<const uint8_t> packet, Times times);
    int64_t slotAt(int64_t offset) const;

    Sink m_sink;
    AsfInfo m_info;
    int64_t m_next = 0;
    uint32_t m_wanted = 0;
    uint64_t m_received = 0;
    std::optional<uint32_t> m_firstLocation;
    std::optional<uint32_t> m_firstSendTime;
    uint32_t m_sendTimeBase = 0;
    uint32_t m_highestSendTime = 0;  // across cycles
    std::vector<uint8_t> m_last;
    Times m_lastTimes;
    bool m_noted = false;
    std::optional<std::string> m_note;
};

// How a packet writer's status ends the worker's cycle (nothing: go on). The
// writer's note of the cycle goes to the log first; an error is logged and
// takes the error step.
std::optional<CycleResult> AsfCycleEnd(AsfPacketWriter& writer, const AsfPacketWriter::Status& status,
                                       PartChannel& channel);

}  // namespace fetchora
