#include "shell/column_sets.h"

#include <algorithm>
#include <string>

#include "config/settings_key.h"
#include "platform/registry.h"

namespace fetchora {
namespace {

constexpr std::string_view kColumnSection = "MLStatus";
constexpr std::string_view kMenuSection = "Main Menu";
constexpr size_t kShowBytes = kJobColumnCount * 4;
constexpr size_t kOrderBytes = kJobColumnCount * 2;

//                                              St  Re  Name Size Comp Pct Ela Left Spd Num Rty URL  Cmt  CrT  CoT
constexpr std::array<uint32_t, 15> kQueueWidths = {20, 20, 180, 80, 80, 50, 65, 65, 60, 40, 40, 250, 0, 0, 0};
constexpr std::array<uint32_t, 15> kFinishedWidths = {20, 20, 200, 80, 0, 0, 0, 0, 0, 0, 0, 250, 150, 130, 130};

std::string valueName(std::string_view prefix, int setNumber)
{
    return std::string(prefix) + (setNumber == 1 ? "1" : "2");
}

}  // namespace

std::vector<JobColumn> ColumnSet::visibleColumns() const
{
    std::vector<JobColumn> columns;
    for (size_t i = 0; i < kJobColumnCount; ++i) {
        if (widths[i] != 0)
            columns.push_back(static_cast<JobColumn>(i));
    }
    std::stable_sort(columns.begin(), columns.end(), [this](JobColumn a, JobColumn b) {
        return positions[columnIndex(a)] < positions[columnIndex(b)];
    });
    return columns;
}

ColumnSet defaultColumnSet(int setNumber)
{
    ColumnSet set;
    set.widths = setNumber == 1 ? kQueueWidths : kFinishedWidths;
    for (size_t i = 0; i < kJobColumnCount; ++i)
        set.positions[i] = static_cast<uint16_t>(i);
    return set;
}

std::vector<uint8_t> encodeColumnWidths(const ColumnSet& set)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(kShowBytes);
    for (uint32_t width : set.widths) {
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<uint8_t>(width >> shift));
    }
    return bytes;
}

std::vector<uint8_t> encodeColumnPositions(const ColumnSet& set)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(kOrderBytes);
    for (uint16_t position : set.positions) {
        bytes.push_back(static_cast<uint8_t>(position));
        bytes.push_back(static_cast<uint8_t>(position >> 8));
    }
    return bytes;
}

std::optional<ColumnSet> decodeColumnSet(std::span<const uint8_t> show, std::span<const uint8_t> order)
{
    if (show.size() < kShowBytes || order.size() < kOrderBytes)
        return std::nullopt;
    ColumnSet set;
    bool anyVisible = false;
    for (size_t i = 0; i < kJobColumnCount; ++i) {
        const uint32_t width = static_cast<uint32_t>(show[i * 4]) | static_cast<uint32_t>(show[i * 4 + 1]) << 8
            | static_cast<uint32_t>(show[i * 4 + 2]) << 16 | static_cast<uint32_t>(show[i * 4 + 3]) << 24;
        if (width > kMaxColumnWidth)
            return std::nullopt;
        anyVisible = anyVisible || width != 0;
        set.widths[i] = width;
    }
    if (!anyVisible)
        return std::nullopt;
    std::array<bool, kJobColumnCount> taken{};
    for (size_t i = 0; i < kJobColumnCount; ++i) {
        const uint16_t position = static_cast<uint16_t>(order[i * 2] | order[i * 2 + 1] << 8);
        if (position >= kJobColumnCount || taken[position])
            return std::nullopt;
        taken[position] = true;
        set.positions[i] = position;
    }
    return set;
}

ColumnSet loadColumnSet(const Registry& registry, int setNumber)
{
    const std::string key = settingsKey(kColumnSection);
    const auto show = registry.readBinary(Hive::CurrentUser, key, valueName("Show", setNumber));
    const auto order = registry.readBinary(Hive::CurrentUser, key, valueName("Order", setNumber));
    if (show && order) {
        if (auto set = decodeColumnSet(*show, *order))
            return *set;
    }
    return defaultColumnSet(setNumber);
}

void saveColumnSet(Registry& registry, int setNumber, const ColumnSet& set)
{
    const std::string key = settingsKey(kColumnSection);
    registry.writeBinary(Hive::CurrentUser, key, valueName("Show", setNumber), encodeColumnWidths(set));
    registry.writeBinary(Hive::CurrentUser, key, valueName("Order", setNumber), encodeColumnPositions(set));
}

ViewLayoutFlags loadViewLayoutFlags(const Registry& registry)
{
    ViewLayoutFlags flags;
    if (auto raw = registry.readDword(Hive::CurrentUser, settingsKey(kMenuSection), "Flags"))
        flags.raw = *raw;
    return flags;
}

void saveViewLayoutFlags(Registry& registry, const ViewLayoutFlags& flags)
{
    registry.writeDword(Hive::CurrentUser, settingsKey(kMenuSection), "Flags", flags.raw);
}

}  // namespace fetchora
