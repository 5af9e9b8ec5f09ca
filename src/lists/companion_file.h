#pragma once
// The companion information file (".kxe"): one job record in the database
// file's node form, beside a data file that was exported or is imported, so
// that another installation takes the job over with its history.
//
// Thread: loop thread. Owns the job it reads until it hands it to the caller.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "model/download_job.h"
#include "model/kxd_format.h"

namespace fetchora {

inline constexpr std::string_view kCompanionExtension = ".kxe";
// Far above any job record; a larger file is refused without reading it.
inline constexpr std::uintmax_t kCompanionFileLimit = 16u * 1024 * 1024;

// dataFile + ".kxe".
std::filesystem::path CompanionPathFor(const std::filesystem::path& dataFile);
// Whether the file's extension is "kxe" in any case; such files are never
// imported as data files.
bool IsCompanionFile(const std::filesystem::path& file);

// The file's bytes for a job.
std::string StoreCompanionJob(const DownloadJob& job);

enum class CompanionStatus {
    Missing,  // no companion file
    Empty,  // an empty file: no job
    Loaded,
    Damaged,  // unreadable, cut short, not a job, or trailing bytes
};

struct CompanionRead {
    CompanionStatus status = CompanionStatus::Missing;
    std::unique_ptr<DownloadJob> job;  // only when Loaded
    std::string error;  // for Damaged
};

// Reads the job from a file image. A loaded job is brought into a usable
// state as a database load does (ranges cleaned, Downloading back to Ready).
CompanionRead LoadCompanionJob(std::string_view bytes, const KxdLoadOptions& options);
// Reads the companion file of dataFile.
CompanionRead ReadCompanionFile(const std::filesystem::path& dataFile, const KxdLoadOptions& options);

// Writes the companion file of dataFile, replacing one that is there.
bool WriteCompanionFile(const std::filesystem::path& dataFile, const DownloadJob& job, std::string* error = nullptr);

}  // namespace fetchora
