#pragma once
// What the "Find" dialog remembers between runs: "Find" "Flags" (default
// 1027) holds the fields searched, "List1", "List2", ... the texts searched
// lately, newest first.
//
// Flag bits: 0x1 the name, 0x2 the URL, 0x4 the comment. Other bits are kept
// as stored, so a value written by a later version survives.
//
// Thread: loop thread. Borrows the store during each call.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "shell/folder_history.h"
#include "shell/user_prompts.h"

namespace fetchora {

inline constexpr std::string_view kFindSection = "Find";
inline constexpr uint32_t kFindDefaultFlags = 1027;
inline constexpr uint32_t kFindByName = 0x1;
inline constexpr uint32_t kFindByUrl = 0x2;
inline constexpr uint32_t kFindByComment = 0x4;
inline constexpr RecentList kFindHistory{kFindSection, "List", 20};

// The stored flags, or the default when there are none.
uint32_t ReadFindFlags(const Registry& registry);
// The fields of request as the flags say.
void ApplyFindFlags(uint32_t flags, FindRequest& request);
// The texts searched lately, newest first.
std::vector<std::string> ReadFindHistory(const Registry& registry);
// After a search: its fields go to "Flags" and its text to the front of the
// history (an empty text only stores the fields).
void RememberFind(Registry& registry, const FindRequest& request);

}  // namespace fetchora
