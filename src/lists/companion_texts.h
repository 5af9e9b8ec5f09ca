#pragma once
// String ids of the causes the companion job files, the import of earlier and
// broken downloads and the export of completed files put into words, so that
// the current language reaches them.
//
// Thread: any (the ids are constants; see lang/string_table.h).
#include <cstdint>

namespace fetchora {

// A companion file that holds no usable job record.
inline constexpr uint32_t kStrCompanionCutShort = 41779;
inline constexpr uint32_t kStrCompanionNoJobRecord = 41780;
inline constexpr uint32_t kStrCompanionHoldsCategory = 41781;
inline constexpr uint32_t kStrCompanionBytesFollow = 41782;  // "%1" bytes
// "%1" the file.
inline constexpr uint32_t kStrCompanionTooLargeToRead = 41783;
inline constexpr uint32_t kStrCompanionTooLargeToStore = 41784;
inline constexpr uint32_t kStrImportNotRegularFile = 41785;

// Importing an earlier or a broken download.
inline constexpr uint32_t kStrImportNoCategory = 41786;
inline constexpr uint32_t kStrImportNotValidUrl = 41787;  // "%1" the URL
inline constexpr uint32_t kStrImportNotAdded = 41788;
inline constexpr uint32_t kStrImportNoDownloadCategory = 41789;
inline constexpr uint32_t kStrImportFileStays = 41790;  // "%1" the file, "%2" the system's reason

// Exporting completed files; "%1" the file.
inline constexpr uint32_t kStrExportAlreadyThere = 41791;

}  // namespace fetchora
