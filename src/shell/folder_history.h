#pragma once
// The save folders the user chose lately, newest first, kept as "Recent1",
// "Recent2", ... under "SelFolder_Dlg" for the folder boxes of the job sheet.
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

// The stored folders in order; an empty or missing entry ends the list.
std::vector<std::string> ReadFolderHistory(const Registry& registry);

// Puts folder first (moving it up when it is already listed), keeps at most
// kFolderHistorySize entries and writes the list back. Empty folders are not
// remembered.
void RememberFolder(Registry& registry, std::string_view folder);

}  // namespace fetchora
