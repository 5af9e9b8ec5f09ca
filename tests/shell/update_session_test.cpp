// The update check and the language-pack download against nginx on
// 127.0.0.1 serving an update folder.
#include "shell/update_session.h"

#include <chrono>
#include <deque>

#include "config/app_settings.h"
#include "config/settings_key.h"
#include "lang/string_table.h"
#include "platform/registry.h"
#include "shell/application.h"
#include "support/loopback_sockets.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/view_prompts.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

class RecordingUpdateListener final : public UpdateListener {
public:
    void statusChanged(const std::string& text) override { statuses.push_back(text); }
    void packsListed(const std::vector<LanguagePackRow>& listed) override { rows = listed; }
    void ended(const std::string& text) override { endings.push_back(text); }
    bool askOpenDownloadPage(const std::string& question) override
    {
        questions.push_back(question);
        const bool answer = answers.empty() || answers.front();
        if (!answers.empty())
            answers.pop_front();
        return answer;
    }

    std::vector<std::string> statuses;
    std::vector<LanguagePackRow> rows;
    std::vector<std::string> endings;
    std::vector<std::string> questions;
    std::deque<bool> answers;
};

class UpdateSessionTest : public testing::Test {
protected:
    UpdateSessionTest()
        : m_app(mapEnvironment({{"FETCHORA_HOME", (m_dir / "profile").string()},
                                {"TMPDIR", m_dir.path().string()},
                                {"HOME", m_dir.path().string()},
                                {"XDG_DOWNLOAD_DIR", (m_dir / "Downloads").string()}}))
    {
        std::string error;
        EXPECT_TRUE(m_app.start(error)) << error;
        m_app.loop().processPending();
    }
    ~UpdateSessionTest() override
    {
        m_session.reset();
        m_app.stop();
    }

    UpdateSetup setup(const std::string& source) const
    {
        UpdateSetup out;
        out.source = source;
        out.writableLanguageFolder = m_dir / "profile" / "language";
        out.shippedLanguageFolder = m_dir / "shipped" / "language";
        return out;
    }

    void open(const std::string& source)
    {
        m_session = std::make_unique<UpdateSession>(m_app, setup(source), m_desktop, m_listener);
    }

    // Runs the loop until the session has answered.
    bool runUntilEnded(std::size_t endings = 1, std::chrono::milliseconds timeout = 30s)
    {
        m_app.loop().runUntil([&] { return m_listener.endings.size() >= endings || !m_listener.rows.empty(); },
                              timeout);
        return m_listener.endings.size() >= endings || !m_listener.rows.empty();
    }

    std::string site(const test::NginxPeer& nginx) const
    {
        return "http://127.0.0.1:" + std::to_string(nginx.httpPort()) + "/up/";
    }

    TempDir m_dir;
    Application m_app;
    test::RecordingDesktop m_desktop;
    RecordingUpdateListener m_listener;
    std::unique_ptr<UpdateSession> m_session;
};

TEST_F(UpdateSessionTest, WithoutASourceTheCheckSaysSoAndFetchesNothing)
{
    EXPECT_EQ(UpdateSetupFor(m_app).source, "") << "empty by default";
    open("");
    m_session->start(UpdateMode::VersionCheck);
    EXPECT_EQ(m_listener.endings, (std::vector<std::string>{std::string(englishString(kStrNoUpdateSource))}));
    EXPECT_FALSE(m_session->busy());

    m_app.registry().writeString(Hive::CurrentUser, settingsKey("Update"), "Source", "http://127.0.0.1:1/up/");
    EXPECT_EQ(UpdateSetupFor(m_app).source, "http://127.0.0.1:1/up/");
    EXPECT_EQ(UpdateSetupFor(m_app).writableLanguageFolder, m_app.profileFolder() / "language");
}

TEST_F(UpdateSessionTest, ANewerVersionIsOfferedAndYesOpensTheDownloadPage)
{
    test::NginxPeer nginx;
    nginx.writeServedFile("up/qvupdate.ini", "[Info]\r\nVersion=1.7\r\n");
    open(site(nginx));
    m_listener.answers = {true};
    m_session->start(UpdateMode::VersionCheck);
    EXPECT_TRUE(m_session->busy());
    ASSERT_TRUE(runUntilEnded());
    EXPECT_EQ(m_listener.statuses, (std::vector<std::string>{std::string(englishString(kStrDownloadingUpdateInfo))}));
    EXPECT_EQ(m_listener.questions,
              (std::vector<std::string>{"A newer version(1.7) of Fetchora was found.View More Information?"}));
    EXPECT_EQ(m_desktop.opened, (std::vector<std::string>{site(nginx) + "download.html"}));
    EXPECT_EQ(m_listener.endings, (std::vector<std::string>{""}));
}

TEST_F(UpdateSessionTest, TheSameOrATextuallyOlderVersionIsTheLatest)
{
    test::NginxPeer nginx;
    open(site(nginx));
    for (const std::string version : {"1.65", "1.100"}) {
        nginx.writeServedFile("up/qvupdate.ini", "[Info]\r\nVersion=" + version + "\r\n");
        m_listener.endings.clear();
        m_session->start(UpdateMode::VersionCheck);
        ASSERT_TRUE(runUntilEnded()) << version;
        EXPECT_EQ(m_listener.endings, (std::vector<std::string>{std::string(englishString(kStrLatestVersion))}))
            << version;
    }
    EXPECT_TRUE(m_listener.questions.empty());
    EXPECT_TRUE(m_desktop.opened.empty());
}

TEST_F(UpdateSessionTest, AMissingFileARefusedConnectionOrJunkCannotGetTheInformation)
{
    test::NginxPeer nginx;
    nginx.writeServedFile("up/qvupdate.ini",
                          std::string("\x7f"
                                      "ELF\0\0\0\x01junk",
                                      12));
    const std::vector<std::string> sources
        = {"http://127.0.0.1:" + std::to_string(nginx.httpPort()) + "/missing/",
           "http://127.0.0.1:" + std::to_string(test::refusedPort()) + "/up/", site(nginx)};
    for (const std::string& source : sources) {
        m_listener.endings.clear();
        m_session.reset();
        open(source);
        m_session->start(UpdateMode::LanguagePacks);
        ASSERT_TRUE(runUntilEnded()) << source;
        ASSERT_EQ(m_listener.endings.size(), 1u);
        EXPECT_EQ(m_listener.endings[0].rfind(std::string(englishString(kStrCantGetUpdateInfo)), 0), 0u)
            << source << ": " << m_listener.endings[0];
        EXPECT_TRUE(m_listener.rows.empty());
    }
}

TEST_F(UpdateSessionTest, AnOversizedAnswerIsNotReadToItsEnd)
{
    // 2 MB at 64 KiB/s would take half a minute to arrive whole.
    test::NginxPeer nginx({"DNS:localhost", "IP:127.0.0.1"}, "location /slow/ { alias $WWW/up/; limit_rate 64k; }\n");
    nginx.writeServedFile("up/qvupdate.ini", "[Info]\r\nVersion=1.7\r\n" + std::string(2 << 20, ';'));
    open("http://127.0.0.1:" + std::to_string(nginx.httpPort()) + "/slow/");
    const auto started = std::chrono::steady_clock::now();
    m_session->start(UpdateMode::VersionCheck);
    ASSERT_TRUE(runUntilEnded(1, 15s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    ASSERT_EQ(m_listener.endings.size(), 1u);
    EXPECT_EQ(m_listener.endings[0].rfind(std::string(englishString(kStrCantGetUpdateInfo)), 0), 0u);
    EXPECT_TRUE(m_listener.questions.empty());
}

TEST_F(UpdateSessionTest, LanguagePacksAreListedAndDownloadedIntoTheProfile)
{
    test::NginxPeer nginx;
    nginx.writeServedFile("up/qvupdate.ini",
                          "[Info]\r\nVersion=1.65\r\n[Lang]\r\nkxdeu=1.1,Deutsch\r\nkxfra=1.0,Francais\r\n");
    nginx.writeServedFile("up/language/kxdeu.ini", "[Info]\r\nLanguage=Deutsch\r\nVersion=1.1\r\n");
    std::filesystem::create_directories(m_dir / "profile" / "language");
    test::writeFile(m_dir / "profile" / "language" / "kxdeu.ini", "[Info]\r\nLanguage=Deutsch\r\nVersion=1.0\r\n");
    std::filesystem::create_directories(m_dir / "shipped" / "language");
    test::writeFile(m_dir / "shipped" / "language" / "kxfra.ini", "[Info]\r\nLanguage=Francais\r\nVersion=1.0\r\n");
    open(site(nginx));
    m_session->start(UpdateMode::LanguagePacks);
    ASSERT_TRUE(runUntilEnded());
    EXPECT_TRUE(m_listener.endings.empty());
    ASSERT_EQ(m_listener.rows.size(), 1u);
    EXPECT_EQ(m_listener.rows[0].displayName, "Deutsch");
    EXPECT_EQ(m_listener.rows[0].installedVersion, "1.0");
    EXPECT_EQ(m_listener.rows[0].latestVersion, "1.1");

    m_session->downloadPacks(m_listener.rows);
    m_listener.rows.clear();
    ASSERT_TRUE(runUntilEnded());
    EXPECT_EQ(m_listener.endings, (std::vector<std::string>{std::string(englishString(kStrLanguagePacksDone))}));
    EXPECT_EQ(m_listener.statuses.back(), std::string(englishString(kStrDownloadingLanguagePack)));
    EXPECT_EQ(LanguageFileVersion(m_dir / "profile" / "language" / "kxdeu.ini"), "1.1");

    // Checked again, nothing differs any more.
    m_listener.endings.clear();
    m_session->start(UpdateMode::LanguagePacks);
    ASSERT_TRUE(runUntilEnded());
    EXPECT_EQ(m_listener.endings, (std::vector<std::string>{std::string(englishString(kStrLatestVersion))}));
}

TEST_F(UpdateSessionTest, ANewerVersionInLanguageModeAnsweredNoStillListsThePacks)
{
    test::NginxPeer nginx;
    nginx.writeServedFile("up/qvupdate.ini", "[Info]\r\nVersion=1.7\r\n[Lang]\r\nkxdeu=1.1,Deutsch\r\n");
    nginx.writeServedFile("up/language/kxdeu.ini", "<html>not a language file</html>\r\n");
    open(site(nginx));
    m_listener.answers = {false};
    m_session->start(UpdateMode::LanguagePacks);
    ASSERT_TRUE(runUntilEnded());
    EXPECT_EQ(m_listener.questions,
              (std::vector<std::string>{"A newer version(1.7) of Fetchora was found. Download it first?"}));
    EXPECT_TRUE(m_desktop.opened.empty());
    ASSERT_EQ(m_listener.rows.size(), 1u);
    EXPECT_EQ(m_listener.rows[0].installedVersion, "");

    // The served pack is an error page: it is not installed.
    m_session->downloadPacks(m_listener.rows);
    m_listener.rows.clear();
    ASSERT_TRUE(runUntilEnded());
    ASSERT_EQ(m_listener.endings.size(), 1u);
    EXPECT_EQ(m_listener.endings[0].rfind(std::string(englishString(kStrCantGetUpdateInfo)), 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "profile" / "language" / "kxdeu.ini"));
}

}  // namespace
}  // namespace fetchora
