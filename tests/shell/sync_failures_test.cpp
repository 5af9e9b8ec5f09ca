// Failed syncs counted across threads: a sync that fails on the loop thread
// (a finished file closed with its own sync) uses up the kernel's one report,
// so the saver's later sync of the same file succeeds; the images the saver
// holds that were taken before must stay unwritten all the same.
#include "engine/sync_failures.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "engine/closed_file_syncs.h"
#include "engine/output_file.h"
#include "shell/background_saver.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

using test::TempDir;

std::span<const uint8_t> span(const std::string& text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// The system's calls, with a sync that fails while `failing` is set, and
// that can be held inside until released.
class SyncControlledCalls : public OutputFileCalls {
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
    ssize_t pread(int fd, std::span<uint8_t> out, int64_t position) override
    {
        return system().pread(fd, out, position);
    }
    int fdatasync(int fd) override
    {
        std::unique_lock lock(m_mutex);
        m_inside = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_hold; });
        m_inside = false;
        if (m_failing) {
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

    void fail(bool failing) { m_failing = failing; }
    void hold()
    {
        std::lock_guard lock(m_mutex);
        m_hold = true;
    }
    void waitUntilInside()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_inside; });
    }
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_hold = false;
        m_changed.notify_all();
    }

private:
    static OutputFileCalls& system() { return systemOutputFileCalls(); }

    std::atomic<bool> m_failing = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_hold = false;
    bool m_inside = false;
};

SaveWork imageTaken(const std::filesystem::path& database, std::string bytes, const SyncFailures& failures)
{
    return SaveWork{database, std::move(bytes), {}, failures.handled()};
}

TEST(SyncFailures, AFileClosedWithAFailedSyncHoldsBackTheImagesTakenBeforeIt)
{
    TempDir dir;
    const auto database = dir / "Default.kxd";
    SyncControlledCalls calls;
    SyncFailures failures;

    // A sync that works counts nothing.
    {
        OutputFile file(calls, &failures);
        ASSERT_EQ(file.open(dir / "good.bin", OutputFile::OpenMode::Create, false), 0);
        ASSERT_TRUE(file.Write(0, span("kept")));
        ASSERT_TRUE(file.Close());
    }
    EXPECT_EQ(failures.failed(), 0u);

    OutputFile file(calls, &failures);
    ASSERT_EQ(file.open(dir / "lost.bin", OutputFile::OpenMode::Create, false), 0);
    ASSERT_TRUE(file.Write(100, span("0123456789")));
    // Taken while the bytes were only in the page cache; the saver has it.
    const SaveWork waiting = imageTaken(database, "claims 100-110", failures);

    calls.fail(true);
    ASSERT_FALSE(file.Close());
    ASSERT_EQ(file.unwrittenRanges().size(), 1u);
    EXPECT_EQ(file.unwrittenRanges()[0].start, 100);
    EXPECT_EQ(file.unwrittenRanges()[0].end, 110);
    // The caller takes those ranges back at once: counted and handled.
    EXPECT_EQ(failures.failed(), 1u);
    EXPECT_EQ(failures.handled(), 1u);

    // The saver's own syncs (none here) succeed, yet the image stays back.
    const BackgroundSaveReport held = PerformSave(waiting, failures, systemOutputFileCalls(), systemAtomicWriteCalls());
    EXPECT_FALSE(held.save.ok);
    EXPECT_TRUE(held.save.error.empty()) << held.save.error;
    EXPECT_FALSE(std::filesystem::exists(database));

    // One taken after the ranges went back is true and is written.
    const SaveWork after = imageTaken(database, "claims nothing", failures);
    const BackgroundSaveReport written = PerformSave(after, failures, systemOutputFileCalls(), systemAtomicWriteCalls());
    EXPECT_TRUE(written.save.ok) << written.save.error;
    EXPECT_EQ(test::readFile(database), "claims nothing");
}

TEST(SyncFailures, FailuresOnTheSaverCountUntilTheLoopTookThemBack)
{
    TempDir dir;
    const auto database = dir / "Default.kxd";
    SyncFailures failures;
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ::close(pipeEnds[1]);
    // A pipe cannot be synced, as a disk that lost the pages would say.
    SaveWork work = imageTaken(database, "first", failures);
    work.files.push_back({9, pipeEnds[0]});
    const BackgroundSaveReport failed = PerformSave(work, failures, systemOutputFileCalls(), systemAtomicWriteCalls());
    ASSERT_EQ(failed.failedSyncs.size(), 1u);
    EXPECT_EQ(failures.failed(), 1u);
    EXPECT_EQ(failures.handled(), 0u);
    EXPECT_FALSE(failures.imageMayBeWritten(failures.handled()));
    failures.takenBack(1);
    EXPECT_TRUE(failures.imageMayBeWritten(failures.handled()));
    EXPECT_FALSE(failures.imageMayBeWritten(0));
}

TEST(SyncFailures, ClosedFilesSyncedOnTheLoopCountTheirFailures)
{
    TempDir dir;
    SyncFailures failures;
    ClosedFileSyncs closed(&failures);
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ::close(pipeEnds[1]);
    closed.add(4, ::open((dir / "fine.bin").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    closed.add(5, pipeEnds[0]);
    const auto failed = closed.syncAll();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].first, 5);
    EXPECT_EQ(failures.failed(), 1u);
    EXPECT_EQ(failures.handled(), 1u);
}

TEST(SyncFailures, TheSaversCheckWaitsForASyncUnderwayOnTheLoop)
{
    // The loop's sync has taken the kernel's report but not yet counted it:
    // a check made then must not let an older image through.
    TempDir dir;
    SyncControlledCalls calls;
    SyncFailures failures;
    const int fd = ::open((dir / "file.bin").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    calls.fail(true);
    calls.hold();
    std::thread loop([&] { EXPECT_NE(failures.syncHere(calls, fd), 0); });
    calls.waitUntilInside();

    std::atomic<bool> checked = false;
    bool mayWrite = true;
    std::thread saver([&] {
        mayWrite = failures.imageMayBeWritten(0);
        checked = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(checked) << "the check passed while the loop's sync was under way";
    calls.release();
    loop.join();
    saver.join();
    EXPECT_FALSE(mayWrite);
    EXPECT_EQ(failures.failed(), 1u);
    ::close(fd);
}

}  // namespace
}  // namespace fetchora
