#include "model/completed_range_list.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>

namespace fetchora {

static_assert(std::is_trivially_copyable_v<CompletedRange>, "ranges are moved as bytes");

CompletedRangeList& CompletedRangeList::operator=(const CompletedRangeList& other)
{
    if (this != &other)
        assign(other);
    return *this;
}

CompletedRangeList& CompletedRangeList::operator=(CompletedRangeList&& other) noexcept
{
    if (this != &other) {
        clear();
        m_block = other.m_block;
        other.m_block = nullptr;
    }
    return *this;
}

CompletedRangeList& CompletedRangeList::operator=(std::initializer_list<CompletedRange> ranges)
{
    assign(ranges);
    return *this;
}

void CompletedRangeList::assign(std::span<const CompletedRange> ranges)
{
    if (ranges.empty()) {
        clear();
        return;
    }
    if (capacity() < ranges.size()) {
        clear();
        regrow(ranges.size(), 0);
    }
    std::memcpy(static_cast<void*>(m_block->items()), ranges.data(), ranges.size() * sizeof(CompletedRange));
    m_block->size = static_cast<uint32_t>(ranges.size());
}

void CompletedRangeList::regrow(size_t capacity, size_t kept)
{
    if (capacity > std::numeric_limits<uint32_t>::max())
        throw std::length_error("too many completed ranges");
    void* memory = ::operator new(sizeof(Block) + capacity * sizeof(CompletedRange));
    Block* block = new (memory) Block{static_cast<uint32_t>(kept), static_cast<uint32_t>(capacity)};
    if (kept > 0)
        std::memcpy(static_cast<void*>(block->items()), m_block->items(), kept * sizeof(CompletedRange));
    clear();
    m_block = block;
}

void CompletedRangeList::reserve(size_t count)
{
    if (count > capacity())
        regrow(count, size());
}

void CompletedRangeList::push_back(const CompletedRange& range)
{
    insert(end(), range);
}

CompletedRangeList::iterator CompletedRangeList::insert(const_iterator at, const CompletedRange& range)
{
    const size_t index = static_cast<size_t>(at - begin());
    const size_t count = size();
    // Copied first: `range` may be one of this list's own entries.
    const CompletedRange item = range;
    if (count == capacity())
        regrow(std::max<size_t>(2, count * 2), count);
    CompletedRange* items = m_block->items();
    std::memmove(static_cast<void*>(items + index + 1), items + index, (count - index) * sizeof(CompletedRange));
    items[index] = item;
    m_block->size = static_cast<uint32_t>(count + 1);
    return items + index;
}

CompletedRangeList::iterator CompletedRangeList::erase(const_iterator first, const_iterator last)
{
    const size_t from = static_cast<size_t>(first - begin());
    const size_t to = static_cast<size_t>(last - begin());
    if (from == to)
        return begin() + from;
    const size_t count = size();
    CompletedRange* items = m_block->items();
    std::memmove(static_cast<void*>(items + from), items + to, (count - to) * sizeof(CompletedRange));
    m_block->size = static_cast<uint32_t>(count - (to - from));
    return items + from;
}

void CompletedRangeList::resize(size_t count)
{
    const size_t current = size();
    if (count == 0) {
        clear();
        return;
    }
    if (count <= current) {
        m_block->size = static_cast<uint32_t>(count);
        return;
    }
    reserve(count);
    std::fill(m_block->items() + current, m_block->items() + count, CompletedRange{});
    m_block->size = static_cast<uint32_t>(count);
}

void CompletedRangeList::clear() noexcept
{
    if (!m_block)
        return;
    m_block->~Block();
    ::operator delete(static_cast<void*>(m_block));
    m_block = nullptr;
}

bool CompletedRangeList::equal(std::span<const CompletedRange> a, std::span<const CompletedRange> b) noexcept
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace fetchora
