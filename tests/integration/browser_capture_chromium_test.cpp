// Browser capture in a real browser: headless Chromium with our extension
// loaded unpacked and the host manifest in its profile. What the context menu
// items do is driven over the DevTools protocol (tests/browser/chromium_driver.py);
// the extension talks to fetchora-host, which starts the daemon, which
// downloads from nginx on 127.0.0.1. nginx serves the files only with the page
// as referrer and the session cookie the page set in the browser.
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

std::string randomBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// Runs the driver to its end; its standard output, or "" when it failed.
std::string runDriver(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& overrides,
                      const fs::path& errorFile)
{
    std::vector<std::string> texts = test::HeadlessEnvironment(overrides);
    std::vector<char*> envp;
    for (std::string& text : texts)
        envp.push_back(text.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv
        = {"/usr/bin/python3",
           (test::supportFile("ftpd.py").parent_path().parent_path() / "browser" / "chromium_driver.py").string()};
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

class ChromiumCapture : public testing::Test {
protected:
    void SetUp() override
    {
        if (::access(kChromium, X_OK) != 0)
            GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it)";
        for (const char* folder : {"home", "run", "downloads", "chromium/NativeMessagingHosts"})
            fs::create_directories(m_dir / folder);
        // The profile's own folder for user-level hosts.
        test::writeFile(m_dir / "chromium/NativeMessagingHosts" / (std::string(kBrowserHostName) + ".json"),
                        BrowserHostManifest(FETCHORA_HOST, false));
        std::string page = "<html><body><p>Before: <a href='/guarded/outside1.bin'>outside one</a></p>"
                           "<p id='chosen'>";
        for (int i = 1; i <= 3; ++i) {
            m_files["chosen" + std::to_string(i) + ".bin"] = randomBytes(200 * 1024 + i, 20 + i);
            page += "<a href='/guarded/chosen" + std::to_string(i) + ".bin'>chosen " + std::to_string(i) + "</a> ";
        }
        page += "</p><p>After: <a href='/guarded/outside2.bin'>outside two</a> "
                "<a href='/guarded/single.bin'>single</a></p></body></html>";
        m_files["outside1.bin"] = randomBytes(1000, 31);
        m_files["outside2.bin"] = randomBytes(1000, 32);
        m_files["single.bin"] = randomBytes(300 * 1024, 33);
        for (const auto& [name, bytes] : m_files)
            m_nginx.writeServedFile("files/" + name, bytes);
        m_nginx.writeServedFile("page.html", page);
    }
    void TearDown() override { test::StopDaemonOfProfile(m_dir / "home"); }
    std::string pageUrl() const { return "http://127.0.0.1:" + std::to_string(m_nginx.httpPort()) + "/page.html"; }

    json drive(const std::string& pageJs, const std::string& workerJs)
    {
        const std::string out
            = runDriver({kChromium, m_extension.string(), (m_dir / "chromium").string(), pageUrl(), pageJs, workerJs},
                        {{"FETCHORA_HOME", (m_dir / "home").string()},
                         {"TMPDIR", m_dir.path().string()},
                         {"HOME", m_dir.path().string()},
                         {"XDG_RUNTIME_DIR", (m_dir / "run").string()},
                         {"XDG_DOWNLOAD_DIR", (m_dir / "downloads").string()}},
                        m_dir / "driver.log");
        EXPECT_FALSE(out.empty()) << test::readFile(m_dir / "driver.log");
        return out.empty() ? json() : json::parse(out);
    }

    // The downloaded, finished file of that name below the download folder.
    fs::path finished(const std::string& name) const
    {
        for (const auto& entry : fs::recursive_directory_iterator(m_dir / "downloads"))
            if (entry.path().filename() == name && !fs::exists(entry.path().string() + ".kx!")
                && fs::file_size(entry.path()) == m_files.at(name).size())
                return entry.path();
        return {};
    }
    bool waitFinished(const std::vector<std::string>& names)
    {
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < end) {
            bool all = true;
            for (const std::string& name : names)
                all = all && !finished(name).empty();
            if (all)
                return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    test::TempDir m_dir;
    fs::path m_extension = test::supportFile("ftpd.py").parent_path().parent_path().parent_path() / "browser";
    test::NginxPeer m_nginx{
        {"DNS:localhost", "IP:127.0.0.1"},
        "location = /page.html { add_header Set-Cookie \"session=s3cr3t; Path=/\"; }\n"
        "location /guarded/ { alias $WWW/files/;\n"
        "  if ($cookie_session != \"s3cr3t\") { return 403; }\n"
        "  if ($http_referer !~ \"^http://127\\.0\\.0\\.1:[0-9]+/page\\.html$\") { return 403; } }\n"};
    std::map<std::string, std::string> m_files;
};

TEST_F(ChromiumCapture, DownloadWithFetchoraOnALinkDownloadsItWithThePageAsReferrer)
{
    const std::string link = "http://127.0.0.1:" + std::to_string(m_nginx.httpPort()) + "/guarded/single.bin";
    const json reply
        = drive("true", "fetchora.downloadLink(" + json(link).dump() + ", " + json(pageUrl()).dump() + ")");
    EXPECT_EQ(reply["extension"], "chrome-extension://" + std::string(kChromiumExtensionId) + "/background.js");
    EXPECT_EQ(reply["result"]["ok"], true) << reply.dump();
    EXPECT_EQ(reply["result"]["taken"], true) << reply.dump();
    ASSERT_TRUE(waitFinished({"single.bin"})) << test::readFile(m_nginx.accessLogFile());
    EXPECT_TRUE(test::readFile(finished("single.bin")) == m_files["single.bin"]);
}

TEST_F(ChromiumCapture, DownloadAllLinksOfASelectionHandsOverExactlyTheSelectedLinks)
{
    const std::string select = "(() => { const range = document.createRange();"
                               " range.selectNodeContents(document.getElementById('chosen'));"
                               " getSelection().removeAllRanges(); getSelection().addRange(range); return true; })()";
    const std::string all = "(async () => { const [tab] = await chrome.tabs.query({url: " + json(pageUrl()).dump()
        + "}); return fetchora.downloadAllLinks(tab.id, " + json(pageUrl()).dump() + ", true); })()";
    const json reply = drive(select, all);
    EXPECT_EQ(reply["result"]["taken"], true) << reply.dump();
    ASSERT_TRUE(waitFinished({"chosen1.bin", "chosen2.bin", "chosen3.bin"})) << test::readFile(m_nginx.accessLogFile());
    for (const char* name : {"chosen1.bin", "chosen2.bin", "chosen3.bin"})
        EXPECT_TRUE(test::readFile(finished(name)) == m_files[name]) << name;
    for (const char* name : {"outside1.bin", "outside2.bin", "single.bin"})
        EXPECT_EQ(test::readFile(m_nginx.accessLogFile()).find(name), std::string::npos) << name;
}

}  // namespace
}  // namespace fetchora
