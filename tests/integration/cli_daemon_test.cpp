// The daemon end to end: fetchora-cli --daemon serving its socket, URLs handed
// over with --send and downloaded from nginx on 127.0.0.1, status lines read
// with --info while a rate-limited download runs, and the job database left
// behind after SIGTERM.
#include "config/settings_key.h"
#include "platform/registry.h"
#include "platform/single_instance.h"
#include "shell/application.h"
#include "shell/daemon_takeover.h"
#include "shell/main_view.h"
#include "support/cli_process.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/view_prompts.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <random>
#include <regex>
#include <thread>

namespace fetchora {
namespace {

using test::CliProcess;
using test::TempDir;
using namespace std::chrono_literals;

std::string randomBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

class TakeOverHost final : public MainViewHost {
public:
    void bringToFront() override { }
    void requestExit() override { }
    std::string clipboardText() override { return {}; }
    void setClipboardText(const std::string&) override { }
    Countdown& countdown() override { return m_countdown; }

private:
    class NoCountdown final : public Countdown {
    public:
        void start(const CountdownRequest&, std::function<void(bool)>) override { }
    };
    NoCountdown m_countdown;
};

class TakeOverPower final : public PowerControl {
public:
    bool canPowerOff() override { return false; }
    bool powerOff() override { return false; }
    void holdSleepInhibitor(bool) override { }
};

class CliDaemon : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* folder : {"home", "run", "downloads"})
            std::filesystem::create_directories(m_dir / folder);
    }

    std::map<std::string, std::string> environment() const
    {
        return test::desktopProfileEnvironment(m_dir.path());
    }

    int cli(const std::vector<std::string>& arguments, std::string* out = nullptr, std::string* err = nullptr)
    {
        return test::runCli(arguments, environment(), m_dir.path(), err, out);
    }

    std::string url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(m_nginx.httpPort()) + path;
    }

    // Polls until done() or the time is up.
    static bool eventually(const std::function<bool()>& done, std::chrono::seconds limit = 60s)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (done())
                return true;
            std::this_thread::sleep_for(100ms);
        }
        return done();
    }

    // The downloaded file of that name somewhere below the download folder.
    std::filesystem::path findDownload(const std::string& name) const
    {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir / "downloads")) {
            if (entry.path().filename() == name)
                return entry.path();
        }
        return {};
    }

    TempDir m_dir;
    test::NginxPeer m_nginx{{"DNS:localhost", "IP:127.0.0.1"},
                            "location /slow/ { alias $WWW/files/; limit_rate 64k; }\n"};
};

TEST_F(CliDaemon, HandsUrlsOverDownloadsThemReportsStatusAndKeepsTheJobsAfterSigterm)
{
    const std::string small = randomBytes(300 * 1024, 7);
    const std::string slow = randomBytes(2 * 1024 * 1024, 8);
    m_nginx.writeServedFile("files/small.bin", small);
    m_nginx.writeServedFile("files/slow.bin", slow);

    std::string out;
    std::string err;
    EXPECT_EQ(cli({"--info", "-1"}, &out, &err), 1);
    EXPECT_NE(err.find("no fetchora instance is running"), std::string::npos) << err;

    std::filesystem::create_directories(m_dir / "daemon");
    CliProcess daemon({"--daemon"}, environment(), m_dir / "daemon");
    ASSERT_TRUE(eventually([&] { return cli({"--info", "-1"}) == 0; }, 30s)) << daemon.standardError();

    // One instance at a time, and no download run beside it on the same database.
    EXPECT_EQ(cli({"--daemon"}, &out, &err), 1);
    EXPECT_NE(err.find("already running"), std::string::npos) << err;
    EXPECT_EQ(cli({"-q", "-d", (m_dir / "downloads").string(), url("/files/small.bin")}, &out, &err), 1);
    EXPECT_NE(err.find("--send"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "downloads" / "small.bin"));

    ASSERT_EQ(cli({"--send", url("/files/small.bin"), "http://127.0.0.1/page.html"}, &out, &err), 0) << err;
    EXPECT_EQ(out, "0\n");
    std::filesystem::path smallFile;
    ASSERT_TRUE(eventually([&] {
        smallFile = findDownload("small.bin");
        return !smallFile.empty() && !std::filesystem::exists(smallFile.string() + ".kx!")
            && std::filesystem::file_size(smallFile) == small.size();
    })) << daemon.standardError();
    EXPECT_TRUE(test::readFile(smallFile) == small) << "the downloaded bytes differ from the served ones";

    // The same URL again, and text that is no URL.
    ASSERT_EQ(cli({"--send", url("/files/small.bin")}, &out, &err), 0) << err;
    EXPECT_EQ(out, "2\n");
    ASSERT_EQ(cli({"--send", "not-a-url"}, &out, &err), 0) << err;
    EXPECT_EQ(out, "1\n");

    ASSERT_EQ(cli({"--send", url("/slow/slow.bin")}, &out, &err), 0) << err;
    EXPECT_EQ(out, "0\n");
    // While it runs: name, size, percent below 100 and an optional time left.
    const std::regex line(R"(slow\.bin\|2097152\|([0-9]|[1-9][0-9])%\|([0-9][0-9]:[0-5][0-9]:[0-5][0-9])?\n)");
    std::string info;
    ASSERT_TRUE(eventually([&] {
        info.clear();
        return cli({"--info", "-1"}, &info) == 0 && std::regex_match(info, line);
    })) << info
        << daemon.standardError();
    std::string first;
    EXPECT_EQ(cli({"--info", "1"}, &first), 0);
    EXPECT_TRUE(std::regex_match(first, line)) << first;
    for (const char* nothing : {"0", "2"}) {
        SCOPED_TRACE(nothing);
        out = "unchanged";
        EXPECT_EQ(cli({"--info", nothing}, &out), 0);
        EXPECT_EQ(out, "");
    }
    ASSERT_FALSE(std::filesystem::exists(findDownload("slow.bin")) && test::readFile(findDownload("slow.bin")) == slow)
        << "the rate-limited download ended before it could be stopped";

    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(std::chrono::seconds(30)), 0) << daemon.standardError();
    EXPECT_FALSE(std::filesystem::exists(m_dir / "run" / "Fetchora"));
    EXPECT_EQ(cli({"--send", url("/files/small.bin")}, &out, &err), 1);
    EXPECT_NE(err.find("no fetchora instance is running"), std::string::npos) << err;

    std::string listing;
    ASSERT_EQ(cli({"--db", (m_dir / "home" / "Default.kxd").string(), "list"}, &listing, &err), 0) << err;
    const std::string smallUrl = "\"url\":\"" + url("/files/small.bin") + "\"";
    const std::string slowUrl = "\"url\":\"" + url("/slow/slow.bin") + "\"";
    EXPECT_NE(listing.find(smallUrl), std::string::npos) << listing;
    EXPECT_NE(listing.find(slowUrl), std::string::npos) << listing;
    EXPECT_NE(listing.find("\"referer\":\"http://127.0.0.1/page.html\""), std::string::npos) << listing;
    EXPECT_NE(listing.find("\"ranges\":[[0," + std::to_string(small.size()) + "]]"), std::string::npos) << listing;
    // The stopped download keeps the ranges it has on disk for a later resume.
    std::smatch partial;
    EXPECT_TRUE(std::regex_search(listing, partial, std::regex(R"(slow\.bin.*"completedBytes":([1-9][0-9]*))")))
        << listing;
}

TEST_F(CliDaemon, SavesItsSettingsAtExitWithoutUndoingEditsMadeWhileItRan)
{
    std::filesystem::create_directories(m_dir / "daemon");
    CliProcess daemon({"--daemon"}, environment(), m_dir / "daemon");
    ASSERT_TRUE(eventually([&] { return cli({"--info", "-1"}) == 0; }, 30s)) << daemon.standardError();

    const std::filesystem::path file = m_dir / "home" / "settings.reg";
    {
        Registry editor(file);
        ASSERT_TRUE(editor.load());
        editor.writeDword(Hive::CurrentUser, settingsKey("Connection"), "CT", 33);
        ASSERT_TRUE(editor.flush());
    }
    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(std::chrono::seconds(30)), 0) << daemon.standardError();

    Registry saved(file);
    ASSERT_TRUE(saved.load());
    EXPECT_EQ(saved.readString(Hive::CurrentUser, settingsKey("General"), "Version"), "1.65");
    EXPECT_EQ(saved.readDword(Hive::CurrentUser, settingsKey("Connection"), "SimJobs"), 3u);
    EXPECT_EQ(saved.readDword(Hive::CurrentUser, settingsKey("Connection"), "CT"), 33u);
}

// The desktop program's start beside a daemon: the daemon saves and ends, the
// lock passes to the new instance, and the main view opened on the saved
// database starts again the download that was running.
TEST_F(CliDaemon, HandsTheProfileOverAndTheRunningDownloadGoesOnInTheNewInstance)
{
    const std::string slow = randomBytes(2 * 1024 * 1024, 10);
    m_nginx.writeServedFile("files/slow.bin", slow);
    std::filesystem::create_directories(m_dir / "daemon");
    CliProcess daemon({"--daemon"}, environment(), m_dir / "daemon");
    ASSERT_TRUE(eventually([&] { return cli({"--info", "-1"}) == 0; }, 30s)) << daemon.standardError();
    std::string out;
    std::string err;
    ASSERT_EQ(cli({"--send", url("/slow/slow.bin")}, &out, &err), 0) << err;
    ASSERT_TRUE(eventually([&] {
        std::string info;
        return cli({"--info", "1"}, &info) == 0 && std::regex_search(info, std::regex(R"(\|([1-9]|[1-9][0-9])%)"));
    })) << daemon.standardError();

    SingleInstance instance;
    std::string error;
    ASSERT_EQ(instance.acquire(m_dir / "run", error), SingleInstance::Result::AnotherRuns);
    std::vector<int32_t> running;
    const TakeOverResult result
        = TakeOverFromDaemon(m_dir / "run", m_dir / "run" / "Fetchora", instance, 60s, {}, running, error);
    ASSERT_EQ(result, TakeOverResult::TookOver) << error << daemon.standardError();
    EXPECT_TRUE(instance.held());
    EXPECT_EQ(daemon.wait(std::chrono::seconds(5)), 0) << daemon.standardError();
    EXPECT_NE(daemon.standardError().find("takes over"), std::string::npos) << daemon.standardError();
    ASSERT_EQ(running.size(), 1u);

    // The window's part: the same view logic over the saved database.
    Application app(mapEnvironment(environment()));
    ASSERT_TRUE(app.start(error)) << error;
    TakeOverHost host;
    test::ViewPrompts prompts;
    test::RecordingDesktop desktop;
    TakeOverPower power;
    auto view = std::make_unique<MainView>(app, prompts, desktop, power, host);
    view->start();
    DownloadJob* job = view->doc().tree().FindById(running[0]);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->url, url("/slow/slow.bin"));
    const int64_t saved = job->completedBytes;
    EXPECT_GT(saved, 0);
    EXPECT_LT(saved, static_cast<int64_t>(slow.size())) << "the download ended before the hand-over";
    // Loading leaves an unfinished job stopped unless the user asked otherwise.
    EXPECT_NE(job->GetState(), JobState::Downloading);
    view->resumeJobs({running[0], 999999});
    EXPECT_EQ(job->GetState(), JobState::Downloading);
    EXPECT_TRUE(app.loop().runUntil([&] { return job->completedBytes > saved; }, 30s));
    view->close();
    app.loop().quit();
    EXPECT_TRUE(view->joinThreads());
    view.reset();
    app.stop();

    // Nothing is left to take over from: the lock is simply taken.
    instance.release();
    EXPECT_EQ(TakeOverFromDaemon(m_dir / "run", m_dir / "run" / "Fetchora", instance, 1s, {}, running, error),
              TakeOverResult::TookOver)
        << error;
}

TEST_F(CliDaemon, StartsScheduledJobsWhenTheWindowOpensAndStopsThemAtItsStopTime)
{
    const std::string slow = randomBytes(16 * 1024 * 1024, 9);
    m_nginx.writeServedFile("files/scheduled.bin", slow);

    // A window from the next full minute to the one after; a start too
    // close to now moves a minute on, so the daemon is up before it opens.
    std::time_t start = (std::time(nullptr) / 60 + 1) * 60;
    if (start - std::time(nullptr) < 10)
        start += 60;
    const std::time_t stop = start + 60;
    {
        Registry settings(m_dir / "home" / "settings.reg");
        settings.writeDword(Hive::CurrentUser, settingsKey("General"), "Schedule flags", 0x807F);
        settings.writeDword(Hive::CurrentUser, settingsKey("General"), "Schedule Start Time",
                            static_cast<uint32_t>(start));
        settings.writeDword(Hive::CurrentUser, settingsKey("General"), "Schedule Stop Time",
                            static_cast<uint32_t>(stop));
        // New jobs wait for the schedule.
        settings.writeDword(Hive::CurrentUser, settingsKey("Download default"), "Start", 2);
        ASSERT_TRUE(settings.flush());
    }

    std::filesystem::create_directories(m_dir / "daemon");
    CliProcess daemon({"--daemon"}, environment(), m_dir / "daemon");
    ASSERT_TRUE(eventually([&] { return cli({"--info", "-1"}) == 0; }, 30s)) << daemon.standardError();
    std::string out;
    std::string err;
    ASSERT_EQ(cli({"--send", url("/slow/scheduled.bin")}, &out, &err), 0) << err;
    EXPECT_EQ(out, "0\n");

    // The share received, from the job's status line (the working file is
    // allocated at its full size at once, so its size says nothing).
    auto received = [&]() -> int {
        std::string info;
        std::smatch match;
        if (cli({"--info", "1"}, &info) != 0 || !std::regex_search(info, match, std::regex(R"(\|([0-9]+)%\|)")))
            return 0;
        return std::stoi(match[1].str());
    };
    // Before the window nothing is fetched.
    std::this_thread::sleep_for(2s);
    if (std::time(nullptr) < start - 1) {
        EXPECT_EQ(received(), 0) << daemon.standardError();
    }

    // The window opens: the job runs.
    ASSERT_TRUE(eventually([&] { return received() > 0; }, std::chrono::seconds(start - std::time(nullptr) + 20)))
        << daemon.standardError();
    EXPECT_GE(std::time(nullptr), start - 1);

    // The stop time: the job stops and its file no longer grows.
    const auto waitForStop = std::chrono::seconds(stop - std::time(nullptr) + 5);
    std::this_thread::sleep_for(waitForStop);
    const int atStop = received();
    std::this_thread::sleep_for(6s);
    EXPECT_EQ(received(), atStop) << "the scheduled job still runs after the stop time\n" << daemon.standardError();
    EXPECT_GT(atStop, 0);
    EXPECT_LT(atStop, 100);

    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(std::chrono::seconds(30)), 0) << daemon.standardError();
    std::string listing;
    ASSERT_EQ(cli({"--db", (m_dir / "home" / "Default.kxd").string(), "list"}, &listing, &err), 0) << err;
    EXPECT_NE(listing.find("\"startMode\":2"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\"state\":1"), std::string::npos) << listing;
}

}  // namespace
}  // namespace fetchora
