#include "platform/slot_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

namespace fetchora {
namespace {

TEST(SlotPool, SlotsAreRoundedToTheAlignmentAsked)
{
    EXPECT_EQ(SlotPool(312, 8).slotSize(), 312u);
    EXPECT_EQ(SlotPool(313, 8).slotSize(), 320u);
    EXPECT_EQ(SlotPool(312).slotSize(), 320u) << "by default the heap's own alignment";
    EXPECT_EQ(SlotPool(100, 64).slotSize(), 128u);
    EXPECT_EQ(SlotPool(1, 1).slotSize(), sizeof(void*)) << "a slot holds at least the free list's link";
}

TEST(SlotPool, SlotsAreAlignedSeparateAndReusable)
{
    // Enough slots to span the small first blocks and reach a huge-page one.
    constexpr size_t kSlots = 20000;
    SlotPool pool(312, 8);
    std::vector<char*> slots;
    for (size_t i = 0; i < kSlots; ++i) {
        auto* slot = static_cast<char*>(pool.allocate());
        ASSERT_EQ(reinterpret_cast<uintptr_t>(slot) % 8, 0u);
        std::memset(slot, static_cast<int>(i & 0xFF), 312);
        slots.push_back(slot);
    }
    // No slot overlaps another: each still holds its own pattern.
    for (size_t i = 0; i < kSlots; ++i) {
        ASSERT_EQ(static_cast<unsigned char>(slots[i][0]), i & 0xFF) << i;
        ASSERT_EQ(static_cast<unsigned char>(slots[i][311]), i & 0xFF) << i;
    }
    EXPECT_EQ(std::set<char*>(slots.begin(), slots.end()).size(), kSlots);
    for (char* slot : slots)
        pool.release(slot);
    pool.release(nullptr);  // like delete of a null pointer
    for (size_t i = 0; i < 100; ++i) {
        auto* slot = static_cast<char*>(pool.allocate());
        std::memset(slot, 0, 312);
        pool.release(slot);
    }
}

}  // namespace
}  // namespace fetchora
