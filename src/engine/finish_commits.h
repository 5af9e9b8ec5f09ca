#pragma once
// Makes finished jobs durable in groups, off the loop thread. A finished
// job's ".kx!" file is synced, its finish noted (synced) in the finish
// journal and only then renamed to its final name; jobs that finish while a
// group is being made durable wait and go together: their files' writeback
// starts at once, then each file is synced, and one write and one sync of
// the journal carry all their notes. The loop thread goes on meanwhile, so
// the next queued jobs start before the finished ones reach the disk.
//
// A job is reported complete only from a result here, that is after its
// rename, which follows its synced note: a kill after the report cannot
// lose it, and after a power cut the journal names only files whose bytes
// are on the disk.
//
// A failed sync of a file counts in SyncFailures as one made off the loop
// (the loop takes it back when it hands the result to the job), so that no
// database image taken meanwhile, which claims the file's ranges, is written.
// Images wait for the syncs of the commits submitted before them
// (waitSynced).
//
// Thread: submit, takeResults, drain on the loop thread; resultsReady is
// called on the committer's thread. Owns its thread and the descriptors.
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/output_file_calls.h"
#include "engine/sync_failures.h"
#include "model/finish_journal.h"

namespace fetchora {

struct FinishCommit {
    int32_t jobId = 0;
    int fd = -1;  // a duplicate of the closed file's descriptor; -1: nothing left to sync
    std::filesystem::path from;  // the ".kx!" file
    std::filesystem::path to;  // its final name, free when submitted
    int64_t size = 0;
};

struct FinishCommitResult {
    int32_t jobId = 0;
    int error = 0;  // 0: synced, noted and renamed; else the errno of what failed
    bool syncFailed = false;  // the file's bytes did not reach the disk
    std::string journalError;  // set when the note failed
};

class FinishCommits {
public:
    // calls: the data files' and the journal's sync and close (the
    // system's when null).
    FinishCommits(std::filesystem::path journal, std::function<void()> resultsReady,
                  SyncFailures* failures = nullptr, OutputFileCalls* calls = nullptr);
    ~FinishCommits();  // commits what was submitted, then stops
    FinishCommits(const FinishCommits&) = delete;
    FinishCommits& operator=(const FinishCommits&) = delete;

    void submit(FinishCommit commit);
    // Whether a commit not yet reported renames a file to `to`.
    bool targetPending(const std::filesystem::path& to) const;
    std::vector<FinishCommitResult> takeResults();
    // Waits until every submitted commit has its result.
    void drain();

    // How many commits were submitted so far; waitSynced(that) returns once
    // their files' syncs are done (failures counted).
    uint64_t submitted() const;
    void waitSynced(uint64_t count);

    // Test aid: called on the committer's thread after each rename.
    void setAfterRename(std::function<void(const FinishCommit&)> hook) { m_afterRename = std::move(hook); }

private:
    void run();
    std::vector<FinishCommitResult> commitGroup(std::vector<FinishCommit>& group);
    // Appends one line per note and syncs the journal once; empty when done.
    std::string noteGroup(const std::vector<FinishNote>& notes);

    std::filesystem::path m_journal;
    std::function<void()> m_resultsReady;
    SyncFailures* m_failures;
    OutputFileCalls& m_calls;
    std::function<void(const FinishCommit&)> m_afterRename;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_progress;
    std::vector<FinishCommit> m_queue;
    std::vector<std::filesystem::path> m_targets;  // of commits not yet reported
    std::vector<FinishCommitResult> m_results;
    uint64_t m_submitted = 0;
    uint64_t m_synced = 0;
    uint64_t m_reported = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace fetchora
