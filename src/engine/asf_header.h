#pragma once
// What a stream worker needs of an ASF file: the header's File Properties
// (packet length, packet count, duration, flags), its texts, and the fields
// of a data packet's header that carry the send time.
//
// The saved file is the header (the Header Object and the 50-byte head of
// the Data Object) followed by the packets, each padded to the packet
// length, so a packet's place is header size + number × packet length.
// A broadcast (flag 0x1 of File Properties) is a live stream: its packet
// count and size are not known in advance.
//
// Thread: any; pure functions over the bytes given.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace fetchora {

// Bigger headers are refused: no real header comes near, and a lying length
// must not make the worker collect without bound.
inline constexpr std::size_t kMaxAsfHeaderSize = 1 << 20;
// The head of the Data Object that follows the Header Object.
inline constexpr std::size_t kAsfDataObjectHead = 50;
// A packet must fit a data frame's length field.
inline constexpr uint32_t kMaxAsfPacketLength = 0x10000;

inline constexpr uint32_t kAsfFlagBroadcast = 0x1;
inline constexpr uint32_t kAsfFlagSeekable = 0x2;

struct AsfInfo {
    uint32_t packetLength = 0;  // minimum packet size
    uint32_t packetLength2 = 0;  // maximum packet size; they must agree
    uint64_t totalPackets = 0;
    int64_t headerSize = 0;  // header object + data object head
    uint64_t playDuration = 0;  // 100-ns units
    uint64_t preroll = 0;  // milliseconds
    uint32_t flags = 0;
    bool onDemand = true;
    std::string title;
    std::string author;
    std::string encryption;  // the protection type, empty when none

    // header size + total packets × packet length; -1 for a live stream.
    int64_t fileSize() const;
    // The play time in milliseconds, without the preroll.
    uint64_t playMilliseconds() const;
};

// How many header bytes make the whole header, from its first 24: the
// Header Object's size plus the Data Object's head. Nothing when fewer than
// 24 bytes are given, the bytes are no ASF header, or the size is beyond
// kMaxAsfHeaderSize.
std::optional<std::size_t> AsfHeaderLength(std::span<const uint8_t> start);

// Parses a complete header. On failure error says why (for the log).
std::optional<AsfInfo> ParseAsfHeader(std::span<const uint8_t> header, std::string* error = nullptr);

// The header's flags as the log shows them: lower-case hex.
std::string AsfFlagsText(uint32_t flags);

// The fields of a data packet's header that lie before its payloads.
struct AsfPacketHead {
    std::size_t sendTimeOffset = 0;  // where the 32-bit send time is
    uint32_t sendTime = 0;  // milliseconds
    uint32_t duration = 0;  // milliseconds
    uint32_t paddingLength = 0;
    uint32_t packetLength = 0;  // 0 when the packet does not say
    std::size_t headLength = 0;  // bytes up to the first payload
};
// Nothing when the bytes end inside the packet's header.
std::optional<AsfPacketHead> ParseAsfPacketHead(std::span<const uint8_t> packet);

// A live recording made playable as a file: the File Properties get the
// file's size, packet count and play duration (from the last packet's send
// time and duration) and lose the broadcast flag; the Data Object gets its
// size and packet count. False (header unchanged) when the header is not
// that of a live stream or the numbers do not fit it.
bool FinalizeLiveAsfHeader(std::span<uint8_t> header, int64_t fileLength, uint32_t lastSendTime, uint32_t lastDuration);

// Rewrites the packet's send time (for a live stream's rebase); false when
// the head could not be read.
bool SetAsfSendTime(std::span<uint8_t> packet, uint32_t sendTime);

}  // namespace fetchora
