#include "engine/interleaved_frames.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/stream_texts.h"
#include "lang/string_table.h"

namespace fetchora {

namespace {

// Whether text begins with prefix, or is the start of it so far.
bool mayBegin(std::string_view text, std::string_view prefix)
{
    const std::size_t n = std::min(text.size(), prefix.size());
    return text.substr(0, n) == prefix.substr(0, n);
}

}  // namespace

std::size_t InterleavedLength(RtspServerKind server, uint8_t byte1, uint8_t byte2, uint8_t byte3)
{
    if (server == RtspServerKind::WindowsMedia)
        return std::size_t{byte2} * 256 + byte3;
    return ((std::size_t{byte2} + 16 * std::size_t{byte1}) % 256) * 256 + byte3;
}

void InterleavedSplitter::feed(std::span<const uint8_t> bytes)
{
    if (m_start > 0 && m_start >= m_buffer.size() / 2) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
        m_start = 0;
    }
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
}

RtspItem InterleavedSplitter::next()
{
    RtspItem item;
    const std::span<const uint8_t> rest = std::span<const uint8_t>(m_buffer).subspan(m_start);
    if (m_body > 0) {
        if (m_body > kMaxRtspBody) {
            item.kind = RtspItem::Kind::Error;
            item.text = builtinText(kStrRtspDescriptionTooLarge, {std::to_string(m_body)});
            return item;
        }
        if (rest.size() < m_body)
            return item;
        item.kind = RtspItem::Kind::Body;
        item.text.assign(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(m_body));
        m_start += m_body;
        m_body = 0;
        return item;
    }
    if (rest.empty())
        return item;
    if (rest[0] == '$') {
        if (rest.size() < 4)
            return item;
        const std::size_t length = InterleavedLength(m_server, rest[1], rest[2], rest[3]);
        if (rest.size() < 4 + length)
            return item;
        item.kind = RtspItem::Kind::Frame;
        item.channel = rest[1];
        item.payload.assign(rest.begin() + 4, rest.begin() + 4 + static_cast<std::ptrdiff_t>(length));
        m_start += 4 + length;
        return item;
    }
    const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());
    const bool answer = mayBegin(text, "RTSP/");
    const bool request = mayBegin(text, "SET");
    if (!answer && !request) {
        item.kind = RtspItem::Kind::Error;
        item.text = builtinText(kStrRtspNeitherAnswerNorFrame);
        return item;
    }
    const auto end = text.find("\r\n\r\n");
    if (end == std::string_view::npos) {
        if (text.size() > kMaxRtspHead) {
            item.kind = RtspItem::Kind::Error;
            item.text = builtinText(kStrRtspHeadTooLong, {std::to_string(kMaxRtspHead)});
        }
        return item;
    }
    if (end + 4 > kMaxRtspHead) {
        item.kind = RtspItem::Kind::Error;
        item.text = builtinText(kStrRtspHeadTooLong, {std::to_string(kMaxRtspHead)});
        return item;
    }
    item.kind = answer ? RtspItem::Kind::Answer : RtspItem::Kind::Request;
    item.text = std::string(text.substr(0, end + 4));
    m_start += end + 4;
    return item;
}

}  // namespace fetchora
