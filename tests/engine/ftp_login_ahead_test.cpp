// The later FTP connections of a fresh job log in while the first one asks
// for the size: the real FTP worker and runner against pyftpdlib, the logins
// and sessions counted by the server, the file compared byte for byte.
#include "config/site_rules.h"
#include "engine/runner_fixture.h"
#include "engine/site_connections.h"
#include "net/ftp_transfer.h"
#include "support/real_peers.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>

namespace fetchora::test {
namespace {

constexpr const char* kAheadLine = "Logged in already: a connection made ahead.";

class FtpLoginAhead : public RunnerTest {
protected:
    FtpLoginAhead() { m_threads.registerProcedure(ServiceCode::Ftp, FtpTransfer); }

    void startPeer(FtpPeerOptions options = {})
    {
        m_peer = std::make_unique<PyftpdlibPeer>(std::move(options));
        writePseudoRandomFile(m_peer->userRoot() / "big.bin", 3 << 20, 61);
    }

    std::string url() const
    {
        return std::string("ftp://") + PyftpdlibPeer::kFtpUser + ":" + PyftpdlibPeer::kFtpPassword
            + "@127.0.0.1:" + std::to_string(m_peer->port()) + "/big.bin";
    }

    bool downloadedExactly(DownloadJob& job)
    {
        if (start(job) != JobStartResult::Started || !runUntilEnded(job))
            return false;
        JobLockGuard guard(m_lock);
        return job.GetState() == JobState::Completed
            && sameFileBytes(m_peer->userRoot() / "big.bin", job.GetLocalPath());
    }

    int linesOf(const DownloadJob& job, const std::string& text) const
    {
        const std::vector<std::string> lines = logOf(job);
        return static_cast<int>(std::count(lines.begin(), lines.end(), text));
    }

    // How many USER commands the server logged before its first SIZE.
    int loginsBeforeFirstSize() const
    {
        std::ifstream log(m_peer->logFile());
        int users = 0;
        for (std::string line; std::getline(log, line);) {
            if (line.find(" SIZE ") != std::string::npos)
                return users;
            if (line.find(" USER ") != std::string::npos)
                ++users;
        }
        return -1;
    }

    std::unique_ptr<PyftpdlibPeer> m_peer;
};

TEST_F(FtpLoginAhead, TheLaterConnectionsAreLoggedInBeforeTheSizeIsKnown)
{
    startPeer();
    DownloadJob& job = makeJob(url(), 4);
    ASSERT_TRUE(downloadedExactly(job));
    JobLockGuard guard(m_lock);
    // Each of the three later parts started on a login made ahead, and no
    // login was made for nothing.
    EXPECT_TRUE(logged(job, "Logging in 3 more connections ahead."));
    EXPECT_EQ(linesOf(job, kAheadLine), 3);
    EXPECT_EQ(m_peer->logins(), 4);
    // The server saw more than the first login before it was asked the size.
    EXPECT_GE(loginsBeforeFirstSize(), 2);
    EXPECT_LE(m_peer->peakSessions(), 4);
}

TEST_F(FtpLoginAhead, TheLoginsAheadStayWithinTheSiteLimit)
{
    startPeer();
    SiteRule rule;
    rule.urlMask = "ftp://127.0.0.1:" + std::to_string(m_peer->port()) + "/";
    rule.flags = kSiteDefaultFlags & ~kSiteUnlimited;
    rule.connection = 2;
    m_settings.siteRules().AddSiteRule(rule);
    DownloadJob& job = makeJob(url(), 4);
    ASSERT_TRUE(downloadedExactly(job));
    JobLockGuard guard(m_lock);
    // One login ahead fits beside the first connection.
    EXPECT_TRUE(logged(job, "Logging in 1 more connections ahead."));
    EXPECT_EQ(linesOf(job, kAheadLine), 1);
    EXPECT_LE(m_peer->peakSessions(), 2);
    EXPECT_EQ(m_sites.lookup(job)->used, 0);
}

TEST_F(FtpLoginAhead, RefusedLoginsAheadLeaveThePartsToLogInThemselves)
{
    // The server takes two sessions from one address; the logins ahead past
    // that are refused with 421 and the job still ends with the whole file.
    FtpPeerOptions options;
    options.maxSessionsPerAddress = 2;
    startPeer(options);
    DownloadJob& job = makeJob(url(), 4);
    ASSERT_TRUE(downloadedExactly(job));
    JobLockGuard guard(m_lock);
    EXPECT_GE(m_peer->refusedSessions(), 1);
    EXPECT_LE(linesOf(job, kAheadLine), 1);
}

TEST_F(FtpLoginAhead, AJobWhoseSizeIsKnownLogsInNothingAhead)
{
    startPeer();
    DownloadJob& job = makeJob(url(), 4);
    job.SetFileSize(3 << 20);
    ASSERT_TRUE(downloadedExactly(job));
    JobLockGuard guard(m_lock);
    EXPECT_EQ(linesOf(job, kAheadLine), 0);
    EXPECT_EQ(m_peer->logins(), 4);
}

}  // namespace
}  // namespace fetchora::test
