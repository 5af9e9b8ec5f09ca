// Whole downloads through the runner with scripted workers on real threads.
#include <sys/stat.h>

#include <filesystem>

#include "engine/closed_file_syncs.h"
#include "engine/runner_fixture.h"

namespace fetchora::test {
namespace {

namespace fs = std::filesystem;

class JobRunnerDownloadTest : public RunnerTest {
protected:
    void SetUp() override
    {
        m_settings.SetOption(OptionId::BlockSize, 10240);
        m_settings.SetOption(OptionId::BufferSize, 16);  // a small cache that is flushed often
        m_settings.SetOption(OptionId::FileTimeFromServer, 1);
    }

    // Sends the first 50000 bytes of source in blocks of 5000, then holds
    // the connection open until hold opens.
    static std::function<int(TransferTask&)> first50000BytesThenHold(const std::string& source, Gate& hold)
    {
        return [&source, &hold](TransferTask& task) {
            PartChannel& channel = *task.channel;
            answerWithRanges(channel, static_cast<int64_t>(source.size()));
            for (int64_t at = 0; at < 50000; at += 5000)
                sendBytes(channel, source, at, 5000);
            hold.wait();
            return 0;
        };
    }

    int64_t modificationTime(const fs::path& file) const
    {
        struct stat info { };
        return ::stat(file.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_mtime) : -1;
    }
};

TEST_F(JobRunnerDownloadTest, SplitDownloadWithBreaksAndRetriesEndsByteIdentical)
{
    const std::string source = randomBytes(300007, 1);
    ServedFile file{&source, 1600000000, true, 5000, 0.01, 12};
    m_worker = [&](TransferTask& task) { return serve(task, file); };
    for (int round = 0; round < 3; ++round) {
        DownloadJob& job = makeJob("http://127.0.0.1:8080/round" + std::to_string(round) + ".bin", 4);
        job.SetFileSize(static_cast<int64_t>(source.size()));
        ASSERT_EQ(start(job), JobStartResult::Started);
        ASSERT_TRUE(runUntilEnded(job)) << "round " << round;

        EXPECT_EQ(job.GetState(), JobState::Completed);
        const fs::path target = fs::path(job.saveFolder.str()) / ("round" + std::to_string(round) + ".bin");
        EXPECT_EQ(readFile(target), source);
        EXPECT_FALSE(fs::exists(target.string() + ".kx!"));
        EXPECT_EQ(modificationTime(target), 1600000000);
        EXPECT_EQ(job.completedBytes, static_cast<int64_t>(source.size()));
        ASSERT_EQ(job.completedRanges.size(), 1u);
        EXPECT_EQ(job.completedRanges.front().end, static_cast<int64_t>(source.size()));
        EXPECT_EQ(m_host.reasonOf(job), StopReason::Done);
        // The split after the first answer made four parts.
        EXPECT_EQ(runnerOf(job)->parts().size(), 4u);
        EXPECT_EQ(job.run().detailWindow, nullptr);
        // The finished file reached the disk before the job counted as done.
        EXPECT_GE(runnerOf(job)->file().syncCount(), 1u);
        ASSERT_TRUE(runUntilThreadsEnd());
    }
    EXPECT_GT(m_breaks.load(), 0);
    EXPECT_GT(m_host.saves, 0u);
}

TEST_F(JobRunnerDownloadTest, UnsizedJobLearnsItsSizeSplitsAndCompletes)
{
    const std::string source = randomBytes(150001, 2);
    ServedFile file{&source, -1, true, 3000, 0.0, 0};
    m_worker = [&](TransferTask& task) { return serve(task, file); };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/unsized.bin", 3);
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(job.fileSize, static_cast<int64_t>(source.size()));
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "unsized.bin"), source);
    EXPECT_EQ(runnerOf(job)->parts().size(), 3u);
    EXPECT_TRUE(logged(job, "Start Receiving Data!"));
}

TEST_F(JobRunnerDownloadTest, BodyWithoutLengthEndsWithDoneAndSetsTheSize)
{
    const std::string source = randomBytes(40000, 3);
    ServedFile file{&source, -1, false, 4096, 0.0, 0};
    m_worker = [&](TransferTask& task) { return serve(task, file); };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/stream.txt", 4);
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(job.fileSize, 40000);
    EXPECT_TRUE(job.IsSizeKnown());
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "stream.txt"), source);
    // Without a size there is nothing to divide.
    EXPECT_EQ(runnerOf(job)->parts().size(), 1u);
}

TEST_F(JobRunnerDownloadTest, ResumedJobFetchesOnlyWhatIsMissing)
{
    const std::string source = randomBytes(120000, 4);
    DownloadJob& job = makeJob("http://127.0.0.1:8080/resume.bin", 2);
    job.SetFileSize(static_cast<int64_t>(source.size()));
    fs::create_directories(job.saveFolder.str());
    // The first 50000 bytes are on disk from an earlier run.
    writeFile(job.GetTempPath(), source.substr(0, 50000));
    job.completedRanges = {{0, 50000, 0, 0}};
    job.RecomputeCompletedBytes();
    job.hasData = true;

    std::atomic<int64_t> lowestRequest{INT64_MAX};
    ServedFile file{&source, -1, true, 4096, 0.0, 0};
    m_worker = [&](TransferTask& task) {
        const int64_t from = task.channel->rangeStart();
        // A part stopped before its thread ran has no position to ask for.
        int64_t seen = lowestRequest.load();
        while (task.channel->alive() && from < seen && !lowestRequest.compare_exchange_weak(seen, from)) { }
        return serve(task, file);
    };
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "resume.bin"), source);
    EXPECT_GE(lowestRequest.load(), 50000);
}

TEST_F(JobRunnerDownloadTest, LaterAnswerWithoutTheRangeKeepsWhatIsOnDisk)
{
    const std::string source = randomBytes(100000, 10);
    ServedFile file{&source, 1600000000, true, 4096, 0.0, 0};
    std::mutex startsMutex;
    std::vector<int64_t> starts;
    std::atomic<bool> refused{false};
    m_worker = [&](TransferTask& task) {
        const int64_t from = task.channel->rangeStart();
        if (from < 0)
            return 0;
        {
            std::lock_guard lock(startsMutex);
            starts.push_back(from);
        }
        if (from > 0 && !refused.exchange(true)) {
            // The whole file, unchanged, instead of the range asked for.
            ResponseInfo info;
            info.resume = ResumeInfo::NotHonoured;
            info.size = static_cast<int64_t>(source.size());
            info.fileTime = 1600000000;
            if (task.channel->response(info, ProtocolKind::Http) == 0)
                return 0;
            return 2;
        }
        if (from == 0 && !refused.load()) {
            // The first answer splits the job; the first connection then
            // waits, so that it cannot overtake the second before its answer.
            if (answerWithRanges(*task.channel, static_cast<int64_t>(source.size()), 1600000000) == 0)
                return 0;
            for (int i = 0; i < 5000 && !refused.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return serve(task, file);
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/refused.bin", 2);
    job.SetFileSize(static_cast<int64_t>(source.size()));
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_TRUE(refused.load());
    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "refused.bin"), source);
    // Nothing was fetched from byte 0 a second time.
    std::lock_guard lock(startsMutex);
    EXPECT_EQ(std::count(starts.begin(), starts.end(), 0), 1) << ::testing::PrintToString(starts);
    EXPECT_TRUE(logged(job, "The server sent the whole file instead of the range from byte 50000."));
}

TEST_F(JobRunnerDownloadTest, FileChangedOnTheServerStartsOverAndEndsAsTheNewFile)
{
    const std::string oldSource = randomBytes(100000, 11);
    const std::string newSource = randomBytes(30000, 12);
    ServedFile newFile{&newSource, 1700000000, true, 2048, 0.0, 0};
    std::atomic<bool> changed{false};
    DownloadJob& job = makeJob("http://127.0.0.1:8080/changed.bin", 2);
    job.SetFileSize(static_cast<int64_t>(oldSource.size()));
    m_worker = [&](TransferTask& task) {
        const int64_t from = task.channel->rangeStart();
        if (from < 0)
            return 0;
        if (changed.load())
            return serve(task, newFile);
        if (from == 0) {
            // 40000 bytes of the old file, then the first connection waits
            // for the change.
            if (answerWithRanges(*task.channel, static_cast<int64_t>(oldSource.size()), 1600000000) == 0)
                return 0;
            for (int64_t at = 0; at < 40000; at += 2000) {
                if (sendBytes(*task.channel, oldSource, at, 2000) != WriteResult::Continue)
                    return 0;
            }
            for (int i = 0; i < 5000 && task.channel->alive(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return 0;
        }
        // The second connection finds another, smaller file once the first
        // one has written more of the old file than the new one has.
        for (int i = 0; i < 2000; ++i) {
            {
                JobLockGuard guard(m_lock);
                if (!task.channel->alive() || job.completedBytes >= 40000)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        changed = true;
        ResponseInfo info;
        info.resume = ResumeInfo::NotHonoured;
        info.size = static_cast<int64_t>(newSource.size());
        info.fileTime = 1700000000;
        task.channel->response(info, ProtocolKind::Http);
        return 0;
    };
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_TRUE(changed.load());
    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(job.fileSize, 30000);
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "changed.bin"), newSource);
    EXPECT_TRUE(logged(job, "The file on the server is newer, you should download it again."));
}

TEST_F(JobRunnerDownloadTest, ResumedJobWithEveryByteOnDiskCompletesWithoutAThread)
{
    const std::string source = randomBytes(30000, 5);
    DownloadJob& job = makeJob("http://127.0.0.1:8080/whole.bin", 2);
    job.SetFileSize(30000);
    fs::create_directories(job.saveFolder.str());
    writeFile(job.GetTempPath(), source);
    job.completedRanges = {{0, 30000, 0, 0}};
    job.RecomputeCompletedBytes();
    job.hasData = true;

    EXPECT_EQ(start(job), JobStartResult::Started);
    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "whole.bin"), source);
    EXPECT_EQ(m_workersStarted.load(), 0);
}

TEST_F(JobRunnerDownloadTest, FlushForSaveWritesEveryRecordedRangeToDisk)
{
    m_settings.SetOption(OptionId::BufferSize, 200);  // room for every block of this test
    const std::string source = randomBytes(300000, 6);
    Gate hold;
    m_worker = first50000BytesThenHold(source, hold);
    DownloadJob& job = makeJob("http://127.0.0.1:8080/cached.bin");
    job.SetFileSize(static_cast<int64_t>(source.size()));
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntil([&] { return job.completedBytes == 50000; }));

    const fs::path working = job.GetTempPath();
    // The blocks wait in the write cache until a save asks for them.
    EXPECT_NE(readFile(working).substr(0, 50000), source.substr(0, 50000));
    EXPECT_TRUE(runnerOf(job)->FlushForSave());
    EXPECT_EQ(readFile(working).substr(0, 50000), source.substr(0, 50000));
    // The data went to the disk before the ranges could be recorded, once;
    // a second save with nothing new written does not sync again.
    EXPECT_EQ(runnerOf(job)->file().syncCount(), 1u);
    EXPECT_TRUE(runnerOf(job)->FlushForSave());
    EXPECT_EQ(runnerOf(job)->file().syncCount(), 1u);

    JobRunner::Stop(job, StopReason::User);
    hold.open();
    ASSERT_TRUE(runUntilThreadsEnd());
}

TEST_F(JobRunnerDownloadTest, ABackgroundSaveGetsTheFileAndAFailedSyncTakesTheRangesBack)
{
    m_settings.SetOption(OptionId::BufferSize, 200);
    const std::string source = randomBytes(300000, 7);
    Gate hold;
    m_worker = first50000BytesThenHold(source, hold);
    DownloadJob& job = makeJob("http://127.0.0.1:8080/background.bin");
    job.SetFileSize(static_cast<int64_t>(source.size()));
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntil([&] { return job.completedBytes == 50000; }));

    // The cache is written out here; the sync is left to whoever gets the
    // descriptor, and the file is the job's own.
    const int fd = runnerOf(job)->FlushForBackgroundSave();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(readFile(job.GetTempPath()).substr(0, 50000), source.substr(0, 50000));
    EXPECT_EQ(runnerOf(job)->file().syncCount(), 0u);
    struct stat handed { };
    struct stat own { };
    ASSERT_EQ(::fstat(fd, &handed), 0);
    ASSERT_EQ(::stat(job.GetTempPath().c_str(), &own), 0);
    EXPECT_EQ(handed.st_ino, own.st_ino);
    ::close(fd);

    // That sync failed: nothing written since the last good sync counts.
    runnerOf(job)->BackgroundSyncFailed(EIO);
    EXPECT_EQ(job.completedBytes, 0);
    EXPECT_NE(job.GetState(), JobState::Downloading);
    hold.open();
    ASSERT_TRUE(runUntilThreadsEnd());
}

TEST_F(JobRunnerDownloadTest, AFinishedFileCanBeLeftForTheSaverToSync)
{
    const std::string source = randomBytes(300000, 8);
    ServedFile file{&source, -1, true, 4096, 0.0, 0};
    m_worker = [&](TransferTask& task) { return serve(task, file); };
    ClosedFileSyncs syncs;
    m_ctx.closedFileSyncs = &syncs;
    DownloadJob& job = makeJob("http://127.0.0.1:8080/deferred.bin");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    ASSERT_EQ(job.GetState(), JobState::Completed);
    const fs::path done = fs::path(job.saveFolder.str()) / "deferred.bin";
    EXPECT_EQ(readFile(done), source);
    // The loop thread did not sync; the file waits with its job's id.
    EXPECT_EQ(runnerOf(job)->file().syncCount(), 0u);
    std::vector<PendingSync> waiting = syncs.take();
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].jobId, job.id);
    struct stat handed {};
    struct stat named {};
    ASSERT_EQ(::fstat(waiting[0].fd, &handed), 0);
    ASSERT_EQ(::stat(done.c_str(), &named), 0);
    EXPECT_EQ(handed.st_ino, named.st_ino);
    syncs.add(waiting[0].jobId, waiting[0].fd);
    EXPECT_TRUE(syncs.syncAll().empty());
    EXPECT_TRUE(syncs.take().empty());
    m_ctx.closedFileSyncs = nullptr;
}

}  // namespace
}  // namespace fetchora::test
