#pragma once
// The stored state of an explorer window's entry list, in the section
// "Explore List" (site explorer) or "Offline List" (offline browser):
// "Style" (the view style in its low two bits), "Width" and "Order" (seven
// 32-bit values each, 28 bytes; "Order" only counts when all 28 bytes are
// there and it is a permutation of the seven columns).
//
// Thread: the GUI thread. Borrows the registry.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace fetchora {

class Registry;

inline constexpr std::string_view kExploreListSection = "Explore List";
inline constexpr std::string_view kOfflineListSection = "Offline List";
inline constexpr int kExplorerColumns = 7;

enum class ExplorerViewStyle { LargeIcons = 0, SmallIcons = 1, List = 2, Details = 3 };

struct ExplorerListState {
    ExplorerViewStyle style = ExplorerViewStyle::Details;
    std::optional<std::array<int32_t, kExplorerColumns>> widths;
    std::optional<std::array<int32_t, kExplorerColumns>> order;
};

ExplorerListState readExplorerListState(const Registry& registry, std::string_view section);
void writeExplorerListState(Registry& registry, std::string_view section, const ExplorerListState& state);

}  // namespace fetchora
