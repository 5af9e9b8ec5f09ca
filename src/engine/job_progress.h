#pragma once
// The figures a running job shows in the list: speed over a short and a long
// window, time left and elapsed time, and the texts of the list's cells.
//
// The write path only adds to counters (`recordData`); the job window's
// one-second timer turns them into speeds (`timerStep`). Speeds are bytes per
// second; -1 means "no figure yet".
//
// Thread: loop thread, under the job lock. Owned by the job's runtime state;
// takes ticks from the caller, so tests drive time by hand.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace fetchora {

// The change mask a timer step posts with message 1224: the progress and
// speed columns.
inline constexpr uint32_t kProgressChangeMask = 0x300;

// Sampling windows of the speed figures.
inline constexpr uint32_t kShortSampleMs = 10000;
inline constexpr uint32_t kLongSampleMs = 60000;
// During the first seconds of a run the long window has nothing to say yet.
inline constexpr uint32_t kShortSpeedOnlySeconds = 50;
// Until the first short window closes, the speed so far stands in for it as
// soon as this much of the run has been measured.
inline constexpr uint32_t kFirstSpeedMs = 1000;

struct RunFigures {
    // Tick of the first write of this run; nothing before it and after a stop.
    std::optional<uint32_t> startTick;
    uint32_t elapsedSeconds = 0;
    uint64_t runBytes = 0;
    uint64_t recentBytes = 0;
    uint32_t shortSampleTick = 0;
    // Whether a whole short window has closed in this run; before that the
    // short speed is the average since the first write.
    bool shortSampleClosed = false;
    int64_t shortSpeed = -1;
    uint32_t longSampleTick = 0;
    uint64_t longBytes = 0;
    int64_t longSpeed = -1;
    int64_t secondsLeft = -1;

    // A new run: every figure back to its initial value.
    void reset() { *this = RunFigures{}; }

    // An accepted data block. The first one of a run starts the clocks.
    void recordData(uint64_t length, uint32_t now);

    // The one-second timer step: elapsed time, the speed windows and the time
    // left. fileSize is -1 when not known. Returns the change mask to post.
    uint32_t timerStep(uint32_t now, int64_t fileSize, int64_t completedBytes);

    // The job stopped: no start and no speeds until data flows again.
    void stop();

    // Whole seconds of this run so far (added to the job's total time when
    // it finishes); 0 when no data came.
    uint32_t runSeconds(uint32_t now) const;
};

// The list's cell texts. sizesInBytes is the "Display file size in bytes"
// setting. Empty strings are empty cells.

// "Completed": empty for 0; "%I64d" below 1024 or in bytes; else
// "%I64dKB" of the value / 1024.
std::string formatCompletedCell(int64_t completedBytes, bool sizesInBytes);
// "Size" and other sizes in KB with thousands separators ("1,234KB"), or
// "%I64d" below 1024 or in bytes.
std::string formatSizeCell(int64_t bytes, bool sizesInBytes);
// The share of the file received, in whole percent (truncated): 0 for a size
// of 0 or less, never above 100 even when a damaged record claims more
// bytes than the size. The list and the "DownloadInfo" lines both use it.
int percentDone(int64_t completedBytes, int64_t fileSize);
// "Percent": "%d%%" of percentDone; empty when the size is unknown or
// nothing has been received.
std::string formatPercentCell(int64_t completedBytes, int64_t fileSize);
// "Speed": kilobytes per second as "%0.2f", or bytes as "%d"; empty when
// there is no speed.
std::string formatSpeedCell(int64_t shortSpeed, bool sizesInBytes);
// "Left": "%02d:%02d:%02d" when the size is known and the hours are at most
// 500; "??:??:??" beyond; empty without an estimate.
std::string formatLeftCell(int64_t secondsLeft, bool sizeKnown, int64_t shortSpeed);
// "Elapsed": "%02d:%02d:%02d"; empty when 0.
std::string formatElapsedCell(uint32_t elapsedSeconds);
// "Retry": "%d"; empty below 1.
std::string formatRetryCell(uint32_t retryCount);
// "Num": running parts and split count as "%d/%d".
std::string formatConnectionsCell(uint32_t runningParts, uint32_t splitCount);
// "Create Time", "Complete Time": the local "%x %X"; empty for -1.
std::string formatTimeCell(std::time_t when);

// Image index of the status column. state is the job's JobState value
// (1 Ready, 2 Downloading, 4 Completed, 8 Failed), startMode its StartMode
// (0 Manual, 1 Immediately, 2 Schedule); a job in re-check mode uses the
// image 6 further on.
int statusImage(uint32_t state, uint32_t startMode, bool recheck);
// Image index of the resume column from the job's option flags: 0 not known
// yet, 1 the server can resume, 2 it cannot.
int resumeImage(uint32_t optionFlags);

}  // namespace fetchora
