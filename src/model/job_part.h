#pragma once
// One connection of a running job (`JobPart`): the byte range it fetches, how
// far it got, its URL, its flag word with the wait state, and its log. Parts
// are made at every start and never stored; the job's completed ranges are
// what survives.
//
// Thread: loop thread, under the job lock. Owned by the job's runner; borrows
// its job. A transfer thread never touches a part: it reports to the job
// window, whose handlers call WriteAt and the runner's operations.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/download_job.h"
#include "model/part_log.h"
#include "net/write_result.h"

namespace fetchora {

struct JobRangeView;

// JobPart::flags
inline constexpr uint32_t kPartRunning = 0x0001;
inline constexpr uint32_t kPartFirst = 0x0002;  // the first part of a start
inline constexpr uint32_t kPartMirrorPing = 0x0004;
inline constexpr uint32_t kPartMirrorSearch = 0x0008;
// The wait state (bits 0x0800-0xF800).
inline constexpr uint32_t kPartWaitDialUp = 0x0800;
inline constexpr uint32_t kPartWaitRetry = 0x2000;
inline constexpr uint32_t kPartWaitKind0 = 0x4000;
inline constexpr uint32_t kPartWaitKind1 = 0x8000;
inline constexpr uint32_t kPartWaitStateMask = 0xF800;

// end of a range that runs to the end of the file
inline constexpr int64_t kOpenEnd = -1;

// A part's range: start, last byte (inclusive, or kOpenEnd) and the stream
// positions of both ends (stream jobs only).
struct PartRange {
    int64_t start = 0;
    int64_t end = kOpenEnd;
    uint32_t streamStart = 0;
    uint32_t streamEnd = 0;
    bool operator==(const PartRange&) const = default;
};

class JobPart {
public:
    explicit JobPart(DownloadJob* owner = nullptr, uint32_t index = 0) : job(owner), log(index) { }

    // Stores the range and starts counting received bytes afresh.
    void SetRange(const PartRange& range);
    PartRange range() const { return {start, end, streamStart, streamEnd}; }

    // Where the next byte of this part goes.
    int64_t position() const { return start + static_cast<int64_t>(received); }

    bool isRunning() const { return (flags & kPartRunning) != 0; }
    uint32_t waitState() const { return flags & kPartWaitStateMask; }
    void markRunning() { flags |= kPartRunning; }
    // The record side of a stop: the reason is kept, running and every wait bit cleared.
    void markStopped(StopReason reason);

    DownloadJob* job = nullptr;
    uint32_t urlIndex = 0;
    StopReason stopReason = StopReason::Done;
    int socket = -1;
    uint32_t flags = 0;
    int64_t start = 0;
    int64_t end = kOpenEnd;
    uint32_t streamStart = 0;
    uint32_t streamEnd = 0;
    uint64_t received = 0;
    PartLog log;
    std::string lastError;
};

// The runner's parts in creation order; index 0 is the first part, which
// also carries the job-level log lines.
using PartList = std::vector<std::unique_ptr<JobPart>>;

// The job and runner side of WriteAt. Implemented by the job window.
class PartWriteHost {
public:
    virtual ~PartWriteHost() = default;
    // The job write path: opens the output file on first use and writes the
    // block. False when the job has failed (the host has logged it and
    // finished the job).
    virtual bool writeBlock(int64_t position, std::span<const uint8_t> data) = 0;
    // Bytes a part's thread handed over (whether written or dropped), for
    // the run counters.
    virtual void countReceived(uint64_t length) = 0;
    // The runner's Stop of a part (handle block, log line, notification).
    // WriteAt marks the record stopped itself as well.
    virtual void stopPart(JobPart& part, StopReason reason) = 0;
    // The part got a new range from a takeover (for its log and the list).
    virtual void partMoved(JobPart& part) = 0;
    // completedBytes changed: store it on the job and post change mask 16.
    virtual void completedChanged(int64_t completedBytes) = 0;
    // Every byte of the file is on disk.
    virtual void finishJob(StopReason reason) = 0;
};

// Takes one block a part's thread read at `position`. A block that does not
// continue the part's position is refused (Reconnect; for stream jobs a packet
// one to three lengths behind is a harmless duplicate: Continue). A part
// writes only up to the start of the next completed range (data another part
// owns) or the end of the file: the rest of a block that runs past it is
// dropped. A part that runs into data gets new work through FindTakeover
// (Reconnect) or stops (Stop); a part it overtakes is stopped. streamStart and
// streamEnd are the block's stream positions (0 for byte jobs).
WriteResult WriteAt(JobRangeView& view, PartWriteHost& host, size_t partIndex, std::span<const uint8_t> data,
                    int64_t position, uint32_t streamStart = 0, uint32_t streamEnd = 0);

}  // namespace fetchora
