#pragma once
// One property sheet for several jobs. The sheet edits a sample record: a
// field all jobs agree on starts with their value, a field they differ on
// starts with its "several values" mark below. OK applies to each job only
// the fields the user changed, so a field left alone keeps every job's own
// value. URL, file name and mirrors belong to one job and are not shared.
//
// Thread: loop thread, under the job lock while jobs are read or changed.
#include <cstdint>
#include <string>
#include <vector>

#include "model/download_job.h"

namespace fetchora {

// Marks of a field on which the jobs differ. No real record carries them:
// ids start at 1, the split count at 1, and proxies are indexed from 0 in a
// list far shorter than 0xFFFF. Text fields that differ are empty.
inline constexpr int32_t kSeveralCategories = -1;
inline constexpr int32_t kSeveralSplitCounts = 0;
inline constexpr StartMode kSeveralStartModes = static_cast<StartMode>(0xFFFF);
inline constexpr uint16_t kSeveralProxies = 0xFFFF;

// The switches of optionFlags the sheet shows.
inline constexpr uint32_t kSheetSwitches
    = kOptUseLogin | kOptNoMirrorSearch | kOptFtpSubdirectories | kOptFtpCreateSubdirectories | kOptCreateCategory;
// A switch the jobs differ on is marked in the sample's optionFlags by its bit
// shifted up by this much (bits that mean nothing in a job's optionFlags).
inline constexpr int kSeveralSwitchShift = 16;

inline bool IsSeveralSwitch(const DownloadJob& sample, uint32_t bit)
{
    return (sample.optionFlags & (bit << kSeveralSwitchShift)) != 0;
}

// The shared fields of a record, as a value to compare before and after.
struct SharedJobFields {
    int32_t categoryId = 0;
    std::string saveFolder;
    int32_t splitCount = 1;
    StartMode startMode = StartMode::Manual;
    std::string referer;
    std::string comment;
    std::string userName;
    std::string password;
    uint16_t httpProxyId = 0;
    uint16_t ftpProxyId = 0;
    uint16_t streamProxyId = 0;
    uint32_t switches = 0;  // kSheetSwitches bits, with their "several" marks
    bool operator==(const SharedJobFields&) const = default;
};

SharedJobFields SharedFieldsOf(const DownloadJob& record);

// Fills the shared fields of `sample` from the jobs (none: nothing changes).
void MakeSharedSample(DownloadJob& sample, const std::vector<DownloadJob*>& jobs);

// Copies onto `job` every shared field in which `edited` differs from
// `before` (the sample's fields when the sheet opened). A "several" mark is
// never copied. The split count is kept within 1..maxSplit.
void ApplySharedChanges(const SharedJobFields& before, const DownloadJob& edited, DownloadJob& job, int32_t maxSplit);

}  // namespace fetchora
