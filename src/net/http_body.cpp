#include "net/http_body.h"

#include <algorithm>
#include <cstring>

#include "net/net_texts.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

// 15 hexadecimal digits stay below 2^60: no chunk size can overflow.
constexpr int kMaxChunkSizeDigits = 15;

std::string printable(std::string_view text)
{
    std::string out;
    for (char c : text.substr(0, 64)) {
        const auto byte = static_cast<unsigned char>(c);
        out.push_back(byte < 0x20 || byte >= 0x7F ? '?' : c);
    }
    return out;
}

}  // namespace

bool ChunkedDecoder::takeSizeLine()
{
    std::string_view line = m_line;
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    int64_t size = 0;
    int digits = 0;
    bool seen = false;
    for (char c : line) {
        if (c == ' ' || c == '\t')
            continue;
        if (c == ';')
            break;  // a chunk extension: nothing we use
        const int value = hexDigitValue(c);
        if (value < 0) {
            m_error = builtinText(kStrHttpBadChunkSize, {printable(line)});
            return false;
        }
        seen = true;
        if (size != 0 || value != 0)
            ++digits;
        if (digits > kMaxChunkSizeDigits) {
            m_error = builtinText(kStrHttpChunkSizeTooLarge, {printable(line)});
            return false;
        }
        size = size * 16 + value;
    }
    if (!seen) {
        m_error = builtinText(kStrHttpChunkWithoutSize, {printable(line)});
        return false;
    }
    m_left = size;
    m_state = size == 0 ? State::Done : State::Data;
    return true;
}

std::optional<std::size_t> ChunkedDecoder::decode(std::span<uint8_t> bytes)
{
    std::size_t read = 0;
    std::size_t written = 0;
    while (read < bytes.size() && m_state != State::Done) {
        switch (m_state) {
        case State::SizeLine: {
            const auto* begin = bytes.data() + read;
            const auto* newline = static_cast<const uint8_t*>(std::memchr(begin, '\n', bytes.size() - read));
            const std::size_t count = newline ? static_cast<std::size_t>(newline - begin) : bytes.size() - read;
            if (m_line.size() + count > kMaxChunkLineLength) {
                m_error = builtinText(kStrHttpChunkLineTooLong, {std::to_string(kMaxChunkLineLength)});
                return std::nullopt;
            }
            m_line.append(reinterpret_cast<const char*>(begin), count);
            read += count;
            if (!newline)
                break;
            ++read;
            if (!takeSizeLine())
                return std::nullopt;
            m_line.clear();
            break;
        }
        case State::Data: {
            const auto count
                = static_cast<std::size_t>(std::min<int64_t>(m_left, static_cast<int64_t>(bytes.size() - read)));
            std::memmove(bytes.data() + written, bytes.data() + read, count);
            written += count;
            read += count;
            m_left -= static_cast<int64_t>(count);
            if (m_left == 0)
                m_state = State::DataEnd;
            break;
        }
        case State::DataEnd:
            // The CR LF after a chunk's data; a server that leaves it out
            // goes straight on with the next size line.
            if (bytes[read] == '\r') {
                ++read;
            } else {
                if (bytes[read] == '\n')
                    ++read;
                m_state = State::SizeLine;
            }
            break;
        case State::Done: break;
        }
    }
    return written;
}

HoldBack::HoldBack(std::size_t amount) : m_amount(amount), m_bytes(amount)
{
}

WriteResult HoldBack::push(std::span<const uint8_t> block,
                           const std::function<WriteResult(std::span<const uint8_t>)>& sink)
{
    if (m_amount == 0)
        return block.empty() ? WriteResult::Continue : sink(block);
    const std::size_t total = m_fill + block.size();
    if (total <= m_amount) {
        std::memcpy(m_bytes.data() + m_fill, block.data(), block.size());
        m_fill = total;
        return WriteResult::Continue;
    }
    std::size_t excess = total - m_amount;
    // First the oldest held bytes, then the front of the new block.
    const std::size_t fromHeld = std::min(excess, m_fill);
    if (fromHeld > 0) {
        const WriteResult result = sink({m_bytes.data(), fromHeld});
        if (result != WriteResult::Continue) {
            m_fill = 0;
            return result;
        }
        std::memmove(m_bytes.data(), m_bytes.data() + fromHeld, m_fill - fromHeld);
        m_fill -= fromHeld;
        excess -= fromHeld;
    }
    if (excess > 0) {
        const WriteResult result = sink(block.first(excess));
        if (result != WriteResult::Continue) {
            m_fill = 0;
            return result;
        }
        block = block.subspan(excess);
    }
    std::memcpy(m_bytes.data() + m_fill, block.data(), block.size());
    m_fill += block.size();
    return WriteResult::Continue;
}

WriteResult HoldBack::flush(const std::function<WriteResult(std::span<const uint8_t>)>& sink)
{
    if (m_fill == 0)
        return WriteResult::Continue;
    const WriteResult result = sink({m_bytes.data(), m_fill});
    m_fill = 0;
    return result;
}

HttpBodyReader::HttpBodyReader(const BodySetup& setup)
    : m_start(setup.offset),
      m_offset(setup.offset),
      m_end(setup.end),
      m_chunked(setup.chunked),
      m_holdBack(setup.holdBack)
{
}

BodyStatus HttpBodyReader::statusOf(WriteResult result)
{
    switch (result) {
    case WriteResult::Continue: return BodyStatus::Continue;
    case WriteResult::Reconnect: return BodyStatus::Reconnect;
    case WriteResult::Stop: break;
    }
    return BodyStatus::Stop;
}

WriteResult HttpBodyReader::handOver(std::span<const uint8_t> block, const BodySink& sink)
{
    const WriteResult result = sink(m_offset, block);
    if (result == WriteResult::Continue) {
        m_offset += static_cast<int64_t>(block.size());
        m_accepted = true;
    }
    return result;
}

BodyStatus HttpBodyReader::take(std::span<uint8_t> bytes, const BodySink& sink)
{
    if (complete())
        return BodyStatus::Continue;
    std::size_t count = bytes.size();
    if (m_chunked) {
        const std::optional<std::size_t> decoded = m_decoder.decode(bytes);
        if (!decoded) {
            m_error = m_decoder.error();
            return BodyStatus::Error;
        }
        count = *decoded;
    }
    if (m_end) {
        const int64_t room = std::max<int64_t>(*m_end - reached(), 0);
        count = static_cast<std::size_t>(std::min<int64_t>(room, static_cast<int64_t>(count)));
    }
    if (count == 0)
        return BodyStatus::Continue;
    return statusOf(
        m_holdBack.push(bytes.first(count), [&](std::span<const uint8_t> block) { return handOver(block, sink); }));
}

BodyStatus HttpBodyReader::flush(const BodySink& sink)
{
    return statusOf(m_holdBack.flush([&](std::span<const uint8_t> block) { return handOver(block, sink); }));
}

bool HttpBodyReader::complete() const
{
    if (m_chunked && m_decoder.ended())
        return true;
    return m_end && reached() >= *m_end;
}

BodyEndDecision decideBodyEnd(const HttpBodyReader& body, int64_t knownSize)
{
    if (body.chunked() && !body.complete())
        return {BodyEnd::Short, builtinText(kStrHttpClosedInsideChunks)};
    if (body.end() && !body.complete()) {
        return {BodyEnd::Short,
                builtinText(kStrHttpClosedAfterBytes, {std::to_string(body.reached() - body.startOffset()),
                                                   std::to_string(*body.end() - body.startOffset())})};
    }
    if (knownSize < 0)
        return {BodyEnd::HandOverAndDone, {}};
    if (body.reached() >= knownSize - 1)
        return {BodyEnd::HandOverRest, {}};
    return {BodyEnd::Short,
            builtinText(kStrHttpClosedAtByte, {std::to_string(body.reached()), std::to_string(knownSize)})};
}

}  // namespace fetchora
