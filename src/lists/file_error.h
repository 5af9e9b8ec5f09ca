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

// The list files' and merged databases' own causes: "%1" the file.
inline constexpr uint32_t kStrFileLargerThan = 41451;  // "%2" the limit in bytes
inline constexpr uint32_t kStrFileReadError = 41452;
inline constexpr uint32_t kStrFileCannotBeWritten = 41453;
// What "Create or Open file error." is followed by for a database to merge.
inline constexpr uint32_t kStrFileTooLarge = 41454;
inline constexpr uint32_t kStrFileNotDatabase = 41455;
inline constexpr uint32_t kStrFileDamagedAt = 41456;  // "%1" the damage, "%2" the byte
inline constexpr uint32_t kStrFileReasonReadError = 41457;

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
