#include "platform/slot_pool.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include <sys/mman.h>

namespace fetchora {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kPooled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif
#else
constexpr bool kPooled = true;
#endif

constexpr size_t kHugePage = size_t{2} << 20;
// A process with a few records should not pay for a huge page: the first
// blocks are small, later ones are huge pages.
constexpr size_t kFirstBlock = size_t{64} << 10;

}  // namespace

namespace {

size_t roundedSlotSize(size_t slotSize, size_t alignment)
{
    alignment = std::max(alignment, alignof(void*));
    return std::max((slotSize + alignment - 1) & ~(alignment - 1), sizeof(void*));
}

}  // namespace

SlotPool::SlotPool(size_t slotSize, size_t alignment) : m_slotSize(roundedSlotSize(slotSize, alignment)) { }

void* SlotPool::allocate()
{
    if (!kPooled)
        return ::operator new(m_slotSize);
    std::lock_guard lock(m_mutex);
    if (m_free) {
        FreeSlot* slot = m_free;
        m_free = slot->next;
        return slot;
    }
    if (static_cast<size_t>(m_end - m_next) < m_slotSize)
        addBlock();
    void* slot = m_next;
    m_next += m_slotSize;
    return slot;
}

void SlotPool::release(void* slot) noexcept
{
    if (!slot)
        return;
    if (!kPooled) {
        ::operator delete(slot);
        return;
    }
    std::lock_guard lock(m_mutex);
    auto* freed = static_cast<FreeSlot*>(slot);
    freed->next = m_free;
    m_free = freed;
}

void SlotPool::addBlock()
{
    // 64 KiB, 128, 256, ... up to 2 MiB, then 2 MiB blocks on huge-page
    // boundaries. Whatever is left of the previous block is given up; it is
    // smaller than one slot.
    const size_t size = std::min(kFirstBlock << std::min<size_t>(m_blocks, 5), kHugePage);
    void* block = MAP_FAILED;
    if (size == kHugePage) {
        // Map one huge page more and trim, so that the block starts on a
        // huge-page boundary.
        void* wide = ::mmap(nullptr, 2 * kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (wide != MAP_FAILED) {
            char* start = static_cast<char*>(wide);
            char* aligned = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(start) + kHugePage - 1)
                                                    & ~(kHugePage - 1));
            if (aligned > start)
                ::munmap(start, static_cast<size_t>(aligned - start));
            char* end = aligned + kHugePage;
            if (start + 2 * kHugePage > end)
                ::munmap(end, static_cast<size_t>(start + 2 * kHugePage - end));
            ::madvise(aligned, kHugePage, MADV_HUGEPAGE);
            block = aligned;
        }
    } else {
        block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    }
    if (block == MAP_FAILED)
        throw std::bad_alloc();
    ++m_blocks;
    m_next = static_cast<char*>(block);
    m_end = m_next + size;
}

}  // namespace fetchora
