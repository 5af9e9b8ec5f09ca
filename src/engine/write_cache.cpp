#include "engine/write_cache.h"

#include <cstring>
#include <limits>

namespace fetchora {

namespace {

struct RecordHeader {
    int64_t position;
    uint32_t length;
};

RecordHeader readHeader(const uint8_t* at)
{
    RecordHeader header{};
    std::memcpy(&header.position, at, sizeof header.position);
    std::memcpy(&header.length, at + sizeof header.position, sizeof header.length);
    return header;
}

}  // namespace

WriteCache::WriteCache(size_t capacity) : m_capacity(capacity)
{
    m_buffer.reserve(capacity);
}

bool WriteCache::hasRoomFor(size_t length) const
{
    return length <= std::numeric_limits<uint32_t>::max() && m_buffer.size() + length + kRoomSlack <= m_capacity;
}

bool WriteCache::append(int64_t position, std::span<const uint8_t> data)
{
    if (!hasRoomFor(data.size()))
        return false;
    const size_t at = m_buffer.size();
    const auto length = static_cast<uint32_t>(data.size());
    m_buffer.resize(at + kRecordHeaderSize + data.size());
    std::memcpy(m_buffer.data() + at, &position, sizeof position);
    std::memcpy(m_buffer.data() + at + sizeof position, &length, sizeof length);
    if (!data.empty())
        std::memcpy(m_buffer.data() + at + kRecordHeaderSize, data.data(), data.size());
    return true;
}

bool WriteCache::drain(const std::function<bool(int64_t, std::span<const uint8_t>)>& write)
{
    size_t at = 0;
    while (at < m_buffer.size()) {
        const RecordHeader header = readHeader(m_buffer.data() + at);
        const std::span<const uint8_t> data(m_buffer.data() + at + kRecordHeaderSize, header.length);
        if (!write(header.position, data)) {
            m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(at));
            return false;
        }
        at += kRecordHeaderSize + header.length;
    }
    m_buffer.clear();
    return true;
}

std::vector<CompletedRange> WriteCache::pendingRanges() const
{
    std::vector<CompletedRange> out;
    for (size_t at = 0; at < m_buffer.size();) {
        const RecordHeader header = readHeader(m_buffer.data() + at);
        out.push_back({header.position, header.position + header.length, 0, 0});
        at += kRecordHeaderSize + header.length;
    }
    return out;
}

}  // namespace fetchora
