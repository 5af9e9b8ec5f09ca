#include "shell/application.h"

#include "config/settings_key.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fetchora {
namespace {

using test::TempDir;

TEST(Application, StartsInTheProfileFolderAndSavesSettingsThere)
{
    TempDir dir;
    Environment environment = mapEnvironment({{"FETCHORA_HOME", (dir / "profile").string()},
                                              {"TMPDIR", dir.path().string()},
                                              {"HOME", dir.path().string()},
                                              {"LANG", "de_DE.UTF-8"}});
    {
        Application app(environment);
        std::string error;
        ASSERT_TRUE(app.start(error)) << error;
        EXPECT_EQ(app.profileFolder(), dir / "profile");
        EXPECT_TRUE(std::filesystem::is_directory(app.temporaryFolder()));
        EXPECT_EQ(app.settings().GetOptionText(OptionId::MirrorCountryCode), "DE");
        app.settings().SetOption(OptionId::ConnectTimeout, 120);
        ASSERT_TRUE(app.saveSettings());
        EXPECT_TRUE(std::filesystem::exists(dir / "profile" / "settings.reg"));
        app.stop();
        EXPECT_FALSE(std::filesystem::exists(app.temporaryFolder()));
    }
    Application again(environment);
    std::string error;
    ASSERT_TRUE(again.start(error)) << error;
    EXPECT_EQ(again.settings().GetOption(OptionId::ConnectTimeout), 120);
}

Environment profileEnvironment(const TempDir& dir)
{
    return mapEnvironment({{"FETCHORA_HOME", (dir / "profile").string()},
                           {"TMPDIR", dir.path().string()},
                           {"HOME", dir.path().string()}});
}

TEST(Application, AChangeFromTheFrontEndIsSavedAtOnceAndEditsMadeMeanwhileSurviveTheExitSave)
{
    TempDir dir;
    const Environment environment = profileEnvironment(dir);
    {
        Application app(environment);
        std::string error;
        ASSERT_TRUE(app.start(error)) << error;
        ASSERT_TRUE(app.changeSettings([](AppSettings& settings) {
            settings.SetOption(OptionId::SimJobs, 5);
            settings.setSpeedLimit(40000);
        }));
        // The limiter follows at once.
        EXPECT_EQ(app.limiter().settings().manualLimit, 40000u);

        // The user edits the file while the program runs.
        Registry editor(dir / "profile" / "settings.reg");
        ASSERT_TRUE(editor.load());
        editor.writeDword(Hive::CurrentUser, settingsKey("Connection"), "CT", 33);
        editor.writeDword(Hive::CurrentUser, settingsKey("Connection"), "SimJobs", 2);
        ASSERT_TRUE(editor.flush());

        // A change after the edit wins over it; untouched values do not.
        app.settings().SetOption(OptionId::SimJobs, 4);
        ASSERT_TRUE(app.saveSettings());
        app.stop();
    }
    Application again(environment);
    std::string error;
    ASSERT_TRUE(again.start(error)) << error;
    EXPECT_EQ(again.settings().GetOption(OptionId::ConnectTimeout), 33);
    EXPECT_EQ(again.settings().GetOption(OptionId::SimJobs), 4);
    EXPECT_EQ(again.settings().speedLimit(), 40000);
}

// Counts the files renamed to `name` in `folder` while it lives: each
// atomic replacement of the settings file is one.
class ReplacementCounter {
public:
    ReplacementCounter(const std::filesystem::path& folder, std::string name) : m_name(std::move(name))
    {
        m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd >= 0)
            ::inotify_add_watch(m_fd, folder.c_str(), IN_MOVED_TO);
    }
    ~ReplacementCounter()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool watching() const { return m_fd >= 0; }
    int count()
    {
        alignas(inotify_event) char buffer[4096];
        ssize_t length = 0;
        while ((length = ::read(m_fd, buffer, sizeof(buffer))) > 0) {
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && m_name == event->name)
                    ++m_count;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return m_count;
    }

private:
    int m_fd = -1;
    std::string m_name;
    int m_count = 0;
};

std::string fileText(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Application, AStartWritesANewProfilesSettingsOnceAndAnUnchangedOnesNotAtAll)
{
    TempDir dir;
    const Environment environment = profileEnvironment(dir);
    std::filesystem::create_directories(dir / "profile");
    const auto file = dir / "profile" / "settings.reg";
    {
        ReplacementCounter replacements(dir / "profile", "settings.reg");
        ASSERT_TRUE(replacements.watching());
        Application app(environment);
        std::string error;
        ASSERT_TRUE(app.start(error)) << error;
        // Every value at once (the load's own writes and the proxy list's
        // among them), in one replacement.
        EXPECT_EQ(replacements.count(), 1);
        Registry stored(file);
        ASSERT_TRUE(stored.load());
        EXPECT_EQ(stored.readDword(Hive::CurrentUser, settingsKey("Proxy"), "Count"), 1u);
        EXPECT_TRUE(stored.readString(Hive::CurrentUser, settingsKey("General"), "AppPath"));
        EXPECT_EQ(stored.readDword(Hive::CurrentUser, settingsKey("Connection"), "CT"), 90u);
        EXPECT_TRUE(app.saveSettings());
        EXPECT_EQ(replacements.count(), 1);  // nothing changed since
        app.stop();
    }
    struct stat before { };
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    {
        ReplacementCounter replacements(dir / "profile", "settings.reg");
        Application again(environment);
        std::string error;
        ASSERT_TRUE(again.start(error)) << error;
        EXPECT_TRUE(again.saveSettings());
        EXPECT_EQ(replacements.count(), 0);
        // A change is written at once, and only then.
        ASSERT_TRUE(again.changeSettings([](AppSettings& settings) { settings.SetOption(OptionId::SimJobs, 6); }));
        EXPECT_EQ(replacements.count(), 1);
        again.stop();
    }
    struct stat after { };
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
}

// The new profile's first file is written without syncs: a power cut may
// leave it empty, zeroed or cut short. Any of those starts with defaults
// and is written whole again, as a new profile's would be.
TEST(Application, AFirstSettingsFileLeftShortOrZeroedByAPowerCutStartsWithDefaultsAndIsMadeWholeAgain)
{
    TempDir dir;
    const Environment environment = profileEnvironment(dir);
    const auto file = dir / "profile" / "settings.reg";
    {
        Application app(environment);
        std::string error;
        ASSERT_TRUE(app.start(error)) << error;
        app.stop();
    }
    const std::string whole = fileText(file);
    ASSERT_GT(whole.size(), 200u);
    const std::vector<std::string> leftovers{"", whole.substr(0, 20), whole.substr(0, whole.size() / 2),
                                             whole.substr(0, whole.size() - 1), std::string(whole.size(), '\0')};
    for (const std::string& leftover : leftovers) {
        SCOPED_TRACE("a leftover of " + std::to_string(leftover.size()) + " bytes");
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << leftover;
        }
        Application app(environment);
        std::string error;
        ASSERT_TRUE(app.start(error)) << error;
        EXPECT_EQ(app.settings().GetOption(OptionId::ConnectTimeout), 90);
        EXPECT_EQ(app.settings().proxies().ProxyCount(), 1u);
        app.stop();
        // Every value is back (a file short of its last line end only is
        // left as it is: it holds them all).
        EXPECT_EQ(Registry::fromText(fileText(file)).toText(), whole);
    }
}

TEST(Application, PerRunOverridesAreAnsweredButNeverSaved)
{
    TempDir dir;
    const Environment environment = profileEnvironment(dir);
    {
        Application app(environment);
        std::string error;
        ASSERT_TRUE(app.start(error)) << error;
        AppSettings& settings = app.settings();
        ASSERT_TRUE(settings.SetRunOverride(OptionId::RetryCount, 3));
        ASSERT_TRUE(settings.SetRunOverride(OptionId::ConnectTimeout, 120));
        ASSERT_EQ(settings.GetOption(OptionId::AlwaysRetry), 0x1000);
        ASSERT_TRUE(settings.SetRunOverride(OptionId::AlwaysRetry, 0));
        EXPECT_EQ(settings.GetOption(OptionId::RetryCount), 3);
        EXPECT_EQ(settings.GetOption(OptionId::ConnectTimeout), 120);
        EXPECT_EQ(settings.GetOption(OptionId::AlwaysRetry), 0);
        // Held to the option's range like a lasting value.
        ASSERT_TRUE(settings.SetRunOverride(OptionId::SimJobs, 500));
        EXPECT_EQ(settings.GetOption(OptionId::SimJobs), settings.GetOption(OptionId::MaxSimJobs));
        // A lasting change underneath an override is kept for the save.
        ASSERT_TRUE(app.changeSettings([](AppSettings& s) { s.SetOption(OptionId::ConnectTimeout, 45); }));
        EXPECT_EQ(settings.GetOption(OptionId::ConnectTimeout), 120);
        EXPECT_FALSE(settings.SetRunOverride(OptionId::FtpProxyDefault, 1));
        ASSERT_TRUE(app.saveSettings());
        app.stop();
    }
    Application again(environment);
    std::string error;
    ASSERT_TRUE(again.start(error)) << error;
    EXPECT_EQ(again.settings().GetOption(OptionId::RetryCount), 99);
    EXPECT_EQ(again.settings().GetOption(OptionId::ConnectTimeout), 45);
    EXPECT_EQ(again.settings().GetOption(OptionId::AlwaysRetry), 0x1000);
    EXPECT_EQ(again.settings().GetOption(OptionId::SimJobs), 3);
}

TEST(Application, TheRememberedSpeedModeIsAppliedAtStartOnlyWhenRememberIsOn)
{
    TempDir dir;
    const Environment environment = profileEnvironment(dir);
    {
        Application app(environment);
        std::string error;
        ASSERT_TRUE(app.start(error)) << error;
        EXPECT_EQ(app.limiter().mode(), SpeedMode::Unlimited);
        ASSERT_TRUE(app.changeSettings([](AppSettings& s) { s.SetOption(OptionId::RememberSpeedMode, 1); }));
        app.chooseSpeedMode(SpeedMode::Manual);
        EXPECT_EQ(app.limiter().mode(), SpeedMode::Manual);
        app.stop();
    }
    {
        Application app(environment);
        std::string error;
        ASSERT_TRUE(app.start(error)) << error;
        EXPECT_EQ(app.limiter().mode(), SpeedMode::Manual);
        // Without "Remember" the mode is neither saved nor applied.
        ASSERT_TRUE(app.changeSettings([](AppSettings& s) { s.SetOption(OptionId::RememberSpeedMode, 0); }));
        app.chooseSpeedMode(SpeedMode::Automatic);
        app.stop();
    }
    Application app(environment);
    std::string error;
    ASSERT_TRUE(app.start(error)) << error;
    EXPECT_EQ(app.limiter().mode(), SpeedMode::Unlimited);
}

TEST(Application, AnUnusableProfileFolderStopsTheStartWithAHint)
{
    TempDir dir;
    test::writeFile(dir / "file", "not a folder");
    Application app(mapEnvironment({{"FETCHORA_HOME", (dir / "file").string()}, {"TMPDIR", dir.path().string()}}));
    std::string error;
    EXPECT_FALSE(app.start(error));
    EXPECT_NE(error.find("FETCHORA_HOME"), std::string::npos) << error;
}

// A start beside a running instance reads the stored language choice without
// starting (the other instance owns the settings).
TEST(Application, TheStoredLanguageChoiceIsReadWithoutAStart)
{
    TempDir dir;
    const Environment environment = profileEnvironment(dir);
    EXPECT_EQ(storedLanguageChoice(environment), std::nullopt) << "no settings yet";
    {
        Application app(environment);
        std::string error;
        ASSERT_TRUE(app.start(error)) << error;
        // The first start's save stores no choice: the locale picks again next time.
        EXPECT_EQ(storedLanguageChoice(environment), std::nullopt);
        app.settings().setLanguageFile("kxdeu.ini");
        ASSERT_TRUE(app.saveSettings());
        EXPECT_EQ(storedLanguageChoice(environment), "kxdeu.ini");
        app.settings().setLanguageFile("");
        ASSERT_TRUE(app.saveSettings());
        EXPECT_EQ(storedLanguageChoice(environment), std::string()) << "a stored English";
        app.stop();
    }
    // Settings that cannot be read give no choice rather than a guess.
    std::filesystem::remove(dir / "profile" / "settings.reg");
    std::filesystem::create_directory(dir / "profile" / "settings.reg");
    EXPECT_EQ(storedLanguageChoice(environment), std::nullopt);
}

}  // namespace
}  // namespace fetchora
