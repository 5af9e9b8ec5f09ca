#pragma once
// The job list's two column sets (set 1 while the "Download" category is
// open, set 2 for every other category) and the view's layout flags, as the
// settings store keeps them.
//
// Stored form, section "MLStatus": "Show<n>" is REG_BINARY with 15 32-bit
// little-endian column widths in logical column order (0 = hidden);
// "Order<n>" is REG_BINARY with 15 16-bit little-endian display positions,
// one per logical column. Longer values are accepted and the bytes past
// those are ignored.
//
// A stored set is used only when both values are present and sound:
// - "Show" at least 60 bytes and "Order" at least 30 bytes;
// - every width at most kMaxColumnWidth, and not every column hidden (a list
//   without a visible column could not be got back from the view);
// - the positions are a permutation of 0..14 (each exactly once).
// Anything else gives the built-in default of that set; the other set is
// read on its own.
//
// Thread: loop thread (the settings store is not thread-safe).
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "shell/job_list_cells.h"

namespace fetchora {

class Registry;

inline constexpr uint32_t kMaxColumnWidth = 10000;

struct ColumnSet {
    std::array<uint32_t, kJobColumnCount> widths{};  // 0: hidden
    std::array<uint16_t, kJobColumnCount> positions{};  // display position per logical column

    bool visible(JobColumn column) const { return widths[columnIndex(column)] != 0; }
    // The visible logical columns from left to right.
    std::vector<JobColumn> visibleColumns() const;
    bool operator==(const ColumnSet&) const = default;
};

// The built-in sets, in the natural column order.
// Set 1 (the queue) shows the progress columns: Status 20, Resume 20,
// Name 180, Size 80, Completed 80, Percent 50, Elapsed 65, Left 65, Speed 60,
// Num 40, Retry 40, URL 250; Comment and the two times hidden.
// Set 2 (finished jobs) hides the run columns: Status 20, Resume 20,
// Name 200, Size 80, URL 250, Comment 150, Create Time 130, Complete Time 130.
ColumnSet defaultColumnSet(int setNumber);

// The byte forms of the two values.
std::vector<uint8_t> encodeColumnWidths(const ColumnSet& set);
std::vector<uint8_t> encodeColumnPositions(const ColumnSet& set);
// The set the two values describe; none when either is short or garbled (see
// above).
std::optional<ColumnSet> decodeColumnSet(std::span<const uint8_t> show, std::span<const uint8_t> order);

// setNumber is 1 or 2; any other number is treated as 2.
ColumnSet loadColumnSet(const Registry& registry, int setNumber);
void saveColumnSet(Registry& registry, int setNumber, const ColumnSet& set);

// "Main Menu" "Flags" (DWORD, default 2): bit 1 detailVisible, bit 0 a second
// layout flag that has no command of its own. Every bit the view does not
// use is written back as it was read.
struct ViewLayoutFlags {
    uint32_t raw = 2;
    bool detailVisible() const { return (raw & 0x2) != 0; }
    bool secondFlag() const { return (raw & 0x1) != 0; }
    void setDetailVisible(bool on) { raw = on ? raw | 0x2 : raw & ~0x2u; }
};
ViewLayoutFlags loadViewLayoutFlags(const Registry& registry);
void saveViewLayoutFlags(Registry& registry, const ViewLayoutFlags& flags);

}  // namespace fetchora
