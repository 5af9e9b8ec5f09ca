// Listing an FTP folder: the dialogue reply by reply with its exact lines,
// and real listings from a real server (entries, sizes, folder flags, the
// folder the server reports, a missing folder, a stopped caller).
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "net/fake_part_channel.h"
#include "net/ftp_control.h"
#include "net/ftp_listing.h"
#include "net/ftp_reply.h"
#include "support/ftp_dialogue.h"
#include "support/real_peers.h"
#include "support/scripted_server.h"

namespace fetchora {
namespace {

using test::FakePartChannel;
using test::PyftpdlibPeer;
using test::ScriptedServer;
using test::ServerScript;
using namespace std::chrono_literals;

FtpReply makeReply(int code, std::string text)
{
    FtpReply reply;
    reply.code = code;
    reply.lines.push_back(std::to_string(code) + " " + text);
    return reply;
}

// A logged-in control dialogue whose lines are collected instead of sent.
class ListingDialogue : public test::CollectedFtpDialogue {
public:
    explicit ListingDialogue(std::string object, bool passive = true)
        : CollectedFtpDialogue(session(std::move(object), passive))
    {
        control.loginState = FtpLoginState::Done;
    }

    FtpPumpResult reply(int code, std::string text) { return ActOnFtpReply(control, makeReply(code, std::move(text))); }

private:
    static FtpSession session(std::string object, bool passive)
    {
        FtpSession made;
        made.host = "files.example";
        made.object = std::move(object);
        made.passive = passive;
        made.siteLimitKnown = true;
        return made;
    }
};

using Lines = std::vector<std::string>;

TEST(FtpListingDialogue, PassiveListingOfAFolderSendsTheExactLinesAndReportsTheServersPath)
{
    ListingDialogue d("/pub/my%20files/");
    EXPECT_EQ(BeginFtpListing(d.control), FtpPumpResult::Nothing);
    EXPECT_EQ(d.take(), Lines{"TYPE A"});
    EXPECT_EQ(d.reply(200, "Type set to A"), FtpPumpResult::Nothing);
    EXPECT_EQ(d.take(), Lines{"PWD"});
    EXPECT_EQ(d.reply(257, "\"/\" is the current directory"), FtpPumpResult::Nothing);
    EXPECT_EQ(d.control.currentDirectory, "/");
    EXPECT_EQ(d.take(), Lines{"CWD /pub/my files"});
    EXPECT_EQ(d.reply(250, "CWD command successful"), FtpPumpResult::Nothing);
    EXPECT_EQ(d.take(), Lines{"PWD"});
    EXPECT_EQ(d.reply(257, "\"/pub/my \"\"files\"\"\" is the current directory"), FtpPumpResult::Nothing);
    EXPECT_EQ(d.control.currentDirectory, "/pub/my \"files\"");
    EXPECT_EQ(d.take(), Lines{"PASV"});
    EXPECT_EQ(d.reply(227, "Entering Passive Mode (127,0,0,1,19,137)."), FtpPumpResult::OpenDataConnection);
    EXPECT_EQ(d.control.dataPort, 19 * 256 + 137);
    EXPECT_EQ(FtpDataConnected(d.control), FtpPumpResult::Nothing);
    EXPECT_EQ(d.take(), Lines{"LIST"});
    EXPECT_EQ(d.reply(150, "Here comes the directory listing (0 bytes)."), FtpPumpResult::StartReceiving);
    EXPECT_EQ(d.reply(226, "Directory send OK."), FtpPumpResult::TransferComplete);
    EXPECT_TRUE(d.take().empty());
}

TEST(FtpListingDialogue, RootFolderIsChangedToAndActiveModeListsAfterPort)
{
    ListingDialogue d("/", false);
    BeginFtpListing(d.control);
    d.reply(200, "ok");
    d.reply(257, "\"/home/alice\"");
    EXPECT_EQ(d.control.currentDirectory, "/home/alice");
    d.take();
    EXPECT_EQ(d.reply(250, "ok"), FtpPumpResult::Nothing);
    EXPECT_EQ(d.reply(257, "\"/\""), FtpPumpResult::Nothing);
    EXPECT_EQ(d.control.currentDirectory, "/");
    EXPECT_EQ(d.take(), (Lines{"PWD", "PORT 127,0,0,1,4,1"}));
    EXPECT_EQ(d.reply(200, "PORT command successful"), FtpPumpResult::Nothing);
    EXPECT_EQ(d.take(), Lines{"LIST"});
    EXPECT_EQ(d.reply(125, "Data connection already open"), FtpPumpResult::StartReceiving);
}

TEST(FtpListingDialogue, MissingFolderTriesTheRelativeFormThenFailsWithAClearReason)
{
    ListingDialogue d("/nowhere/");
    BeginFtpListing(d.control);
    d.reply(200, "ok");
    d.reply(257, "\"/\"");
    EXPECT_EQ(d.take(), (Lines{"TYPE A", "PWD", "CWD /nowhere"}));
    EXPECT_EQ(d.reply(550, "No such file or directory."), FtpPumpResult::Nothing);
    EXPECT_EQ(d.take(), Lines{"CWD nowhere"});
    EXPECT_EQ(d.reply(550, "No such file or directory."), FtpPumpResult::Failed);
    EXPECT_NE(d.control.problem.find("folder was not found"), std::string::npos) << d.control.problem;
    EXPECT_TRUE(d.take().empty());
}

TEST(FtpListingDialogue, RefusedPwdStillListsAndRefusedListFails)
{
    ListingDialogue d("/pub/");
    BeginFtpListing(d.control);
    d.reply(200, "ok");
    EXPECT_EQ(d.reply(502, "PWD not implemented"), FtpPumpResult::Nothing);
    d.reply(250, "ok");
    // The second PWD is refused too: the folder stays unknown, the listing goes on.
    EXPECT_EQ(d.reply(502, "PWD not implemented"), FtpPumpResult::Nothing);
    EXPECT_TRUE(d.control.currentDirectory.empty());
    EXPECT_EQ(d.take(), (Lines{"TYPE A", "PWD", "CWD /pub", "PWD", "PASV"}));
    d.reply(227, "Entering Passive Mode (127,0,0,1,4,2)");
    FtpDataConnected(d.control);
    EXPECT_EQ(d.reply(550, "Permission denied."), FtpPumpResult::Failed);
    EXPECT_FALSE(d.control.problem.empty());
}

TEST(FtpListingDialogue, RefusedPassiveModeSwitchesToPortAndAnOverlongDirectoryIsCut)
{
    ListingDialogue d("/a/");
    BeginFtpListing(d.control);
    d.reply(200, "ok");
    d.reply(257, "\"/" + std::string(400, 'x') + "\"");
    EXPECT_EQ(d.control.currentDirectory.size(), 255u);
    d.reply(250, "ok");
    d.reply(257, "\"/a\"");
    d.take();
    EXPECT_EQ(d.reply(500, "PASV not understood"), FtpPumpResult::Nothing);
    EXPECT_EQ(d.take(), Lines{"PORT 127,0,0,1,4,1"});
}

// ---- against a real server ---------------------------------------------------------------

class FtpListingServer : public testing::Test {
protected:
    void write(const std::filesystem::path& path, std::size_t bytes)
    {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
    }

    FtpListing list(const std::string& path, TransferSettings settings = quick())
    {
        const std::string url = "ftp://127.0.0.1:" + std::to_string(m_peer.port()) + path;
        auto result = std::async(std::launch::async, [&] {
            return ListFtpDirectory(
                url, std::nullopt, settings, [this] { return m_alive.load(); }, m_log);
        });
        if (result.wait_for(15s) != std::future_status::ready) {
            ADD_FAILURE() << "the listing hung\n" << m_log.dump();
            m_alive = false;
        }
        return result.get();
    }

    static TransferSettings quick()
    {
        TransferSettings settings;
        settings.connectTimeoutMs = 3000;
        settings.dataTimeoutMs = 3000;
        return settings;
    }

    static const FtpListEntry* find(const FtpListing& listing, const std::string& name)
    {
        for (const FtpListEntry& entry : listing.entries) {
            if (entry.name == name)
                return &entry;
        }
        return nullptr;
    }

    PyftpdlibPeer m_peer;
    FakePartChannel m_log;
    std::atomic<bool> m_alive{true};
};

TEST_F(FtpListingServer, FolderWithFilesAndASubFolderGivesNamesSizesAndFolderFlags)
{
    write(m_peer.anonymousRoot() / "pub" / "a.txt", 5);
    write(m_peer.anonymousRoot() / "pub" / "big.bin", 70000);
    write(m_peer.anonymousRoot() / "pub" / "sub" / "inner.txt", 1);

    for (const bool passive : {true, false}) {
        TransferSettings settings = quick();
        settings.ftpPassive = passive;
        const FtpListing listing = list("/pub/", settings);
        ASSERT_TRUE(listing.ok) << listing.error << "\n" << m_log.dump();
        EXPECT_EQ(listing.reportedPath, "/pub");
        ASSERT_EQ(listing.entries.size(), 3u) << m_log.dump();
        const FtpListEntry* small = find(listing, "a.txt");
        const FtpListEntry* big = find(listing, "big.bin");
        const FtpListEntry* sub = find(listing, "sub");
        ASSERT_TRUE(small && big && sub);
        EXPECT_EQ(small->size, 5);
        EXPECT_FALSE(small->isDirectory);
        EXPECT_EQ(big->size, 70000);
        EXPECT_TRUE(sub->isDirectory);
        EXPECT_EQ(find(listing, "inner.txt"), nullptr);
        // The passive listing comes first: a PORT line means the active one ran.
        EXPECT_EQ(m_log.loggedContaining("PORT 127,0,0,1,"), !passive) << m_log.dump();
    }
}

TEST_F(FtpListingServer, MissingFolderEndsWithAClearErrorAndAnEmptyFolderWithNoEntries)
{
    std::filesystem::create_directories(m_peer.anonymousRoot() / "empty");
    const FtpListing missing = list("/no/such/folder/");
    EXPECT_FALSE(missing.ok);
    EXPECT_FALSE(missing.stopped);
    EXPECT_NE(missing.error.find("folder was not found"), std::string::npos) << missing.error;
    EXPECT_TRUE(missing.entries.empty());

    const FtpListing empty = list("/empty/");
    ASSERT_TRUE(empty.ok) << empty.error << "\n" << m_log.dump();
    EXPECT_TRUE(empty.entries.empty());
    EXPECT_EQ(empty.reportedPath, "/empty");
}

TEST_F(FtpListingServer, StoppedCallerGetsAStoppedListingAtOnce)
{
    m_alive = false;
    const auto started = std::chrono::steady_clock::now();
    const FtpListing listing = list("/");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
    EXPECT_FALSE(listing.ok);
    EXPECT_TRUE(listing.stopped) << listing.error;
}

// ---- against scripted servers -----------------------------------------------------------

// A control dialogue that logs in, lists the root and hands out dataPort.
ServerScript listingControl(uint16_t dataPort)
{
    return std::move(ServerScript()
                         .send("220 ready\r\n")
                         .readUntil("USER anonymous\r\n")
                         .send("331 password\r\n")
                         .readUntil("PASS ")
                         .send("230 ok\r\n")
                         .readUntil("REST 100\r\n")
                         .send("350 ok\r\n")
                         .readUntil("REST 0\r\n")
                         .send("350 ok\r\n")
                         .readUntil("TYPE A\r\n")
                         .send("200 ok\r\n")
                         .readUntil("PWD\r\n")
                         .send("257 \"/\"\r\n")
                         .readUntil("CWD /\r\n")
                         .send("250 ok\r\n")
                         .readUntil("PWD\r\n")
                         .send("257 \"/\"\r\n")
                         .readUntil("PASV\r\n")
                         .send("227 Entering Passive Mode (127,0,0,1," + std::to_string(dataPort >> 8) + ","
                               + std::to_string(dataPort & 0xFF) + ")\r\n")
                         .readUntil("LIST\r\n")
                         .send("150 listing\r\n")
                         .stall());
}

FtpListing listAsync(uint16_t port, const std::atomic<bool>& alive, FakePartChannel& log)
{
    TransferSettings settings;
    settings.connectTimeoutMs = 3000;
    settings.dataTimeoutMs = 5000;
    const std::string url = "ftp://127.0.0.1:" + std::to_string(port) + "/";
    return ListFtpDirectory(
        url, std::nullopt, settings, [&alive] { return alive.load(); }, log);
}

TEST(FtpListingScripted, ListingOfMoreLinesThanTheBoundIsRefusedWithAClearError)
{
    std::string flood;
    for (std::size_t line = 0; line <= kMaxFtpListingLines; ++line)
        flood += "-rw-r--r-- 1 u g 1 Jan 1 2020 f\r\n";
    ScriptedServer data(std::move(ServerScript().send(flood).stall()));
    ScriptedServer control(listingControl(data.port()));
    FakePartChannel log;
    std::atomic<bool> alive{true};
    auto result = std::async(std::launch::async, [&] { return listAsync(control.port(), alive, log); });
    ASSERT_EQ(result.wait_for(15s), std::future_status::ready) << log.dump();
    const FtpListing listing = result.get();
    EXPECT_FALSE(listing.ok);
    EXPECT_TRUE(listing.entries.empty());
    EXPECT_NE(listing.error.find("more than 100000 lines"), std::string::npos) << listing.error;
}

TEST(FtpListingScripted, StopWhileTheDataIsAwaitedEndsWithinATenthOfASecond)
{
    ScriptedServer data(std::move(ServerScript().send("-rw-r--r-- 1 u g 1 Jan 1 2020 f\r\n").stall()));
    ScriptedServer control(listingControl(data.port()));
    FakePartChannel log;
    std::atomic<bool> alive{true};
    auto result = std::async(std::launch::async, [&] { return listAsync(control.port(), alive, log); });
    // The LIST line is the last the client sends before it waits for data.
    for (int wait = 0; wait < 500 && control.received().find("LIST\r\n") == std::string::npos; ++wait)
        std::this_thread::sleep_for(10ms);
    ASSERT_NE(control.received().find("LIST\r\n"), std::string::npos) << log.dump();
    std::this_thread::sleep_for(100ms);
    const auto stopped = std::chrono::steady_clock::now();
    alive = false;
    ASSERT_EQ(result.wait_for(2s), std::future_status::ready) << log.dump();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 150ms);
    const FtpListing listing = result.get();
    EXPECT_FALSE(listing.ok);
    EXPECT_TRUE(listing.stopped) << listing.error;
}

TEST(FtpListingInput, NonFtpAddressesAndPlainHttpProxiesAreRefusedWithoutAConnection)
{
    FakePartChannel log;
    const FtpListing web = ListFtpDirectory(
        "http://127.0.0.1/", std::nullopt, {}, [] { return true; }, log);
    EXPECT_FALSE(web.ok);
    EXPECT_FALSE(web.error.empty());
    ProxyEntry proxy;
    proxy.type = kProxyHttpGet;
    proxy.server = "127.0.0.1";
    proxy.port = 9;
    const FtpListing viaHttp = ListFtpDirectory(
        "ftp://127.0.0.1/pub/", proxy, {}, [] { return true; }, log);
    EXPECT_FALSE(viaHttp.ok);
    EXPECT_NE(viaHttp.error.find("HTTP proxy"), std::string::npos) << viaHttp.error;
}

}  // namespace
}  // namespace fetchora
