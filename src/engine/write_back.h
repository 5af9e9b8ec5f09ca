#pragma once
// Moves the data of the files being downloaded to the disk while the
// download runs, from a thread of its own. A few times a second the kernel's
// write-back of each file written since is started; a file that has taken a
// few megabytes since its last sync is synced at once. The sync when a job
// ends or the database is saved then waits for the last moments' pages only,
// not for a whole file held in memory, and the disk flushes its own cache bit
// by bit instead of all at the end. None of it costs the loop thread time.
//
// The syncs go through a file description of the thread's own (the file
// opened again): a sync reports a failed write-back to the description it is
// made through, once, so one shared with the owner could take the failure
// away from the owner's own sync. A file that cannot be opened again is only
// kicked, never synced, here.
//
// Thread: watch, noteWritten and unwatch from any thread; the kicks, syncs and
// closes run on the write-back thread, which holds descriptors of its own, so
// a file closed (and its number reused) meanwhile is never touched by mistake.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace fetchora {

// The system calls of the write-back thread, so that a test can watch them.
class WriteBackCalls {
public:
    virtual ~WriteBackCalls() = default;
    // A new description of the open file (-1 when it cannot be made).
    virtual int reopen(int fd) = 0;
    // A second descriptor of the same description (-1 on failure).
    virtual int duplicate(int fd) = 0;
    virtual void sync(int fd) = 0;
    // Starts the kernel's write-back without waiting for it.
    virtual void startWriting(int fd) = 0;
    virtual void close(int fd) = 0;
};

struct WriteBackPacing {
    std::chrono::milliseconds kickEvery{200};
    // Unsynced bytes of one file that bring its sync forward.
    int64_t syncAfterBytes = int64_t{8} << 20;
};

class WriteBackThread {
public:
    explicit WriteBackThread(WriteBackCalls& calls, WriteBackPacing pacing = {});
    ~WriteBackThread();
    WriteBackThread(const WriteBackThread&) = delete;
    WriteBackThread& operator=(const WriteBackThread&) = delete;

    // Returns a ticket for the calls below (0 when the file cannot be watched).
    uint64_t watch(int fd);
    // The owner wrote `bytes` more to the file.
    void noteWritten(uint64_t ticket, int64_t bytes);
    void unwatch(uint64_t ticket);

private:
    struct WatchedFile {
        int fd = -1;
        bool ownDescription = false;
        int64_t unsynced = 0;  // written since the thread last kicked or synced it
    };

    bool syncDue(const WatchedFile& file) const;
    bool anySyncDue() const;
    void run();

    WriteBackCalls& m_calls;
    const WriteBackPacing m_pacing;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<uint64_t, WatchedFile> m_files;
    std::vector<int> m_closing;
    uint64_t m_lastTicket = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

WriteBackCalls& systemWriteBackCalls();

// The process's write-back thread, with the system's calls.
uint64_t watchFileForWriteBack(int fd);
void noteWrittenForWriteBack(uint64_t ticket, int64_t bytes);
void unwatchFileForWriteBack(uint64_t ticket);

}  // namespace fetchora
