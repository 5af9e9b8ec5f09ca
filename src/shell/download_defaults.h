#pragma once
// The "Download default" settings seen as a job: the sample record the
// "Default download properties" sheet edits, and the way back from a job's
// settings to the defaults ("Save as default" and that sheet's OK).
//
// Thread: loop thread. The functions borrow what they are given; the caller
// holds the job lock while a job or the tree is read.
#include <cstdint>

#include "model/download_job.h"

namespace fetchora {

class AppSettings;
class Application;
class CComPtrTree;

// The title of the defaults sheet ("Default download properties"); the sheet
// is asked for by UserPrompts::editDefaults, never told by its title.
inline constexpr uint32_t kStrTitleDefaultProperties = 40951;

// Makes `sample` a job as a new download would start out: the "Download
// default" values, the default proxies and switches, and the folder from
// "Path" or else the default category's folder.
void MakeDefaultsSample(DownloadJob& sample, const AppSettings& settings, const CComPtrTree* tree);

// The defaults a job's settings stand for. `current` supplies what a job
// does not carry (the other "Login" bits, the default download folder). The
// folder becomes an empty "Path" when it is the job category's own folder, so
// that a later change of that folder still reaches new jobs. A proxy index
// the list does not hold (proxyCount) falls back to a direct connection.
JobDefaults JobDefaultsFromJob(const DownloadJob& job, const JobDefaults& current, const CComPtrTree* tree,
                               size_t proxyCount);

// Writes the defaults into the settings (not to the store).
void StoreJobDefaults(AppSettings& settings, const JobDefaults& defaults);

// JobDefaultsFromJob and StoreJobDefaults through Application::changeSettings,
// which saves at once. Hold the job lock around the call when `job` is in the
// tree. False when the settings could not be saved.
bool SaveJobAsDefaults(Application& app, const DownloadJob& job, const CComPtrTree* tree);

// After the "Add new download" sheet: when the setting to remember the last
// category and folder is on, the job's category becomes "Server" and its
// folder "Path" (empty when it is the category's own), saved at once. False
// when the setting is off, nothing changed, or the save failed.
bool RememberNewJobCategory(Application& app, const DownloadJob& job, const CComPtrTree* tree);

}  // namespace fetchora
