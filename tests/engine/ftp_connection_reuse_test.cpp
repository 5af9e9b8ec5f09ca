// A finished job's logged-in FTP connection handed to the next job for the
// same site: the real FTP worker and runner against pyftpdlib, the logins
// counted by the server.
#include "engine/job_queue.h"
#include "engine/runner_fixture.h"
#include "net/ftp_transfer.h"
#include "support/real_peers.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace fetchora::test {
namespace {

class FtpConnectionReuse : public RunnerTest {
protected:
    FtpConnectionReuse()
    {
        m_threads.registerProcedure(ServiceCode::Ftp, FtpTransfer);
        m_settings.SetOption(OptionId::ReuseFtpConnections, 1);
    }

    void startPeer(FtpPeerOptions options = {})
    {
        m_peer = std::make_unique<PyftpdlibPeer>(std::move(options));
        writePseudoRandomFile(m_peer->userRoot() / "one.bin", 1 << 20, 51);
        writePseudoRandomFile(m_peer->userRoot() / "two.bin", 700000, 52);
    }

    std::string url(const std::string& name, const std::string& user = PyftpdlibPeer::kFtpUser) const
    {
        return "ftp://" + user + ":" + PyftpdlibPeer::kFtpPassword + "@127.0.0.1:" + std::to_string(m_peer->port())
            + "/" + name;
    }

    // Runs the job to its end; true when it completed with the server's bytes.
    bool download(DownloadJob& job, const std::string& name)
    {
        if (start(job) != JobStartResult::Started || !runUntilEnded(job))
            return false;
        JobLockGuard guard(m_lock);
        return job.GetState() == JobState::Completed && sameFileBytes(m_peer->userRoot() / name, job.GetLocalPath());
    }

    std::unique_ptr<PyftpdlibPeer> m_peer;
};

TEST_F(FtpConnectionReuse, TheNextJobForTheSameSiteTakesOverTheLogin)
{
    startPeer();
    DownloadJob& first = makeJob(url("one.bin"));
    ASSERT_TRUE(download(first, "one.bin"));
    DownloadJob& second = makeJob(url("two.bin"));
    DownloadJob& otherUser = makeJob(url("two.bin", "somebody"));
    {
        JobLockGuard guard(m_lock);
        ASSERT_NE(first.run().reusedConnection, nullptr);
        // Another user name is another login: not handed over.
        EXPECT_FALSE(OfferFtpConnection(first, otherUser));
        ASSERT_TRUE(OfferFtpConnection(first, second));
        EXPECT_EQ(first.run().reusedConnection, nullptr);
    }
    ASSERT_TRUE(download(second, "two.bin"));
    EXPECT_EQ(m_peer->logins(), 1);
    EXPECT_TRUE(m_host.hasLine("Logged in already: the connection of the job before."));
}

TEST_F(FtpConnectionReuse, WithTheOptionOffEveryJobLogsIn)
{
    startPeer();
    m_settings.SetOption(OptionId::ReuseFtpConnections, 0);
    DownloadJob& first = makeJob(url("one.bin"));
    ASSERT_TRUE(download(first, "one.bin"));
    DownloadJob& second = makeJob(url("two.bin"));
    {
        JobLockGuard guard(m_lock);
        EXPECT_EQ(first.run().reusedConnection, nullptr);
        EXPECT_FALSE(OfferFtpConnection(first, second));
    }
    ASSERT_TRUE(download(second, "two.bin"));
    EXPECT_EQ(m_peer->logins(), 2);
}

TEST_F(FtpConnectionReuse, AConnectionIdleTooLongGivesWayToAFreshLogin)
{
    startPeer();
    m_ctx.ftpReuseIdleMs = 200;
    DownloadJob& first = makeJob(url("one.bin"));
    ASSERT_TRUE(download(first, "one.bin"));
    DownloadJob& second = makeJob(url("two.bin"));
    {
        JobLockGuard guard(m_lock);
        ASSERT_TRUE(OfferFtpConnection(first, second));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(download(second, "two.bin"));
    EXPECT_EQ(m_peer->logins(), 2);
    EXPECT_TRUE(m_host.hasLine("The connection of the job before was idle too long."));
}

TEST_F(FtpConnectionReuse, AConnectionTheServerClosedIsNoticedAndTheNextJobLogsIn)
{
    FtpPeerOptions options;
    options.idleTimeoutSeconds = 1;
    startPeer(options);
    DownloadJob& first = makeJob(url("one.bin"));
    ASSERT_TRUE(download(first, "one.bin"));
    DownloadJob& second = makeJob(url("two.bin"));
    {
        JobLockGuard guard(m_lock);
        ASSERT_TRUE(OfferFtpConnection(first, second));
    }
    // The server says 421 and hangs up after a second of silence.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ASSERT_TRUE(download(second, "two.bin"));
    EXPECT_EQ(m_peer->logins(), 2);
    EXPECT_TRUE(m_host.hasLine("The server closed the connection of the job before."));
}

}  // namespace
}  // namespace fetchora::test
