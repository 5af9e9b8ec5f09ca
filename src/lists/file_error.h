#pragma once
// The standard file-error texts shown when a file cannot be created, opened,
// read or written, chosen by the cause the system gave.
//
// Thread: any; pure.
#include <cstdint>
#include <filesystem>
#include <string>

namespace fetchora {

inline constexpr uint32_t kStrInvalidFileName = 61696;  // "Invalid filename."
inline constexpr uint32_t kStrFileGeneric = 61729;  // "An unknown error occurred while accessing %1."
inline constexpr uint32_t kStrFileNotFound = 61730;  // "%1 was not found."
inline constexpr uint32_t kStrFileBadPath = 61731;  // "%1 contains an incorrect path."
inline constexpr uint32_t kStrFileTooManyOpen
    = 61732;  // "%1 could not be opened because there are too many open files."
inline constexpr uint32_t kStrFileAccessDenied = 61733;  // "Access to %1 was denied."
inline constexpr uint32_t kStrFileInvalidHandle = 61734;  // "An incorrect file handle was associated with %1."

// The string id for an errno value met on this file. A missing file whose
// folder is missing too has an incorrect path rather than no file.
uint32_t FileErrorStringId(const std::filesystem::path& file, int errorNumber);
// The text of one of the ids above in the current language; empty for
// another id.
std::string FileErrorPattern(uint32_t id);
// The text with the file's name filled in.
std::string FileErrorText(const std::filesystem::path& file, int errorNumber);
// The errno an attempt to open the file for reading gives now; 0 when it opens.
int ReadErrorNumber(const std::filesystem::path& file);

}  // namespace fetchora
