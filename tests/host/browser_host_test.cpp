// The host against a service socket served in the test: hand-overs and their
// replies, starting the program when none answers, and the stream of frames.
#include "host/browser_host.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <mutex>
#include <sstream>
#include <unistd.h>

#include "host/native_frames.h"
#include "net/base64_codec.h"
#include "platform/ipc_endpoint.h"
#include "platform/message_loop.h"
#include "shell/click_catcher.h"
#include "shell/service_topics.h"
#include "support/loop_thread.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// A stand-in for the program: records the click-catcher items it is handed
// and answers with `answer`. Without browserTopic it is a program that only
// knows the plain click-catcher topic.
class FakeProgram {
public:
    explicit FakeProgram(std::string answer, bool browserTopic = false)
        : m_answer(std::move(answer)), m_browserTopic(browserTopic)
    {
    }

    bool listen(const std::filesystem::path& socket)
    {
        std::vector<std::string> topics{std::string(kTopicClickCatcher), std::string(kTopicDownloadInfo)};
        if (m_browserTopic)
            topics.emplace_back(kTopicBrowserCatch);
        m_server = std::make_unique<IpcServer>(
            m_loop, topics, [this](const std::string& topic, const std::string& item) -> std::optional<std::string> {
                if (topic == kTopicDownloadInfo)
                    return std::string("0");
                std::lock_guard lock(m_mutex);
                m_items.push_back(item);
                m_topics.push_back(topic);
                return m_answer;
            });
        m_thread = std::make_unique<test::LoopThread>(m_loop);
        std::string error;
        return m_server->listen(socket, error);
    }
    ~FakeProgram()
    {
        if (m_server)
            m_server->stop();
    }
    std::vector<std::string> items()
    {
        std::lock_guard lock(m_mutex);
        return m_items;
    }
    std::vector<std::string> topics()
    {
        std::lock_guard lock(m_mutex);
        return m_topics;
    }

private:
    std::string m_answer;
    bool m_browserTopic = false;
    std::vector<std::string> m_topics;
    MessageLoop m_loop;
    std::unique_ptr<IpcServer> m_server;
    std::unique_ptr<test::LoopThread> m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_items;
};

class BrowserHostTest : public testing::Test {
protected:
    BrowserHostSetup setup(std::function<bool(std::string&)> start = {})
    {
        BrowserHostSetup setup;
        setup.socket = m_dir / "Fetchora";
        setup.temporaryFolder = m_dir.path();
        setup.startProgram = std::move(start);
        setup.startWait = 3s;
        setup.version = "9.9";
        return setup;
    }
    static json reply(const std::string& text) { return json::parse(text); }

    test::TempDir m_dir;
    std::ostringstream m_log;
};

constexpr const char* kDownload
    = R"({"id":3,"type":"download","url":"http://127.0.0.1:9/f.bin","referrer":"http://127.0.0.1:9/p.html"})";

TEST_F(BrowserHostTest, ARunningProgramGetsTheHandOverAndItsAnswerReachesTheBrowser)
{
    FakeProgram program("1");
    ASSERT_TRUE(program.listen(m_dir / "Fetchora"));
    bool started = false;
    BrowserHost host(setup([&](std::string&) { return started = true; }));
    const json taken = reply(host.answer(kDownload, m_log));
    EXPECT_TRUE(taken["ok"].get<bool>());
    EXPECT_TRUE(taken["taken"].get<bool>());
    EXPECT_EQ(taken["id"], 3);
    EXPECT_FALSE(started);
    ASSERT_EQ(program.items().size(), 1u);
    EXPECT_EQ(program.items()[0].substr(0, 5), "0x77 ");

    const json ping = reply(host.answer(R"({"type":"ping","id":"p"})", m_log));
    EXPECT_TRUE(ping["running"].get<bool>());
    EXPECT_EQ(ping["host"], "9.9");
}

TEST_F(BrowserHostTest, TheProgramsRefusalAndItsClosingLetTheBrowserGoAhead)
{
    {
        FakeProgram program("0");
        ASSERT_TRUE(program.listen(m_dir / "Fetchora"));
        BrowserHost host(setup());
        const json answer = reply(host.answer(kDownload, m_log));
        EXPECT_TRUE(answer["ok"].get<bool>());
        EXPECT_FALSE(answer["taken"].get<bool>());
        EXPECT_FALSE(answer["closing"].get<bool>());
    }
    FakeProgram closing("85");
    ASSERT_TRUE(closing.listen(m_dir / "Fetchora"));
    BrowserHost host(setup());
    const json answer = reply(host.answer(kDownload, m_log));
    EXPECT_FALSE(answer["taken"].get<bool>());
    EXPECT_TRUE(answer["closing"].get<bool>());
}

TEST_F(BrowserHostTest, WithNoProgramRunningItStartsOneOnceAndHandsOverWhenItAnswers)
{
    FakeProgram program("1");
    int starts = 0;
    std::thread later;
    BrowserHost host(setup([&](std::string&) {
        ++starts;
        // The program comes up a little later, as a real one does.
        later = std::thread([&] {
            std::this_thread::sleep_for(500ms);
            program.listen(m_dir / "Fetchora");
        });
        return true;
    }));
    const json answer = reply(host.answer(kDownload, m_log));
    later.join();
    EXPECT_TRUE(answer["taken"].get<bool>()) << answer.dump();
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(program.items().size(), 1u);
    EXPECT_NE(m_log.str().find("started it"), std::string::npos);
}

TEST_F(BrowserHostTest, AProgramThatCannotStartOrNeverAnswersIsAWellFormedError)
{
    BrowserHost failing(setup([](std::string& error) {
        error = "no such file";
        return false;
    }));
    const json cannot = reply(failing.answer(kDownload, m_log));
    EXPECT_FALSE(cannot["ok"].get<bool>());
    EXPECT_NE(cannot["error"].get<std::string>().find("could not be started: no such file"), std::string::npos);

    BrowserHost silent(setup([](std::string&) { return true; }));
    const auto begin = std::chrono::steady_clock::now();
    const json never = reply(silent.answer(kDownload, m_log));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s);
    EXPECT_FALSE(never["ok"].get<bool>());
    EXPECT_NE(never["error"].get<std::string>().find("did not answer within 3 s"), std::string::npos);
}

TEST_F(BrowserHostTest, ADownloadTheBrowserStartedIsTakenOnlyWhenItsTypeIsCaptured)
{
    FakeProgram program("1");
    ASSERT_TRUE(program.listen(m_dir / "Fetchora"));
    BrowserHostSetup withTypes = setup();
    withTypes.capturedTypes = [] { return std::string(".ZIP;.R[0-9][0-9]"); };
    BrowserHost host(std::move(withTypes));
    const auto captured = [&](const std::string& url, const std::string& name) {
        json message = {{"type", "download"}, {"url", url}, {"captured", true}};
        if (!name.empty())
            message["fileName"] = name;
        return reply(host.answer(message.dump(), m_log))["taken"].get<bool>();
    };
    EXPECT_TRUE(captured("http://127.0.0.1/get?id=4", "/home/u/Downloads/archive.zip"));
    EXPECT_TRUE(captured("http://127.0.0.1/files/part.r07?session=1", ""));
    EXPECT_FALSE(captured("http://127.0.0.1/files/page.html", ""));
    EXPECT_FALSE(captured("http://127.0.0.1/archive.zip", "report.pdf"));
    EXPECT_EQ(program.items().size(), 2u);
    // A link the user picked is taken whatever its type.
    EXPECT_TRUE(
        reply(host.answer(R"({"type":"download","url":"http://127.0.0.1/page.html"})", m_log))["taken"].get<bool>());
    EXPECT_EQ(program.items().size(), 3u);
}

TEST_F(BrowserHostTest, ALargeListIsWrittenToTheCatchFileAndHandedOverByItsFileCode)
{
    FakeProgram program("1");
    ASSERT_TRUE(program.listen(m_dir / "Fetchora"));
    json message = {{"type", "links"}, {"pageUrl", "http://127.0.0.1/p.html"}, {"links", json::array()}};
    for (int i = 0; i < 3000; ++i)
        message["links"].push_back({{"url", "http://127.0.0.1/f" + std::to_string(i)}, {"text", "t"}});
    BrowserHost host(setup());
    EXPECT_TRUE(reply(host.answer(message.dump(), m_log))["taken"].get<bool>());
    ASSERT_EQ(program.items().size(), 1u);
    EXPECT_EQ(program.items()[0], "0x22");
    const std::string file = test::readFile(m_dir / std::string(kClickCatcherFile));
    EXPECT_EQ(ReadCaughtLinks(std::vector<uint8_t>(file.begin(), file.end())).links.size(), 3000u);
}

// The whole stream: a bad message is answered and the host reads on; an
// oversized one is answered and ends it.
TEST_F(BrowserHostTest, TheStreamAnswersEveryMessageAndEndsOnAnOversizedOne)
{
    FakeProgram program("1");
    ASSERT_TRUE(program.listen(m_dir / "Fetchora"));
    int in[2];
    int out[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    uint32_t huge = 5 * 1024 * 1024;
    const std::string stream = EncodeNativeFrame("{oops") + EncodeNativeFrame(kDownload)
        + std::string(reinterpret_cast<const char*>(&huge), 4) + "tail";
    ASSERT_EQ(write(in[1], stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
    close(in[1]);
    BrowserHost host(setup());
    EXPECT_EQ(host.run(in[0], out[1], m_log), 1);
    close(out[1]);
    std::vector<json> replies;
    for (FrameRead frame = ReadNativeFrame(out[0]); frame.status == FrameStatus::Message;
         frame = ReadNativeFrame(out[0]))
        replies.push_back(json::parse(frame.text));
    close(in[0]);
    close(out[0]);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_FALSE(replies[0]["ok"].get<bool>());
    EXPECT_TRUE(replies[1]["taken"].get<bool>());
    EXPECT_FALSE(replies[2]["ok"].get<bool>());
    EXPECT_NE(replies[2]["error"].get<std::string>().find("above the limit"), std::string::npos);
    EXPECT_NE(m_log.str().find("ending"), std::string::npos);
}

TEST_F(BrowserHostTest, APipeThatEndsInsideAMessageEndsTheHostWithoutAReply)
{
    int in[2];
    int out[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const std::string cut = EncodeNativeFrame(kDownload).substr(0, 20);
    ASSERT_EQ(write(in[1], cut.data(), cut.size()), static_cast<ssize_t>(cut.size()));
    close(in[1]);
    BrowserHost host(setup());
    EXPECT_EQ(host.run(in[0], out[1], m_log), 1);
    close(out[1]);
    EXPECT_EQ(ReadNativeFrame(out[0]).status, FrameStatus::End);
    EXPECT_NE(m_log.str().find("the pipe ended after 16 of"), std::string::npos) << m_log.str();
    close(in[0]);
    close(out[0]);
}

std::vector<uint8_t> itemData(const std::string& item)
{
    return Base64Codec().decode(std::string_view(item).substr(item.find(' ') + 1));
}

TEST_F(BrowserHostTest, TheBrowsersAgentAndSuggestedNameGoOverTheBrowserTopic)
{
    FakeProgram program("1", true);
    ASSERT_TRUE(program.listen(m_dir / "Fetchora"));
    BrowserHost host(setup());
    const json taken = reply(host.answer(
        R"j({"id":4,"type":"download","url":"http://127.0.0.1:9/get?id=1","referrer":"http://127.0.0.1:9/p.html",)j"
        R"j("userAgent":"Agent/7 (Test)","fileName":"/home/u/Downloads/../named.bin"})j",
        m_log));
    EXPECT_TRUE(taken["taken"].get<bool>()) << taken.dump();
    ASSERT_EQ(program.items().size(), 1u);
    EXPECT_EQ(program.topics()[0], kTopicBrowserCatch);
    EXPECT_EQ(program.items()[0].substr(0, 5), "0x77 ");
    const std::optional<CaughtUrl> caught = ReadBrowserUrlBlock(itemData(program.items()[0]));
    ASSERT_TRUE(caught);
    EXPECT_EQ(caught->url, "http://127.0.0.1:9/get?id=1");
    EXPECT_EQ(caught->referer, "http://127.0.0.1:9/p.html");
    EXPECT_EQ(caught->userAgent, "Agent/7 (Test)");
    EXPECT_EQ(caught->fileName, "named.bin");

    host.answer(R"j({"type":"links","pageUrl":"http://127.0.0.1:9/p.html","userAgent":"Agent/7 (Test)",)j"
                R"j("links":[{"url":"http://127.0.0.1:9/1.bin","text":"one","fileName":"first.bin"},)j"
                R"j({"url":"http://127.0.0.1:9/2.bin","text":"two"}]})j",
                m_log);
    ASSERT_EQ(program.items().size(), 2u);
    EXPECT_EQ(program.topics()[1], kTopicBrowserCatch);
    const CaughtLinks links = ReadBrowserLinks(itemData(program.items()[1]));
    ASSERT_EQ(links.links.size(), 2u);
    EXPECT_EQ(links.description, "http://127.0.0.1:9/p.html");
    EXPECT_EQ(links.links[0].fileName, "first.bin");
    EXPECT_EQ(links.links[1].fileName, "");
    EXPECT_EQ(links.links[1].userAgent, "Agent/7 (Test)");
}

TEST_F(BrowserHostTest, AnOlderProgramThatRefusesTheBrowserTopicGetsThePlainCodes)
{
    FakeProgram program("1");
    ASSERT_TRUE(program.listen(m_dir / "Fetchora"));
    BrowserHost host(setup());
    for (int i = 0; i < 2; ++i) {
        const json taken = reply(host.answer(
            R"j({"type":"download","url":"http://127.0.0.1:9/f.bin","referrer":"http://127.0.0.1:9/p.html",)j"
            R"j("userAgent":"Agent/7","fileName":"named.bin"})j",
            m_log));
        EXPECT_TRUE(taken["taken"].get<bool>()) << taken.dump();
    }
    ASSERT_EQ(program.items().size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(program.topics()[i], kTopicClickCatcher);
        const std::optional<CaughtUrl> caught = ReadCaughtUrlBlock(itemData(program.items()[i]), true);
        ASSERT_TRUE(caught);
        EXPECT_EQ(caught->referer, "http://127.0.0.1:9/p.html");
    }
    // Said once, not for every message.
    const std::string log = m_log.str();
    EXPECT_NE(log.find("older"), std::string::npos) << log;
    EXPECT_EQ(log.find("older"), log.rfind("older")) << log;
}

}  // namespace
}  // namespace fetchora
