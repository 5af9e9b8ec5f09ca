#pragma once
// The reason of a failed system call (an errno value) as a user is told it:
// the common causes of file and folder failures in the current language, any
// other in the C library's words.
//
// Thread: any; see lang/string_table.h.
#include <cstdint>
#include <string>

namespace fetchora {

inline constexpr uint32_t kStrErrnoIsFolder = 41487;
inline constexpr uint32_t kStrErrnoTooManyOpen = 41488;
inline constexpr uint32_t kStrErrnoNoSpace = 41491;
inline constexpr uint32_t kStrErrnoPermission = 41492;
inline constexpr uint32_t kStrErrnoReadOnly = 41493;
inline constexpr uint32_t kStrErrnoNotFolder = 41494;
inline constexpr uint32_t kStrErrnoNotFound = 41495;
inline constexpr uint32_t kStrErrnoQuota = 41496;
inline constexpr uint32_t kStrErrnoInputOutput = 41497;
inline constexpr uint32_t kStrErrnoNameTooLong = 41498;
inline constexpr uint32_t kStrErrnoExists = 41499;

std::string systemErrorText(int error);

}  // namespace fetchora
