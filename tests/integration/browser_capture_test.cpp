// Browser capture in real browsers: headless Chromium with our extension
// loaded unpacked and the host manifest in its profile, and headless Firefox
// with the extension as a temporary add-on and the host manifest in the
// user's folder. What the context menu items do is driven over the DevTools
// protocol (tests/browser/chromium_driver.py) or Marionette
// (tests/browser/firefox_driver.py); the extension talks to fetchora-host,
// which starts the daemon, which downloads from nginx on 127.0.0.1. nginx
// serves the files only with the page as referrer, the session cookie the
// page set in the browser and the browser's user agent; links with a
// "download" attribute arrive under the name it gives.
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

#include "shell/browser_hosts.h"
#include "support/cli_process.h"
#include "support/headless_environment.h"
#include "support/real_peers.h"
#include "support/support_files.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kChromium = "/usr/bin/chromium";
constexpr const char* kFirefox = "/usr/bin/firefox-esr";
// Both browsers are told to send it, so that nginx can tell it from ours.
constexpr const char* kBrowserAgent = "Mozilla/5.0 (X11; Linux x86_64) FetchoraTestBrowser/1.0";

std::string randomBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// Runs the driver to its end; its standard output, or "" when it failed.
std::string runDriver(const std::string& driver, const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& overrides, const fs::path& errorFile)
{
    std::vector<std::string> texts = test::HeadlessEnvironment(overrides);
    std::vector<char*> envp;
    for (std::string& text : texts)
        envp.push_back(text.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv = {
        "/usr/bin/python3", (test::supportFile("ftpd.py").parent_path().parent_path() / "browser" / driver).string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        const int err = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, 2);
        close(out[0]);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(got));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : std::string();
}

class BrowserCapture : public testing::Test {
protected:
    struct Browser {
        const char* program;
        const char* driver;
        bool firefox;
    };

    void prepare(const Browser& browser)
    {
        m_browser = browser;
        if (::access(browser.program, X_OK) != 0)
            GTEST_SKIP() << browser.program << " is not installed (scripts/install-deps.sh installs it)";
        for (const char* folder : {"home", "run", "downloads", "profile"})
            fs::create_directories(m_dir / folder);
        // Chromium looks in its profile's own folder for user-level hosts;
        // Firefox in the user's ~/.mozilla (HOME is the test's folder).
        const fs::path hosts
            = browser.firefox ? m_dir / ".mozilla/native-messaging-hosts" : m_dir / "profile/NativeMessagingHosts";
        fs::create_directories(hosts);
        test::writeFile(hosts / (std::string(kBrowserHostName) + ".json"),
                        BrowserHostManifest(FETCHORA_HOST, browser.firefox));
        std::string page = "<html><body><p>Before: <a href='/guarded/outside1.bin'>outside one</a></p>"
                           "<p id='chosen'>";
        for (int i = 1; i <= 3; ++i) {
            m_files["chosen" + std::to_string(i) + ".bin"] = randomBytes(200 * 1024 + i, 20 + i);
            // The page names the second file itself.
            page += "<a href='/guarded/chosen" + std::to_string(i) + ".bin'"
                + (i == 2 ? " download='Second Choice.bin'" : "") + ">chosen " + std::to_string(i) + "</a> ";
        }
        page += "</p><p>After: <a href='/guarded/outside2.bin'>outside two</a> "
                "<a href='/guarded/single.bin' download='../single named.bin'>single</a></p></body></html>";
        m_files["outside1.bin"] = randomBytes(1000, 31);
        m_files["outside2.bin"] = randomBytes(1000, 32);
        m_files["single.bin"] = randomBytes(300 * 1024, 33);
        for (const auto& [name, bytes] : m_files)
            m_nginx.writeServedFile("files/" + name, bytes);
        m_nginx.writeServedFile("page.html", page);
    }
    void TearDown() override { test::StopDaemonOfProfile(m_dir / "home"); }
    std::string pageUrl() const { return "http://127.0.0.1:" + std::to_string(m_nginx.httpPort()) + "/page.html"; }

    json drive(const std::string& pageJs, const std::string& extensionJs)
    {
        const std::string out = runDriver(m_browser.driver,
                                          {m_browser.program, m_extension.string(), (m_dir / "profile").string(),
                                           pageUrl(), pageJs, extensionJs, kBrowserAgent},
                                          test::desktopProfileEnvironment(m_dir.path()),
                                          m_dir / "driver.log");
        EXPECT_FALSE(out.empty()) << test::readFile(m_dir / "driver.log");
        return out.empty() ? json() : json::parse(out);
    }

    // The downloaded, finished file of that name below the download folder,
    // with the size of the served file.
    fs::path finished(const std::string& name, const std::string& served) const
    {
        for (const auto& entry : fs::recursive_directory_iterator(m_dir / "downloads"))
            if (entry.path().filename() == name && !fs::exists(entry.path().string() + ".kx!")
                && fs::file_size(entry.path()) == m_files.at(served).size())
                return entry.path();
        return {};
    }
    // Local name and served name of each file.
    bool waitFinished(const std::vector<std::pair<std::string, std::string>>& names)
    {
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < end) {
            bool all = true;
            for (const auto& [name, served] : names)
                all = all && !finished(name, served).empty();
            if (all)
                return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    // The start of an extension script that finds the page's tab (Firefox's
    // URL patterns in tab queries take no port).
    std::string findPageTab() const
    {
        return "(async () => { const tab = (await chrome.tabs.query({})).find((t) => t.url === "
            + json(pageUrl()).dump() + ");";
    }

    // "Download with Fetchora" on the page's single link.
    void downloadOneLink(const std::string& expectedExtension)
    {
        const std::string link = "http://127.0.0.1:" + std::to_string(m_nginx.httpPort()) + "/guarded/single.bin";
        const json reply = drive("true",
                                 findPageTab() + " return fetchora.downloadLink(" + json(link).dump() + ", "
                                     + json(pageUrl()).dump() + ", tab.id); })()");
        EXPECT_EQ(reply["extension"], expectedExtension);
        EXPECT_EQ(reply["result"]["ok"], true) << reply.dump();
        EXPECT_EQ(reply["result"]["taken"], true) << reply.dump();
        // The name the link's "download" attribute gives, without its path.
        ASSERT_TRUE(waitFinished({{"single named.bin", "single.bin"}})) << test::readFile(m_nginx.accessLogFile());
        EXPECT_TRUE(test::readFile(finished("single named.bin", "single.bin")) == m_files["single.bin"]);
        EXPECT_FALSE(fs::exists(m_dir / "single named.bin"));
    }

    // "Download all links with Fetchora" on a selection of three of six links.
    void downloadSelection()
    {
        const std::string select
            = "(() => { const range = document.createRange();"
              " range.selectNodeContents(document.getElementById('chosen'));"
              " getSelection().removeAllRanges(); getSelection().addRange(range); return true; })()";
        const std::string all
            = findPageTab() + " return fetchora.downloadAllLinks(tab.id, " + json(pageUrl()).dump() + ", true); })()";
        const json reply = drive(select, all);
        EXPECT_EQ(reply["result"]["taken"], true) << reply.dump();
        ASSERT_TRUE(waitFinished(
            {{"chosen1.bin", "chosen1.bin"}, {"Second Choice.bin", "chosen2.bin"}, {"chosen3.bin", "chosen3.bin"}}))
            << test::readFile(m_nginx.accessLogFile());
        EXPECT_TRUE(test::readFile(finished("chosen1.bin", "chosen1.bin")) == m_files["chosen1.bin"]);
        EXPECT_TRUE(test::readFile(finished("Second Choice.bin", "chosen2.bin")) == m_files["chosen2.bin"]);
        EXPECT_TRUE(test::readFile(finished("chosen3.bin", "chosen3.bin")) == m_files["chosen3.bin"]);
        for (const char* name : {"outside1.bin", "outside2.bin", "single.bin"})
            EXPECT_EQ(test::readFile(m_nginx.accessLogFile()).find(name), std::string::npos) << name;
    }

    test::TempDir m_dir;
    Browser m_browser{};
    fs::path m_extension = test::supportFile("ftpd.py").parent_path().parent_path().parent_path() / "browser";
    test::NginxPeer m_nginx{
        {"DNS:localhost", "IP:127.0.0.1"},
        "location = /page.html { add_header Set-Cookie \"session=s3cr3t; Path=/\"; }\n"
        "location /guarded/ { alias $WWW/files/;\n"
        "  if ($cookie_session != \"s3cr3t\") { return 403; }\n"
        "  if ($http_user_agent != \""
            + std::string(kBrowserAgent)
            + "\") { return 403; }\n"
              "  if ($http_referer !~ \"^http://127\\.0\\.0\\.1:[0-9]+/page\\.html$\") { return 403; } }\n"};
    std::map<std::string, std::string> m_files;
};

class ChromiumCapture : public BrowserCapture {
protected:
    void SetUp() override { prepare({kChromium, "chromium_driver.py", false}); }
};

class FirefoxCapture : public BrowserCapture {
protected:
    void SetUp() override { prepare({kFirefox, "firefox_driver.py", true}); }
};

TEST_F(ChromiumCapture, DownloadWithFetchoraOnALinkDownloadsItAsTheBrowserWould)
{
    downloadOneLink("chrome-extension://" + std::string(kChromiumExtensionId) + "/background.js");
}

TEST_F(ChromiumCapture, DownloadAllLinksOfASelectionHandsOverExactlyTheSelectedLinks)
{
    downloadSelection();
}

TEST_F(FirefoxCapture, DownloadWithFetchoraOnALinkDownloadsItAsTheBrowserWould)
{
    downloadOneLink(std::string(kFirefoxExtensionId));
}

TEST_F(FirefoxCapture, DownloadAllLinksOfASelectionHandsOverExactlyTheSelectedLinks)
{
    downloadSelection();
}

}  // namespace
}  // namespace fetchora
