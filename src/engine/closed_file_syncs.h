#pragma once
// Files that were closed without their final sync, waiting for it: a front
// end with a saver thread lets a finished job's file be synced there, before
// the database image that records the job as finished is written, instead
// of holding up the loop thread at the job's end (the last moments of a fast
// download can take a good part of a second to reach the disk).
//
// Thread: any. Owns the descriptors until they are taken.
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/sync_failures.h"

namespace fetchora {

struct PendingSync {
    int32_t jobId = 0;
    int fd = -1;  // a duplicate of the closed file's descriptor
};

class ClosedFileSyncs {
public:
    // A failed sync made here counts in syncFailures when given, so that
    // the saver holds back the images taken before it.
    explicit ClosedFileSyncs(SyncFailures* syncFailures = nullptr) : m_syncFailures(syncFailures) { }
    ~ClosedFileSyncs();  // syncs and closes what is left
    ClosedFileSyncs(const ClosedFileSyncs&) = delete;
    ClosedFileSyncs& operator=(const ClosedFileSyncs&) = delete;

    void add(int32_t jobId, int fd);
    // Everything waiting; the caller syncs and closes the descriptors.
    std::vector<PendingSync> take();
    // Syncs and closes everything waiting here, on the caller's (the loop)
    // thread; the jobs whose sync failed, with the error, for the caller to
    // take back before it takes the next image.
    std::vector<std::pair<int32_t, int>> syncAll();

private:
    SyncFailures* m_syncFailures;
    std::mutex m_mutex;
    std::vector<PendingSync> m_files;
};

}  // namespace fetchora
