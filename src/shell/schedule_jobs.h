#pragma once
// Which jobs the daily schedule starts: those of the download list whose
// start mode is "by schedule". The "Schedule" command puts the selected jobs
// under the schedule or takes them off it, and its check mark shows whether
// the schedule has any job to start or stop (it is armed).
//
// Thread: loop thread, with the job lock held by the caller. Borrows the
// records during each call.
#include <vector>

namespace fetchora {

class DownloadJob;

// The jobs of `selected` the schedule can take: unfinished jobs directly in
// the download list (downloading), in the order given.
std::vector<DownloadJob*> ScheduleCandidates(const std::vector<DownloadJob*>& selected, const DownloadJob& downloading);

// Some unfinished job of the download list starts by schedule.
bool ScheduleArmed(const DownloadJob& downloading);
// How many do.
int ScheduledJobCount(const DownloadJob& downloading);

// Every job given starts by schedule (bySchedule), or one that started by
// schedule becomes Manual (so it does not start on its own). A running job
// keeps running. Returns the jobs whose start mode changed.
std::vector<DownloadJob*> SetStartBySchedule(const std::vector<DownloadJob*>& jobs, bool bySchedule);

}  // namespace fetchora
