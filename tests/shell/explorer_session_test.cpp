// The explorer's session against real servers on 127.0.0.1: pyftpdlib for
// folder listings, nginx for pages, and the main view that takes the picks.
#include "shell/explorer_session.h"

#include <chrono>
#include <fstream>

#include "config/app_settings.h"
#include "config/proxy_entry.h"
#include "explorer/explorer_fetch_results.h"
#include "model/job_database.h"
#include "platform/registry.h"
#include "shell/application.h"
#include "shell/main_view.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/view_prompts.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

TEST(ExplorerAddressTest, TypedAddressesBecomeBrowsableUrlsOrNothing)
{
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"  127.0.0.1:8080/pub/ ", "http://127.0.0.1:8080/pub/"},
        {"ftp.example.org", "ftp://ftp.example.org/"},
        {"HTTP://Host/a.html", "http://Host/a.html"},
        {"https://host", "https://host/"},
        {"ftp://anna@host:2121/x/", "ftp://anna@host:2121/x/"},
        {"mailto:someone@host", std::nullopt},
        {"javascript:alert(1)", std::nullopt},
        {"file:///etc/passwd", std::nullopt},
        {"gopher://host/", std::nullopt},
        {"http://", std::nullopt},
        {"", std::nullopt},
        {"http://host/a\nb", std::nullopt},
    };
    for (const auto& [typed, expected] : cases)
        EXPECT_EQ(ExplorerAddress(typed), expected) << typed;
}

TEST(ExplorerDownloadRequestTest, OnlyWebAndFtpUrlsAreHandedOnWithTheirReferrers)
{
    ExplorerNodeStore store;
    ExplorerNode* page = store.addAddress("http://h/d/index.html");
    ExplorerNode* file = store.addAddress("http://h/d/a.zip");
    file->title = "A";
    file->from = page->url;
    page->links = {{"http://h/d/a.zip", "A", 0, 1}, {"ftp://h/b.zip", "B", 5, 1}};
    const ExtractedLink hostile{"file:///etc/passwd", "P", 9, 1};
    const std::vector<EntryRow> rows
        = {{file, nullptr, page}, {nullptr, &page->links[1], page}, {nullptr, &hostile, page}};
    const LinkListRequest request = ExplorerDownloadRequest(rows);
    EXPECT_EQ(request.source, kListWithOwnReferers);
    ASSERT_EQ(request.links.size(), 2u);
    EXPECT_EQ(request.links[0].url, "http://h/d/a.zip");
    EXPECT_EQ(request.links[0].text, "A");
    EXPECT_EQ(request.links[0].referer, "http://h/d/index.html");
    EXPECT_EQ(request.links[1].url, "ftp://h/b.zip");
    EXPECT_EQ(request.links[1].referer, "http://h/d/index.html");
}

TEST(ExplorerFtpProxyTest, AListingGoesThroughTheProxyANewJobWouldUse)
{
    TempDir dir;
    Registry registry;
    AppSettings settings(
        registry,
        {"/opt/fetchora/bin/fetchora", "/opt/fetchora/share", (dir / "dl").string(), (dir / "t").string(), "C"});
    settings.LoadSettings();
    EXPECT_FALSE(ExplorerFtpProxy(settings, "ftp://127.0.0.1/pub/").has_value()) << "direct by default";
    ProxyEntry run;
    run.server = "127.0.0.1";
    run.port = 3128;
    run.type = kProxyHttpGet;
    settings.SetRunProxy(run);
    const std::optional<ProxyEntry> chosen = ExplorerFtpProxy(settings, "ftp://127.0.0.1/pub/");
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->port, 3128);
    EXPECT_EQ(chosen->type, kProxyHttpGet);
}

class RecordingListener final : public ExplorerListener {
public:
    void nodeFetched(ExplorerNode& node) override { fetched.push_back(&node); }
    void logLine(const std::string& line) override { lines.push_back(line); }
    void busyChanged(bool busy) override { busyChanges.push_back(busy); }
    bool logged(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }

    std::vector<ExplorerNode*> fetched;
    std::vector<std::string> lines;
    std::vector<bool> busyChanges;
};

class ExplorerSessionTest : public testing::Test {
protected:
    ExplorerSessionTest()
        : m_app(mapEnvironment({{"FETCHORA_HOME", (m_dir / "profile").string()},
                                {"TMPDIR", m_dir.path().string()},
                                {"HOME", m_dir.path().string()},
                                {"XDG_DOWNLOAD_DIR", (m_dir / "Downloads").string()}}))
    {
        std::string error;
        EXPECT_TRUE(m_app.start(error)) << error;
        m_app.loop().processPending();
        m_session = std::make_unique<ExplorerSession>(m_app, m_listener);
    }
    ~ExplorerSessionTest() override
    {
        m_session.reset();
        m_app.stop();
    }

    // Runs the loop until no fetch runs; also notes the longest time one
    // slice of the loop took, which is how long the window would hang.
    bool runUntilIdle(std::chrono::milliseconds timeout = 30s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto before = std::chrono::steady_clock::now();
            m_app.loop().runUntil([&] { return !m_session->busy(); }, 20ms);
            m_longestSlice = std::max(m_longestSlice, std::chrono::steady_clock::now() - before);
            if (!m_session->busy())
                return true;
        }
        return false;
    }

    std::vector<std::string> cells(const EntryRow& row) const
    {
        std::vector<std::string> out;
        for (int c = 0; c < static_cast<int>(EntryColumn::Count); ++c)
            out.push_back(EntryCellText(row, static_cast<EntryColumn>(c), true));
        return out;
    }

    const EntryRow* rowNamed(const std::vector<EntryRow>& rows, const std::string& name) const
    {
        for (const EntryRow& row : rows) {
            if (EntryCellText(row, EntryColumn::Name, true) == name)
                return &row;
        }
        return nullptr;
    }

    TempDir m_dir;
    Application m_app;
    RecordingListener m_listener;
    std::unique_ptr<ExplorerSession> m_session;
    std::chrono::steady_clock::duration m_longestSlice{};
};

void writeBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST_F(ExplorerSessionTest, BrowsingTheFtpServerShowsFoldersAndFilesWithSizesAndDates)
{
    test::PyftpdlibPeer ftp;
    writeBytes(ftp.anonymousRoot() / "pub" / "data.bin", std::string(3000, 'd'));
    writeBytes(ftp.anonymousRoot() / "pub" / "sub" / "inner.txt", "x");
    const std::string site = "ftp://127.0.0.1:" + std::to_string(ftp.port());
    ExplorerNode* folder = m_session->browse(site + "/pub/");
    ASSERT_NE(folder, nullptr);
    EXPECT_TRUE(m_session->busy());
    ASSERT_TRUE(runUntilIdle());
    EXPECT_TRUE(m_listener.logged("Download success " + site + "/pub/"));
    ASSERT_FALSE(m_listener.fetched.empty());
    EXPECT_EQ(m_listener.fetched.back(), folder);
    EXPECT_EQ(m_listener.busyChanges, (std::vector<bool>{true, false}));

    const std::vector<EntryRow> rows = EntryRows(m_session->store(), *folder, {});
    ASSERT_EQ(rows.size(), 2u);
    const EntryRow* data = rowNamed(rows, "data.bin");
    ASSERT_NE(data, nullptr);
    const std::vector<std::string> dataCells = cells(*data);
    EXPECT_EQ(dataCells[1], "bin");
    EXPECT_EQ(dataCells[3], site + "/pub/data.bin");
    EXPECT_EQ(dataCells[4], "3000");
    EXPECT_FALSE(dataCells[5].empty()) << "the listing's date";
    EXPECT_GT(data->node->modified, 0);
    const EntryRow* sub = rowNamed(rows, "sub");
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->node->kind, ExplorerNodeKind::Folder);
    EXPECT_EQ(sub->node->url, site + "/pub/sub/");

    // The sub-folder is walked in turn; a file address shows its folder.
    EXPECT_EQ(m_session->browse(site + "/pub/sub/inner.txt"), sub->node);
    ASSERT_TRUE(runUntilIdle());
    ASSERT_EQ(sub->node->children.size(), 1u);
    EXPECT_EQ(sub->node->children[0]->size, 1);
}

TEST_F(ExplorerSessionTest, AHostileFtpListingMakesOnlyFtpNodesOfTheSite)
{
    test::PyftpdlibPeer ftp;
    // Names that would cut or climb out of a URL, and one whose line feed
    // splits its listing line in two.
    for (const std::string name :
         {"a#b?.txt", "100%25.bin", "two words.zip", "evil\n-rw-r--r-- 1 x x 9 Jan 1 2020 %2e%2e"})
        writeBytes(ftp.anonymousRoot() / "pub" / name, "z");
    const std::string site = "ftp://127.0.0.1:" + std::to_string(ftp.port());
    ExplorerNode* folder = m_session->browse(site + "/pub/");
    ASSERT_NE(folder, nullptr);
    ASSERT_TRUE(runUntilIdle());
    const std::vector<EntryRow> rows = EntryRows(m_session->store(), *folder, {});
    EXPECT_GE(rows.size(), 3u);
    for (const EntryRow& row : rows) {
        const std::string url = EntryCellText(row, EntryColumn::Url, true);
        EXPECT_EQ(url.rfind(site + "/pub/", 0), 0u) << url;
        EXPECT_EQ(url.find("/../"), std::string::npos) << url;
        EXPECT_EQ(url.find_first_of("#? \n"), std::string::npos) << url;
    }
    const LinkListRequest request = ExplorerDownloadRequest(rows);
    EXPECT_EQ(request.links.size(), rows.size());
}

TEST_F(ExplorerSessionTest, BrowsingFtpThroughAnHttpProxyWarnsAndUsesIt)
{
    // A proxy that refuses: the listing must fail through it rather than go direct.
    test::PyftpdlibPeer ftp;
    writeBytes(ftp.anonymousRoot() / "pub" / "x.bin", "x");
    ProxyEntry proxy;
    proxy.server = "127.0.0.1";
    proxy.port = 9;
    proxy.type = kProxyHttpGet;
    m_app.settings().SetRunProxy(proxy);
    const std::string url = "ftp://127.0.0.1:" + std::to_string(ftp.port()) + "/pub/";
    ExplorerNode* folder = m_session->browse(url);
    ASSERT_NE(folder, nullptr);
    ASSERT_TRUE(runUntilIdle());
    EXPECT_TRUE(std::any_of(m_listener.lines.begin(), m_listener.lines.end(),
                            [](const std::string& line) { return line.starts_with("You are using a HTTP Proxy"); }));
    EXPECT_TRUE(m_listener.logged("Download failure " + url));
    EXPECT_TRUE(folder->children.empty());
}

class ExplorerWebTest : public ExplorerSessionTest {
protected:
    std::string site() const { return "http://127.0.0.1:" + std::to_string(m_nginx.httpPort()); }
    test::NginxPeer m_nginx;
};

TEST_F(ExplorerWebTest, BrowsingAPageShowsItsLinksWithTitlesAndDropsOtherSchemes)
{
    m_nginx.writeServedFile("d/index.html",
                            "<html><body>\n"
                            "<a href=\"one.bin\">First file</a>\n"
                            "<a href='/d/sub/two.zip'><b>Second</b> file</a>\n"
                            "<a href=\"mailto:x@y\">Mail</a> <a href=\"javascript:go()\">Script</a>\n"
                            "<a href=\"other.html\">Next page</a>\n"
                            "</body></html>\n");
    ExplorerNode* page = m_session->browse(site() + "/d/index.html");
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->kind, ExplorerNodeKind::Page);
    ASSERT_TRUE(runUntilIdle());
    EXPECT_TRUE(m_listener.logged("Download success " + site() + "/d/index.html"));
    ASSERT_TRUE(page->fetched);
    EXPECT_TRUE(std::filesystem::exists(page->tempFile));
    const std::vector<EntryRow> rows = EntryRows(m_session->store(), *page, {});
    std::vector<std::pair<std::string, std::string>> shown;
    for (const EntryRow& row : rows)
        shown.emplace_back(EntryCellText(row, EntryColumn::Url, true), EntryCellText(row, EntryColumn::Title, true));
    EXPECT_EQ(shown,
              (std::vector<std::pair<std::string, std::string>>{
                  {site() + "/d/one.bin", "First file"},
                  {site() + "/d/sub/two.zip", "Second file"},
                  {site() + "/d/other.html", "Next page"},
              }));
    EXPECT_EQ(EntryCellText(rows[0], EntryColumn::From, true), site() + "/d/index.html");
}

TEST_F(ExplorerWebTest, RefreshFetchesThePageAgainAndDropsItsOldCopy)
{
    m_nginx.writeServedFile("r/index.html", "<a href=\"old.zip\">Old</a>");
    ExplorerNode* page = m_session->browse(site() + "/r/index.html");
    ASSERT_TRUE(runUntilIdle());
    const std::filesystem::path first = page->tempFile;
    ASSERT_TRUE(std::filesystem::exists(first));
    m_nginx.writeServedFile("r/index.html", "<a href=\"new.zip\">New</a>");
    // Browsing again shows what was fetched; only Refresh asks the server.
    EXPECT_EQ(m_session->browse(site() + "/r/index.html"), page);
    EXPECT_FALSE(m_session->busy());
    m_session->refresh(*page);
    EXPECT_FALSE(std::filesystem::exists(first));
    ASSERT_TRUE(runUntilIdle());
    ASSERT_EQ(page->links.size(), 1u);
    EXPECT_EQ(page->links[0].url, site() + "/r/new.zip");
    EXPECT_NE(m_session->store().find(site() + "/r/new.zip"), nullptr);
}

class ExplorerSlowWebTest : public ExplorerSessionTest {
protected:
    std::string site() const { return "http://127.0.0.1:" + std::to_string(m_nginx.httpPort()); }
    test::NginxPeer m_nginx{{"DNS:localhost", "IP:127.0.0.1"}, "location /slow/ { alias $WWW/; limit_rate 16k; }\n"};
};

TEST_F(ExplorerSlowWebTest, StopEndsARunningFetchAsAFailureAndTheWindowCanBrowseOn)
{
    m_nginx.writeServedFile("long.html", "<a href=\"x.zip\">X</a>" + std::string(4u << 20, ' '));
    ExplorerNode* page = m_session->browse(site() + "/slow/long.html");
    ASSERT_NE(page, nullptr);
    m_app.loop().runUntil([] { return false; }, std::chrono::milliseconds(500));
    ASSERT_TRUE(m_session->busy());
    const auto stopped = std::chrono::steady_clock::now();
    m_session->stop();
    ASSERT_TRUE(runUntilIdle(5s));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 3s);
    EXPECT_TRUE(m_listener.logged("Download failure " + site() + "/slow/long.html"));
    EXPECT_FALSE(page->fetched);
    EXPECT_TRUE(page->links.empty());
    // The next fetch runs as usual.
    m_nginx.writeServedFile("short.html", "<a href=\"y.zip\">Y</a>");
    ExplorerNode* other = m_session->browse(site() + "/short.html");
    ASSERT_TRUE(runUntilIdle());
    EXPECT_TRUE(other->fetched);
    EXPECT_EQ(other->links.size(), 1u);
}

TEST_F(ExplorerWebTest, AMissingPageIsAFailureThatKeepsTheNode)
{
    ExplorerNode* page = m_session->browse(site() + "/none/here.html");
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(runUntilIdle());
    EXPECT_TRUE(m_listener.logged("Download failure " + site() + "/none/here.html"));
    EXPECT_FALSE(page->fetched);
    EXPECT_TRUE(page->links.empty());
}

TEST_F(ExplorerWebTest, AFiftyMegabytePageNeverHoldsTheLoop)
{
    std::string page = "<html><body>\n";
    // Many distinct links, then filler up to 50 MB.
    for (int i = 0; i < 60000; ++i)
        page += "<a href=\"f" + std::to_string(i) + ".bin\">file " + std::to_string(i) + "</a>\n";
    page += "<a href=\"javascript:x()\">j</a><a href=\"file:///etc/passwd\">p</a>";
    page.resize(50u << 20, 'x');
    m_nginx.writeServedFile("big.html", page);
    ExplorerNode* node = m_session->browse(site() + "/big.html");
    ASSERT_NE(node, nullptr);
    ASSERT_TRUE(runUntilIdle(60s));
    EXPECT_TRUE(node->fetched);
    EXPECT_LT(m_longestSlice, 2s) << "the page was handled on the window's thread";
    EXPECT_LE(m_session->store().size(), kMaxNewNodesPerPage + 10);
    for (const EntryRow& row : EntryRows(m_session->store(), *node, {})) {
        const std::string url = EntryCellText(row, EntryColumn::Url, true);
        ASSERT_EQ(url.rfind(site() + "/", 0), 0u) << url;
    }
}

class NoPower final : public PowerControl {
public:
    bool canPowerOff() override { return false; }
    bool powerOff() override { return false; }
    void holdSleepInhibitor(bool) override { }
};

class NoCountdown final : public Countdown {
public:
    void start(const CountdownRequest&, std::function<void(bool)>) override { }
};

class PlainHost final : public MainViewHost {
public:
    void bringToFront() override { }
    void requestExit() override { }
    std::string clipboardText() override { return {}; }
    void setClipboardText(const std::string&) override { }
    Countdown& countdown() override { return m_countdown; }

private:
    NoCountdown m_countdown;
};

TEST_F(ExplorerWebTest, ThreePickedEntriesBecomeThreeJobsThatDownloadByteIdentically)
{
    std::string index = "<html>";
    std::vector<std::string> bodies;
    for (int i = 0; i < 4; ++i) {
        std::string body(20000 + i * 777, '\0');
        for (size_t k = 0; k < body.size(); ++k)
            body[k] = static_cast<char>((k * 31 + i * 7) % 253);
        bodies.push_back(body);
        m_nginx.writeServedFile("files/f" + std::to_string(i) + ".bin", body);
        index += "<a href=\"f" + std::to_string(i) + ".bin\">File " + std::to_string(i) + "</a>";
    }
    m_nginx.writeServedFile("files/index.html", index);
    m_app.settings().SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Immediately));
    test::ViewPrompts prompts;
    test::RecordingDesktop desktop;
    NoPower power;
    PlainHost host;
    MainView view(m_app, prompts, desktop, power, host);
    view.start();

    ExplorerNode* page = m_session->browse(site() + "/files/index.html");
    ASSERT_TRUE(runUntilIdle());
    const std::vector<EntryRow> rows = EntryRows(m_session->store(), *page, {});
    ASSERT_EQ(rows.size(), 4u);
    // Picks 0, 2 and 3.
    view.postLinks(ExplorerDownloadRequest({rows[0], rows[2], rows[3]}));
    std::vector<DownloadJob*> jobs;
    const auto done = [&] {
        jobs.clear();
        for (DownloadJob* node : view.doc().tree().nodes()) {
            if (!node->IsCategory())
                jobs.push_back(node);
        }
        return jobs.size() == 3 && std::all_of(jobs.begin(), jobs.end(), [](DownloadJob* job) {
                   return job->GetState() == JobState::Completed;
               });
    };
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        m_app.loop().runUntil(done, 50ms);
    ASSERT_EQ(jobs.size(), 3u);
    for (const DownloadJob* job : jobs) {
        EXPECT_EQ(job->GetState(), JobState::Completed) << job->url;
        EXPECT_EQ(job->referer, site() + "/files/index.html");
        const std::string name = job->url.substr(job->url.rfind('/') + 1);
        const int index = name[1] - '0';
        EXPECT_NE(index, 1) << "an entry that was not picked";
        EXPECT_EQ(test::readFile(job->GetLocalPath()), bodies.at(static_cast<size_t>(index))) << job->url;
    }
    view.close();
    view.joinThreads();
}

}  // namespace
}  // namespace fetchora
