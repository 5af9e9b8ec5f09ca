#pragma once
// The disk work of the saves made while jobs run, on a thread of its own:
// the files of the running jobs are synced and then the database image is
// written. The loop thread only writes the jobs' caches out and takes the
// image, so a slow disk no longer holds up the window (a sync of a file being
// written at full speed can take a second).
//
// The order on disk stays safe: an image is written only after every file
// it was taken with reached the disk, so the database never records ranges
// that a power cut could take back. A failed sync skips that image and is
// reported, so that the job takes the ranges back. A failed sync is
// reported once only (the kernel clears the error it returned, and a later
// sync of the same file succeeds though the pages are gone), so every image
// taken before the loop took that failure's ranges back is skipped as well:
// each save says how many failed syncs the loop had handled when its image
// was taken. The same holds for a sync that fails on the loop thread (a
// finished file closed with its own sync): the saver's sync of that file
// then succeeds, so such failures count in the same SyncFailures.
//
// Thread: submit and drain on the loop thread; the results reach `report` on
// the saver's thread (post them on). Owns its thread and the descriptors
// handed over.
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/output_file_calls.h"
#include "engine/sync_failures.h"
#include "model/database_file.h"
#include "platform/atomic_file.h"

namespace fetchora {

struct FileToSync {
    int32_t jobId = 0;
    int fd = -1;
};

struct BackgroundSaveReport {
    SaveResult save;  // ok false with no error when the image was skipped
    std::vector<std::pair<int32_t, int>> failedSyncs;  // job id, errno
    uint64_t tag = 0;  // the submit's, so that the caller knows which image it is
};

// One save's disk work.
struct SaveWork {
    std::filesystem::path path;
    std::string bytes;
    std::vector<FileToSync> files;
    // Failed syncs the loop had taken back when the image was taken.
    uint64_t failedSyncsHandled = 0;
    uint64_t tag = 0;  // the submit's
    // Waits for the disk work the image relies on that other threads do
    // (the syncs of finished files being committed); called after this
    // save's own syncs, before the check of the failures.
    std::function<void()> beforeImage{};
};

// The disk work of one save, in its order: every file is synced and closed,
// then the image is written unless a sync failed, now or on any thread
// before, and the image was taken before the loop took that failure back
// (failures counts them; this save's are added).
BackgroundSaveReport PerformSave(const SaveWork& work, SyncFailures& failures, OutputFileCalls& files,
                                 AtomicWriteCalls& image);

class BackgroundSaver {
public:
    // failures: where the syncs of the same files on other threads count
    // theirs; null: the saver counts only its own.
    explicit BackgroundSaver(std::function<void(const BackgroundSaveReport&)> report,
                             SyncFailures* failures = nullptr);
    ~BackgroundSaver();  // finishes the pending save first
    BackgroundSaver(const BackgroundSaver&) = delete;
    BackgroundSaver& operator=(const BackgroundSaver&) = delete;

    // Queues a save. A save still waiting is replaced by this newer one (its
    // files are still synced first); only the newer one is reported.
    // failedSyncsHandled: how many failed syncs the caller had taken back
    // before it took the image (SyncFailures::handled). The tag comes back
    // in the report.
    void submit(std::filesystem::path path, std::string bytes, std::vector<FileToSync> files,
                uint64_t failedSyncsHandled, uint64_t tag = 0, std::function<void()> beforeImage = {});
    // Waits until nothing is queued or being written, so that a save made
    // on the caller's thread now is the newest on disk.
    void drain();

private:
    void run();

    std::function<void(const BackgroundSaveReport&)> m_report;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::optional<SaveWork> m_pending;
    SyncFailures m_ownFailures;
    SyncFailures& m_failures;  // the caller's, or m_ownFailures
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace fetchora
