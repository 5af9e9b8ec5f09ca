#pragma once
// The failed syncs of the jobs' files, counted across the threads that sync
// them, so that the saver writes no image that claims bytes a failed sync
// lost.
//
// The kernel reports a failed sync once, to whichever descriptor of the open
// file asks first, and a later sync of the same file succeeds though the
// pages are gone. So when the loop thread's sync of a file fails (a finished
// job's file closed with its own sync), the saver's sync of its duplicate of
// that file succeeds, and an image it holds that was taken before the loop
// took the ranges back would claim them. Every failure therefore counts
// here, on whatever thread, and the saver writes an image only when every
// failure counted so far had been taken back when the image was taken.
//
// A failure on the loop thread is taken back by the caller of the sync at
// once, before any image can be taken, so it counts as handled as it is
// counted. One on the saver's thread is handled once the loop has taken its
// report back (takenBack).
//
// Thread: any. A sync counted on the loop thread holds the lock, so that the
// saver's check, which comes after its own syncs, either waits for that sync
// or sees its outcome: it can never pass between the loop's failed sync and
// its count.
#include <cstdint>
#include <mutex>

#include "engine/output_file_calls.h"

namespace fetchora {

class SyncFailures {
public:
    SyncFailures() = default;
    SyncFailures(const SyncFailures&) = delete;
    SyncFailures& operator=(const SyncFailures&) = delete;

    // fdatasync on the loop thread, whose caller takes back what the failed
    // sync covered before the next image is taken. As fdatasync: 0, or -1
    // with errno set.
    int syncHere(OutputFileCalls& calls, int fd);
    // The saver's syncs that failed, reported to the loop to take back.
    void failedOnSaver(uint64_t count);
    // The loop took back this many of the failures the saver reported.
    void takenBack(uint64_t count);

    // How many failures were taken back; an image taken now says so.
    uint64_t handled() const;
    // Whether an image taken when `handledWhenTaken` failures had been taken
    // back claims only what the disk holds: no failure came since.
    bool imageMayBeWritten(uint64_t handledWhenTaken) const;
    uint64_t failed() const;

private:
    mutable std::mutex m_mutex;
    uint64_t m_failed = 0;
    uint64_t m_handled = 0;
};

}  // namespace fetchora
