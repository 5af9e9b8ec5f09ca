#pragma once
// String ids of the mirror search's failures that reach a job's log, so that
// the current language reaches them.
//
// Thread: any (the ids are constants; see lang/string_table.h).
#include <cstdint>

namespace fetchora {

inline constexpr uint32_t kStrMirrorSearchRefused = 41631;
inline constexpr uint32_t kStrMirrorSearchNoHost = 41632;
inline constexpr uint32_t kStrMirrorSearchSwitchedOff = 41633;
inline constexpr uint32_t kStrMirrorSearchNoAnswer = 41634;

}  // namespace fetchora
