#pragma once
// The save folders the user chose lately, newest first, kept as "Recent1",
// "Recent2", ... under "SelFolder_Dlg" for the folder boxes of the job sheet;
// and the same kind of list for any other dialog that remembers its entries
// (the search texts of "Find" as "List1", "List2", ...).
//
// Thread: loop thread. Borrows the store during each call.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

class Registry;

inline constexpr std::string_view kFolderHistorySection = "SelFolder_Dlg";
inline constexpr size_t kFolderHistorySize = 10;

// A remembered list: section below the settings root, the value names'
// prefix (followed by 1, 2, ...) and the most entries kept.
struct RecentList {
    std::string_view section;
    std::string_view prefix;
    size_t size = 10;
};

// The stored entries in order; an empty or missing entry ends the list and
// repeated entries are shown once.
std::vector<std::string> ReadRecentList(const Registry& registry, const RecentList& list);
// Puts entry first (moving it up when it is already listed), keeps at most
// list.size entries and writes the list back. Empty entries are not kept.
void RememberInRecentList(Registry& registry, const RecentList& list, std::string_view entry);

// The stored folders in order; an empty or missing entry ends the list.
std::vector<std::string> ReadFolderHistory(const Registry& registry);

// Puts folder first (moving it up when it is already listed), keeps at most
// kFolderHistorySize entries and writes the list back. Empty folders are not
// remembered.
void RememberFolder(Registry& registry, std::string_view folder);

}  // namespace fetchora
