// fetchora-host end to end, as a browser runs it: frames on its standard
// input and output, no program running at first, so that the host starts the
// daemon itself; the download it hands over comes from nginx on 127.0.0.1,
// which serves the file only with the page as referrer and the page's
// session cookie.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "host/native_frames.h"
#include "support/cli_process.h"
#include "support/headless_environment.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

// The host with pipes for its standard input and output.
class HostProcess {
public:
    explicit HostProcess(const std::map<std::string, std::string>& overrides)
    {
        // No display: the host starts the daemon, never a window.
        std::vector<std::string> texts = test::HeadlessEnvironment(overrides);
        std::vector<char*> envp;
        for (std::string& text : texts)
            envp.push_back(text.data());
        envp.push_back(nullptr);

        int in[2];
        int out[2];
        EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            // The origin Chromium passes as the first argument.
            char* argv[] = {const_cast<char*>(FETCHORA_HOST),
                            const_cast<char*>("chrome-extension://defgalnopfgnmjhkhgbpdgpanmdphfli/"), nullptr};
            execve(FETCHORA_HOST, argv, envp.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
    }
    ~HostProcess()
    {
        closeInput();
        close(m_out);
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    json ask(const json& message)
    {
        const std::string frame = EncodeNativeFrame(message.dump());
        EXPECT_EQ(write(m_in, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
        const FrameRead reply = ReadNativeFrame(m_out);
        EXPECT_EQ(reply.status, FrameStatus::Message) << reply.error;
        return reply.status == FrameStatus::Message ? json::parse(reply.text) : json();
    }
    void closeInput()
    {
        if (m_in >= 0)
            close(m_in);
        m_in = -1;
    }
    // The exit status once the browser closed the pipe.
    int wait()
    {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Whatever the host wrote after its replies (it must be nothing).
    std::string rest()
    {
        std::string bytes;
        char buffer[256];
        for (ssize_t got; (got = read(m_out, buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, static_cast<size_t>(got));
        return bytes;
    }

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
};

TEST(BrowserHostCapture, AClickHandedToTheHostStartsFetchoraWhichDownloadsWithTheReferrer)
{
    test::TempDir dir;
    for (const char* folder : {"home", "run", "downloads"})
        fs::create_directories(dir / folder);
    test::NginxPeer nginx({"DNS:localhost", "IP:127.0.0.1"},
                          "location /guarded/ { alias $WWW/files/;\n"
                          "  if ($http_referer != \"http://127.0.0.1/page.html\") { return 403; }\n"
                          "  if ($cookie_session != \"abc123\") { return 403; } }\n");
    std::mt19937 random(11);
    std::string bytes(512 * 1024, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    nginx.writeServedFile("files/capture.bin", bytes);
    const std::string url = "http://127.0.0.1:" + std::to_string(nginx.httpPort()) + "/guarded/capture.bin";

    HostProcess host(test::desktopProfileEnvironment(dir.path()));
    const json ping = host.ask({{"id", 1}, {"type", "ping"}});
    EXPECT_EQ(ping["id"], 1);
    EXPECT_FALSE(ping["running"].get<bool>()) << ping.dump();

    const json cookie = {{"name", "session"}, {"value", "abc123"}, {"domain", "127.0.0.1"},
                         {"path", "/"},       {"hostOnly", true},  {"secure", false}};
    const json reply = host.ask({{"id", 2},
                                 {"type", "download"},
                                 {"url", url},
                                 {"referrer", "http://127.0.0.1/page.html"},
                                 {"cookies", json::array({cookie})}});
    EXPECT_TRUE(reply["ok"].get<bool>()) << reply.dump();
    EXPECT_TRUE(reply["taken"].get<bool>()) << reply.dump();
    EXPECT_TRUE(host.ask({{"id", 3}, {"type", "ping"}})["running"].get<bool>());
    host.closeInput();
    EXPECT_EQ(host.wait(), 0);
    EXPECT_EQ(host.rest(), "") << "the host wrote something that is not a frame";

    const pid_t daemon = test::DaemonOfProfile(dir / "home");
    ASSERT_GT(daemon, 0) << "the host did not start the daemon";
    fs::path file;
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < end) {
        for (const auto& entry : fs::recursive_directory_iterator(dir / "downloads"))
            if (entry.path().filename() == "capture.bin" && !fs::exists(entry.path().string() + ".kx!")
                && fs::file_size(entry.path()) == bytes.size())
                file = entry.path();
        if (!file.empty())
            break;
        std::this_thread::sleep_for(100ms);
    }
    kill(daemon, SIGTERM);
    for (int i = 0; i < 300 && kill(daemon, 0) == 0; ++i)
        std::this_thread::sleep_for(100ms);
    ASSERT_FALSE(file.empty()) << "capture.bin was not downloaded";
    EXPECT_TRUE(test::readFile(file) == bytes) << "the downloaded bytes differ from the served ones";
}

// The finished file of that name and size below the folder, or empty once
// a minute has passed.
fs::path waitForFile(const fs::path& folder, const std::string& name, size_t size)
{
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < end) {
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.path().filename() == name && !fs::exists(entry.path().string() + ".kx!")
                && fs::file_size(entry.path()) == size)
                return entry.path();
        std::this_thread::sleep_for(100ms);
    }
    return {};
}

TEST(BrowserHostCapture, TheJobsAskWithTheBrowsersAgentAndSaveUnderTheSuggestedNames)
{
    test::TempDir dir;
    for (const char* folder : {"home", "run", "downloads"})
        fs::create_directories(dir / folder);
    const std::string agent = "Mozilla/5.0 (X11; Linux x86_64; rv:1.0) FetchoraTestBrowser/1.0";
    // Every request for the files needs the browser's agent, the resumed and
    // split ones included.
    test::NginxPeer nginx({"DNS:localhost", "IP:127.0.0.1"},
                          "location /agent/ { alias $WWW/files/;\n"
                          "  if ($http_user_agent != \""
                              + agent + "\") { return 403; } }\n");
    std::mt19937 random(12);
    std::map<std::string, std::string> served;
    for (const char* name : {"get.bin", "one.bin", "two.bin"}) {
        std::string bytes(300 * 1024 + served.size(), '\0');
        for (char& c : bytes)
            c = static_cast<char>(random());
        nginx.writeServedFile(std::string("files/") + name, bytes);
        served[name] = bytes;
    }
    const std::string base = "http://127.0.0.1:" + std::to_string(nginx.httpPort()) + "/agent/";

    HostProcess host(test::desktopProfileEnvironment(dir.path()));
    // A suggested name with a path and a parent step: only its last part counts.
    const json reply = host.ask({{"id", 1},
                                 {"type", "download"},
                                 {"url", base + "get.bin"},
                                 {"referrer", "http://127.0.0.1/page.html"},
                                 {"userAgent", agent},
                                 {"fileName", "../The Report.bin"}});
    EXPECT_TRUE(reply["taken"].get<bool>()) << reply.dump();
    const json links = host.ask({{"id", 2},
                                 {"type", "links"},
                                 {"pageUrl", "http://127.0.0.1/page.html"},
                                 {"userAgent", agent},
                                 {"links",
                                  {{{"url", base + "one.bin"}, {"text", "one"}, {"fileName", "first.bin"}},
                                   {{"url", base + "two.bin"}, {"text", "two"}}}}});
    EXPECT_TRUE(links["taken"].get<bool>()) << links.dump();
    host.closeInput();
    EXPECT_EQ(host.wait(), 0);

    const pid_t daemon = test::DaemonOfProfile(dir / "home");
    ASSERT_GT(daemon, 0) << "the host did not start the daemon";
    const fs::path report = waitForFile(dir / "downloads", "The Report.bin", served["get.bin"].size());
    const fs::path first = waitForFile(dir / "downloads", "first.bin", served["one.bin"].size());
    const fs::path second = waitForFile(dir / "downloads", "two.bin", served["two.bin"].size());
    kill(daemon, SIGTERM);
    for (int i = 0; i < 300 && kill(daemon, 0) == 0; ++i)
        std::this_thread::sleep_for(100ms);
    const std::string log = test::readFile(nginx.accessLogFile());
    ASSERT_FALSE(report.empty()) << log;
    EXPECT_TRUE(test::readFile(report) == served["get.bin"]);
    ASSERT_FALSE(first.empty()) << log;
    EXPECT_TRUE(test::readFile(first) == served["one.bin"]);
    ASSERT_FALSE(second.empty()) << log;
    EXPECT_TRUE(test::readFile(second) == served["two.bin"]);
    EXPECT_EQ(log.find("\" 403 "), std::string::npos) << log;
    // Nothing lands outside the download folder, nor under the URL's name.
    EXPECT_FALSE(fs::exists(dir / "The Report.bin"));
    for (const auto& entry : fs::recursive_directory_iterator(dir / "downloads"))
        EXPECT_NE(entry.path().filename(), "get.bin");
}

}  // namespace
}  // namespace fetchora
