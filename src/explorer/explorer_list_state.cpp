#include "explorer/explorer_list_state.h"

#include <algorithm>
#include <vector>

#include "config/settings_key.h"
#include "platform/registry.h"

namespace fetchora {

namespace {

constexpr size_t kArrayBytes = 4 * kExplorerColumns;

std::optional<std::array<int32_t, kExplorerColumns>> readArray(const Registry& registry, std::string_view section,
                                                               std::string_view name)
{
    const std::optional<std::vector<uint8_t>> bytes
        = registry.readBinary(Hive::CurrentUser, settingsKey(section), name);
    if (!bytes || bytes->size() < kArrayBytes)
        return std::nullopt;
    std::array<int32_t, kExplorerColumns> values{};
    for (int i = 0; i < kExplorerColumns; ++i) {
        uint32_t value = 0;
        for (int b = 3; b >= 0; --b)
            value = (value << 8) | (*bytes)[static_cast<size_t>(4 * i + b)];
        values[static_cast<size_t>(i)] = static_cast<int32_t>(value);
    }
    return values;
}

std::vector<uint8_t> arrayBytes(const std::array<int32_t, kExplorerColumns>& values)
{
    std::vector<uint8_t> bytes;
    for (const int32_t value : values) {
        for (int b = 0; b < 4; ++b)
            bytes.push_back(static_cast<uint8_t>((static_cast<uint32_t>(value) >> (8 * b)) & 0xFF));
    }
    return bytes;
}

}  // namespace

ExplorerListState readExplorerListState(const Registry& registry, std::string_view section)
{
    ExplorerListState state;
    if (const std::optional<uint32_t> style = registry.readDword(Hive::CurrentUser, settingsKey(section), "Style"))
        state.style = static_cast<ExplorerViewStyle>(*style & 3);
    state.widths = readArray(registry, section, "Width");
    if (state.widths) {
        for (int32_t& width : *state.widths)
            width = std::clamp(width, 0, 4000);
    }
    state.order = readArray(registry, section, "Order");
    if (state.order) {
        std::array<int32_t, kExplorerColumns> sorted = *state.order;
        std::sort(sorted.begin(), sorted.end());
        for (int i = 0; i < kExplorerColumns; ++i) {
            if (sorted[static_cast<size_t>(i)] != i)
                state.order.reset();
            if (!state.order)
                break;
        }
    }
    return state;
}

void writeExplorerListState(Registry& registry, std::string_view section, const ExplorerListState& state)
{
    const std::string key = settingsKey(section);
    registry.writeDword(Hive::CurrentUser, key, "Style", static_cast<uint32_t>(state.style));
    if (state.widths)
        registry.writeBinary(Hive::CurrentUser, key, "Width", arrayBytes(*state.widths));
    if (state.order)
        registry.writeBinary(Hive::CurrentUser, key, "Order", arrayBytes(*state.order));
}

}  // namespace fetchora
