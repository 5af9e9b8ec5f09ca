#include "engine/asf_header.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "engine/mms_commands.h"
#include "engine/stream_texts.h"
#include "lang/string_table.h"

namespace fetchora {

namespace {

using Guid = std::array<uint8_t, 16>;

constexpr Guid kHeaderObject
    = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kDataObject
    = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kFileProperties
    = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kContentDescription
    = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kContentEncryption
    = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11, 0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E};

constexpr std::size_t kObjectHead = 24;
constexpr std::size_t kHeaderObjectHead = 30;
constexpr std::size_t kFilePropertiesSize = 104;

bool isGuid(std::span<const uint8_t> bytes, std::size_t at, const Guid& guid)
{
    return at + guid.size() <= bytes.size() && std::equal(guid.begin(), guid.end(), bytes.begin() + at);
}

uint64_t get(std::span<const uint8_t> bytes, std::size_t at, std::size_t size)
{
    uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value |= uint64_t{bytes[at + i]} << (8 * i);
    return value;
}

void put(std::span<uint8_t> bytes, std::size_t at, std::size_t size, uint64_t value)
{
    for (std::size_t i = 0; i < size; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Bytes of a length field coded in two bits of the packet's flags.
std::size_t fieldSize(uint32_t code)
{
    static constexpr std::array<std::size_t, 4> kSizes = {0, 1, 2, 4};
    return kSizes[code & 3];
}

void readContentDescription(std::span<const uint8_t> object, AsfInfo& info)
{
    if (object.size() < kObjectHead + 10)
        return;
    std::array<std::size_t, 5> lengths{};
    for (std::size_t i = 0; i < lengths.size(); ++i)
        lengths[i] = static_cast<std::size_t>(get(object, kObjectHead + 2 * i, 2));
    std::size_t at = kObjectHead + 10;
    std::array<std::string*, 2> targets = {&info.title, &info.author};
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (at + lengths[i] > object.size())
            return;
        *targets[i] = FromUtf16Le(object.subspan(at, lengths[i]));
        at += lengths[i];
    }
}

void readContentEncryption(std::span<const uint8_t> object, AsfInfo& info)
{
    std::size_t at = kObjectHead;
    if (at + 4 > object.size())
        return;
    const uint64_t secret = get(object, at, 4);
    at += 4;
    if (secret > object.size() - at || object.size() - at - secret < 4)
        return;
    at += static_cast<std::size_t>(secret);
    const uint64_t typeLength = get(object, at, 4);
    at += 4;
    if (typeLength > object.size() - at)
        return;
    const auto type = object.subspan(at, static_cast<std::size_t>(typeLength));
    info.encryption.assign(type.begin(), std::find(type.begin(), type.end(), uint8_t{0}));
}

}  // namespace

int64_t AsfInfo::fileSize() const
{
    if (!onDemand)
        return -1;
    return headerSize + static_cast<int64_t>(totalPackets) * packetLength;
}

uint64_t AsfInfo::playMilliseconds() const
{
    const uint64_t total = playDuration / 10000;
    return total > preroll ? total - preroll : total;
}

std::optional<std::size_t> AsfHeaderLength(std::span<const uint8_t> start)
{
    if (start.size() < kObjectHead || !isGuid(start, 0, kHeaderObject))
        return std::nullopt;
    const uint64_t objectSize = get(start, 16, 8);
    if (objectSize < kHeaderObjectHead || objectSize > kMaxAsfHeaderSize - kAsfDataObjectHead)
        return std::nullopt;
    return static_cast<std::size_t>(objectSize) + kAsfDataObjectHead;
}

std::optional<AsfInfo> ParseAsfHeader(std::span<const uint8_t> header, std::string* error)
{
    const auto failed = [&](uint32_t why) -> std::optional<AsfInfo> {
        if (error)
            *error = builtinText(why);
        return std::nullopt;
    };
    const std::optional<std::size_t> length = AsfHeaderLength(header);
    if (!length || header.size() < *length)
        return failed(kStrAsfHeaderIncomplete);
    const std::size_t objectEnd = *length - kAsfDataObjectHead;
    if (!isGuid(header, objectEnd, kDataObject))
        return failed(kStrAsfHeaderNoDataObject);

    AsfInfo info;
    info.headerSize = static_cast<int64_t>(*length);
    bool properties = false;
    for (std::size_t at = kHeaderObjectHead; at + kObjectHead <= objectEnd;) {
        const uint64_t size = get(header, at + 16, 8);
        if (size < kObjectHead || size > objectEnd - at)
            return failed(kStrAsfObjectPastEnd);
        const std::span<const uint8_t> object = header.subspan(at, static_cast<std::size_t>(size));
        if (isGuid(object, 0, kFileProperties)) {
            if (object.size() < kFilePropertiesSize)
                return failed(kStrAsfPropertiesTooShort);
            info.totalPackets = get(object, 56, 8);
            info.playDuration = get(object, 64, 8);
            info.preroll = get(object, 80, 8);
            info.flags = static_cast<uint32_t>(get(object, 88, 4));
            info.packetLength = static_cast<uint32_t>(get(object, 92, 4));
            info.packetLength2 = static_cast<uint32_t>(get(object, 96, 4));
            properties = true;
        } else if (isGuid(object, 0, kContentDescription)) {
            readContentDescription(object, info);
        } else if (isGuid(object, 0, kContentEncryption)) {
            readContentEncryption(object, info);
        }
        at += static_cast<std::size_t>(size);
    }
    if (!properties)
        return failed(kStrAsfNoProperties);
    if (info.packetLength == 0 || info.packetLength != info.packetLength2 || info.packetLength > kMaxAsfPacketLength)
        return failed(kStrAsfNoPacketLength);
    info.onDemand = (info.flags & kAsfFlagBroadcast) == 0;
    // An on-demand file's packet numbers are 32-bit on the wire.
    if (info.onDemand && (info.totalPackets == 0 || info.totalPackets > 0xFFFFFFFFu))
        return failed(kStrAsfNoPacketCount);
    return info;
}

std::string AsfFlagsText(uint32_t flags)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", flags);
    return text;
}

std::optional<AsfPacketHead> ParseAsfPacketHead(std::span<const uint8_t> packet)
{
    std::size_t at = 0;
    if (packet.empty())
        return std::nullopt;
    const uint8_t first = packet[0];
    if (first & 0x80) {
        // Error correction data: its length in the low four bits, unless the
        // length type bits (5-6) say otherwise, which no writer uses.
        if ((first & 0x60) != 0)
            return std::nullopt;
        at = 1 + (first & 0x0F);
    }
    if (at + 2 > packet.size())
        return std::nullopt;
    const uint8_t lengthFlags = packet[at];
    at += 2;  // the length type flags and the property flags
    AsfPacketHead head;
    const std::size_t packetLengthSize = fieldSize(lengthFlags >> 5);
    const std::size_t sequenceSize = fieldSize(lengthFlags >> 1);
    const std::size_t paddingSize = fieldSize(lengthFlags >> 3);
    if (at + packetLengthSize + sequenceSize + paddingSize + 6 > packet.size())
        return std::nullopt;
    head.packetLength = static_cast<uint32_t>(get(packet, at, packetLengthSize));
    at += packetLengthSize + sequenceSize;
    head.paddingLength = static_cast<uint32_t>(get(packet, at, paddingSize));
    at += paddingSize;
    head.sendTimeOffset = at;
    head.sendTime = static_cast<uint32_t>(get(packet, at, 4));
    head.duration = static_cast<uint32_t>(get(packet, at + 4, 2));
    head.headLength = at + 6;  // send time and duration
    return head;
}

bool FinalizeLiveAsfHeader(std::span<uint8_t> header, int64_t fileLength, uint32_t lastSendTime, uint32_t lastDuration)
{
    const std::optional<AsfInfo> info = ParseAsfHeader(header);
    if (!info || info->onDemand || fileLength < info->headerSize)
        return false;
    const uint64_t packets = static_cast<uint64_t>(fileLength - info->headerSize) / info->packetLength;
    const std::size_t objectEnd = static_cast<std::size_t>(info->headerSize) - kAsfDataObjectHead;
    for (std::size_t at = kHeaderObjectHead; at + kObjectHead <= objectEnd;) {
        const uint64_t size = get(header, at + 16, 8);
        if (isGuid(header, at, kFileProperties)) {
            const uint64_t playTime = (uint64_t{lastSendTime} + lastDuration + info->preroll) * 10000;
            put(header, at + 40, 8, static_cast<uint64_t>(fileLength));
            put(header, at + 56, 8, packets);
            put(header, at + 64, 8, playTime);
            put(header, at + 72, 8, playTime);
            put(header, at + 88, 4, info->flags & ~kAsfFlagBroadcast);
            break;
        }
        at += static_cast<std::size_t>(size);
    }
    put(header, objectEnd + 16, 8, kAsfDataObjectHead + packets * info->packetLength);
    put(header, objectEnd + 40, 8, packets);
    return true;
}

bool SetAsfSendTime(std::span<uint8_t> packet, uint32_t sendTime)
{
    const std::optional<AsfPacketHead> head = ParseAsfPacketHead(packet);
    if (!head)
        return false;
    put(packet, head->sendTimeOffset, 4, sendTime);
    return true;
}

}  // namespace fetchora
