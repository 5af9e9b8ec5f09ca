#pragma once
// The write cache of a job's output file: small blocks from many parts are
// gathered in one buffer and written out together.
//
// Record layout in the buffer: position (signed 64-bit), length (unsigned
// 32-bit), then `length` bytes of data; records follow each other with
// nothing between them. Both numbers are in the machine's byte order.
//
// Thread: loop thread, under the job lock. Owned by the job's OutputFile.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "model/completed_range.h"

namespace fetchora {

class WriteCache {
public:
    static constexpr size_t kRecordHeaderSize = 12;
    // Room that must stay free beyond a block before it is cached.
    static constexpr size_t kRoomSlack = 20;
    // "BufferSize" is in KB; each KB of it is given room for its record header.
    static constexpr size_t kBytesPerBufferKb = 1032;

    explicit WriteCache(size_t capacity);

    size_t capacity() const { return m_capacity; }
    size_t used() const { return m_buffer.size(); }
    bool empty() const { return m_buffer.empty(); }
    bool hasRoomFor(size_t length) const;

    // Appends a record; false (nothing appended) without room for it.
    bool append(int64_t position, std::span<const uint8_t> data);

    // Hands every record in the order it was added to `write`. Records
    // written are dropped; at the first refusal the drain stops and that
    // record and the ones after it stay cached. True when the cache is empty.
    bool drain(const std::function<bool(int64_t position, std::span<const uint8_t> data)>& write);

    // [position, position + length) of each record still cached.
    std::vector<CompletedRange> pendingRanges() const;

    void clear() { m_buffer.clear(); }
    std::span<const uint8_t> bytes() const { return m_buffer; }

private:
    size_t m_capacity;
    std::vector<uint8_t> m_buffer;
};

}  // namespace fetchora
