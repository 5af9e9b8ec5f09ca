// Per-site connection limits as the runner applies them, and redirects.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "config/site_rules.h"
#include "engine/response_handling.h"
#include "engine/runner_fixture.h"

namespace fetchora::test {
namespace {

namespace fs = std::filesystem;

class JobRunnerSitesTest : public RunnerTest {
protected:
    void SetUp() override
    {
        m_settings.SetOption(OptionId::BlockSize, 10240);
        SiteRule rule;
        rule.urlMask = "http://127.0.0.1:8081/";
        rule.flags = kSiteDefaultFlags & ~kSiteUnlimited;
        rule.connection = 1;
        m_settings.siteRules().AddSiteRule(rule);
    }

    // A worker that answers and then holds its connection until released.
    std::function<int(TransferTask&)> holdingWorker(Gate& answered, Gate& release, int64_t size)
    {
        return [&answered, &release, size](TransferTask& task) {
            answerWithRanges(*task.channel, size);
            answered.open();
            release.wait();
            return 0;
        };
    }
};

TEST_F(JobRunnerSitesTest, SiteAllowingOneConnectionGetsOnlyOneRunningPart)
{
    const std::string source = randomBytes(200000, 31);
    ServedFile file{&source, -1, true, 4096, 0.0, 0};
    m_worker = [&](TransferTask& task) { return serve(task, file); };
    DownloadJob& job = makeJob("http://127.0.0.1:8081/one.bin", 4);
    job.SetFileSize(static_cast<int64_t>(source.size()));
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "one.bin"), source);
    EXPECT_EQ(m_maxActiveWorkers.load(), 1);
    EXPECT_TRUE(logged(job, "Reached max connections of this site"));
    EXPECT_EQ(m_sites.lookup(job)->used, 0);
}

TEST_F(JobRunnerSitesTest, AConnectionGivenBackByAPartStillConnectingGoesToAPartTheLimitRefused)
{
    // Two connections for the site, four parts: the second part is still
    // connecting when the first reaches its start and stops it. The part
    // the limit refused takes the connection given back, so that the job
    // does not end on one connection while the site allows two.
    SiteRule rule;
    rule.urlMask = "http://127.0.0.1:8084/";
    rule.flags = kSiteDefaultFlags & ~kSiteUnlimited;
    rule.connection = 2;
    m_settings.siteRules().AddSiteRule(rule);
    const std::string source = randomBytes(200000, 34);
    ServedFile file{&source, -1, true, 4096, 0.0, 0};
    std::atomic<bool> slowOneStarted{false};
    std::mutex startsMutex;
    std::vector<int64_t> starts;
    int mostConnections = 0;
    m_worker = [&](TransferTask& task) {
        const int64_t start = task.channel->rangeStart();
        {
            JobLockGuard guard(m_lock);
            std::lock_guard lock(startsMutex);
            starts.push_back(start);
            mostConnections = std::max(mostConnections, m_sites.lookup(task.url)->used);
        }
        if (start == 0) {
            // The first part, paced so that the job outlasts the runner's
            // one-second tick that hands the freed connection on.
            PartChannel& channel = *task.channel;
            if (answerWithRanges(channel, static_cast<int64_t>(source.size())) == 0)
                return 0;
            for (int64_t at = 0; at < static_cast<int64_t>(source.size()) && channel.alive(); at += 4096) {
                const size_t length = std::min<size_t>(4096, source.size() - static_cast<size_t>(at));
                if (sendBytes(channel, source, at, length) != WriteResult::Continue)
                    return 0;
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
            }
            return 0;
        }
        if (!slowOneStarted.exchange(true)) {
            // Connecting: nothing arrives before the part is stopped.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (task.channel->alive() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return 0;
        }
        return serve(task, file);
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8084/two.bin", 4);
    job.SetFileSize(static_cast<int64_t>(source.size()));
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "two.bin"), source);
    EXPECT_TRUE(logged(job, "Reached max connections of this site"));
    EXPECT_TRUE(logged(job, "Closed."));
    std::lock_guard lock(startsMutex);
    // The first part, the slow one and at least one that had been refused.
    EXPECT_GE(starts.size(), 3u);
    EXPECT_EQ(mostConnections, 2);
    EXPECT_EQ(m_sites.lookup(job)->used, 0);
}

TEST_F(JobRunnerSitesTest, SecondJobOnAFullSiteWaitsInTheQueue)
{
    Gate answered;
    Gate release;
    m_worker = holdingWorker(answered, release, 100000);
    DownloadJob& first = makeJob("http://127.0.0.1:8081/a.bin");
    DownloadJob& second = makeJob("http://127.0.0.1:8081/b.bin");
    second.startMode = StartMode::Manual;
    ASSERT_EQ(start(first), JobStartResult::Started);
    ASSERT_TRUE(runUntil([&] { return m_sites.full(second); }));

    EXPECT_EQ(start(second), JobStartResult::WaitingForSite);
    EXPECT_EQ(second.GetState(), JobState::Ready);
    EXPECT_EQ(second.startMode, StartMode::Immediately);
    EXPECT_EQ(runnerOf(second), nullptr);

    JobRunner::Stop(first, StopReason::User);
    EXPECT_FALSE(m_sites.full(second));
    release.open();
    ASSERT_TRUE(runUntilThreadsEnd());
}

TEST_F(JobRunnerSitesTest, RedirectIntoAFullSiteEndsTheJobWithReasonNine)
{
    Gate answered;
    Gate release;
    const auto hold = holdingWorker(answered, release, 100000);
    m_worker = [&](TransferTask& task) {
        if (task.url.host == "127.0.0.2") {
            ResponseInfo info;
            info.outcome = ResponseOutcome::Redirect;
            info.location = "http://127.0.0.1:8081/c.bin";
            task.channel->response(info, ProtocolKind::Http);
            return 0;
        }
        return hold(task);
    };
    DownloadJob& holder = makeJob("http://127.0.0.1:8081/holder.bin");
    ASSERT_EQ(start(holder), JobStartResult::Started);
    ASSERT_TRUE(runUntil([&] { return answered.isOpen(); }));

    DownloadJob& job = makeJob("http://127.0.0.2:8082/c.bin");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntil([&] { return job.GetState() != JobState::Downloading; }));

    EXPECT_EQ(job.GetState(), JobState::Ready);
    EXPECT_EQ(m_host.reasonOf(job), StopReason::NoConnectionSlot);
    EXPECT_TRUE(logged(job, "Redirect to http://127.0.0.1:8081/c.bin"));
    EXPECT_TRUE(logged(job, "Reached max connections of this site"));
    EXPECT_EQ(job.run().urlEntries.front().host, "127.0.0.1");

    JobRunner::Stop(holder, StopReason::User);
    release.open();
    ASSERT_TRUE(runUntilThreadsEnd());
}

TEST_F(JobRunnerSitesTest, OneConnectionPerFileRefusesASecondPartWithoutEndingTheJob)
{
    SiteRule rule;
    rule.urlMask = "http://127.0.0.3:8083/";
    rule.flags = kSiteDefaultFlags | kSiteOnePerFile;
    m_settings.siteRules().AddSiteRule(rule);
    const std::string source = randomBytes(100000, 32);
    ServedFile file{&source, -1, true, 4096, 0.0, 0};
    m_worker = [&](TransferTask& task) { return serve(task, file); };
    DownloadJob& job = makeJob("http://127.0.0.3:8083/per-file.bin", 3);
    job.SetFileSize(static_cast<int64_t>(source.size()));
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(m_maxActiveWorkers.load(), 1);
    EXPECT_TRUE(logged(job, "Only can use one connection for each file in this site."));
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "per-file.bin"), source);
}

TEST_F(JobRunnerSitesTest, RedirectFollowsTheNewUrlAndItsFileName)
{
    const std::string source = randomBytes(9000, 33);
    ServedFile file{&source, -1, true, 2000, 0.0, 0};
    m_worker = [&](TransferTask& task) {
        if (task.url.object == "/download?id=7") {
            ResponseInfo info;
            info.outcome = ResponseOutcome::Redirect;
            info.location = "../files/real-name.tar.gz";
            info.cookie = "session=1";
            task.channel->response(info, ProtocolKind::Http);
            return 0;
        }
        EXPECT_EQ(task.url.object, "/files/real-name.tar.gz");
        EXPECT_EQ(task.url.cookie, "session=1");
        return serve(task, file);
    };
    DownloadJob& job = makeJob("http://127.0.0.2:8080/download?id=7");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "real-name.tar.gz"), source);
}

TEST_F(JobRunnerSitesTest, EndlessRedirectsEndInsteadOfLooping)
{
    std::atomic<int> answers{0};
    m_worker = [&](TransferTask& task) {
        ++answers;
        ResponseInfo info;
        info.outcome = ResponseOutcome::Redirect;
        info.location = "/again";
        task.channel->response(info, ProtocolKind::Http);
        return 0;
    };
    DownloadJob& job = makeJob("http://127.0.0.2:8080/again");
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_EQ(answers.load(), kRedirectLimit + 1);
}

}  // namespace
}  // namespace fetchora::test
