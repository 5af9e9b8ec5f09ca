// Retries, stops and failures of parts and jobs.
#include <filesystem>

#include "engine/job_window.h"
#include "engine/runner_fixture.h"

namespace fetchora::test {
namespace {

namespace fs = std::filesystem;

const std::string kMaximumError = "Encountered maximum error.  This part job is halted.";

class JobRunnerRetryTest : public RunnerTest {
protected:
    void SetUp() override
    {
        m_settings.SetOption(OptionId::AlwaysRetry, 0);
        m_settings.SetOption(OptionId::RetryCount, 3);
        m_settings.SetOption(OptionId::BlockSize, 10240);
    }
};

TEST_F(JobRunnerRetryTest, FourthFailureOfTheOnlyPartHaltsItAndFailsTheJob)
{
    std::atomic<int> failures{0};
    std::atomic<int> lastAnswer{-1};
    m_worker = [&](TransferTask& task) {
        for (;;) {
            ++failures;
            const bool again = task.channel->error({});
            lastAnswer = again ? 1 : 0;
            if (!again)
                return 2;
        }
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/never.bin");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    ASSERT_TRUE(runUntilThreadsEnd());

    EXPECT_EQ(failures.load(), 4);
    EXPECT_EQ(lastAnswer.load(), 0);
    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_EQ(job.retryCount, 3);
    EXPECT_TRUE(logged(job, kMaximumError));
    EXPECT_EQ(m_host.count("Wait 5 second for retry"), 3u);
    EXPECT_EQ(m_host.reasonOf(job), StopReason::MaxErrors);
    ASSERT_FALSE(m_host.stopped.empty());
    EXPECT_EQ(m_host.stopped.back().second, JobState::Failed);
    EXPECT_EQ(job.run().detailWindow, nullptr);
}

TEST_F(JobRunnerRetryTest, PartHaltedByMaximumErrorsLeavesTheOthersToFinishItsRange)
{
    const std::string source = randomBytes(100000, 7);
    ServedFile file{&source, -1, true, 4096, 0.0, 0};
    std::atomic<int> failures{0};
    std::atomic<bool> firstAnswered{false};
    m_worker = [&](TransferTask& task) {
        if (!firstAnswered.exchange(true)) {
            // The first answer splits the job; the first part then waits, so
            // that it cannot overtake the second part before that one failed.
            answerWithRanges(*task.channel, 100000);
            for (int i = 0; i < 10000 && failures.load() < 4; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // The second half of the file fails four times, then is served.
        while (task.channel->rangeStart() >= 50000 && failures.load() < 4) {
            ++failures;
            if (!task.channel->error({}))
                return 2;
        }
        return serve(task, file);
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/half.bin", 2);
    job.SetFileSize(100000);
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(failures.load(), 4);
    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "half.bin"), source);
    JobRunner& runner = *runnerOf(job);
    ASSERT_EQ(runner.parts().size(), 2u);
    EXPECT_EQ(runner.parts()[1]->stopReason, StopReason::MaxErrors);
    const auto& secondLog = runner.parts()[1]->log.entries();
    EXPECT_TRUE(std::any_of(secondLog.begin(), secondLog.end(),
                            [](const LogEntry& entry) { return entry.text == kMaximumError; }));
}

TEST_F(JobRunnerRetryTest, RetryOfAPartWhoseRangeIsGoneTakesAFreeGapInstead)
{
    const std::string source = randomBytes(40000, 9);
    DownloadJob& job = makeJob("http://127.0.0.1:8080/gaps.bin", 1);
    job.SetFileSize(40000);
    fs::create_directories(job.saveFolder.str());
    std::string onDisk = source.substr(0, 30000);
    std::fill(onDisk.begin() + 10000, onDisk.begin() + 20000, '\0');
    writeFile(job.GetTempPath(), onDisk);
    job.completedRanges = {{0, 10000, 0, 0}, {20000, 30000, 0, 0}};
    job.RecomputeCompletedBytes();
    job.hasData = true;

    Gate answered;
    Gate carryOn;
    std::mutex requestsMutex;
    std::vector<int64_t> requests;
    m_worker = [&](TransferTask& task) {
        PartChannel& channel = *task.channel;
        for (int cycle = 0; cycle < 2; ++cycle) {
            const int64_t from = channel.rangeStart();
            if (from < 0)
                return 0;
            {
                std::lock_guard lock(requestsMutex);
                requests.push_back(from);
            }
            if (answerWithRanges(channel, 40000) == 0)
                return 0;
            if (cycle == 0) {
                answered.open();
                carryOn.wait();
                if (!channel.error({}))
                    return 2;
                continue;
            }
            sendBytes(channel, source, from, source.size() - static_cast<size_t>(from));
        }
        return 1;
    };
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntil([&] { return answered.isOpen(); }));
    {
        // Meanwhile the part's own gap came to be on disk (as another part
        // would have written it).
        JobLockGuard guard(m_lock);
        writeFile(job.GetTempPath(), source.substr(0, 30000));
        job.completedRanges = {{0, 30000, 0, 0}};
        job.RecomputeCompletedBytes();
    }
    carryOn.open();
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "gaps.bin"), source);
    // The retry went to the gap that was left, never to the bytes on disk.
    std::lock_guard lock(requestsMutex);
    EXPECT_EQ(requests, (std::vector<int64_t>{10000, 30000}));
}

TEST_F(JobRunnerRetryTest, UserStopWhileTheThreadWaitsEndsTheThreadAtItsNextBlock)
{
    const std::string source = randomBytes(100000, 8);
    Gate firstBlockSent;
    Gate carryOn;
    std::atomic<int> answerAfterStop{-1};
    std::atomic<bool> aliveAfterStop{true};
    std::atomic<bool> workerEnded{false};
    m_worker = [&](TransferTask& task) {
        PartChannel& channel = *task.channel;
        if (answerWithRanges(channel, 100000) == 0)
            return 0;
        sendBytes(channel, source, 0, 1000);
        firstBlockSent.open();
        carryOn.wait();
        aliveAfterStop = channel.alive();
        answerAfterStop = static_cast<int>(sendBytes(channel, source, 1000, 1000));
        workerEnded = true;
        return 0;
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/stopped.bin");
    job.SetFileSize(100000);
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntil([&] { return job.completedBytes == 1000 && firstBlockSent.isOpen(); }));

    JobRunner::Stop(job, StopReason::User);
    EXPECT_EQ(job.GetState(), JobState::Ready);
    EXPECT_EQ(job.startMode, StartMode::Manual);
    carryOn.open();
    ASSERT_TRUE(runUntilThreadsEnd());

    EXPECT_TRUE(workerEnded.load());
    EXPECT_FALSE(aliveAfterStop.load());
    EXPECT_EQ(answerAfterStop.load(), static_cast<int>(WriteResult::Stop));
    EXPECT_EQ(job.completedBytes, 1000);
    EXPECT_TRUE(logged(job, "User Cancel at 1000."));
    EXPECT_EQ(m_host.reasonOf(job), StopReason::User);
    // The job keeps its window and part logs while it waits to be started again.
    EXPECT_NE(job.run().detailWindow, nullptr);
}

TEST_F(JobRunnerRetryTest, StoppedJobStartsAgainAndResumes)
{
    const std::string source = randomBytes(60000, 9);
    Gate release;
    std::atomic<bool> held{false};
    ServedFile file{&source, -1, true, 2000, 0.0, 0};
    m_worker = [&](TransferTask& task) {
        if (!held.exchange(true)) {
            PartChannel& channel = *task.channel;
            answerWithRanges(channel, 60000);
            sendBytes(channel, source, 0, 20000);
            release.wait();
            return 0;
        }
        return serve(task, file);
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/again.bin");
    job.SetFileSize(60000);
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntil([&] { return job.completedBytes == 20000; }));
    JobRunner::Stop(job, StopReason::User);
    release.open();
    ASSERT_TRUE(runUntilThreadsEnd());

    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "again.bin"), source);
}

TEST_F(JobRunnerRetryTest, ErrorAnswerGoesThroughTheErrorStepAndCountsAgainstTheLimit)
{
    std::atomic<int> answers{0};
    std::atomic<int> errorSteps{0};
    m_worker = [&](TransferTask& task) {
        for (;;) {
            ++answers;
            ResponseInfo info;
            info.outcome = ResponseOutcome::OtherError;
            if (task.channel->response(info, ProtocolKind::Http) == 0)
                return 0;
            ++errorSteps;
            if (!task.channel->error({}))
                return 2;
        }
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/busy.bin");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    ASSERT_TRUE(runUntilThreadsEnd());

    // Three retries, then the limit: one thread throughout.
    EXPECT_EQ(answers.load(), 4);
    EXPECT_EQ(errorSteps.load(), 4);
    EXPECT_EQ(m_workersStarted.load(), 1);
    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_TRUE(logged(job, kMaximumError));
}

TEST_F(JobRunnerRetryTest, NotFoundOnTheOnlyUrlFailsTheJob)
{
    m_worker = [&](TransferTask& task) {
        ResponseInfo info;
        info.outcome = ResponseOutcome::NotFound;
        task.channel->response(info, ProtocolKind::Ftp);
        return 2;
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/missing.bin");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_TRUE(logged(job, "Error occured!"));
    EXPECT_EQ(m_host.reasonOf(job), StopReason::Error);
}

TEST_F(JobRunnerRetryTest, NotFoundMovesThePartToTheAlternateUrl)
{
    const std::string source = randomBytes(5000, 10);
    ServedFile file{&source, -1, true, 1000, 0.0, 0};
    std::vector<std::string> hosts;
    std::mutex hostsMutex;
    m_worker = [&](TransferTask& task) {
        {
            std::lock_guard lock(hostsMutex);
            hosts.push_back(task.url.host);
        }
        if (task.url.host == "127.0.0.1") {
            ResponseInfo info;
            info.outcome = ResponseOutcome::NotFound;
            // With another URL to try the answer counts as an error: the
            // worker takes the error step, which moves the part.
            if (task.channel->response(info, ProtocolKind::Http) != 0)
                task.channel->error({});
            return 2;
        }
        return serve(task, file);
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/moved.bin");
    job.alternateUrls.push_back({"http://127.0.0.2:8080/moved.bin", 0});
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    EXPECT_EQ(job.GetState(), JobState::Completed);
    std::lock_guard lock(hostsMutex);
    EXPECT_EQ(hosts, (std::vector<std::string>{"127.0.0.1", "127.0.0.2"}));
}

TEST_F(JobRunnerRetryTest, TenthRetryMovesTheJobToTheEndOfTheQueueWhenTheListAgrees)
{
    m_settings.SetOption(OptionId::RetryCount, 50);
    m_settings.SetOption(OptionId::MoveToBottomAfterRetries, 1);
    m_host.moveAnswer = true;
    m_worker = [&](TransferTask& task) {
        while (task.channel->error({})) { }
        return 2;
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/later.bin");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Ready);
    EXPECT_EQ(m_host.reasonOf(job), StopReason::MovedToEnd);
    EXPECT_EQ(m_host.moveRequests, 1u);
    EXPECT_EQ(job.run().retryBase, 10);
    EXPECT_TRUE(logged(job, "Error encountered.  Download again later."));
}

TEST_F(JobRunnerRetryTest, UnlimitedRetriesWithoutAnyDataStopAfterAHundredTries)
{
    m_settings.SetOption(OptionId::AlwaysRetry, 1);
    m_settings.SetOption(OptionId::StopAfterFruitlessTries, 1);
    m_settings.SetOption(OptionId::MoveToBottomAfterRetries, 0);
    std::atomic<int> failures{0};
    m_worker = [&](TransferTask& task) {
        do
            ++failures;
        while (task.channel->error({}));
        return 2;
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/fruitless.bin");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    EXPECT_EQ(failures.load(), 101);
    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_TRUE(logged(job, "Didn't receive any data within 99 tries, should stop."));
}

TEST_F(JobRunnerRetryTest, MissingProcedureFailsTheJobWithStartThreadError)
{
    DownloadJob& job = makeJob("ftp://127.0.0.1:2121/file.bin");
    EXPECT_EQ(start(job), JobStartResult::Failed);
    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_TRUE(logged(job, "Start Thread Error!"));
}

TEST_F(JobRunnerRetryTest, MessagesOfAStaleHandleBlockAreIgnored)
{
    Gate hold;
    std::atomic<bool> started{false};
    m_worker = [&](TransferTask& task) {
        started = true;
        hold.wait();
        return task.channel->alive() ? 1 : 0;
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/stale.bin");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntil([&] { return started.load(); }));

    JobRunner& runner = *runnerOf(job);
    ThreadHandleBlock stale;
    PartMessage message;
    message.block = &stale;
    message.position = 0;
    const uint8_t byte = 1;
    message.data = {&byte, 1};
    EXPECT_EQ(job.run().detailWindow->send(WM_PART_DATA, reinterpret_cast<uintptr_t>(&message)), 0);
    EXPECT_EQ(job.completedBytes, 0);
    // The part's own block is accepted; once killed it is not.
    auto* current = const_cast<ThreadHandleBlock*>(runner.blockOf(*runner.parts().front()));
    ASSERT_NE(current, nullptr);
    PartMessage log;
    log.block = current;
    log.text = "hello";
    EXPECT_EQ(job.run().detailWindow->send(WM_PART_LOG, reinterpret_cast<uintptr_t>(&log)), 1);
    current->kill();
    EXPECT_EQ(job.run().detailWindow->send(WM_PART_LOG, reinterpret_cast<uintptr_t>(&log)), 0);
    JobRunner::Stop(job, StopReason::User);
    hold.open();
    ASSERT_TRUE(runUntilThreadsEnd());
}

}  // namespace
}  // namespace fetchora::test
