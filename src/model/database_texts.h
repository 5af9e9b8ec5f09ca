#pragma once
// String ids of why a database could not be saved or read, as the user is
// told it, so that the current language reaches them.
//
// Thread: any (the ids are constants; see lang/string_table.h).
#include <cstdint>
#include <string>

#include "model/kxd_archive.h"

namespace fetchora {

// Why a save failed: "%1" the file, "%2" the system's reason.
inline constexpr uint32_t kStrDatabaseCannotWrite = 41471;
inline constexpr uint32_t kStrDatabaseWriteFailed = 41472;  // the reason when the system gives none
inline constexpr uint32_t kStrDatabaseTextTooLong = 41473;

// Why reading a database stopped (archiveErrorText's words).
inline constexpr uint32_t kStrArchiveNoError = 41481;
inline constexpr uint32_t kStrArchiveEndOfFile = 41482;
inline constexpr uint32_t kStrArchiveBadCount = 41483;
inline constexpr uint32_t kStrArchiveBadLength = 41484;
inline constexpr uint32_t kStrArchiveBadTag = 41485;
inline constexpr uint32_t kStrArchiveUnknownError = 41486;

// archiveErrorText in the current language.
std::string shownArchiveError(ArchiveError error);

}  // namespace fetchora
