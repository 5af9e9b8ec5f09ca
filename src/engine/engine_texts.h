#pragma once
// String ids of the failure causes the engine puts into words (a job's last
// error and its log), so that the current language reaches them.
//
// Thread: any (the ids are constants; see lang/string_table.h).
#include <cstdint>

#include "lang/string_table.h"

namespace fetchora {

inline constexpr uint32_t kStrEngineDownloadFailed = 41401;
inline constexpr uint32_t kStrEngineGaveUp = 41402;  // "%1" the cause, "%2" the retries
inline constexpr uint32_t kStrEngineTooManyRedirects = 41403;  // "%1" the limit
inline constexpr uint32_t kStrEngineRedirectUnusable = 41404;
inline constexpr uint32_t kStrEngineWholeFileNotRange = 41405;  // "%1" the byte
inline constexpr uint32_t kStrEngineStreamSizeChanged = 41406;

}  // namespace fetchora
