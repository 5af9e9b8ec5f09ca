#pragma once
// String ids of the texts the shell builds for the user (prompts, messages,
// dialog titles, log lines), so that the current language reaches them.
//
// Thread: any (the ids are constants; see lang/string_table.h).
#include <cstdint>

#include "lang/string_table.h"

namespace fetchora {

// Files and the job database.
inline constexpr uint32_t kStrCannotSaveDatabase = 40801;  // "Cannot save the job database: %1"
inline constexpr uint32_t kStrCheckDiskRoom = 40802;
inline constexpr uint32_t kStrCannotWrite = 40803;  // "Cannot write %1: %2"
inline constexpr uint32_t kStrCannotRename = 40804;  // "Cannot rename %1 to %2: ..."
inline constexpr uint32_t kStrCannotRefetchZip = 40805;  // "The damaged parts of %1 ..."
inline constexpr uint32_t kStrCannotStartScanner = 40806;  // "Cannot start the virus scanner %1. ..."
inline constexpr uint32_t kStrHttpsUnavailable = 40807;  // "HTTPS is unavailable: %1"
inline constexpr uint32_t kStrDiskWriteFailed = 40808;  // "Writing the file to the disk failed (%1); ..."
inline constexpr uint32_t kStrNoCategoryToExport = 40809;
inline constexpr uint32_t kStrRestoreMissingDatabase = 40810;  // "%1 is missing. Restore it ..."

// Titles of the questions the main view asks.
inline constexpr uint32_t kStrTitleOpenDatabase = 40821;
inline constexpr uint32_t kStrTitleSaveAs = 40822;
inline constexpr uint32_t kStrTitleMove = 40823;
inline constexpr uint32_t kStrMoveToCategory = 40824;
inline constexpr uint32_t kStrTitleMergeDatabase = 40825;
inline constexpr uint32_t kStrTitleExport = 40826;
inline constexpr uint32_t kStrTitleImportList = 40827;
inline constexpr uint32_t kStrTitleExportList = 40828;
inline constexpr uint32_t kStrTitleRename = 40829;
inline constexpr uint32_t kStrTitleComment = 40830;
inline constexpr uint32_t kStrTitleProperties = 40831;
inline constexpr uint32_t kStrTitleBrowseMissing = 40832;
inline constexpr uint32_t kStrTitleNewCategory = 40833;

// The zip check.
inline constexpr uint32_t kStrZipNotArchive = 40851;
inline constexpr uint32_t kStrZipEncrypted = 40852;
inline constexpr uint32_t kStrZipClean = 40853;
inline constexpr uint32_t kStrZipMemoryError = 40854;
inline constexpr uint32_t kStrZipRedownload = 40855;  // "%1" bytes, "%2" percent

// Powering off at the end of the work.
inline constexpr uint32_t kStrPoweredOff = 40861;
inline constexpr uint32_t kStrPowerOffNotPermitted = 40862;
inline constexpr uint32_t kStrPowerOffRefused = 40863;

// The site explorer's log.
inline constexpr uint32_t kStrHttpProxyForFtp = 40871;
inline constexpr uint32_t kStrNotBrowsedAddress = 40872;  // "%1" the typed text
inline constexpr uint32_t kStrListing = 40873;  // "List %1"

}  // namespace fetchora
