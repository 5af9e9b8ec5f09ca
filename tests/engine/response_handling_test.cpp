// What the job window does with an answer: size checks on the first and on
// later answers, what the job learns, redirects (relative places, cookies,
// the login, loops) and failed URLs.
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "engine/response_handling.h"
#include "model/job_part.h"
#include "net/url.h"

namespace fetchora {
namespace {

class FakeHost final : public ResponseHost {
public:
    explicit FakeHost(const std::string& url)
    {
        record.SetUrl(url);
        record.RebuildUrlEntries();
        thePart = std::make_unique<JobPart>(&record, 0);
        thePart->markRunning();
    }

    DownloadJob& job() override { return record; }
    JobPart& part() override { return *thePart; }
    bool isFirstPart() const override { return firstPart; }
    void log(LogKind kind, std::string text) override { thePart->log.add(kind, std::move(text), 0); }
    void logMessage(uint32_t messageId, std::initializer_list<std::string_view> args) override
    {
        thePart->log.addMessage(messageId, 0, nullptr, args);
    }
    bool firstAnswer() const override { return !answered; }
    void markAnswered() override { answered = true; }
    int& redirectCount() override { return redirects; }
    FileIdentity& runIdentity() override { return identity; }
    bool noteRangeRefused() override { return ++rangeRefusals >= kRangeRefusalLimit; }
    bool otherPartRunning() const override { return otherPartsRunning; }
    void retryPartLater() override { ++laterRetries; }
    bool hasOtherUrl() const override { return otherUrl; }
    void noteUrlFailure(bool bad) override { failures.push_back(bad); }
    bool moveToNextUrl() override
    {
        ++moves;
        return otherUrl;
    }
    void restartPart(bool useSiteLimit) override { restarts.push_back(useSiteLimit); }
    void restartPartFromZero() override { ++zeroRestarts; }
    void stopPart(StopReason reason) override { stopped = reason; }
    bool anyPartRunning() const override { return otherPartsRunning; }
    void finishJob(StopReason reason) override { finished = reason; }
    void startOver() override { ++startOvers; }
    void startOtherParts() override { ++otherPartsStarted; }

    bool logged(const std::string& text) const
    {
        for (const LogEntry& entry : thePart->log.entries()) {
            if (entry.text == text)
                return true;
        }
        return false;
    }

    DownloadJob record;
    std::unique_ptr<JobPart> thePart;
    bool firstPart = true;
    bool answered = false;
    int redirects = 0;
    bool otherUrl = false;
    bool otherPartsRunning = false;
    std::vector<bool> failures;
    int moves = 0;
    std::vector<bool> restarts;
    int zeroRestarts = 0;
    std::optional<StopReason> stopped;
    std::optional<StopReason> finished;
    int startOvers = 0;
    int otherPartsStarted = 0;
    FileIdentity identity;
    int rangeRefusals = 0;
    int laterRetries = 0;
};

ResponseInfo success(int64_t size, ResumeInfo resume = ResumeInfo::Honoured)
{
    ResponseInfo info;
    info.outcome = ResponseOutcome::Success;
    info.size = size;
    info.resume = resume;
    return info;
}

ResponseInfo redirect(const std::string& location, const std::string& cookie = {})
{
    ResponseInfo info;
    info.outcome = ResponseOutcome::Redirect;
    info.location = location;
    info.cookie = cookie;
    return info;
}

TEST(HandleResponse, FirstAnswerLearnsSizeResumeDateAndName)
{
    FakeHost host("http://files.example/dl/a.zip");
    ResponseInfo info = success(1234);
    info.lastModified = "21 Oct 2015 07:28:00";
    info.fileName = "re:port/x.zip";
    EXPECT_EQ(HandleResponse(host, info, ProtocolKind::Http), 1);
    EXPECT_EQ(host.record.fileSize, 1234);
    EXPECT_TRUE(host.record.IsSizeKnown());
    EXPECT_EQ(host.record.optionFlags & (kOptResumeKnown | kOptResumable), kOptResumeKnown | kOptResumable);
    EXPECT_EQ(host.record.remoteFileTime, 1445412480);
    // The server's name is kept to one safe path component.
    EXPECT_EQ(host.record.fileName, "re_port_x.zip");
    EXPECT_EQ(host.otherPartsStarted, 1);
    EXPECT_TRUE(host.logged("Start Receiving Data!"));
    EXPECT_TRUE(host.answered);
}

TEST(HandleResponse, ServerNameIsIgnoredOnceDataArrived)
{
    FakeHost host("http://files.example/dl/a.zip");
    host.record.completedBytes = 10;
    ResponseInfo info = success(1234);
    info.fileName = "other.zip";
    EXPECT_EQ(HandleResponse(host, info, ProtocolKind::Http), 1);
    EXPECT_EQ(host.record.fileName, "");
}

TEST(HandleResponse, FirstAnswerWithAnotherSizeFailsTheUrl)
{
    for (bool firstPart : {true, false}) {
        FakeHost host("http://files.example/a.zip");
        host.firstPart = firstPart;
        host.record.SetFileSize(5000);
        EXPECT_EQ(HandleResponse(host, success(6000), ProtocolKind::Http), 0);
        EXPECT_TRUE(host.logged(firstPart ? "File size already changed!"
                                          : "File size is different,can't download from this site."));
        EXPECT_EQ(host.failures, std::vector<bool>{true});
        EXPECT_EQ(host.stopped, StopReason::Error);
        EXPECT_EQ(host.finished, StopReason::Error);
        EXPECT_EQ(host.record.fileSize, 5000);
        EXPECT_EQ(host.otherPartsStarted, 0);
    }
}

TEST(HandleResponse, LaterAnswerWithAnotherSizeStopsTheJob)
{
    FakeHost host("http://files.example/a.zip");
    host.answered = true;
    host.record.SetFileSize(5000);
    EXPECT_EQ(HandleResponse(host, success(4000), ProtocolKind::Http), 0);
    EXPECT_TRUE(host.logged("File size is different,can't download from this site."));
    EXPECT_EQ(host.finished, StopReason::Error);
}

TEST(HandleResponse, PartPastZeroOnAUrlThatIgnoresRangesMovesOrStartsOver)
{
    FakeHost alone("http://files.example/a.zip");
    alone.record.SetFileSize(5000);
    alone.thePart->SetRange({1000, kOpenEnd});
    EXPECT_EQ(HandleResponse(alone, success(5000, ResumeInfo::NotHonoured), ProtocolKind::Http), 0);
    EXPECT_EQ(alone.zeroRestarts, 1);
    EXPECT_FALSE(alone.record.optionFlags & kOptResumable);

    FakeHost mirrored("http://files.example/a.zip");
    mirrored.otherUrl = true;
    mirrored.answered = true;  // not the first answer: the data would still start at 0
    mirrored.record.SetFileSize(5000);
    mirrored.thePart->SetRange({1000, kOpenEnd});
    EXPECT_EQ(HandleResponse(mirrored, success(5000, ResumeInfo::Unknown), ProtocolKind::Http), 0);
    EXPECT_EQ(mirrored.restarts, std::vector<bool>{true});
    EXPECT_EQ(mirrored.zeroRestarts, 0);
}

// A running job's reconnect that comes back without its range.
class RangeRefusedOnReconnect : public testing::Test {
protected:
    RangeRefusedOnReconnect() : host("http://files.example/a.iso")
    {
        ResponseInfo first = success(50000);
        first.lastModified = "21 Oct 2015 07:28:00";
        first.etag = "\"v1\"";
        EXPECT_EQ(HandleResponse(host, first, ProtocolKind::Http), 1);
        host.record.completedRanges = {{0, 20000, 0, 0}, {30000, 40000, 0, 0}};
        host.record.RecomputeCompletedBytes();
        host.thePart->SetRange({20000, kOpenEnd});
        host.thePart->received = 4000;
        host.otherPartsStarted = 0;
    }

    ResponseInfo wholeFile() const
    {
        ResponseInfo info = success(50000, ResumeInfo::NotHonoured);
        info.lastModified = "21 Oct 2015 07:28:00";
        info.etag = "\"v1\"";
        return info;
    }

    FakeHost host;
};

TEST_F(RangeRefusedOnReconnect, StopsOnlyThatPartWhileOthersRunAndKeepsTheRanges)
{
    host.otherPartsRunning = true;
    EXPECT_EQ(HandleResponse(host, wholeFile(), ProtocolKind::Http), 0);
    EXPECT_EQ(host.stopped, StopReason::Error);
    EXPECT_EQ(host.finished, std::nullopt);
    EXPECT_EQ(host.zeroRestarts, 0);
    EXPECT_EQ(host.startOvers, 0);
    EXPECT_EQ(host.record.completedBytes, 30000);
    // One refusal does not make the job a job that cannot resume.
    EXPECT_TRUE(host.record.optionFlags & kOptResumable);
    EXPECT_TRUE(host.logged("The server sent the whole file instead of the range from byte 24000."));
}

TEST_F(RangeRefusedOnReconnect, LastPartTriesAgainLaterUntilTheUrlKeepsRefusing)
{
    for (int refusal = 1; refusal < kRangeRefusalLimit; ++refusal) {
        EXPECT_EQ(HandleResponse(host, wholeFile(), ProtocolKind::Http), 0);
        EXPECT_EQ(host.laterRetries, refusal);
        EXPECT_EQ(host.stopped, std::nullopt);
    }
    // The URL keeps refusing: the part stops, the job fails with its data kept.
    EXPECT_EQ(HandleResponse(host, wholeFile(), ProtocolKind::Http), 0);
    EXPECT_EQ(host.laterRetries, kRangeRefusalLimit - 1);
    EXPECT_EQ(host.stopped, StopReason::Error);
    EXPECT_EQ(host.finished, StopReason::Error);
    EXPECT_EQ(host.zeroRestarts + host.startOvers, 0);
    EXPECT_EQ(host.record.completedBytes, 30000);
}

TEST_F(RangeRefusedOnReconnect, AnotherUrlTakesThePart)
{
    host.otherUrl = true;
    EXPECT_EQ(HandleResponse(host, wholeFile(), ProtocolKind::Http), 0);
    EXPECT_EQ(host.restarts, std::vector<bool>{true});
    EXPECT_EQ(host.stopped, std::nullopt);
    EXPECT_EQ(host.zeroRestarts + host.startOvers, 0);
}

TEST_F(RangeRefusedOnReconnect, ChangedFileStartsOverFromZero)
{
    struct Case {
        const char* name;
        int64_t size;
        const char* lastModified;
        const char* etag;
    };
    const Case cases[] = {
        {"size", 60000, "21 Oct 2015 07:28:00", "\"v1\""},
        {"date", 50000, "22 Oct 2015 07:28:00", "\"v1\""},
        {"tag", 50000, "21 Oct 2015 07:28:00", "\"v2\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.startOvers = 0;
        host.stopped.reset();
        host.record.SetFileSize(50000);
        host.record.SetRemoteFileTime(1445412480);
        host.identity = {true, 50000, 1445412480, "\"v1\""};
        host.otherPartsRunning = true;
        ResponseInfo info = success(c.size, ResumeInfo::NotHonoured);
        info.lastModified = c.lastModified;
        info.etag = c.etag;
        EXPECT_EQ(HandleResponse(host, info, ProtocolKind::Http), 0);
        EXPECT_EQ(host.startOvers, 1);
        EXPECT_EQ(host.stopped, std::nullopt);
        EXPECT_EQ(host.record.fileSize, c.size);
        EXPECT_TRUE(host.logged("The file on the server is newer, you should download it again."));
    }
    // Without a tag or date on the later answer only the size can tell.
    host.startOvers = 0;
    host.identity = {true, 50000, 1445412480, "\"v1\""};
    host.record.SetRemoteFileTime(1445412480);
    EXPECT_EQ(HandleResponse(host, success(50000, ResumeInfo::NotHonoured), ProtocolKind::Http), 0);
    EXPECT_EQ(host.startOvers, 0);
    EXPECT_EQ(host.stopped, StopReason::Error);
}

TEST(HandleResponse, UnknownSizeMeansNoResume)
{
    FakeHost host("http://files.example/a.zip");
    EXPECT_EQ(HandleResponse(host, success(-1), ProtocolKind::Http), 1);
    EXPECT_FALSE(host.record.IsSizeKnown());
    EXPECT_EQ(host.record.optionFlags & (kOptResumeKnown | kOptResumable), kOptResumeKnown);
}

TEST(HandleResponse, RecheckFindsANewerFileAndStartsOver)
{
    FakeHost host("http://files.example/a.zip");
    host.record.SetFileSize(100);
    host.record.SetRemoteFileTime(1000);
    host.record.optionFlags |= kOptRecheck;
    ResponseInfo info = success(100);
    info.lastModified = "21 Oct 2015 07:28:00";
    EXPECT_EQ(HandleResponse(host, info, ProtocolKind::Http), 0);
    EXPECT_TRUE(host.logged("The file on the server is newer, you should download it again."));
    EXPECT_EQ(host.startOvers, 1);
}

TEST(HandleResponse, RelativeRedirectStaysOnTheHostWithItsLoginAndCookie)
{
    FakeHost host("http://user:pw@files.example/a/b/f.zip?x=1");
    EXPECT_EQ(HandleResponse(host, redirect("../c/g.zip", "sid=9"), ProtocolKind::Http), 0);
    EXPECT_TRUE(host.logged("Redirect to ../c/g.zip"));
    const UrlEntry& entry = host.record.run().urlEntries[0];
    EXPECT_EQ(entry.host, "files.example");
    EXPECT_EQ(entry.object, "/a/c/g.zip");
    EXPECT_EQ(entry.userName, "user");
    EXPECT_EQ(entry.cookie, "sid=9");
    EXPECT_EQ(host.record.defaultName(), "g.zip");
    EXPECT_EQ(host.restarts, std::vector<bool>{false});
    EXPECT_EQ(host.redirects, 1);
}

TEST(HandleResponse, RedirectToAnotherHostLeavesLoginAndCookieBehind)
{
    FakeHost host("http://user:pw@files.example/f.zip");
    host.record.run().urlEntries[0].cookie = "old=1";
    host.record.SetFileName("chosen.zip");
    EXPECT_EQ(HandleResponse(host, redirect("26http://mirror.example:8080/f.zip"), ProtocolKind::Http), 0);
    const UrlEntry& entry = host.record.run().urlEntries[0];
    EXPECT_EQ(entry.host, "mirror.example");
    EXPECT_EQ(entry.port, 8080);
    EXPECT_EQ(entry.userName, "");
    EXPECT_EQ(entry.cookie, "");
    EXPECT_EQ(host.record.fileName, "chosen.zip");
    EXPECT_EQ(host.restarts, std::vector<bool>{true});
}

TEST(HandleResponse, LoginStaysBehindWhenTheSchemeChangesAndSecureCookiesNeverGoToPlainHttp)
{
    FakeHost toHttps("http://user:pw@files.example:8080/f.zip");
    ResponseInfo upgrade = redirect("https://files.example:8080/f.zip", "plain=1");
    upgrade.secureCookie = "token=s3";
    EXPECT_EQ(HandleResponse(toHttps, upgrade, ProtocolKind::Http), 0);
    EXPECT_EQ(toHttps.record.run().urlEntries[0].service, ServiceCode::Https);
    EXPECT_EQ(toHttps.record.run().urlEntries[0].userName, "");
    EXPECT_EQ(toHttps.record.run().urlEntries[0].password, "");
    EXPECT_EQ(toHttps.record.run().urlEntries[0].cookie, "plain=1; token=s3");

    FakeHost toHttp("https://user:pw@files.example/f.zip");
    toHttp.record.run().urlEntries[0].cookie = "token=s3";
    ResponseInfo downgrade = redirect("http://files.example/f.zip");
    downgrade.secureCookie = "other=4";
    EXPECT_EQ(HandleResponse(toHttp, downgrade, ProtocolKind::Http), 0);
    EXPECT_EQ(toHttp.record.run().urlEntries[0].service, ServiceCode::Http);
    EXPECT_EQ(toHttp.record.run().urlEntries[0].userName, "");
    EXPECT_EQ(toHttp.record.run().urlEntries[0].cookie, "");

    // Same scheme, host and port: the login goes along.
    FakeHost same("https://user:pw@files.example/a/f.zip");
    EXPECT_EQ(HandleResponse(same, redirect("/b/f.zip"), ProtocolKind::Http), 0);
    EXPECT_EQ(same.record.run().urlEntries[0].userName, "user");
    EXPECT_EQ(same.record.run().urlEntries[0].password, "pw");
}

TEST(HandleResponse, RedirectLoopEndsAfterTheLimit)
{
    FakeHost host("http://files.example/loop");
    for (int i = 0; i < kRedirectLimit; ++i) {
        ASSERT_EQ(HandleResponse(host, redirect("/loop"), ProtocolKind::Http), 0);
        ASSERT_FALSE(host.stopped) << i;
    }
    EXPECT_EQ(HandleResponse(host, redirect("/loop"), ProtocolKind::Http), 0);
    EXPECT_TRUE(host.logged("Too many redirects (more than 20)."));
    EXPECT_EQ(host.stopped, StopReason::Error);
    EXPECT_EQ(host.restarts.size(), static_cast<std::size_t>(kRedirectLimit));

    // A success in between starts the count again.
    FakeHost counted("http://files.example/loop");
    counted.redirects = kRedirectLimit;
    HandleResponse(counted, success(10), ProtocolKind::Http);
    EXPECT_EQ(counted.redirects, 0);
}

TEST(HandleResponse, RedirectToNothingUsableFailsTheUrl)
{
    for (const char* location : {"", "mailto:a@b.c", "javascript:alert(1)", "pnm://h/f", "http://"}) {
        FakeHost host("http://files.example/f");
        EXPECT_EQ(HandleResponse(host, redirect(location), ProtocolKind::Http), 0) << location;
        EXPECT_EQ(host.stopped, StopReason::Error) << location;
        EXPECT_EQ(host.record.run().urlEntries[0].object, "/f") << location;
    }
}

TEST(HandleResponse, FailedUrls)
{
    // May work later: the worker takes the error step, the retry decides.
    FakeHost busy("http://files.example/f");
    ResponseInfo info;
    info.outcome = ResponseOutcome::OtherError;
    EXPECT_EQ(HandleResponse(busy, info, ProtocolKind::Http), 1);
    EXPECT_EQ(busy.failures, std::vector<bool>{false});
    EXPECT_FALSE(busy.stopped);

    // Not found with another URL to try counts as "may work later".
    FakeHost mirrored("http://files.example/f");
    mirrored.otherUrl = true;
    info.outcome = ResponseOutcome::NotFound;
    EXPECT_EQ(HandleResponse(mirrored, info, ProtocolKind::Http), 1);

    // Not found from an FTP URL moves on to the next URL at once.
    FakeHost ftp("ftp://files.example/f");
    ftp.otherUrl = true;
    EXPECT_EQ(HandleResponse(ftp, info, ProtocolKind::Ftp), 0);
    EXPECT_EQ(ftp.failures, std::vector<bool>{true});
    EXPECT_EQ(ftp.restarts, std::vector<bool>{true});

    // Nothing left: the part stops, and with it the job when it was the last.
    FakeHost last("http://files.example/f");
    last.otherPartsRunning = true;
    EXPECT_EQ(HandleResponse(last, info, ProtocolKind::Http), 0);
    EXPECT_EQ(last.stopped, StopReason::Error);
    EXPECT_FALSE(last.finished);
}

TEST(RedirectTargetUrl, RelativeAndAbsolutePlaces)
{
    const UrlEntry deep = ParseUrl("http://h.example/one/two/file.zip?q=1").value();
    const std::pair<std::string, std::string> cases[] = {
        {"../sibling/f.zip", "http://h.example/one/sibling/f.zip"},
        {"../../../../f.zip", "http://h.example/f.zip"},
        {"./here.zip", "http://h.example/one/two/here.zip"},
        {"other.zip", "http://h.example/one/two/other.zip"},
        {"/root.zip", "http://h.example/root.zip"},
        {"\\win\\path.zip", "http://h.example/win/path.zip"},
        {"?page=2", "http://h.example/one/two/file.zip?page=2"},
        {"//cdn.example/x", "http://cdn.example/x"},
        {"https://abs.example/y", "https://abs.example/y"},
        {"26http://abs.example/z", "http://abs.example/z"},
    };
    for (const auto& [location, expected] : cases)
        EXPECT_EQ(RedirectTargetUrl(deep, location), expected) << location;

    const UrlEntry secure = ParseUrl("https://[::1]:8443/a/b").value();
    EXPECT_EQ(RedirectTargetUrl(secure, "c"), "https://[::1]:8443/a/c");
    EXPECT_EQ(RedirectTargetUrl(secure, "  "), std::nullopt);
}

}  // namespace
}  // namespace fetchora
