// The write-back thread: a file that has taken enough data is synced at once
// through a description of its own, one it could only share with its owner is
// kicked but never synced (a sync there would take a failed write-back away
// from the owner's own sync), and a file let go of is closed once and touched
// no more.
#include "engine/write_back.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace fetchora {
namespace {

using namespace std::chrono_literals;

// Hands out made-up descriptors and records what the thread does with them.
class RecordingCalls : public WriteBackCalls {
public:
    bool canReopen = true;

    int reopen(int fd) override { return canReopen ? fd + 1000 : -1; }
    int duplicate(int fd) override { return fd + 2000; }
    void sync(int fd) override { record("sync " + std::to_string(fd)); }
    void startWriting(int fd) override { record("kick " + std::to_string(fd)); }
    void close(int fd) override { record("close " + std::to_string(fd)); }

    // Waits until `event` has happened `times` times (false after 10 s).
    bool waitFor(const std::string& event, int times = 1)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] { return countLocked(event) >= times; });
    }
    int count(const std::string& event)
    {
        std::lock_guard lock(m_mutex);
        return countLocked(event);
    }

private:
    void record(std::string event)
    {
        {
            std::lock_guard lock(m_mutex);
            m_events.push_back(std::move(event));
        }
        m_changed.notify_all();
    }
    int countLocked(const std::string& event) const
    {
        int n = 0;
        for (const std::string& seen : m_events)
            n += seen == event ? 1 : 0;
        return n;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_events;
};

constexpr int64_t kMiB = 1 << 20;

TEST(WriteBack, SyncsAFileOnceItHasTakenEnoughAndCountsAfreshAfterwards)
{
    RecordingCalls calls;
    // No kick in the test's lifetime: only the amount written brings a sync.
    WriteBackThread thread(calls, {std::chrono::hours(1), 4 * kMiB});
    const uint64_t ticket = thread.watch(7);
    ASSERT_NE(ticket, 0U);
    thread.noteWritten(ticket, 3 * kMiB);
    thread.noteWritten(ticket, kMiB);
    EXPECT_TRUE(calls.waitFor("sync 1007"));

    // The count starts again after the sync: 3 MiB more are not enough.
    thread.noteWritten(ticket, 3 * kMiB);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(calls.count("sync 1007"), 1);
    thread.noteWritten(ticket, kMiB);
    EXPECT_TRUE(calls.waitFor("sync 1007", 2));
    EXPECT_EQ(calls.count("kick 1007"), 0);
}

TEST(WriteBack, AFileSharingItsOwnersDescriptionIsKickedButNeverSynced)
{
    RecordingCalls calls;
    calls.canReopen = false;
    WriteBackThread thread(calls, {20ms, kMiB});
    const uint64_t ticket = thread.watch(7);
    ASSERT_NE(ticket, 0U);
    thread.noteWritten(ticket, 64 * kMiB);
    EXPECT_TRUE(calls.waitFor("kick 2007"));
    // Nothing written since the kick: no second one.
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(calls.count("kick 2007"), 1);
    EXPECT_EQ(calls.count("sync 2007"), 0);
}

TEST(WriteBack, AFileLetGoOfIsClosedOnceAndTouchedNoMore)
{
    RecordingCalls calls;
    {
        WriteBackThread thread(calls, {20ms, kMiB});
        const uint64_t gone = thread.watch(7);
        const uint64_t kept = thread.watch(8);
        thread.unwatch(gone);
        thread.noteWritten(gone, 64 * kMiB);  // after the unwatch: ignored
        thread.noteWritten(kept, 64 * kMiB);
        EXPECT_TRUE(calls.waitFor("close 1007"));
        EXPECT_TRUE(calls.waitFor("sync 1008"));
        thread.unwatch(gone);  // twice: no second close
        thread.unwatch(0);
    }
    // The thread's end closes the file still watched.
    EXPECT_EQ(calls.count("close 1007"), 1);
    EXPECT_EQ(calls.count("close 1008"), 1);
    EXPECT_EQ(calls.count("sync 1007"), 0);
    EXPECT_EQ(calls.count("kick 1007"), 0);
}

// The system's reopen makes a description of its own: its offset and mode
// are not the owner's, so a sync through it cannot take a failure away from
// the owner's; and the process's thread leaves the owner's descriptor alone.
TEST(WriteBack, TheSystemsReopenMakesADescriptionOfItsOwn)
{
    test::TempDir dir;
    const std::string path = (dir / "data.bin").string();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "abc", 3), 3);

    WriteBackCalls& calls = systemWriteBackCalls();
    const int own = calls.reopen(fd);
    ASSERT_GE(own, 0);
    EXPECT_EQ(::lseek(own, 0, SEEK_CUR), 0);
    EXPECT_EQ(::fcntl(own, F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_NE(::fcntl(own, F_GETFD) & FD_CLOEXEC, 0);
    calls.sync(own);
    calls.close(own);
    const int shared = calls.duplicate(fd);
    ASSERT_GE(shared, 0);
    EXPECT_EQ(::lseek(shared, 0, SEEK_CUR), 3);
    calls.close(shared);

    const uint64_t ticket = watchFileForWriteBack(fd);
    ASSERT_NE(ticket, 0U);
    noteWrittenForWriteBack(ticket, 16 * kMiB);
    unwatchFileForWriteBack(ticket);
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 3);
    EXPECT_EQ(::write(fd, "d", 1), 1);
    EXPECT_EQ(::fdatasync(fd), 0);
    ::close(fd);
    EXPECT_EQ(std::filesystem::file_size(path), 4U);
}

}  // namespace
}  // namespace fetchora
