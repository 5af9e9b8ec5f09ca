// Every option survives a save and a load, and the options that live in the
// store itself reach it at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "config/app_settings.h"
#include "config/settings_fixture.h"

namespace fetchora {
namespace {

using test::LoadedSettings;
using test::SettingsTest;
using O = OptionId;

constexpr int32_t kHighestOptionId = 600;

// Non-default values for the options that are not single bits; every other
// integer option is a bit and gets flipped.
const std::map<O, int32_t> kValues = {
    {O::StreamProxyDefault, 2}, {O::ProxyRollback, 4096}, {O::HttpProxyDefault, 1}, {O::FtpProxyDefault, 2},
    {O::DefaultSplit, 7}, {O::DefaultCategory, 42}, {O::DefaultLogin, 5}, {O::DefaultProxySwitch, 1},
    {O::DefaultStartMode, 2}, {O::ConnectTimeout, 120}, {O::DataTimeout, 300}, {O::RetryCount, 12},
    {O::SimJobs, 6}, {O::RetryDelay, 30}, {O::AutoSaveTime, 3}, {O::BlockSize, 51200},
    {O::UserAgentChoice, 7}, {O::BufferSize, 1024}, {O::MonitorFlags, 0xA35}, {O::PortableDeviceIndex, 3},
    {O::MoveDownloaded, 2}, {O::ExistingFileAction, 2}, {O::DoubleClickRunning, 1},
    {O::DoubleClickDownloaded, 2}, {O::DoubleClickFailed, 2}, {O::ColorState, 0x112233},
    {O::ColorError, 0x445566}, {O::ColorCommand, 0x778899}, {O::ColorServer, 0xAABBCC},
    {O::ColorStateBk, 0x010203}, {O::ColorErrorBk, 0x040506}, {O::ColorCommandBk, 0x070809},
    {O::ColorServerBk, 0x0A0B0C}, {O::GraphScale, 250}, {O::GraphFore, 0xFF}, {O::GraphBack, 0xFFFFFF},
    {O::BlockMapCellSize, 16}, {O::BlockBack, 0xC0C0C0}, {O::DialUpRetry, 3}, {O::DialUpWait, 60},
    {O::ScheduleFlags, 0x80C1}, {O::ScheduleStartTime, 1700000000}, {O::ScheduleStopTime, 1700003600},
    {O::FtpSearchMinSize, 2048}, {O::FtpSearchMaxHit, 80}, {O::ExploreRetry, 9}, {O::CloseBoxExits, 1},
};

const std::vector<int32_t> kTextOptions = {1,   4,   34,  35,  39,  40,  65,  67,  69,  82,  83,  84,  88,  89,  114,
                                          115, 116, 119, 129, 130, 131, 132, 149, 150, 152, 258, 336, 338, 339};

// Options not set here: limits that are never written, folders that come
// from the machine, the old sound switch that every load turns into the three
// sound bits, the passive switch that reads back from the direct-connection
// entry, and the clipboard bit, which is part of option 80.
bool notSet(int32_t id) {
    switch (static_cast<O>(id)) {
        case O::ProgramFolder: case O::MaxParallelNum: case O::MaxSimJobs: case O::DefaultDownloadFolder:
        case O::OldSoundSwitch: case O::FtpPassive: case O::WatchClipboard:
            return true;
        default: return false;
    }
}

TEST_F(SettingsTest, EveryOptionSurvivesSaveAndLoad) {
    LoadedSettings settings(m_registry, environment());
    ProxyEntry proxy;
    proxy.server = "proxy.local";
    proxy.type = 3;
    settings.proxies().AddProxy(proxy, false);
    proxy.server = "socks.local";
    proxy.type = 7;
    settings.proxies().AddProxy(proxy, false);

    int intOptions = 0;
    int textOptions = 0;
    for (int32_t raw = 0; raw <= kHighestOptionId; ++raw) {
        const O id = static_cast<O>(raw);
        const bool isText = std::find(kTextOptions.begin(), kTextOptions.end(), raw) != kTextOptions.end();
        if (isText) {
            EXPECT_EQ(settings.GetOption(id), -1) << raw;
        } else {
            EXPECT_EQ(settings.GetOptionText(id), "") << raw;
        }
        if (notSet(raw)) {
            continue;
        }
        const int32_t before = settings.GetOption(id);
        if (before != -1) {
            const auto it = kValues.find(id);
            settings.SetOption(id, it != kValues.end() ? it->second : (before == 0 ? 1 : 0));
            EXPECT_NE(settings.GetOption(id), before) << "option " << raw << " kept its default";
            ++intOptions;
        } else if (isText) {
            const std::string value = "Value \"" + std::to_string(raw) + "\" \\ with; text";
            settings.SetOptionText(id, value);
            EXPECT_EQ(settings.GetOptionText(id), value) << raw;
            ++textOptions;
        }
    }
    EXPECT_EQ(intOptions, 105);
    EXPECT_EQ(textOptions, 27);
    ASSERT_TRUE(settings.SaveSettings());

    LoadedSettings reloaded(m_registry, environment());
    for (int32_t raw = 0; raw <= kHighestOptionId; ++raw) {
        const O id = static_cast<O>(raw);
        EXPECT_EQ(reloaded.GetOption(id), settings.GetOption(id)) << "option " << raw;
        EXPECT_EQ(reloaded.GetOptionText(id), settings.GetOptionText(id)) << "option " << raw;
    }
}

TEST_F(SettingsTest, ValuesWithoutOptionIdsSurviveSaveAndLoad) {
    LoadedSettings settings(m_registry, environment());
    settings.setSpeedLimit(5000);
    settings.setKeepPerConnection(700);
    settings.setBandWidth(64000);
    settings.setConnType(10);
    settings.SetOption(O::RememberSpeedMode, 1);
    settings.setSpeedMode(2);
    settings.setSkin("dark.skn");
    settings.setLanguageFile("kxdeu.ini");
    ASSERT_TRUE(settings.SaveSettings());

    LoadedSettings reloaded(m_registry, environment());
    EXPECT_EQ(reloaded.speedLimit(), 5000);
    EXPECT_EQ(reloaded.keepPerConnection(), 700);
    EXPECT_EQ(reloaded.bandWidth(), 64000);
    EXPECT_EQ(reloaded.connType(), 10);
    EXPECT_EQ(reloaded.speedMode(), 2);
    EXPECT_EQ(reloaded.skin(), "dark.skn");
    EXPECT_EQ(reloaded.languageFile(), "kxdeu.ini");

    // Back at their defaults, skin and speed mode leave the store again.
    reloaded.setSkin("");
    reloaded.setSpeedMode(0);
    ASSERT_TRUE(reloaded.SaveSettings());
    EXPECT_FALSE(present("General", "Skin"));
    EXPECT_FALSE(present("General", "SpeedMode"));
}

TEST_F(SettingsTest, SpeedModeIsOnlyRememberedWithItsSwitch) {
    putDword("General", "SpeedMode", 2);
    LoadedSettings settings(m_registry, environment());
    EXPECT_EQ(settings.speedMode(), 0);
    ASSERT_TRUE(settings.SaveSettings());
    EXPECT_EQ(dword("General", "SpeedMode"), 2u);  // untouched while the switch is off

    putDword("General", "Flags", 0x2001558 | 0x800);
    LoadedSettings remembering(m_registry, environment());
    EXPECT_EQ(remembering.speedMode(), 2);
}

TEST_F(SettingsTest, UnlessDefaultValuesAreDeletedWhenBackAtTheirDefault) {
    putText("General", "Open Types", ".mp3;.mpg;.mpeg;.mov;.avi");
    putText("Procotol", "EMail", "someone@example.org");
    putText("Mirrors", "Code", "de");
    putText("Site Explore", "Types", ".HTM");
    LoadedSettings settings(m_registry, environment());
    EXPECT_EQ(settings.GetOptionText(O::OpenTypes), ".mp3;.mpg;.mpeg;.mov;.avi");
    settings.SetOptionText(O::AnonymousEMail, "");
    settings.SetOptionText(O::ExploreTypes, ".htm;.htm?;.asp;.stm;.stml;.hts;.shtm?;.idc;.php");
    ASSERT_TRUE(settings.SaveSettings());
    EXPECT_FALSE(present("General", "Open Types"));
    EXPECT_FALSE(present("Mirrors", "Code"));  // equal to the code derived from de_DE
    EXPECT_FALSE(present("Site Explore", "Types"));
    EXPECT_EQ(text("Procotol", "EMail"), "");  // empty differs from the placeholder address
}

TEST_F(SettingsTest, StoreBackedOptionsAreWrittenAndFlushedAtOnce) {
    Registry fileRegistry(m_dir / "settings.reg");
    AppSettings settings(fileRegistry, environment());
    settings.LoadSettings();
    // The load leaves writing the file to its caller's save.
    EXPECT_FALSE(std::filesystem::exists(m_dir / "settings.reg"));
    ASSERT_TRUE(settings.SaveSettings());

    auto onDisk = [this](std::string_view section, std::string_view name) {
        Registry disk(m_dir / "settings.reg");
        EXPECT_TRUE(disk.load());
        return disk.read(Hive::CurrentUser, test::sectionKey(section), name);
    };
    EXPECT_EQ(onDisk("General", "AppPath")->text, "/opt/fetchora/bin/fetchora");

    settings.SetOption(O::MonitorFlags, 0x901);
    EXPECT_EQ(onDisk("General", "Monitor Flags")->dword, 0x901u);
    settings.SetOption(O::WatchClipboard, 0);
    EXPECT_EQ(onDisk("General", "Monitor Flags")->dword, 0x900u);
    EXPECT_EQ(settings.GetOption(O::MonitorFlags), 0x900);

    settings.SetOption(O::CloseBoxExits, 1);
    EXPECT_EQ(onDisk("General", "Scexit")->dword, 1u);
    settings.SetOption(O::CloseBoxExits, 0);
    EXPECT_FALSE(onDisk("General", "Scexit"));

    settings.SetOptionText(O::MarkTypes, ".ISO;.IMG");
    EXPECT_EQ(onDisk("General", "MarkTypes")->text, ".ISO;.IMG");
    settings.SetOptionText(O::MarkTypes, "");
    EXPECT_FALSE(onDisk("General", "MarkTypes"));
    settings.SetOptionText(O::ExploreFilter, "*.zip");
    EXPECT_EQ(onDisk("Site Explore", "Filter")->text, "*.zip");

    settings.setBackDate(20240131);
    EXPECT_EQ(onDisk("General", "BackDate")->dword, 20240131u);
    EXPECT_EQ(settings.backDate(), 20240131);
}

TEST_F(SettingsTest, StoreBackedOptionsReadWhatIsStoredNow) {
    LoadedSettings settings(m_registry, environment());
    putDword("General", "Scexit", 3);
    putText("General", "MarkTypes", ".RAR");
    putText("Site Explore", "Filter", "*.gz");
    EXPECT_EQ(settings.GetOption(O::CloseBoxExits), 3);
    EXPECT_EQ(settings.GetOptionText(O::MarkTypes), ".RAR");
    EXPECT_EQ(settings.GetOptionText(O::ExploreFilter), "*.gz");
    putDword("General", "MarkTypes", 5);
    EXPECT_EQ(settings.GetOptionText(O::MarkTypes), "");
}

TEST_F(SettingsTest, PassiveOptionWritesTheOldSwitchAndReadsTheDirectEntry) {
    LoadedSettings settings(m_registry, environment());
    ProxyEntry* direct = settings.proxies().ProxyAt(0);
    ASSERT_NE(direct, nullptr);
    direct->flags |= kProxyPassive;
    EXPECT_EQ(settings.GetOption(O::FtpPassive), 2);
    direct->flags &= ~kProxyPassive;
    EXPECT_EQ(settings.GetOption(O::FtpPassive), 0);

    settings.SetOption(O::FtpPassive, 1);
    EXPECT_EQ(settings.values().protocolFlags, 1);
    ASSERT_TRUE(settings.SaveSettings());
    EXPECT_EQ(dword("Procotol", "Flags"), 1u);
    settings.SetOption(O::FtpPassive, 0);
    EXPECT_EQ(settings.values().protocolFlags, 0);
}

TEST_F(SettingsTest, ProxyOptionsDelegateToTheProxyList) {
    LoadedSettings settings(m_registry, environment());
    settings.SetOption(O::ProxyRollback, 100000);
    EXPECT_EQ(settings.GetOption(O::ProxyRollback), settings.proxies().rollback());
    EXPECT_LE(settings.GetOption(O::ProxyRollback), 8192);
    settings.SetOption(O::UseDefaultProxies, 1);
    EXPECT_EQ(settings.values().flags & 0x4000, 0x4000);
}

// English chosen and no choice yet both have no file; only the second lets
// the locale pick the language at start.
TEST_F(SettingsTest, AStoredEnglishChoiceIsTellableFromNoChoice) {
    LoadedSettings fresh(m_registry, environment());
    EXPECT_FALSE(fresh.languageChosen());
    EXPECT_TRUE(fresh.languageFile().empty());
    // Saving without a choice stores none.
    ASSERT_TRUE(fresh.SaveSettings());
    LoadedSettings stillFresh(m_registry, environment());
    EXPECT_FALSE(stillFresh.languageChosen());

    putText("General", "LanguageEx", "KXENG.INI");
    LoadedSettings english(m_registry, environment());
    EXPECT_TRUE(english.languageChosen());
    EXPECT_TRUE(english.languageFile().empty());

    english.setLanguageFile("");
    ASSERT_TRUE(english.SaveSettings());
    LoadedSettings reloaded(m_registry, environment());
    EXPECT_TRUE(reloaded.languageChosen());
}

}  // namespace
}  // namespace fetchora
