// The FTP control dialogue without sockets: each reply in, the exact lines
// out. Covers the login of every FTP proxy style, the REST probe, the size
// query, the data connection set-up and the retries, and what a hostile
// server may not get away with.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "net/fake_part_channel.h"
#include "net/ftp_control.h"
#include "net/ftp_data_address.h"
#include "net/ftp_reply.h"
#include "support/ftp_dialogue.h"
#include "support/proxy_entries.h"

namespace fetchora {
namespace {

using test::FakePartChannel;

FtpSession siteSession()
{
    FtpSession session;
    session.host = "files.example";
    session.port = 21;
    session.user = "alice";
    session.password = "s3cret";
    session.object = "/pub/a%20b.bin";
    return session;
}

ProxyEntry ftpProxy(uint16_t type, uint32_t flags = kProxyPassive)
{
    return test::proxyEntry(type, "proxy.example", 2121, flags, "pu", "ppw");
}

// One control dialogue whose lines are collected instead of sent.
class Dialogue : public test::CollectedFtpDialogue {
public:
    explicit Dialogue(FtpSession session) : CollectedFtpDialogue(std::move(session)) { }

    // Feeds reply text ("\n" between lines) through the reply reader.
    FtpPumpResult reply(const std::string& text)
    {
        const std::string bytes = text + "\r\n";
        const std::span<char> room = m_reader.room();
        EXPECT_LE(bytes.size(), room.size());
        std::copy(bytes.begin(), bytes.end(), room.begin());
        m_reader.added(bytes.size());
        std::string line;
        FtpReply complete;
        FtpPumpResult result = FtpPumpResult::Nothing;
        while (m_reader.nextLine(line) == FtpReplyReader::Status::Line) {
            std::string copy = line;
            if (m_reader.gather(std::move(copy), complete))
                result = ActOnFtpReply(control, complete);
        }
        return result;
    }

private:
    FtpReplyReader m_reader;
};

using Lines = std::vector<std::string>;

// Logs in through the whole dialogue; the lines sent up to REST 100.
Lines loginLines(Dialogue& dialogue)
{
    EXPECT_EQ(dialogue.reply("220 proxy ready"), FtpPumpResult::Nothing);
    Lines lines = dialogue.take();
    for (int step = 0; step < 6 && (lines.empty() || lines.back() != "REST 100"); ++step) {
        const std::string last = lines.empty() ? "" : lines.back();
        std::string answer;
        if (last.starts_with("USER pu"))
            answer = "331 proxy password";
        else if (last.starts_with("PASS ppw"))
            answer = "230 proxy login ok";
        else if (last.starts_with("OPEN") || last.starts_with("SITE files"))
            answer = "220 site ready";
        else if (last.starts_with("USER") || last.starts_with("SITE alice"))
            answer = "331 password please";
        else if (last.starts_with("PASS"))
            answer = "230 logged in";
        else
            break;
        EXPECT_EQ(dialogue.reply(answer), FtpPumpResult::Nothing) << answer;
        for (std::string& line : dialogue.take())
            lines.push_back(std::move(line));
    }
    return lines;
}

TEST(FtpLoginTest, EveryProxyStyleSendsItsExactLoginLines)
{
    struct Case {
        std::optional<ProxyEntry> proxy;
        uint16_t sitePort;
        Lines expected;
    };
    const std::vector<Case> cases = {
        {std::nullopt, 21, {"USER alice", "PASS s3cret", "REST 100"}},
        {ftpProxy(kProxyFtpOpen), 21, {"OPEN files.example", "USER alice", "PASS s3cret", "REST 100"}},
        {ftpProxy(kProxyFtpOpen), 2100, {"OPEN files.example:2100", "USER alice", "PASS s3cret", "REST 100"}},
        {ftpProxy(kProxyFtpSite), 21, {"SITE files.example", "USER alice", "PASS s3cret", "REST 100"}},
        {ftpProxy(kProxyFtpUserColon), 2121, {"USER alice@files.example:2121", "PASS s3cret", "REST 100"}},
        {ftpProxy(kProxyFtpUserSpace), 2121, {"USER alice@files.example 2121", "PASS s3cret", "REST 100"}},
        {ftpProxy(kProxyFtpUserSpace), 21, {"USER alice@files.example", "PASS s3cret", "REST 100"}},
        {ftpProxy(kProxyFtpSiteUser), 21, {"SITE alice@files.example", "PASS s3cret", "REST 100"}},
        // The proxy's own login comes first.
        {ftpProxy(kProxyFtpUserColon, kProxyAuthenticate),
         21,
         {"USER pu", "PASS ppw", "USER alice@files.example", "PASS s3cret", "REST 100"}},
        {ftpProxy(kProxyFtpOpen, kProxyAuthenticate),
         21,
         {"USER pu", "PASS ppw", "OPEN files.example", "USER alice", "PASS s3cret", "REST 100"}},
    };
    for (std::size_t index = 0; index < cases.size(); ++index) {
        FtpSession session = siteSession();
        session.port = cases[index].sitePort;
        session.ftpProxy = cases[index].proxy;
        Dialogue dialogue(session);
        EXPECT_EQ(loginLines(dialogue), cases[index].expected) << "case " << index;
        EXPECT_TRUE(dialogue.channel.logged(ConnectionLogKind::Status, "Login Successful")) << "case " << index;
    }
}

TEST(FtpLoginTest, PasswordsNeverReachTheLog)
{
    FtpSession session = siteSession();
    session.ftpProxy = ftpProxy(kProxyFtpOpen, kProxyAuthenticate);
    Dialogue dialogue(session);
    loginLines(dialogue);
    const std::string log = dialogue.channel.dump();
    EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
    EXPECT_EQ(log.find("ppw"), std::string::npos) << log;
    EXPECT_TRUE(dialogue.channel.logged(ConnectionLogKind::Sent, "PASS ********")) << log;
    EXPECT_EQ(FtpLoggedLine("pass hunter2"), "PASS ********");
    EXPECT_EQ(FtpLoggedLine("PASV"), "PASV");
}

TEST(FtpLoginTest, AnonymousLoginUsesTheMailAddressAsPassword)
{
    FtpSession session = siteSession();
    session.user.clear();
    session.password.clear();
    session.anonymousPassword = "me@example.com";
    Dialogue dialogue(session);
    dialogue.reply("220 hi");
    dialogue.reply("331 any password");
    EXPECT_EQ(dialogue.take(), (Lines{"USER anonymous", "PASS me@example.com"}));
}

TEST(FtpLoginTest, RefusedLoginFailsTheUrlButAFullServerIsRetried)
{
    {
        Dialogue dialogue(siteSession());
        dialogue.reply("220 hi");
        dialogue.reply("331 password");
        EXPECT_EQ(dialogue.reply("530 Login incorrect."), FtpPumpResult::Failed);
        EXPECT_TRUE(dialogue.channel.loginFailed());
    }
    {
        Dialogue dialogue(siteSession());
        dialogue.reply("220 hi");
        EXPECT_EQ(dialogue.reply("530 Too many users, try later."), FtpPumpResult::Error);
        EXPECT_FALSE(dialogue.channel.loginFailed());
    }
    {
        // 421 ends the dialogue; after USER it also marks the login.
        Dialogue dialogue(siteSession());
        dialogue.reply("220 hi");
        EXPECT_EQ(dialogue.reply("421 Service not available"), FtpPumpResult::Error);
        EXPECT_TRUE(dialogue.channel.loginFailed());
    }
}

TEST(FtpLoginTest, WelcomeHintSetsTheSiteLimitOnceInAnyCase)
{
    Dialogue dialogue(siteSession());
    EXPECT_EQ(dialogue.reply("220-Welcome\n220-FetChora: MaxConnection=2 please\n220 ready"), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.channel.siteLimit(), 2);
    dialogue.reply("331 password\n");
    dialogue.reply("230-netants: maxconnection=5\n230 ok");
    EXPECT_EQ(dialogue.channel.siteLimitCalls(), 1);
    EXPECT_EQ(dialogue.channel.siteLimit(), 2);

    EXPECT_EQ(ParseMaxConnectionHint("220 NETANTS: MAXCONNECTION=3"), 3);
    EXPECT_EQ(ParseMaxConnectionHint("220 fetchora: maxconnection=0"), std::nullopt);
    EXPECT_EQ(ParseMaxConnectionHint("220 fetchora: maxconnection=x"), std::nullopt);
    EXPECT_EQ(ParseMaxConnectionHint("220 fetchora: maxconnection=99999999999999999999"), INT32_MAX);

    FtpSession known = siteSession();
    known.siteLimitKnown = true;
    Dialogue withRecord(known);
    withRecord.reply("220 fetchora: maxconnection=2");
    EXPECT_EQ(withRecord.channel.siteLimitCalls(), 0);
}

// Logs in up to the REST probe.
void loggedIn(Dialogue& dialogue)
{
    dialogue.reply("220 hi");
    dialogue.reply("331 password");
    dialogue.reply("230 ok");
    ASSERT_EQ(dialogue.take().back(), "REST 100");
}

TEST(FtpProbeTest, RestRefusedBeforeATypeGetsOneTypeIAndASecondTry)
{
    Dialogue dialogue(siteSession());
    loggedIn(dialogue);
    EXPECT_EQ(dialogue.reply("500 REST not allowed in ASCII mode"), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.take(), Lines{"TYPE I"});
    EXPECT_EQ(dialogue.channel.resumeMark(), 0);  // not yet: one refusal only
    EXPECT_EQ(dialogue.reply("200 Type set to I"), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.take(), Lines{"REST 100"});
    EXPECT_EQ(dialogue.reply("502 REST not implemented"), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.take(), Lines{"REST 0"});
    EXPECT_EQ(dialogue.channel.resumeMark(), 2);
    EXPECT_TRUE(dialogue.channel.logged(ConnectionLogKind::Status, "This site can't resume broken downloads."));
    EXPECT_EQ(dialogue.reply("502 REST not implemented"), FtpPumpResult::LoggedIn);
    EXPECT_FALSE(dialogue.control.canResume);
}

TEST(FtpProbeTest, RestAcceptedAfterTheTypeMarksTheSiteResumable)
{
    Dialogue dialogue(siteSession());
    loggedIn(dialogue);
    dialogue.reply("501 not in ASCII mode");
    dialogue.reply("200 Type set to I");
    EXPECT_EQ(dialogue.reply("350 Restarting at 100"), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.take(), (Lines{"TYPE I", "REST 100", "REST 0"}));
    EXPECT_EQ(dialogue.channel.resumeMark(), 1);
    EXPECT_EQ(dialogue.reply("350 Restarting at 0"), FtpPumpResult::LoggedIn);
    EXPECT_TRUE(dialogue.control.canResume);
}

TEST(FtpProbeTest, UrlWithItsOwnTypeGetsNoSecondTry)
{
    FtpSession session = siteSession();
    session.object = "/pub/file.bin;type=i";
    Dialogue dialogue(session);
    loggedIn(dialogue);
    dialogue.reply("500 no");
    EXPECT_EQ(dialogue.take(), Lines{"REST 0"});
    EXPECT_EQ(dialogue.channel.resumeMark(), 2);
}

// Logged in with the probe done.
void ready(Dialogue& dialogue)
{
    loggedIn(dialogue);
    dialogue.reply("350 ok");
    ASSERT_EQ(dialogue.reply("350 ok"), FtpPumpResult::LoggedIn);
    dialogue.take();
}

// The transfer of [from, to) asked for, with its passive data connection
// open; the lines sent stay to be taken.
void dataConnectionOpen(Dialogue& dialogue, int64_t from, int64_t to)
{
    BeginFtpTransfer(dialogue.control, from, to);
    dialogue.reply("227 (127,0,0,1,4,2)");
    FtpDataConnected(dialogue.control);
}

TEST(FtpSizeTest, SizeIsAskedInTheOtherPathFormAfterA550)
{
    Dialogue dialogue(siteSession());
    ready(dialogue);
    EXPECT_EQ(BeginFtpSizeQuery(dialogue.control), FtpPumpResult::Nothing);
    dialogue.reply("200 Type set to I");
    dialogue.reply("550 No such file");
    EXPECT_EQ(dialogue.reply("213 1234"), FtpPumpResult::SizeKnown);
    EXPECT_EQ(dialogue.take(), (Lines{"TYPE I", "SIZE /pub/a b.bin", "SIZE /pub/a%20b.bin"}));
    EXPECT_EQ(dialogue.control.size, 1234);
}

TEST(FtpSizeTest, TextFilesAreFetchedInAsciiMode)
{
    FtpSession session = siteSession();
    session.object = "/notes/README.TXT";
    session.asciiTypes = ".htm;.txt";
    Dialogue dialogue(session);
    ready(dialogue);
    BeginFtpSizeQuery(dialogue.control);
    EXPECT_EQ(dialogue.take(), Lines{"TYPE A"});
    EXPECT_FALSE(IsAsciiType("/notes/file.bin", ".txt"));
}

TEST(FtpSizeTest, AsciiTypesAreAFileTypePatternList)
{
    // "?" and "[...]" work as in every other file-type list.
    EXPECT_TRUE(IsAsciiType("/logs/day.A07", ".txt;.A[0-9]?"));
    EXPECT_TRUE(IsAsciiType("/logs/day.a07;type=i", ".txt;.A[0-9]?"));
    EXPECT_FALSE(IsAsciiType("/logs/day.A7", ".txt;.A[0-9]?")) << "a pattern stands for exactly its length";
    EXPECT_TRUE(IsAsciiType("/dir.v2/notes.TxT", ".txt"));
    EXPECT_FALSE(IsAsciiType("/dir.txt/notes", ".txt")) << "a folder's extension is not the file's";
    EXPECT_FALSE(IsAsciiType("/notes.", ".txt;."));
    EXPECT_FALSE(IsAsciiType("/notes.txt", ""));
}

TEST(FtpSizeTest, NegativeOrGiantSizesAreNoSize)
{
    for (const std::string answer : {"213 -5", "213 12ab", "213 99999999999999999999", "213 9223372036854775807"}) {
        Dialogue dialogue(siteSession());
        ready(dialogue);
        BeginFtpSizeQuery(dialogue.control);
        dialogue.reply("200 ok");
        EXPECT_EQ(dialogue.reply(answer), FtpPumpResult::SizeQueryFailed) << answer;
        EXPECT_EQ(dialogue.control.size, -1) << answer;
    }
}

TEST(FtpTransferDialogueTest, PassiveRestAndRetrWithTheRemainingLengthAnnounced)
{
    Dialogue dialogue(siteSession());
    ready(dialogue);
    EXPECT_EQ(BeginFtpTransfer(dialogue.control, 1000, 6000), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.reply("227 Entering Passive Mode (127,0,0,1,31,64)."), FtpPumpResult::OpenDataConnection);
    EXPECT_EQ(dialogue.control.dataAddress, "127.0.0.1");
    EXPECT_EQ(dialogue.control.dataPort, 31 * 256 + 64);
    EXPECT_EQ(FtpDataConnected(dialogue.control), FtpPumpResult::Nothing);
    dialogue.reply("350 Restarting at 1000");
    EXPECT_EQ(dialogue.reply("150 Opening BINARY mode (5000 bytes)"), FtpPumpResult::StartReceiving);
    EXPECT_EQ(dialogue.control.size, 6000);
    EXPECT_EQ(dialogue.take(), (Lines{"PASV", "REST 1000", "RETR /pub/a b.bin"}));
    EXPECT_EQ(dialogue.reply("226 Transfer complete"), FtpPumpResult::TransferComplete);
}

TEST(FtpTransferDialogueTest, ByteCountsIn150And125Replies)
{
    struct Case {
        std::string reply;
        FtpPumpResult result;
        int64_t size;
    };
    // Many servers give no count in parentheses: the data still flows.
    const std::vector<Case> cases = {
        {"150 Opening data connection for f (42 bytes)", FtpPumpResult::StartReceiving, 42},
        {"150 File status okay. About to open data connection.", FtpPumpResult::StartReceiving, -1},
        {"125 Data connection already open; transfer starting.", FtpPumpResult::StartReceiving, -1},
        {"150 Opening (0 bytes)", FtpPumpResult::Failed, -1},
    };
    for (const Case& item : cases) {
        Dialogue dialogue(siteSession());
        ready(dialogue);
        BeginFtpTransfer(dialogue.control, 0, -1);
        dialogue.reply("227 =127,0,0,1,4,2");
        FtpDataConnected(dialogue.control);
        EXPECT_EQ(dialogue.reply(item.reply), item.result) << item.reply;
        EXPECT_EQ(dialogue.control.size, item.size) << item.reply;
    }
}

TEST(FtpTransferDialogueTest, RefusedPassiveModeSwitchesToActiveWithoutAnFtpProxy)
{
    Dialogue dialogue(siteSession());
    ready(dialogue);
    BeginFtpTransfer(dialogue.control, 0, 100);
    EXPECT_EQ(dialogue.reply("502 PASV not implemented"), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.control.mode, FtpDataMode::Active);
    EXPECT_EQ(dialogue.reply("200 PORT command successful"), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.take(), (Lines{"PASV", "PORT 127,0,0,1,4,1", "RETR /pub/a b.bin"}));

    // "too many" in a 550 to RETR means the passive ports ran out.
    Dialogue busy(siteSession());
    ready(busy);
    dataConnectionOpen(busy, 0, 100);
    EXPECT_EQ(busy.reply("550 Too many passive connections"), FtpPumpResult::Nothing);
    EXPECT_EQ(busy.portsPrepared, 1);

    FtpSession proxied = siteSession();
    proxied.ftpProxy = ftpProxy(kProxyFtpUserColon);
    Dialogue viaProxy(proxied);
    viaProxy.control.loginState = FtpLoginState::Done;
    BeginFtpTransfer(viaProxy.control, 0, 100);
    EXPECT_EQ(viaProxy.reply("502 PASV not implemented"), FtpPumpResult::Error);
    EXPECT_EQ(viaProxy.portsPrepared, 0);
}

TEST(FtpTransferDialogueTest, NotFoundTriesEveryPathFormWithANewDataConnection)
{
    Dialogue dialogue(siteSession());
    ready(dialogue);
    BeginFtpTransfer(dialogue.control, 0, -1);
    for (int form = 0; form < 2; ++form) {
        EXPECT_EQ(dialogue.reply("227 (127,0,0,1,4,2)"), FtpPumpResult::OpenDataConnection);
        FtpDataConnected(dialogue.control);
        EXPECT_EQ(dialogue.reply("550 No such file"), FtpPumpResult::Nothing);
    }
    EXPECT_EQ(dialogue.reply("227 (127,0,0,1,4,2)"), FtpPumpResult::OpenDataConnection);
    FtpDataConnected(dialogue.control);
    EXPECT_EQ(dialogue.reply("550 No such file"), FtpPumpResult::Failed);
    EXPECT_EQ(dialogue.take(),
              (Lines{"PASV", "RETR /pub/a b.bin", "PASV", "RETR /pub/a%20b.bin", "PASV", "RETR pub/a b.bin"}));
    EXPECT_TRUE(dialogue.channel.logged(ConnectionLogKind::Error, "File Not Found."));
    EXPECT_EQ(dialogue.control.problem, "FTP 550 No such file");
}

TEST(FtpTransferDialogueTest, AnAbandonedTransferEndsOnItsNextFinalReply)
{
    Dialogue dialogue(siteSession());
    ready(dialogue);
    dataConnectionOpen(dialogue, 0, 100);
    dialogue.reply("150 Opening");
    AbandonFtpTransfer(dialogue.control);
    EXPECT_EQ(dialogue.reply("426 Connection closed; transfer aborted."), FtpPumpResult::TransferComplete);
    EXPECT_EQ(BeginFtpTransfer(dialogue.control, 50, 100), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.take().back(), "PASV");
}

// A later connection of a job whose site resumed and told the size: no
// probe, and the commands whose order is fixed leave without waiting.
FtpSession laterSession()
{
    FtpSession session = siteSession();
    session.resumeKnown = true;
    session.sendAhead = true;
    return session;
}

// Logs a later connection in; the lines up to the login's end.
Lines laterLogin(Dialogue& dialogue)
{
    dialogue.reply("220 hi");
    dialogue.reply("331 password");
    EXPECT_EQ(dialogue.reply("230 ok"), FtpPumpResult::LoggedIn);
    return dialogue.take();
}

// A later connection logged in whose size query went out with the PASV
// ahead of it (TYPE I, SIZE, PASV, all unanswered).
void sizeQuerySentAhead(Dialogue& dialogue)
{
    laterLogin(dialogue);
    ASSERT_EQ(BeginFtpSizeQuery(dialogue.control), FtpPumpResult::Nothing);
    ASSERT_EQ(dialogue.take(), (Lines{"TYPE I", "SIZE /pub/a b.bin", "PASV"}));
}

TEST(FtpSendAheadTest, LaterConnectionSkipsTheProbeAndSendsTypeSizePasvThenRestRetrTogether)
{
    Dialogue dialogue(laterSession());
    EXPECT_EQ(laterLogin(dialogue), (Lines{"USER alice", "PASS s3cret"}));
    EXPECT_TRUE(dialogue.control.canResume);
    EXPECT_EQ(dialogue.channel.resumeMark(), 0) << "the mark is the first connection's, not changed";

    EXPECT_EQ(BeginFtpSizeQuery(dialogue.control), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.take(), (Lines{"TYPE I", "SIZE /pub/a b.bin", "PASV"}));
    EXPECT_EQ(dialogue.reply("200 Type set to I"), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.reply("213 6000"), FtpPumpResult::SizeKnown);
    EXPECT_EQ(dialogue.control.size, 6000);

    EXPECT_EQ(BeginFtpTransfer(dialogue.control, 3000, 6000), FtpPumpResult::Nothing);
    EXPECT_TRUE(dialogue.take().empty()) << "the PASV went out with the size query";
    EXPECT_EQ(dialogue.reply("227 Entering Passive Mode (127,0,0,1,31,64)."), FtpPumpResult::OpenDataConnection);
    EXPECT_EQ(dialogue.control.dataPort, 31 * 256 + 64);
    EXPECT_EQ(FtpDataConnected(dialogue.control), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.take(), (Lines{"REST 3000", "RETR /pub/a b.bin"}));
    EXPECT_EQ(dialogue.reply("350 Restarting at 3000"), FtpPumpResult::Nothing);
    EXPECT_TRUE(dialogue.take().empty()) << "RETR is not sent twice";
    EXPECT_EQ(dialogue.reply("150 Opening BINARY mode (3000 bytes)"), FtpPumpResult::StartReceiving);
    EXPECT_EQ(dialogue.reply("226 Transfer complete"), FtpPumpResult::TransferComplete);

    // Active mode sends no PASV ahead; the size query still leaves at once.
    FtpSession active = laterSession();
    active.passive = false;
    Dialogue port(active);
    laterLogin(port);
    BeginFtpSizeQuery(port.control);
    EXPECT_EQ(port.take(), (Lines{"TYPE I", "SIZE /pub/a b.bin"}));
    port.reply("200 ok");
    EXPECT_EQ(port.reply("213 6000"), FtpPumpResult::SizeKnown);
    BeginFtpTransfer(port.control, 0, 6000);
    EXPECT_EQ(port.take(), Lines{"PORT 127,0,0,1,4,1"});
}

TEST(FtpSendAheadTest, ASiteThatLetsInOnTheNameAloneGetsTheSizeQueryWithUser)
{
    // The first connection learns it: 230 to USER, no password asked.
    Dialogue first(siteSession());
    first.reply("220 hi");
    EXPECT_EQ(first.take(), Lines{"USER alice"});
    first.reply("230 Login successful");
    EXPECT_TRUE(first.channel.loginByUserAlone());
    Dialogue asked(siteSession());
    asked.reply("220 hi");
    asked.reply("331 password");
    asked.reply("230 ok");
    EXPECT_FALSE(asked.channel.loginByUserAlone());

    FtpSession later = laterSession();
    later.userAloneLogsIn = true;
    Dialogue dialogue(later);
    dialogue.reply("220 hi");
    EXPECT_EQ(dialogue.take(), (Lines{"USER alice", "TYPE I", "SIZE /pub/a b.bin", "PASV"}));
    EXPECT_EQ(dialogue.reply("230 Login successful"), FtpPumpResult::LoggedIn);
    EXPECT_EQ(BeginFtpSizeQuery(dialogue.control), FtpPumpResult::Nothing);
    EXPECT_TRUE(dialogue.take().empty()) << "the size query is not sent twice";
    EXPECT_EQ(dialogue.reply("200 Switching to Binary mode."), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.reply("213 6000"), FtpPumpResult::SizeKnown);
    EXPECT_EQ(BeginFtpTransfer(dialogue.control, 3000, 6000), FtpPumpResult::Nothing);
    EXPECT_TRUE(dialogue.take().empty());
    EXPECT_EQ(dialogue.reply("227 Entering Passive Mode (127,0,0,1,31,64)."), FtpPumpResult::OpenDataConnection);

    // The password is wanted after all: the replies to what left with USER
    // are dropped, and the size query goes out again after the login.
    Dialogue wanted(later);
    wanted.reply("220 hi");
    wanted.take();
    EXPECT_EQ(wanted.reply("331 Please specify the password."), FtpPumpResult::Nothing);
    EXPECT_EQ(wanted.take(), Lines{"PASS s3cret"});
    EXPECT_EQ(wanted.reply("530 Please login with USER and PASS."), FtpPumpResult::Nothing);
    EXPECT_EQ(wanted.reply("530 Please login with USER and PASS."), FtpPumpResult::Nothing);
    EXPECT_EQ(wanted.reply("530 Please login with USER and PASS."), FtpPumpResult::Nothing);
    EXPECT_FALSE(wanted.channel.loginFailed());
    EXPECT_EQ(wanted.reply("230 Login successful."), FtpPumpResult::LoggedIn);
    EXPECT_EQ(BeginFtpSizeQuery(wanted.control), FtpPumpResult::Nothing);
    EXPECT_EQ(wanted.take(), (Lines{"TYPE I", "SIZE /pub/a b.bin", "PASV"}));
    EXPECT_EQ(wanted.reply("200 ok"), FtpPumpResult::Nothing);
    EXPECT_EQ(wanted.reply("213 6000"), FtpPumpResult::SizeKnown);
}

TEST(FtpSendAheadTest, RepliesToCommandsSentAheadForAnotherWayAreDropped)
{
    // The first path form is not there: the PASV reply that follows belongs
    // to no transfer and must not open a data connection.
    Dialogue missing(laterSession());
    sizeQuerySentAhead(missing);
    missing.reply("200 ok");
    EXPECT_EQ(missing.reply("550 No such file"), FtpPumpResult::Nothing);
    EXPECT_EQ(missing.take(), Lines{"SIZE /pub/a%20b.bin"});
    EXPECT_EQ(missing.reply("227 Entering Passive Mode (127,0,0,1,4,2)"), FtpPumpResult::Nothing);
    EXPECT_EQ(missing.reply("213 6000"), FtpPumpResult::SizeKnown);
    EXPECT_EQ(BeginFtpTransfer(missing.control, 0, 6000), FtpPumpResult::Nothing);
    EXPECT_EQ(missing.take(), Lines{"PASV"});
    EXPECT_EQ(missing.reply("227 Entering Passive Mode (127,0,0,1,4,3)"), FtpPumpResult::OpenDataConnection);
    EXPECT_EQ(missing.control.dataPort, 4 * 256 + 3);

    // A refused TYPE: the size and PASV replies are read and dropped, and
    // the transfer asks for its own data connection.
    Dialogue refused(laterSession());
    sizeQuerySentAhead(refused);
    EXPECT_EQ(refused.reply("504 Type not supported"), FtpPumpResult::SizeQueryFailed);
    EXPECT_EQ(BeginFtpTransfer(refused.control, 0, -1), FtpPumpResult::Nothing);
    EXPECT_EQ(refused.take(), Lines{"PASV"});
    EXPECT_EQ(refused.reply("213 6000"), FtpPumpResult::Nothing);
    EXPECT_EQ(refused.reply("227 Entering Passive Mode (127,0,0,1,4,2)"), FtpPumpResult::Nothing);
    EXPECT_EQ(refused.reply("227 Entering Passive Mode (127,0,0,1,4,5)"), FtpPumpResult::OpenDataConnection);
    EXPECT_EQ(refused.control.dataPort, 4 * 256 + 5);
    // A server that ends the session is heard even while replies are dropped.
    Dialogue closing(laterSession());
    sizeQuerySentAhead(closing);
    closing.reply("504 no");
    EXPECT_EQ(closing.reply("421 Timeout"), FtpPumpResult::Error);
}

// A connection that runs the probe: the size query leaves behind the
// probe's last REST.
FtpSession probingSession()
{
    FtpSession session = siteSession();
    session.sizeQueryAhead = true;
    return session;
}

TEST(FtpSendAheadTest, TheProbesLastRestCarriesTheSizeQueryAndPasvBehindIt)
{
    Dialogue dialogue(probingSession());
    loggedIn(dialogue);
    EXPECT_EQ(dialogue.reply("350 Restarting at 100"), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.take(), (Lines{"REST 0", "TYPE I", "SIZE /pub/a b.bin", "PASV"}));
    EXPECT_EQ(dialogue.channel.resumeMark(), 1);
    EXPECT_EQ(dialogue.reply("350 Restarting at 0"), FtpPumpResult::LoggedIn);
    EXPECT_EQ(BeginFtpSizeQuery(dialogue.control), FtpPumpResult::Nothing);
    EXPECT_TRUE(dialogue.take().empty()) << "TYPE and SIZE are not sent twice";
    EXPECT_EQ(dialogue.reply("200 Type set to I"), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.reply("213 6000"), FtpPumpResult::SizeKnown);
    EXPECT_EQ(dialogue.control.size, 6000);
    EXPECT_EQ(BeginFtpTransfer(dialogue.control, 0, 6000), FtpPumpResult::Nothing);
    EXPECT_TRUE(dialogue.take().empty()) << "the PASV went out with the size query";
    EXPECT_EQ(dialogue.reply("227 Entering Passive Mode (127,0,0,1,31,64)."), FtpPumpResult::OpenDataConnection);
    EXPECT_EQ(FtpDataConnected(dialogue.control), FtpPumpResult::Nothing);
    EXPECT_EQ(dialogue.take(), Lines{"RETR /pub/a b.bin"});

    // A site that refuses REST until a type is set still gets its one TYPE I
    // and second REST 100 first; a refused REST 0 ends the login all the same.
    Dialogue refusing(probingSession());
    loggedIn(refusing);
    refusing.reply("500 Set a type first");
    EXPECT_EQ(refusing.take(), Lines{"TYPE I"});
    refusing.reply("200 ok");
    EXPECT_EQ(refusing.take(), Lines{"REST 100"});
    refusing.reply("502 No REST");
    EXPECT_EQ(refusing.take(), (Lines{"REST 0", "TYPE I", "SIZE /pub/a b.bin", "PASV"}));
    EXPECT_EQ(refusing.channel.resumeMark(), 2);
    EXPECT_EQ(refusing.reply("502 No REST"), FtpPumpResult::LoggedIn);
    EXPECT_FALSE(refusing.control.canResume);

    // The file is not there under its first form: the PASV behind the SIZE
    // is dropped, the other form is asked for, and the transfer sends its own.
    Dialogue missing(probingSession());
    loggedIn(missing);
    missing.reply("350 ok");
    missing.take();
    missing.reply("350 ok");
    BeginFtpSizeQuery(missing.control);
    missing.reply("200 ok");
    EXPECT_EQ(missing.reply("550 No such file"), FtpPumpResult::Nothing);
    EXPECT_EQ(missing.take(), Lines{"SIZE /pub/a%20b.bin"});
    EXPECT_EQ(missing.reply("227 Entering Passive Mode (127,0,0,1,4,2)"), FtpPumpResult::Nothing);
    EXPECT_EQ(missing.reply("213 6000"), FtpPumpResult::SizeKnown);
    BeginFtpTransfer(missing.control, 0, 6000);
    EXPECT_EQ(missing.take(), Lines{"PASV"});
    EXPECT_EQ(missing.reply("227 Entering Passive Mode (127,0,0,1,4,3)"), FtpPumpResult::OpenDataConnection);
    EXPECT_EQ(missing.control.dataPort, 4 * 256 + 3);

    // Active mode: no PASV ahead, and a ;type=a URL asks in its own type.
    FtpSession active = probingSession();
    active.passive = false;
    active.object = "/pub/notes;type=a";
    Dialogue port(active);
    loggedIn(port);
    port.reply("350 ok");
    EXPECT_EQ(port.take(), (Lines{"REST 0", "TYPE A", "SIZE /pub/notes"}));
}

TEST(FtpSendAheadTest, RestRefusedAfterASkippedProbeMarksTheSiteForANewProbe)
{
    Dialogue dialogue(laterSession());
    laterLogin(dialogue);
    dataConnectionOpen(dialogue, 3000, 6000);
    EXPECT_EQ(dialogue.reply("502 REST not implemented"), FtpPumpResult::Error);
    EXPECT_EQ(dialogue.channel.resumeMark(), 2);

    // After a probe of its own the refusal says nothing new about the site.
    Dialogue probed(siteSession());
    ready(probed);
    dataConnectionOpen(probed, 3000, 6000);
    EXPECT_EQ(probed.take(), (Lines{"PASV", "REST 3000"})) << "RETR waits for the REST answer";
    EXPECT_EQ(probed.reply("502 REST not implemented"), FtpPumpResult::Error);
    EXPECT_EQ(probed.channel.resumeMark(), 1);
}

TEST(FtpReplyTest, AWholeLineInTheBufferIsSeenWithoutARead)
{
    FtpReplyReader reader;
    const std::string bytes = "213 6000\r\n227 Entering";
    std::copy(bytes.begin(), bytes.end(), reader.room().begin());
    reader.added(bytes.size());
    EXPECT_TRUE(reader.lineWaiting());
    std::string line;
    ASSERT_EQ(reader.nextLine(line), FtpReplyReader::Status::Line);
    EXPECT_EQ(line, "213 6000");
    EXPECT_FALSE(reader.lineWaiting()) << "half a line is no line";
    EXPECT_FALSE(FtpReplyReader().lineWaiting());
}

TEST(FtpPathTest, FormsNeverCarryALineBreak)
{
    EXPECT_EQ(FtpPathForms("/a%20b"), (Lines{"/a b", "/a%20b", "a b"}));
    EXPECT_EQ(FtpPathForms("/plain.bin"), (Lines{"/plain.bin", "plain.bin"}));
    // Decoded, "%0D%0A" would end the command and start another.
    EXPECT_EQ(FtpPathForms("/x%0D%0ADELE%20y"), Lines{"/x%0D%0ADELE%20y"});

    Dialogue dialogue(siteSession());
    EXPECT_FALSE(SendFtpCommand(dialogue.control, FtpCommand::Cwd, "a\r\nDELE b"));
    EXPECT_TRUE(dialogue.take().empty());
}

TEST(FtpReplyTest, PasvAddressesAreSixSmallNumbers)
{
    EXPECT_EQ(ParsePasvReply("227 Entering Passive Mode (10,1,2,3,255,1)")->port, 255 * 256 + 1);
    EXPECT_EQ(ParsePasvReply("227 Entering Passive Mode 10,1,2,3,4,5")->address, "10.1.2.3");
    EXPECT_FALSE(ParsePasvReply("227 Entering Passive Mode (10,1,2,300,4,5)"));
    EXPECT_FALSE(ParsePasvReply("227 Entering Passive Mode (10,1,2,3,4)"));
    EXPECT_FALSE(ParsePasvReply("227 Entering Passive Mode (10,1,2,3,0,0)"));
    EXPECT_EQ(FormatPortLine("192.168.0.9", 1025), "PORT 192,168,0,9,4,1");
    EXPECT_EQ(FormatPortLine("::1", 1025), "");
}

TEST(FtpReplyTest, EndlessLinesAndRepliesAreCutOff)
{
    FtpReplyReader reader;
    const std::span<char> room = reader.room();
    std::fill(room.begin(), room.end(), 'x');
    reader.added(room.size());
    std::string line;
    EXPECT_EQ(reader.nextLine(line), FtpReplyReader::Status::Broken);

    FtpReplyReader chatty;
    FtpReply reply;
    for (std::size_t i = 0; i + 1 < kMaxFtpReplyLines; ++i)
        EXPECT_FALSE(chatty.gather("220-more", reply));
    EXPECT_FALSE(chatty.broken());
    EXPECT_FALSE(chatty.gather("220-more", reply));
    EXPECT_TRUE(chatty.broken());

    Dialogue dialogue(siteSession());
    FtpPumpResult result = FtpPumpResult::Nothing;
    for (int i = 0; i < 600 && result == FtpPumpResult::Nothing; ++i)
        result = dialogue.reply("200 still here");
    EXPECT_EQ(result, FtpPumpResult::Error);
}

}  // namespace
}  // namespace fetchora
