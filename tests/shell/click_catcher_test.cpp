#include "shell/click_catcher.h"

#include <gtest/gtest.h>

#include "net/base64_codec.h"
#include "platform/ipc_endpoint.h"
#include "platform/message_loop.h"
#include "shell/scripted_prompts.h"
#include "support/loop_thread.h"
#include "support/other_user.h"
#include "support/temp_dir.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace fetchora {
namespace {

using test::ScriptedPrompts;
using test::TempDir;

std::span<const uint8_t> bytes(const std::string& text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string le32(int32_t value)
{
    const auto raw = static_cast<uint32_t>(value);
    return std::string{static_cast<char>(raw & 0xFF), static_cast<char>((raw >> 8) & 0xFF),
                       static_cast<char>((raw >> 16) & 0xFF), static_cast<char>((raw >> 24) & 0xFF)};
}

class RecordingHost : public ClickCatcherHost {
public:
    int32_t flags = 0x15F;
    bool isClosing = false;
    // What the view answers to a sent URL (0 taken).
    int32_t sendAnswer = 0;
    std::vector<CaughtUrl> sent;
    std::vector<CaughtUrl> posted;
    struct List {
        std::vector<CapturedLink> links;
        std::string baseUrl;
        int32_t source;
    };
    std::vector<List> lists;

    int32_t monitorFlags() const override { return flags; }
    bool closing() const override { return isClosing; }
    int32_t sendUrl(const CaughtUrl& url) override
    {
        sent.push_back(url);
        return sendAnswer;
    }
    void postUrl(const CaughtUrl& url) override { posted.push_back(url); }
    void postLinks(std::vector<CapturedLink> links, const std::string& baseUrl, int32_t source) override
    {
        lists.push_back({std::move(links), baseUrl, source});
    }
};

class ClickCatcherTest : public testing::Test {
protected:
    TempDir m_dir;
    RecordingHost m_host;
    ScriptedPrompts m_prompts;
    ClickCatcher m_catcher{m_host, m_prompts, m_dir.path()};
};

TEST_F(ClickCatcherTest, SingleUrlBlocksReadTheirLengthAndRefuseLies)
{
    const std::string url = "http://h/file.zip";
    struct Case {
        const char* what;
        std::string block;
        bool withReferer;
        std::optional<std::string> url;
        std::string referer;
    };
    const Case cases[] = {
        {"plain", EncodeCaughtUrlBlock(url, std::nullopt), false, url, ""},
        {"trailing bytes ignored", EncodeCaughtUrlBlock(url, std::nullopt) + "junk", false, url, ""},
        {"zero-terminated", le32(18) + url + '\0', false, url, ""},
        {"with referrer", EncodeCaughtUrlBlock(url, "http://h/page"), true, url, "http://h/page"},
        {"referrer missing", EncodeCaughtUrlBlock(url, std::nullopt), true, url, ""},
        {"referrer too long dropped", EncodeCaughtUrlBlock(url, std::string(511, 'r')), true, url, ""},
        {"longest URL", EncodeCaughtUrlBlock(std::string(511, 'u'), std::nullopt), false, std::string(511, 'u'), ""},
        {"URL too long", EncodeCaughtUrlBlock(std::string(512, 'u'), std::nullopt), false, std::nullopt, ""},
        {"length beyond the data", le32(100) + url, false, std::nullopt, ""},
        {"negative length", le32(-5) + url, false, std::nullopt, ""},
        {"huge length", le32(0x7FFFFFFF) + url, false, std::nullopt, ""},
        {"short length field", std::string("\x05\x00", 2), false, std::nullopt, ""},
        {"empty URL", le32(0), false, std::nullopt, ""},
        {"empty block", "", false, std::nullopt, ""},
        {"referrer length lies", EncodeCaughtUrlBlock(url, std::nullopt) + le32(64) + "http://h/", true, std::nullopt,
         ""},
        {"referrer length cut", EncodeCaughtUrlBlock(url, std::nullopt) + "\x01\x00", true, std::nullopt, ""},
    };
    for (const Case& c : cases) {
        const std::optional<CaughtUrl> got = ReadCaughtUrlBlock(bytes(c.block), c.withReferer);
        ASSERT_EQ(got.has_value(), c.url.has_value()) << c.what;
        if (got) {
            EXPECT_EQ(got->url, *c.url) << c.what;
            EXPECT_EQ(got->referer, c.referer) << c.what;
        }
    }
}

TEST_F(ClickCatcherTest, ListsKeepValidRecordsAndStopAtALie)
{
    const std::vector<CapturedLink> links = {{"http://h/a.zip", "A", {}, 0},
                                             {"", "empty", {}, 0},
                                             {"not a url", "bad", {}, 0},
                                             {"ftp://h/b.zip", "", {}, 0}};
    const std::string good = EncodeCaughtLinks("http://h/page.html", links);
    CaughtLinks read = ReadCaughtLinks(bytes(good));
    EXPECT_EQ(read.description, "http://h/page.html");
    ASSERT_EQ(read.links.size(), 2u);
    EXPECT_EQ(read.links[0].url, "http://h/a.zip");
    EXPECT_EQ(read.links[0].text, "A");
    EXPECT_EQ(read.links[1].url, "ftp://h/b.zip");

    // A record whose length runs past the end, or is negative, ends the list.
    const std::string prefix = EncodeCaughtLinks("", {{"http://h/a.zip", "A", {}, 0}});
    for (const std::string& tail :
         {le32(1000) + "http://h/b.zip", le32(-1) + "http://h/b.zip",
          le32(14) + "http://h/b.zip" + le32(0x7FFFFFF0) + "text", std::string("\x0e\x00\x00", 3)}) {
        read = ReadCaughtLinks(bytes(prefix + tail));
        ASSERT_EQ(read.links.size(), 1u);
        EXPECT_EQ(read.links[0].url, "http://h/a.zip");
    }
    // A URL record at the very end without its text still counts.
    read = ReadCaughtLinks(bytes(prefix + le32(14) + "http://h/c.zip"));
    ASSERT_EQ(read.links.size(), 2u);
    EXPECT_EQ(read.links[1].url, "http://h/c.zip");
    EXPECT_TRUE(ReadCaughtLinks(bytes(le32(50) + "short")).links.empty());
}

TEST_F(ClickCatcherTest, EveryCodeAnswersAsItShould)
{
    m_host.flags = 0x15F & ~kMonitorReturnRefused;
    const std::string block = EncodeCaughtUrlBlock("http://h/b.zip", std::nullopt);
    const std::string blockWithReferer = EncodeCaughtUrlBlock("http://h/r.zip", "http://h/page");
    const std::string file = "http://h/f.zip\r\n";
    const std::string list = EncodeCaughtLinks("http://h/page", {{"http://h/1.zip", "1", {}, 0}});
    const std::string list2 = EncodeCaughtLinks("", {{"http://h/1.zip", "1", {}, 0}, {"http://h/2.zip", "2", {}, 0}});
    const std::string lie = le32(4096) + "http://h/x.zip";
    struct Case {
        uint32_t code;
        std::string data;
        int32_t answer;
        size_t posted;
        int32_t listSource;  // 0: no list
    };
    const Case cases[] = {
        {0x11, file, 1, 1, 0},
        {0x33, file, 1, 1, 0},
        {0x44, block, 1, 1, 0},
        {0x66, block, 1, 1, 0},
        {0x77, blockWithReferer, 1, 1, 0},
        {0x22, list, 1, 0, 1},
        {0x55, list, 1, 0, 3},
        {0x55, list2, 1, 0, 4},
        {0x44, lie, 0, 0, 0},
        {0x66, lie, 0, 0, 0},
        {0x77, lie, 0, 0, 0},
        {0x11, "", 0, 0, 0},
        {0x11, std::string(2000, 'a'), 0, 0, 0},
        {0x12, block, 0, 0, 0},
        {0, block, 0, 0, 0},
    };
    for (const Case& c : cases) {
        m_host.posted.clear();
        m_host.lists.clear();
        EXPECT_EQ(m_catcher.handOver(c.code, bytes(c.data)), c.answer) << std::hex << c.code;
        EXPECT_EQ(m_host.posted.size(), c.posted) << std::hex << c.code;
        ASSERT_EQ(m_host.lists.size(), c.listSource != 0 ? 1u : 0u) << std::hex << c.code;
        if (c.listSource != 0) {
            EXPECT_EQ(m_host.lists[0].source, c.listSource) << std::hex << c.code;
        }
    }
    EXPECT_TRUE(m_host.sent.empty());
    EXPECT_TRUE(m_prompts.messages.empty());

    m_host.posted.clear();
    m_catcher.handOver(0x77, bytes(blockWithReferer));
    ASSERT_EQ(m_host.posted.size(), 1u);
    EXPECT_EQ(m_host.posted[0].url, "http://h/r.zip");
    EXPECT_EQ(m_host.posted[0].referer, "http://h/page");
    m_host.posted.clear();
    m_catcher.handOver(0x11, bytes(file));
    EXPECT_EQ(m_host.posted.at(0).url, "http://h/f.zip");
}

TEST_F(ClickCatcherTest, AnEmptyListSaysSoAndClosingIgnoresEverything)
{
    const std::string list = EncodeCaughtLinks("desc", {{"nonsense", "x", {}, 0}});
    EXPECT_EQ(m_catcher.handOver(0x55, bytes(list)), 0);
    ASSERT_EQ(m_prompts.messages.size(), 1u);
    EXPECT_EQ(m_prompts.messages[0].text, "Doesn't include valid URL(s)!");
    EXPECT_TRUE(m_host.lists.empty());

    m_host.isClosing = true;
    EXPECT_EQ(m_catcher.handOver(0x44, bytes(EncodeCaughtUrlBlock("http://h/a.zip", std::nullopt))), 85);
    EXPECT_EQ(m_catcher.handOver(0x99, {}), 85);
    EXPECT_TRUE(m_host.posted.empty());
    EXPECT_TRUE(m_host.sent.empty());
}

TEST_F(ClickCatcherTest, ARefusedClickGoesBackToTheBrowserAndItsRetryPasses)
{
    const std::string click = EncodeCaughtUrlBlock("http://h/file.zip", std::nullopt);
    m_host.sendAnswer = 3;  // the user cancelled the dialog
    EXPECT_EQ(m_catcher.handOver(0x44, bytes(click)), 0);
    EXPECT_EQ(m_host.sent.size(), 1u);
    EXPECT_EQ(m_catcher.lastRefused(), "http://h/file.zip");

    // The browser's own try of the same URL is not asked about again.
    EXPECT_EQ(m_catcher.handOver(0x44, bytes(click)), 0);
    EXPECT_EQ(m_host.sent.size(), 1u);
    EXPECT_EQ(m_catcher.lastRefused(), "");

    // A later click on it is asked about again, and taken this time.
    m_host.sendAnswer = 0;
    EXPECT_EQ(m_catcher.handOver(0x44, bytes(click)), 1);
    EXPECT_EQ(m_host.sent.size(), 2u);

    // A different URL after a refusal is asked about, the refusal stays.
    m_host.sendAnswer = 2;
    EXPECT_EQ(m_catcher.handOver(0x77, bytes(click)), 0);
    const std::string other = EncodeCaughtUrlBlock("http://h/other.zip", std::nullopt);
    m_host.sendAnswer = 0;
    EXPECT_EQ(m_catcher.handOver(0x44, bytes(other)), 1);
    EXPECT_EQ(m_host.sent.size(), 4u);
    EXPECT_EQ(m_catcher.lastRefused(), "http://h/file.zip");

    // The always-posted codes never ask.
    EXPECT_EQ(m_catcher.handOver(0x66, bytes(click)), 1);
    EXPECT_EQ(m_host.sent.size(), 4u);
    EXPECT_EQ(m_host.posted.size(), 1u);
    EXPECT_TRUE(m_host.lists.empty());
}

TEST_F(ClickCatcherTest, FileCodesReadTheTemporaryFolder)
{
    EXPECT_EQ(m_catcher.handOverFromFile(0x11), 0) << "no file yet";
    test::writeFile(m_dir / "kxcatch.tmp", "http://h/from-file.zip");
    m_host.flags = 0;
    EXPECT_EQ(m_catcher.handOverFromFile(0x33), 1);
    ASSERT_EQ(m_host.posted.size(), 1u);
    EXPECT_EQ(m_host.posted[0].url, "http://h/from-file.zip");
    EXPECT_EQ(m_catcher.handOverFromFile(0x44), 0) << "a block code has no file";

    test::writeFile(m_dir / "kxcatch.tmp", EncodeCaughtLinks("", {{"http://h/1.zip", "one", {}, 0}}));
    EXPECT_EQ(m_catcher.handOverFromFile(0x22), 1);
    ASSERT_EQ(m_host.lists.size(), 1u);
    EXPECT_EQ(m_host.lists[0].source, 1);
    EXPECT_EQ(m_host.lists[0].links.at(0).text, "one");
}

// Writes the hand-over file as the other user; 0 when it could.
int writeAsOtherUser(const std::filesystem::path& file, const std::string& text)
{
    return test::runAsOtherUser([&] {
        FILE* out = std::fopen(file.c_str(), "wb");
        if (!out)
            return 1;
        const bool whole = std::fwrite(text.data(), 1, text.size(), out) == text.size();
        return std::fclose(out) == 0 && whole ? 0 : 2;
    });
}

TEST_F(ClickCatcherTest, AHandOverFileThatIsNotOursAloneIsIgnored)
{
    m_host.flags = 0;
    const std::filesystem::path file = m_dir / "kxcatch.tmp";
    const std::string list = EncodeCaughtLinks("", {{"http://h/planted.zip", "p", {}, 0}});

    // A hard link to a file of ours elsewhere: its other name may be anyone's.
    test::writeFile(m_dir / "elsewhere", "http://h/linked.zip");
    ASSERT_EQ(::link((m_dir / "elsewhere").c_str(), file.c_str()), 0);
    EXPECT_EQ(m_catcher.handOverFromFile(0x33), 0);
    std::filesystem::remove(file);
    // A symlink is not followed.
    std::filesystem::create_symlink(m_dir / "elsewhere", file);
    EXPECT_EQ(m_catcher.handOverFromFile(0x33), 0);
    std::filesystem::remove(file);
    // A file any user may rewrite.
    test::writeFile(file, "http://h/open.zip");
    ::chmod(file.c_str(), 0666);
    EXPECT_EQ(m_catcher.serve(std::string(kTopicClickCatcher), "0x33"), "0");
    EXPECT_TRUE(m_host.posted.empty());

    // Our own private file in our own private folder is taken.
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(m_catcher.handOverFromFile(0x33), 1);
    ASSERT_EQ(m_host.posted.size(), 1u);
    EXPECT_EQ(m_host.posted[0].url, "http://h/open.zip");
    std::filesystem::remove(file);

    if (const std::string why = test::otherUserUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    // Another user's file moved in (a folder of ours it could once write).
    const std::filesystem::path shared = test::makeSharedFolder(m_dir.path(), "shared");
    ASSERT_EQ(writeAsOtherUser(shared / "planted", "http://h/planted.zip"), 0);
    std::filesystem::rename(shared / "planted", file);
    EXPECT_EQ(m_catcher.handOverFromFile(0x33), 0);
    EXPECT_EQ(m_catcher.handOverFromFile(0x11), 0);
    std::filesystem::remove(file);

    // A folder others may write: whatever they plant there is not read.
    ::chmod(m_dir.path().c_str(), 01777);
    ASSERT_EQ(writeAsOtherUser(file, list), 0);
    EXPECT_EQ(m_catcher.handOverFromFile(0x22), 0);
    std::filesystem::remove(file);
    test::writeFile(file, "http://h/ours-in-open-folder.zip");
    EXPECT_EQ(m_catcher.handOverFromFile(0x33), 0) << "another user could have swapped it in";
    ::chmod(m_dir.path().c_str(), 0700);
    EXPECT_EQ(m_catcher.handOverFromFile(0x33), 1);

    EXPECT_EQ(m_host.posted.size(), 2u);
    EXPECT_TRUE(m_host.lists.empty());
    EXPECT_TRUE(m_host.sent.empty());
}

TEST_F(ClickCatcherTest, TheHandOverTopicWorksThroughTheIpcEndpoint)
{
    MessageLoop loop;
    IpcServer server(
        loop, {std::string(kTopicClickCatcher)},
        [this](const std::string& topic, const std::string& item) { return m_catcher.serve(topic, item); });
    std::string error;
    const std::filesystem::path socket = m_dir / "Fetchora";
    ASSERT_TRUE(server.listen(socket, error)) << error;
    test::LoopThread loopThread(loop);
    m_host.sendAnswer = 0;

    const std::string block = EncodeCaughtUrlBlock("http://h/ipc.zip", "http://h/page");
    IpcReply reply
        = ipcRequest(socket, "clickcatcher", "0x77 " + Base64Codec().encode(block), std::chrono::milliseconds(3000));
    ASSERT_EQ(reply.outcome, IpcReply::Outcome::Data) << reply.error;
    EXPECT_EQ(reply.text, "1");
    ASSERT_EQ(m_host.sent.size(), 1u);
    EXPECT_EQ(m_host.sent[0].url, "http://h/ipc.zip");
    EXPECT_EQ(m_host.sent[0].referer, "http://h/page");

    const std::string list = EncodeCaughtLinks("", {{"http://h/1.zip", "1", {}, 0}, {"http://h/2.zip", "2", {}, 0}});
    reply = ipcRequest(socket, kTopicClickCatcher, "85 " + Base64Codec().encode(list), std::chrono::milliseconds(3000));
    EXPECT_EQ(reply.text, "1");
    ASSERT_EQ(m_host.lists.size(), 1u);
    EXPECT_EQ(m_host.lists[0].source, 4);

    // Bad items are answered "not taken" so the browser goes ahead.
    for (const char* item : {"0x44 !!notbase64", "seventy 1234",
                             "0x44 "
                             "AAAA",
                             "0x44 QUJD="}) {
        reply = ipcRequest(socket, kTopicClickCatcher, item, std::chrono::milliseconds(3000));
        ASSERT_EQ(reply.outcome, IpcReply::Outcome::Data) << item;
        EXPECT_EQ(reply.text, "0") << item;
    }
    EXPECT_EQ(m_host.sent.size(), 1u);
    server.stop();
}

TEST_F(ClickCatcherTest, TheBrowserTopicCarriesTheAgentAndTheSuggestedNames)
{
    const std::string agent = "Mozilla/5.0 (X11; Linux x86_64) TestBrowser/1.0";
    const std::string block = EncodeBrowserUrlBlock({"http://h/get?id=7", "http://h/page", agent, "report.pdf"});
    EXPECT_EQ(m_catcher.serve(std::string(kTopicBrowserCatch), "0x77 " + Base64Codec().encode(block)).value_or(""),
              "1");
    ASSERT_EQ(m_host.sent.size(), 1u);
    EXPECT_EQ(m_host.sent[0].url, "http://h/get?id=7");
    EXPECT_EQ(m_host.sent[0].referer, "http://h/page");
    EXPECT_EQ(m_host.sent[0].userAgent, agent);
    EXPECT_EQ(m_host.sent[0].fileName, "report.pdf");

    // The same item on the plain topic is the old layout: the URL ends at its
    // length, and nothing of the browser's is read into it.
    m_catcher.serve(std::string(kTopicClickCatcher), "0x77 " + Base64Codec().encode(block));
    ASSERT_EQ(m_host.sent.size(), 2u);
    EXPECT_EQ(m_host.sent[1].referer, "http://h/page");
    EXPECT_EQ(m_host.sent[1].userAgent, "");
    EXPECT_EQ(m_host.sent[1].fileName, "");

    // "Always" posts without the refused-URL rule.
    const std::string always = EncodeBrowserUrlBlock({"http://h/a.zip", "", agent, ""});
    EXPECT_EQ(m_catcher.serve("browsercatch", "0x66 " + Base64Codec().encode(always)).value_or(""), "1");
    ASSERT_EQ(m_host.posted.size(), 1u);
    EXPECT_EQ(m_host.posted[0].userAgent, agent);

    std::vector<CapturedLink> links(2);
    links[0].url = "http://h/1.bin";
    links[0].text = "one";
    links[0].fileName = "first.bin";
    links[1].url = "http://h/2.bin";
    links[1].text = "two";
    const std::string list = EncodeBrowserLinks("http://h/page", agent, links);
    EXPECT_EQ(m_catcher.serve(std::string(kTopicBrowserCatch), "0x55 " + Base64Codec().encode(list)).value_or(""), "1");
    ASSERT_EQ(m_host.lists.size(), 1u);
    EXPECT_EQ(m_host.lists[0].source, 4);
    EXPECT_EQ(m_host.lists[0].baseUrl, "http://h/page");
    ASSERT_EQ(m_host.lists[0].links.size(), 2u);
    EXPECT_EQ(m_host.lists[0].links[0].text, "one");
    EXPECT_EQ(m_host.lists[0].links[0].fileName, "first.bin");
    EXPECT_EQ(m_host.lists[0].links[1].fileName, "");
    EXPECT_EQ(m_host.lists[0].links[1].userAgent, agent);
}

TEST_F(ClickCatcherTest, BrowserLayoutsRefuseLiesAndDropOversizedExtras)
{
    // A broken length after the URL refuses the URL, as the old layouts do.
    const std::string lie = le32(14) + "http://h/a.zip" + le32(100) + "short";
    EXPECT_FALSE(ReadBrowserUrlBlock(bytes(lie)));
    EXPECT_FALSE(ReadBrowserUrlBlock(bytes(le32(0))));
    // Left-out fields are empty; an agent too long for a header is dropped.
    const auto bare = ReadBrowserUrlBlock(bytes(le32(14) + "http://h/a.zip"));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->referer, "");
    const std::string longAgent(kMaxUserAgentBytes + 1, 'A');
    const auto dropped = ReadBrowserUrlBlock(bytes(EncodeBrowserUrlBlock({"http://h/a.zip", "", longAgent, "n.zip"})));
    ASSERT_TRUE(dropped);
    EXPECT_EQ(dropped->userAgent, "");
    EXPECT_EQ(dropped->fileName, "n.zip");
    // A URL longer than the old block's 511 bytes fits the browser layout.
    const std::string longUrl = "http://h/" + std::string(900, 'x') + ".zip";
    const auto kept = ReadBrowserUrlBlock(bytes(EncodeBrowserUrlBlock({longUrl, "", "", ""})));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->url, longUrl);
    EXPECT_FALSE(ReadBrowserUrlBlock(bytes(EncodeBrowserUrlBlock({longUrl + std::string(200, 'y'), "", "", ""}))));

    // A list keeps the whole records before a lie, and needs its agent field.
    std::vector<CapturedLink> links(1);
    links[0].url = "http://h/1.bin";
    links[0].fileName = "one.bin";
    const std::string list = EncodeBrowserLinks("", "Agent/1", links) + le32(14) + "http://h/2.bin" + le32(-1);
    const CaughtLinks read = ReadBrowserLinks(bytes(list));
    ASSERT_EQ(read.links.size(), 1u);
    EXPECT_EQ(read.links[0].fileName, "one.bin");
    EXPECT_EQ(read.links[0].userAgent, "Agent/1");
    EXPECT_TRUE(ReadBrowserLinks(bytes(le32(0))).links.empty());
}

TEST_F(ClickCatcherTest, TheBrowserListFileIsReadInTheBrowserLayout)
{
    std::vector<CapturedLink> links(1);
    links[0].url = "http://h/big.iso";
    links[0].fileName = "named.iso";
    test::writeFile(m_dir / "kxcatch.tmp", EncodeBrowserLinks("", "Agent/2", links));
    EXPECT_EQ(m_catcher.serve(std::string(kTopicBrowserCatch), "0x22").value_or(""), "1");
    ASSERT_EQ(m_host.lists.size(), 1u);
    ASSERT_EQ(m_host.lists[0].links.size(), 1u);
    EXPECT_EQ(m_host.lists[0].links[0].fileName, "named.iso");
    EXPECT_EQ(m_host.lists[0].links[0].userAgent, "Agent/2");
}

}  // namespace
}  // namespace fetchora
