#pragma once
// Small ASF files built byte by byte for the stream tests: a Header Object
// with File Properties (and optionally a Content Description), the Data
// Object's head, and packets whose head carries a padding length and a send
// time, filled with a pattern and zero padding. Independent of the code
// under test, so that both do not share a mistake.
#include <cstdint>
#include <string>
#include <vector>

namespace fetchora::test {

struct AsfSpec {
    uint32_t packets = 20;
    uint32_t packetLength = 400;
    uint32_t flags = 0x2;  // seekable
    uint64_t durationMs = 2000;
    uint32_t firstSendTime = 0;
    uint32_t payloadBytes = 300;  // bytes of each packet before its padding
    std::string title = "Clip";
    std::string author = "Tester";
    // Written into the header instead of the true values when set.
    uint64_t claimedPackets = 0;
    uint32_t claimedMaxPacketLength = 0;
};

inline void put(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline void putGuid(std::vector<uint8_t>& out, std::initializer_list<uint8_t> guid)
{
    out.insert(out.end(), guid.begin(), guid.end());
}

inline std::vector<uint8_t> asfHeader(const AsfSpec& spec)
{
    std::vector<uint8_t> properties;
    putGuid(properties,
            {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
    put(properties, 104, 8);
    properties.insert(properties.end(), 16, 0x11);  // file id
    put(properties, 0, 8);  // file size: not read
    put(properties, 0, 8);  // creation date
    put(properties, spec.claimedPackets ? spec.claimedPackets : spec.packets, 8);
    put(properties, spec.durationMs * 10000, 8);  // play duration
    put(properties, spec.durationMs * 10000, 8);  // send duration
    put(properties, 0, 8);  // preroll
    put(properties, spec.flags, 4);
    put(properties, spec.packetLength, 4);
    put(properties, spec.claimedMaxPacketLength ? spec.claimedMaxPacketLength : spec.packetLength, 4);
    put(properties, 100000, 4);

    std::vector<uint8_t> description;
    auto wide = [](const std::string& text) {
        std::vector<uint8_t> out;
        for (char c : text) {
            out.push_back(static_cast<uint8_t>(c));
            out.push_back(0);
        }
        out.push_back(0);
        out.push_back(0);
        return out;
    };
    const std::vector<uint8_t> title = wide(spec.title);
    const std::vector<uint8_t> author = wide(spec.author);
    putGuid(description,
            {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
    put(description, 24 + 10 + title.size() + author.size(), 8);
    put(description, title.size(), 2);
    put(description, author.size(), 2);
    put(description, 0, 2);
    put(description, 0, 2);
    put(description, 0, 2);
    description.insert(description.end(), title.begin(), title.end());
    description.insert(description.end(), author.begin(), author.end());

    std::vector<uint8_t> out;
    putGuid(out, {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
    put(out, 30 + properties.size() + description.size(), 8);
    put(out, 2, 4);
    out.push_back(1);
    out.push_back(2);
    out.insert(out.end(), properties.begin(), properties.end());
    out.insert(out.end(), description.begin(), description.end());
    // The Data Object's head.
    putGuid(out, {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
    put(out, 50 + uint64_t{spec.packets} * spec.packetLength, 8);
    out.insert(out.end(), 16, 0x11);
    put(out, spec.packets, 8);
    out.push_back(1);
    out.push_back(1);
    return out;
}

// Packet n: error correction 82 00 00, length flags 0x10 (a two-byte
// padding field), property flags 0x5D, padding length, send time,
// duration, then bytes n + i and zero padding.
inline std::vector<uint8_t> asfPacket(const AsfSpec& spec, uint32_t n)
{
    std::vector<uint8_t> out = {0x82, 0x00, 0x00, 0x10, 0x5D};
    const uint32_t head = 5 + 2 + 4 + 2;
    put(out, spec.packetLength - spec.payloadBytes, 2);
    put(out, spec.firstSendTime + n * 100, 4);
    put(out, 100, 2);
    for (uint32_t i = head; i < spec.payloadBytes; ++i)
        out.push_back(static_cast<uint8_t>(n * 7 + i + 1) | 1);
    out.resize(spec.packetLength, 0);
    return out;
}

inline std::vector<uint8_t> asfFile(const AsfSpec& spec)
{
    std::vector<uint8_t> out = asfHeader(spec);
    for (uint32_t n = 0; n < spec.packets; ++n) {
        const std::vector<uint8_t> packet = asfPacket(spec, n);
        out.insert(out.end(), packet.begin(), packet.end());
    }
    return out;
}

inline std::string text(const std::vector<uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

}  // namespace fetchora::test
