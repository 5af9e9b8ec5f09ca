#pragma once
// The progress line fetchora-cli draws for each running job on a terminal,
// and the summary line it prints once the job has ended.
#include <cstdint>
#include <string>

namespace fetchora {

struct ProgressFigures {
    std::string name;  // as the server or the URL gave it; made safe for the terminal here
    int64_t completedBytes = 0;
    int64_t fileSize = -1;  // -1: not known yet
    int64_t bytesPerSecond = -1;
    int64_t secondsLeft = -1;
    uint32_t connections = 0;
    std::string state;  // "done", "failed", "waiting"; empty while running
    // While every connection waits to try again: "retry 2/5 in 4 s: HTTP 503".
    std::string retry;
};

// One line, without a line break, at most `width` columns wide:
// "f.bin  45.8%  45.8/100.0 MiB  12.3 MiB/s  ETA 0:04  8 conn".
std::string progressLine(const ProgressFigures& figures, size_t width);

// "retry 2/5 in 4 s: HTTP 503"; limit -1 (unlimited retries) leaves out "/5".
std::string retryText(int32_t attempt, int32_t limit, int32_t secondsLeft, const std::string& cause);

// How a job ended, in one line.
struct JobSummary {
    std::string name;
    bool completed = false;
    bool failed = false;  // neither: stopped before its end
    int64_t fileSize = -1;
    int64_t completedBytes = 0;
    int64_t bytesThisRun = 0;  // fetched in this run (a resumed job had the rest)
    double seconds = 0;  // this run's time
    std::string cause;  // why it failed
};

// "f.bin: done, 100.0 MiB in 0:08 (12.3 MiB/s)", "f.bin: failed: HTTP 404
// Not Found", "f.bin: stopped at 45.8%; run the same command again to
// resume". Server text in it is made safe for the terminal.
std::string summaryLine(const JobSummary& summary);

// "1.5 MiB" style sizes.
std::string humanBytes(int64_t bytes);

// "0:04", "12:34", "1:02:03".
std::string clockText(int64_t seconds);

}  // namespace fetchora
