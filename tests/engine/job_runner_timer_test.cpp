// The job window's one-second timer: progress notices and the dial-up check;
// and the host address a worker reports.
#include <filesystem>

#include "engine/runner_fixture.h"

namespace fetchora::test {
namespace {

namespace fs = std::filesystem;

class FakeDialUp final : public DialUpMonitor {
public:
    bool dialing() const override { return m_dialing.load(); }
    bool connected() const override { return m_connected.load(); }
    std::string errorText() const override { return "Line busy"; }

    std::atomic<bool> m_dialing{true};
    std::atomic<bool> m_connected{false};
};

class ChangeRecorder final : public JobNotifySink {
public:
    void post(uint32_t message, uintptr_t, intptr_t lParam) override
    {
        if (message == WM_JOB_CHANGED)
            masks.push_back(static_cast<uint32_t>(lParam));
    }
    bool saw(uint32_t mask) const { return std::find(masks.begin(), masks.end(), mask) != masks.end(); }
    std::vector<uint32_t> masks;
};

class JobRunnerTimerTest : public RunnerTest { };

TEST_F(JobRunnerTimerTest, PartWaitingForDialUpStartsAtTheTickAfterTheLineIsUp)
{
    FakeDialUp dialUp;
    m_ctx.dialUp = &dialUp;
    ChangeRecorder changes;
    const std::string source = randomBytes(20000, 51);
    ServedFile file{&source, -1, true, 4096, 0.0, 0};
    m_worker = [&](TransferTask& task) { return serve(task, file); };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/dialled.bin");
    job.notifyWindow = &changes;
    job.SetFileSize(20000);
    ASSERT_EQ(start(job), JobStartResult::Started);

    JobRunner& runner = *runnerOf(job);
    ASSERT_EQ(runner.parts().size(), 1u);
    EXPECT_TRUE(runner.parts()[0]->isRunning());
    EXPECT_NE(runner.parts()[0]->flags & kPartWaitDialUp, 0u);
    EXPECT_TRUE(logged(job, "Wait dialing..."));
    EXPECT_EQ(m_workersStarted.load(), 0);

    dialUp.m_connected = true;
    dialUp.m_dialing = false;
    ASSERT_TRUE(runUntilEnded(job));
    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(m_workersStarted.load(), 1);
    // The tick that started the part also posted the progress columns.
    EXPECT_TRUE(changes.saw(kProgressChangeMask));
    job.notifyWindow = nullptr;
}

TEST_F(JobRunnerTimerTest, FailedDialUpIsLoggedOnTheWaitingPart)
{
    FakeDialUp dialUp;
    m_ctx.dialUp = &dialUp;
    DownloadJob& job = makeJob("http://127.0.0.1:8080/nodial.bin");
    ASSERT_EQ(start(job), JobStartResult::Started);
    dialUp.m_dialing = false;
    ASSERT_TRUE(runUntil([&] { return logged(job, "Dial-up Error: Line busy"); }));
    EXPECT_EQ(runnerOf(job)->parts()[0]->flags & kPartWaitDialUp, 0u);
    EXPECT_EQ(m_workersStarted.load(), 0);
    JobRunner::Stop(job, StopReason::User);
}

TEST_F(JobRunnerTimerTest, ResolvedAddressIsKeptForTheJobsLaterConnections)
{
    const std::string source = randomBytes(5000, 52);
    ServedFile file{&source, -1, true, 4096, 0.0, 0};
    m_worker = [&](TransferTask& task) {
        task.channel->resolved("127.0.0.1", false);
        task.channel->resolved("192.0.2.7", true);
        return serve(task, file);
    };
    DownloadJob& job = makeJob("http://localhost:8080/named.bin");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    EXPECT_EQ(job.GetState(), JobState::Completed);
    ASSERT_FALSE(job.run().urlEntries.empty());
    EXPECT_EQ(job.run().urlEntries[0].resolvedAddress, "127.0.0.1");
}

}  // namespace
}  // namespace fetchora::test
