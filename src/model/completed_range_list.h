#pragma once
// A job's completed ranges, kept as one pointer: most records of a large
// database have none, and a vector would cost three pointers in each of them.
// The ranges live in one heap block behind a small header (count and room);
// an empty list holds no block at all. The interface is the part of a vector
// the range bookkeeping, the database file and the views use, so callers read
// it like the vector it replaces.
//
// Thread: like the record that holds it, used by one thread at a time.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "model/completed_range.h"

namespace fetchora {

class CompletedRangeList {
public:
    using value_type = CompletedRange;
    using size_type = size_t;
    using iterator = CompletedRange*;
    using const_iterator = const CompletedRange*;

    CompletedRangeList() noexcept = default;
    CompletedRangeList(std::initializer_list<CompletedRange> ranges) { assign(ranges); }
    explicit CompletedRangeList(std::span<const CompletedRange> ranges) { assign(ranges); }
    CompletedRangeList(const CompletedRangeList& other) { assign(other); }
    CompletedRangeList(CompletedRangeList&& other) noexcept : m_block(other.m_block) { other.m_block = nullptr; }
    ~CompletedRangeList() { clear(); }

    CompletedRangeList& operator=(const CompletedRangeList& other);
    CompletedRangeList& operator=(CompletedRangeList&& other) noexcept;
    CompletedRangeList& operator=(std::initializer_list<CompletedRange> ranges);
    // Replaces the contents by a copy of `ranges` (which may not lie inside this list).
    void assign(std::span<const CompletedRange> ranges);

    size_t size() const noexcept { return m_block ? m_block->size : 0; }
    size_t capacity() const noexcept { return m_block ? m_block->capacity : 0; }
    bool empty() const noexcept { return size() == 0; }
    CompletedRange* data() noexcept { return m_block ? m_block->items() : nullptr; }
    const CompletedRange* data() const noexcept { return m_block ? m_block->items() : nullptr; }
    iterator begin() noexcept { return data(); }
    iterator end() noexcept { return data() + size(); }
    const_iterator begin() const noexcept { return data(); }
    const_iterator end() const noexcept { return data() + size(); }
    CompletedRange& operator[](size_t index) noexcept { return data()[index]; }
    const CompletedRange& operator[](size_t index) const noexcept { return data()[index]; }
    CompletedRange& front() noexcept { return data()[0]; }
    const CompletedRange& front() const noexcept { return data()[0]; }
    CompletedRange& back() noexcept { return data()[size() - 1]; }
    const CompletedRange& back() const noexcept { return data()[size() - 1]; }

    // Room for `count` ranges without a new block; never shrinks.
    void reserve(size_t count);
    void push_back(const CompletedRange& range);
    iterator insert(const_iterator at, const CompletedRange& range);
    iterator erase(const_iterator at) { return erase(at, at + 1); }
    iterator erase(const_iterator first, const_iterator last);
    // Shrinking keeps the block; growing adds empty ranges.
    void resize(size_t count);
    // Frees the block: an emptied job costs one pointer again.
    void clear() noexcept;

    friend bool operator==(const CompletedRangeList& a, const CompletedRangeList& b) noexcept { return equal(a, b); }
    friend bool operator==(const CompletedRangeList& a, std::span<const CompletedRange> b) noexcept
    {
        return equal(a, b);
    }

private:
    struct Block {
        uint32_t size;
        uint32_t capacity;
        CompletedRange* items() noexcept { return reinterpret_cast<CompletedRange*>(this + 1); }
        const CompletedRange* items() const noexcept { return reinterpret_cast<const CompletedRange*>(this + 1); }
    };
    static_assert(sizeof(Block) % alignof(CompletedRange) == 0, "the ranges follow the header unpadded");

    static bool equal(std::span<const CompletedRange> a, std::span<const CompletedRange> b) noexcept;
    // A block with room for `capacity` ranges holding the first `kept` of the current ones.
    void regrow(size_t capacity, size_t kept);

    Block* m_block = nullptr;  // none while empty
};

}  // namespace fetchora
