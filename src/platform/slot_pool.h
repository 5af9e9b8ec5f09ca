#pragma once
// Fixed-size slots carved from large blocks, for objects made by the
// hundred thousand (the job records of a large database). Against one heap
// block each this saves the allocator's per-block header and, since the
// blocks are asked to be backed by huge pages, most of the page faults,
// which were half of a large database's open.
//
// Freed slots are reused by later allocations; the blocks themselves stay
// with the process. A sanitizer build hands every slot to the global
// operator new instead, so that use after free is still found per object.
//
// Thread: any; allocation and release take the pool's mutex.
#include <cstddef>
#include <mutex>

namespace fetchora {

class SlotPool {
public:
    // Slots are slotSize rounded up to the alignment (a power of two; never
    // below a pointer's): a record of 312 bytes aligned to 8 takes 312, not
    // the 320 of the heap's own alignment.
    explicit SlotPool(size_t slotSize, size_t alignment = alignof(std::max_align_t));
    SlotPool(const SlotPool&) = delete;
    SlotPool& operator=(const SlotPool&) = delete;
    // The blocks are kept: a pool is meant to live as long as the process.
    ~SlotPool() = default;

    size_t slotSize() const { return m_slotSize; }
    // Throws std::bad_alloc when no memory is left.
    void* allocate();
    void release(void* slot) noexcept;

private:
    struct FreeSlot {
        FreeSlot* next;
    };
    void addBlock();

    const size_t m_slotSize;
    std::mutex m_mutex;
    FreeSlot* m_free = nullptr;
    char* m_next = nullptr;  // the unused rest of the newest block
    char* m_end = nullptr;
    size_t m_blocks = 0;
};

}  // namespace fetchora
