// Finishes made durable in groups on the committer's thread: finishes that
// arrive while a group is on its way share one journal sync, every file is
// synced before its note and renamed only after it, a failed sync reaches
// the job it belongs to and no other, and the images that claim the files'
// ranges wait for their syncs.
#include "engine/finish_commits.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "shell/background_saver.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

using test::TempDir;

std::string pathOf(int fd)
{
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error).string();
}

// The system's calls; each sync is counted by the file it syncs, the first
// can be held inside until released, and the syncs of one file can fail.
class CountingCalls : public OutputFileCalls {
public:
    int open(const std::filesystem::path& path, int flags, mode_t mode) override
    {
        return system().open(path, flags, mode);
    }
    int stat(int fd, OutputFileStat& out) override { return system().stat(fd, out); }
    ssize_t pwrite(int fd, std::span<const uint8_t> data, int64_t position) override
    {
        return system().pwrite(fd, data, position);
    }
    ssize_t pread(int fd, std::span<uint8_t> out, int64_t position) override { return system().pread(fd, out, position); }
    int fdatasync(int fd) override
    {
        const std::string path = pathOf(fd);
        std::unique_lock lock(m_mutex);
        ++m_syncs[path];
        m_inside = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_hold; });
        if (!m_failing.empty() && path == m_failing) {
            errno = EIO;
            return -1;
        }
        return system().fdatasync(fd);
    }
    int duplicate(int fd) override { return system().duplicate(fd); }
    int close(int fd) override { return system().close(fd); }
    int fallocate(int fd, int64_t size) override { return system().fallocate(fd, size); }
    int ftruncate(int fd, int64_t size) override { return system().ftruncate(fd, size); }
    void setTimes(int fd, std::time_t time) override { system().setTimes(fd, time); }
    uint64_t watchWriteBack(int) override { return 0; }
    void wroteForWriteBack(uint64_t, int64_t) override { }
    void unwatchWriteBack(uint64_t) override { }

    void hold()
    {
        std::lock_guard lock(m_mutex);
        m_hold = true;
        m_inside = false;
    }
    void waitUntilInside()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_inside; });
    }
    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            m_hold = false;
        }
        m_changed.notify_all();
    }
    void failFor(const std::filesystem::path& path) { m_failing = path.string(); }
    int syncsOf(const std::filesystem::path& path)
    {
        std::lock_guard lock(m_mutex);
        return m_syncs[path.string()];
    }

private:
    static OutputFileCalls& system() { return systemOutputFileCalls(); }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, int> m_syncs;
    std::string m_failing;
    bool m_hold = false;
    bool m_inside = false;
};

class FinishCommitsTest : public ::testing::Test {
protected:
    // A finished ".kx!" file of `bytes` and its commit, the descriptor open.
    FinishCommit finished(int32_t jobId, const std::string& name, const std::string& bytes)
    {
        const std::filesystem::path partial = m_dir / (name + ".kx!");
        test::writeFile(partial, bytes);
        FinishCommit commit;
        commit.jobId = jobId;
        commit.fd = ::open(partial.c_str(), O_RDWR | O_CLOEXEC);
        commit.from = partial;
        commit.to = m_dir / name;
        commit.size = static_cast<int64_t>(bytes.size());
        return commit;
    }
    std::map<int32_t, FinishCommitResult> resultsOf(FinishCommits& commits)
    {
        commits.drain();
        std::map<int32_t, FinishCommitResult> byJob;
        for (const FinishCommitResult& result : commits.takeResults())
            byJob[result.jobId] = result;
        return byJob;
    }

    TempDir m_dir;
    std::filesystem::path m_journal = m_dir / "Default.kxd.fin";
    CountingCalls m_calls;
    SyncFailures m_failures;
};

TEST_F(FinishCommitsTest, FinishesArrivingDuringAGroupShareOneJournalSync)
{
    FinishCommits commits(m_journal, nullptr, &m_failures, &m_calls);
    m_calls.hold();
    commits.submit(finished(1, "a.bin", "first"));
    m_calls.waitUntilInside();
    // These three come while the first group waits for the disk.
    commits.submit(finished(2, "b.bin", "second"));
    commits.submit(finished(3, "c.bin", "third"));
    commits.submit(finished(4, "d.bin", "fourth"));
    EXPECT_TRUE(commits.targetPending(m_dir / "c.bin"));
    m_calls.release();
    const auto results = resultsOf(commits);

    ASSERT_EQ(results.size(), 4u);
    for (const auto& [jobId, result] : results) {
        EXPECT_EQ(result.error, 0) << jobId;
        EXPECT_FALSE(result.syncFailed) << jobId;
    }
    // Each file once, the journal once for the first group and once for
    // the other three.
    for (const char* name : {"a.bin.kx!", "b.bin.kx!", "c.bin.kx!", "d.bin.kx!"})
        EXPECT_EQ(m_calls.syncsOf(m_dir / name), 1) << name;
    EXPECT_EQ(m_calls.syncsOf(m_journal), 2);

    EXPECT_EQ(test::readFile(m_dir / "b.bin"), "second");
    EXPECT_EQ(test::readFile(m_dir / "d.bin"), "fourth");
    EXPECT_FALSE(std::filesystem::exists(m_dir / "a.bin.kx!"));
    EXPECT_FALSE(commits.targetPending(m_dir / "c.bin"));
    const std::vector<FinishNote> notes = ReadFinishJournal(m_journal);
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[2].jobId, 3);
    EXPECT_EQ(notes[2].size, 5);
    EXPECT_EQ(notes[2].name, "c.bin");
    EXPECT_EQ(m_failures.failed(), 0u);
}

TEST_F(FinishCommitsTest, FailedSyncInAGroupFailsOnlyItsJobAndIsCounted)
{
    FinishCommits commits(m_journal, nullptr, &m_failures, &m_calls);
    m_calls.hold();
    commits.submit(finished(1, "first.bin", "one"));
    m_calls.waitUntilInside();
    m_calls.failFor(m_dir / "y.bin.kx!");
    commits.submit(finished(2, "x.bin", "xx"));
    commits.submit(finished(3, "y.bin", "yy"));
    commits.submit(finished(4, "z.bin", "zz"));
    m_calls.release();
    const auto results = resultsOf(commits);

    ASSERT_EQ(results.size(), 4u);
    EXPECT_TRUE(results.at(3).syncFailed);
    EXPECT_EQ(results.at(3).error, EIO);
    for (const int32_t ok : {1, 2, 4}) {
        EXPECT_EQ(results.at(ok).error, 0) << ok;
        EXPECT_FALSE(results.at(ok).syncFailed) << ok;
    }
    // The failed file keeps its ".kx!" name and has no note; the others of
    // its group went on.
    EXPECT_TRUE(std::filesystem::exists(m_dir / "y.bin.kx!"));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "y.bin"));
    EXPECT_EQ(test::readFile(m_dir / "z.bin"), "zz");
    const std::vector<FinishNote> notes = ReadFinishJournal(m_journal);
    EXPECT_EQ(notes.size(), 3u);
    EXPECT_TRUE(std::none_of(notes.begin(), notes.end(), [](const FinishNote& note) { return note.jobId == 3; }));
    // Images taken before the job took the failure back stay unwritten.
    EXPECT_EQ(m_failures.failed(), 1u);
    EXPECT_FALSE(m_failures.imageMayBeWritten(0));
}

TEST_F(FinishCommitsTest, JournalThatCannotBeWrittenRenamesNothing)
{
    FinishCommits commits(m_dir / "missing" / "Default.kxd.fin", nullptr, &m_failures, &m_calls);
    commits.submit(finished(7, "kept.bin", "data"));
    const auto results = resultsOf(commits);

    ASSERT_EQ(results.size(), 1u);
    EXPECT_NE(results.at(7).error, 0);
    EXPECT_FALSE(results.at(7).syncFailed);
    EXPECT_FALSE(results.at(7).journalError.empty());
    EXPECT_EQ(test::readFile(m_dir / "kept.bin.kx!"), "data");
    EXPECT_FALSE(std::filesystem::exists(m_dir / "kept.bin"));
}

TEST_F(FinishCommitsTest, TakenNameIsReportedAndTheFileStaysUnfinished)
{
    FinishCommits commits(m_journal, nullptr, &m_failures, &m_calls);
    FinishCommit commit = finished(5, "taken.bin", "ours");
    // Someone took the name after the job looked.
    test::writeFile(m_dir / "taken.bin", "theirs");
    commits.submit(std::move(commit));
    const auto results = resultsOf(commits);

    EXPECT_EQ(results.at(5).error, EEXIST);
    EXPECT_EQ(test::readFile(m_dir / "taken.bin"), "theirs");
    EXPECT_EQ(test::readFile(m_dir / "taken.bin.kx!"), "ours");
}

TEST_F(FinishCommitsTest, ImageWaitsForTheSyncsSubmittedBeforeItAndSeesTheirFailure)
{
    FinishCommits commits(m_journal, nullptr, &m_failures, &m_calls);
    m_calls.failFor(m_dir / "lost.bin.kx!");
    m_calls.hold();
    commits.submit(finished(1, "lost.bin", "gone"));
    m_calls.waitUntilInside();

    const std::filesystem::path database = m_dir / "Default.kxd";
    SaveWork work;
    work.path = database;
    work.bytes = "image";
    work.failedSyncsHandled = m_failures.handled();
    work.beforeImage = [&commits, submitted = commits.submitted()] { commits.waitSynced(submitted); };
    std::atomic<bool> done{false};
    BackgroundSaveReport report;
    std::thread saver([&] {
        report = PerformSave(work, m_failures, m_calls, systemAtomicWriteCalls());
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done) << "the image did not wait for the finished file's sync";
    m_calls.release();
    saver.join();

    // The image claims the lost file's ranges: it is not written.
    EXPECT_FALSE(report.save.ok);
    EXPECT_FALSE(std::filesystem::exists(database));
    commits.drain();
}

}  // namespace
}  // namespace fetchora
