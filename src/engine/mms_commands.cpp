#include "engine/mms_commands.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "engine/stream_texts.h"
#include "lang/string_table.h"

namespace fetchora {

namespace {

// A number in upper-case hex, for the "%X" fields of the texts.
std::string hexText(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

void put32(std::vector<uint8_t>& out, std::size_t at, uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void append32(std::vector<uint8_t>& out, uint32_t value)
{
    out.resize(out.size() + 4);
    put32(out, out.size() - 4, value);
}

uint32_t get32(std::span<const uint8_t> bytes, std::size_t at)
{
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= uint32_t{bytes[at + i]} << (8 * i);
    return value;
}

void appendBytes(std::vector<uint8_t>& out, std::span<const uint8_t> bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// One code point from UTF-8 at text[i]; a byte that starts no valid
// sequence is taken as Latin-1.
uint32_t nextCodePoint(std::string_view text, std::size_t& i)
{
    const auto byte = [&](std::size_t at) { return static_cast<uint8_t>(text[at]); };
    const uint8_t first = byte(i);
    std::size_t length = 0;
    uint32_t value = 0;
    if (first < 0x80) {
        ++i;
        return first;
    }
    if ((first & 0xE0) == 0xC0) {
        length = 2;
        value = first & 0x1F;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3;
        value = first & 0x0F;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4;
        value = first & 0x07;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            valid = false;
        else
            value = (value << 6) | (byte(i + k) & 0x3F);
    }
    constexpr std::array<uint32_t, 5> kLowest = {0, 0, 0x80, 0x800, 0x10000};
    if (!valid || value < kLowest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++i;
        return first;
    }
    i += length;
    return value;
}

void appendUnit(std::vector<uint8_t>& out, uint32_t unit)
{
    out.push_back(static_cast<uint8_t>(unit));
    out.push_back(static_cast<uint8_t>(unit >> 8));
}

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::vector<uint8_t> zeros(std::size_t count)
{
    return std::vector<uint8_t>(count, 0);
}

}  // namespace

std::vector<uint8_t> Utf16Le(std::string_view text)
{
    std::vector<uint8_t> out;
    out.reserve(text.size() * 2 + 2);
    for (std::size_t i = 0; i < text.size();) {
        const uint32_t cp = nextCodePoint(text, i);
        if (cp >= 0x10000) {
            appendUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
            appendUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            appendUnit(out, cp);
        }
    }
    appendUnit(out, 0);
    return out;
}

std::string FromUtf16Le(std::span<const uint8_t> bytes)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t unit = bytes[i] | (uint32_t{bytes[i + 1]} << 8);
        if (unit == 0)
            break;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
            const uint32_t low = bytes[i + 2] | (uint32_t{bytes[i + 3]} << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (unit >= 0xD800 && unit < 0xE000)
            unit = 0xFFFD;
        appendUtf8(out, unit);
    }
    return out;
}

std::vector<uint8_t> BuildMmsCommand(MmsClientCode code, uint32_t sequence, std::span<const uint8_t> fields)
{
    const std::size_t unpadded = kMmsFixedSize + fields.size();
    const std::size_t length = (unpadded + 7) / 8 * 8;
    std::vector<uint8_t> out(length, 0);
    out[0] = 0x01;  // rep; version and minor version 0
    put32(out, 4, kMmsSessionSignature);
    put32(out, 8, static_cast<uint32_t>(length - 16));
    std::memcpy(out.data() + 12, "MMS ", 4);
    put32(out, 16, static_cast<uint32_t>((length - 16) / 8));
    put32(out, 20, sequence);
    // 24..31: the time sent, left 0
    put32(out, 32, static_cast<uint32_t>((length - 32) / 8));
    put32(out, 36, 0x00030000u | static_cast<uint32_t>(code));
    std::copy(fields.begin(), fields.end(), out.begin() + kMmsFixedSize);
    return out;
}

std::vector<uint8_t> MmsConnectFields(std::string_view clientGuid, std::string_view host)
{
    std::vector<uint8_t> out;
    append32(out, 0xF0F0F0F0);  // play incarnation
    append32(out, 0x0004000B);  // server-to-client protocol revision
    append32(out, 0x0003001C);  // client-to-server protocol revision
    const std::string text = "NSPlayer/9.0.0.2980; " + std::string(clientGuid) + ";Host: " + std::string(host);
    appendBytes(out, Utf16Le(text));
    return out;
}

std::vector<uint8_t> MmsConnectFunnelFields(std::string_view localAddress, uint16_t localPort)
{
    std::vector<uint8_t> out;
    append32(out, 0);  // play incarnation
    append32(out, 0x00004000);  // max block bytes
    append32(out, 0);  // max funnel bytes
    append32(out, 0x00989680);  // max bit rate
    append32(out, 2);  // funnel mode
    const std::string text = "\\\\" + std::string(localAddress) + "\\TCP\\" + std::to_string(localPort);
    appendBytes(out, Utf16Le(text));
    return out;
}

std::vector<uint8_t> MmsOpenFileFields(std::string_view object)
{
    std::vector<uint8_t> out;
    append32(out, 1);  // play incarnation
    append32(out, 0);  // spare
    append32(out, 0);  // token
    append32(out, 0);  // token length
    while (!object.empty() && object.front() == '/')
        object.remove_prefix(1);
    appendBytes(out, Utf16Le(object));
    return out;
}

std::vector<uint8_t> MmsStartPlayingFields(uint32_t firstPacket, double startSeconds)
{
    std::vector<uint8_t> out = zeros(44);
    put32(out, 0, 1);  // open file id (message offset 40)
    double seconds = firstPacket == 0 ? 0.0 : startSeconds;
    uint64_t bits = 0;
    std::memcpy(&bits, &seconds, sizeof bits);
    put32(out, 8, static_cast<uint32_t>(bits));  // message offset 48
    put32(out, 12, static_cast<uint32_t>(bits >> 32));
    put32(out, 16, 0xFFFFFFFF);  // ASF offset: not used (56)
    put32(out, 20, firstPacket);  // first packet wanted (60)
    put32(out, 24, 0);  // frame offset (64)
    put32(out, 28, 1);  // play incarnation (68)
    put32(out, 32, 0);  // acceleration bandwidth (72)
    put32(out, 36, 0);  // acceleration duration (76)
    put32(out, 40, 0x00989680);  // link bandwidth (80)
    return out;
}

std::vector<uint8_t> MmsReadBlockFields()
{
    std::vector<uint8_t> out = zeros(40);
    put32(out, 0, 1);  // open file id
    put32(out, 16, 0xFFFFFFFF);  // flags
    return out;
}

std::vector<uint8_t> MmsFunnelInfoFields()
{
    std::vector<uint8_t> out;
    append32(out, 1);  // play incarnation
    append32(out, 0x0004000B);  // play sequence
    return out;
}

std::vector<uint8_t> MmsPongFields()
{
    return zeros(8);
}

std::vector<uint8_t> MmsSecurityResponseFields(std::span<const uint8_t> response)
{
    std::vector<uint8_t> out;
    append32(out, 0);
    append32(out, static_cast<uint32_t>(response.size()));
    appendBytes(out, response);
    return out;
}

uint32_t MmsCommand::field(std::size_t offset) const
{
    if (offset + 4 > message.size())
        return 0;
    return get32(message, offset);
}

void MmsFrameSplitter::feed(std::span<const uint8_t> bytes)
{
    if (m_start > 0 && m_start >= m_buffer.size() / 2) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
        m_start = 0;
    }
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
}

MmsItem MmsFrameSplitter::next()
{
    MmsItem item;
    const std::span<const uint8_t> rest = std::span<const uint8_t>(m_buffer).subspan(m_start);
    if (rest.size() < kMmsFrameHeaderSize)
        return item;
    if (get32(rest, 4) == kMmsSessionSignature) {
        if (rest.size() < 16)
            return item;
        const uint64_t length = uint64_t{get32(rest, 8)} + 16;
        if (length < kMmsFixedSize || length > kMmsMaxCommandSize) {
            item.kind = MmsItem::Kind::Error;
            item.error = fillPrintfFields(builtinString(kStrMmsIllegalChunkLength), {std::to_string(length)});
            return item;
        }
        if (rest.size() < length)
            return item;
        item.kind = MmsItem::Kind::Command;
        item.command.message.assign(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(length));
        item.command.sequence = get32(rest, 20);
        item.command.identifier = get32(rest, 36);
        m_start += static_cast<std::size_t>(length);
        return item;
    }
    const uint8_t type = rest[4];
    const uint8_t flags = rest[5];
    const std::size_t length = rest[6] | (std::size_t{rest[7]} << 8);
    if (type != kMmsFrameData && type != kMmsFrameHeader && type != kMmsFrameData2) {
        item.kind = MmsItem::Kind::Error;
        item.error = fillPrintfFields(builtinString(kStrMmsUnknownHeaderType), {hexText(type), hexText(flags)});
        return item;
    }
    if (length <= kMmsFrameHeaderSize) {
        item.kind = MmsItem::Kind::Error;
        item.error = fillPrintfFields(builtinString(kStrMmsIllegalChunkLength), {std::to_string(length)});
        return item;
    }
    if (rest.size() < length)
        return item;
    item.kind = MmsItem::Kind::Frame;
    item.location = get32(rest, 0);
    item.type = type;
    item.flags = flags;
    item.payload.assign(rest.begin() + kMmsFrameHeaderSize, rest.begin() + static_cast<std::ptrdiff_t>(length));
    m_start += length;
    return item;
}

std::optional<MmsServerError> MmsErrorFor(uint32_t result)
{
    if ((result & 0x80000000u) == 0)
        return std::nullopt;
    struct Entry {
        uint32_t code;
        uint32_t text;
        bool refused;
    };
    static constexpr std::array<Entry, 9> kTable = {{
        {0x8000FFFF, kStrMmsFileFailedToOpen, false},
        {0x80070005, kStrMmsNoAccess, true},
        {0x80070057, kStrMmsBadParameter, false},
        {0xC00D000E, kStrMmsNetworkBusy, false},
        {0xC00D000F, kStrMmsTooManySessions, false},
        {0xC00D0013, kStrMmsNoTimelyResponse, false},
        {0xC00D001A, kStrMmsFileNotFound, true},
        {0xC00D0029, kStrMmsNetworkFailed, false},
        {0xC00D0034, kStrMmsNoMoreData, false},
    }};
    for (const Entry& entry : kTable) {
        if (entry.code == result)
            return MmsServerError{builtinText(entry.text), entry.refused};
    }
    return MmsServerError{fillPrintfFields(builtinString(kStrMmsUnknownErrorCode), {hexText(result)}), false};
}

std::string FormatMmsTime(uint64_t milliseconds)
{
    const uint64_t ms = milliseconds % 1000;
    uint64_t seconds = milliseconds / 1000;
    const uint64_t days = seconds / 86400;
    seconds %= 86400;
    const uint64_t hours = seconds / 3600;
    seconds %= 3600;
    const uint64_t minutes = seconds / 60;
    seconds %= 60;
    char text[64];
    const auto d = static_cast<unsigned long long>(days);
    const auto h = static_cast<unsigned long long>(hours);
    const auto m = static_cast<unsigned long long>(minutes);
    const auto s = static_cast<unsigned long long>(seconds);
    const auto f = static_cast<unsigned long long>(ms);
    if (days > 0)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu:%02llu.%03llu", d, h, m, s, f);
    else if (hours > 0)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%03llu", h, m, s, f);
    else if (minutes > 0)
        std::snprintf(text, sizeof text, "%llu:%02llu.%03llu", m, s, f);
    else
        std::snprintf(text, sizeof text, "%llu.%03llu", s, f);
    return text;
}

}  // namespace fetchora
