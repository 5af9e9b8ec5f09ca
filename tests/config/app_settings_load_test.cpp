// Load-time clamps, migrations and damaged settings.
#include <gtest/gtest.h>

#include <random>

#include "config/app_settings.h"
#include "config/scrambled_password.h"
#include "config/settings_fixture.h"

namespace fetchora {
namespace {

using test::LoadedSettings;
using test::SettingsTest;
using O = OptionId;

TEST_F(SettingsTest, LimitsAreClampedAtLoad) {
    putDword("General", "Max Parallel Num", 50);
    putDword("General", "MaxSimJobs", 200);
    putDword("Connection", "SimJobs", 150);
    putDword("Download default", "Split", 40);
    LoadedSettings settings(m_registry, environment());
    EXPECT_EQ(settings.GetOption(O::MaxParallelNum), 30);
    EXPECT_EQ(settings.GetOption(O::MaxSimJobs), 100);
    EXPECT_EQ(settings.GetOption(O::SimJobs), 100);
    EXPECT_EQ(settings.GetOption(O::DefaultSplit), 30);

    putDword("General", "Max Parallel Num", 10);
    putDword("General", "MaxSimJobs", 8);
    putDword("Connection", "SimJobs", 12);
    putDword("Download default", "Split", 20);
    LoadedSettings lower(m_registry, environment());
    EXPECT_EQ(lower.GetOption(O::SimJobs), 8);
    EXPECT_EQ(lower.GetOption(O::DefaultSplit), 10);
    ASSERT_TRUE(lower.SaveSettings());
    EXPECT_EQ(dword("General", "Max Parallel Num"), 10u);  // left as the administrator set it
    EXPECT_EQ(dword("Download default", "Split"), 10u);
}

TEST_F(SettingsTest, BlockSizeHasAFloorAtLoadAndSetIgnoresSmallValues) {
    putDword("General", "BlockSize", 4096);
    LoadedSettings settings(m_registry, environment());
    EXPECT_EQ(settings.GetOption(O::BlockSize), 10240);
    settings.SetOption(O::BlockSize, 65536);
    settings.SetOption(O::BlockSize, 5000);
    settings.SetOption(O::BlockSize, -1);
    EXPECT_EQ(settings.GetOption(O::BlockSize), 65536);
}

TEST_F(SettingsTest, AbsurdNumbersAreHeldToTheirRanges) {
    putDword("Connection", "CT", 0xFFFFFFFF);
    putDword("Connection", "DT", 0);
    putDword("Connection", "WT", 0x80000000);
    putDword("Connection", "Retry", 0xFFFFFFF0);
    putDword("Connection", "SimJobs", 0);
    putDword("Connection", "Speed Limit", 0);
    putDword("Connection", "Keep", 0xFFFFFFFF);
    putDword("Connection", "BandWidth", 5);
    putDword("Connection", "ConnType", 57);
    putDword("General", "Max Parallel Num", 0);
    putDword("General", "MaxSimJobs", 0xFFFFFFFF);
    putDword("Download default", "Split", 0xFFFFFFFF);
    putDword("Download default", "Start", 7);
    putDword("General", "BufferSize", 0x7FFFFFFF);
    putDword("General", "BlockSize", 0xFFFFFFFF);
    putDword("General", "AutoSaveTime", 0);
    putDword("Color", "Scale", 0);
    putDword("Color", "BlockSize", 0xFFFFFFFE);
    putDword("DialUp", "Retry", 1000);
    putDword("DialUp", "WT", 0);
    putDword("General", "FtpSearchMinSize", 1);
    putDword("General", "FtpSearchMaxHit", 100000);
    putDword("Site Explore", "Retry", 0xFFFFFFFF);
    putDword("General", "Flags", 0x2001558 | 0x800);
    putDword("General", "SpeedMode", 9);
    LoadedSettings settings(m_registry, environment());
    const SettingsValues& v = settings.values();
    EXPECT_EQ(v.connectTimeout, 30);
    EXPECT_EQ(v.dataTimeout, 30);
    EXPECT_EQ(v.retryDelay, 1);
    EXPECT_EQ(v.retryCount, 0);
    EXPECT_EQ(v.speedLimit, 400);
    EXPECT_EQ(v.keep, 100);
    EXPECT_EQ(v.bandWidth, 1800);
    EXPECT_EQ(v.connType, 8);
    EXPECT_EQ(v.maxParallelNum, 1);
    EXPECT_EQ(v.maxSimJobs, 1);
    EXPECT_EQ(v.simJobs, 1);
    EXPECT_EQ(v.defaultSplit, 1);
    EXPECT_EQ(v.defaultStartMode, 1);
    EXPECT_EQ(v.bufferSize, 4096);
    EXPECT_EQ(v.blockSize, 10240);
    EXPECT_EQ(v.autoSaveTime, 1);
    EXPECT_EQ(v.graphScale, 1);
    EXPECT_EQ(v.blockMapCellSize, 1);
    EXPECT_EQ(v.dialUpRetry, 99);
    EXPECT_EQ(v.dialUpWait, 1);
    EXPECT_EQ(v.ftpSearchMinSize, 10);
    EXPECT_EQ(v.ftpSearchMaxHit, 100);
    EXPECT_EQ(v.exploreRetry, 0);
    EXPECT_EQ(v.speedMode, 0);

    putDword("General", "BufferSize", 0);
    putDword("General", "BlockSize", 0x7FFFFFFF);
    putDword("Connection", "CT", 100000);
    LoadedSettings other(m_registry, environment());
    EXPECT_EQ(other.values().bufferSize, 16);
    EXPECT_EQ(other.values().blockSize, 102400 * 1024);
    EXPECT_EQ(other.values().connectTimeout, 600);
}

TEST_F(SettingsTest, SixteenBitDefaultsKeepTheirLowHalf) {
    putDword("Download default", "Start", 0x10002);
    putDword("Download default", "Proxy", 0xABCD0001);
    LoadedSettings settings(m_registry, environment());
    EXPECT_EQ(settings.GetOption(O::DefaultStartMode), 2);
    EXPECT_EQ(settings.GetOption(O::DefaultProxySwitch), 1);
    settings.SetOption(O::DefaultProxySwitch, 0x1FFFF);
    EXPECT_EQ(settings.GetOption(O::DefaultProxySwitch), -1);
    settings.SetOption(O::DefaultStartMode, 3);
    EXPECT_EQ(settings.GetOption(O::DefaultStartMode), 2);
}

TEST_F(SettingsTest, OldMonitorTypeDefaultsAreReplacedAndUserListsKept) {
    const std::string current = ".ZIP;.EXE;.BIN;.GZ;.Z;.TAR;.ARJ;.LZH;.MP3;.A[0-9]?;.RAR;.R[0-9][0-9]";
    for (const std::string& stored : {std::string(".ZIP;.EXE;.BIN;.GZ;.Z;.TAR;.ARJ;.LZH;.SIT;.HQX;.FML;.VSL;.TGZ;.MP3"),
                                      std::string(".ZIP;.EXE;.BIN;.GZ;.Z;.TAR;.ARJ;.LZH;.MP3")}) {
        putText("General", "MonitorType", stored);
        LoadedSettings settings(m_registry, environment());
        EXPECT_EQ(settings.GetOptionText(O::MonitorType), current) << stored;
    }
    for (const std::string& stored : {std::string(".zip;.exe;.bin;.gz;.z;.tar;.arj;.lzh;.mp3"), std::string(".ISO"),
                                      std::string("")}) {
        putText("General", "MonitorType", stored);
        LoadedSettings settings(m_registry, environment());
        EXPECT_EQ(settings.GetOptionText(O::MonitorType), stored);
    }
}

TEST_F(SettingsTest, LinkPoolsOneShotSetsOrClearsTheSharingBitAndIsConsumed) {
    putDword("General", "Flags", 0x1558);
    putDword("General", "LINKPOOLS", 1);
    LoadedSettings on(m_registry, environment());
    EXPECT_EQ(on.GetOption(O::UrlSharingService), 0x2000000);
    EXPECT_EQ(dword("General", "LINKPOOLS"), 0u);

    putDword("General", "Flags", 0x2001558);
    putDword("General", "LINKPOOLS", 2);
    LoadedSettings off(m_registry, environment());
    EXPECT_EQ(off.GetOption(O::UrlSharingService), 0);
    EXPECT_EQ(dword("General", "LINKPOOLS"), 0u);

    LoadedSettings unchanged(m_registry, environment());
    EXPECT_EQ(unchanged.GetOption(O::UrlSharingService), 0x2000000);
    m_registry.deleteValue(Hive::CurrentUser, test::sectionKey("General"), "LINKPOOLS");
    LoadedSettings absent(m_registry, environment());
    EXPECT_EQ(absent.GetOption(O::UrlSharingService), 0x2000000);
    EXPECT_FALSE(present("General", "LINKPOOLS"));
}

TEST_F(SettingsTest, OldSoundSwitchBecomesTheThreeSoundBits) {
    putDword("General", "Flags", 0x2001558 | 0x8000);
    LoadedSettings settings(m_registry, environment());
    EXPECT_EQ(settings.values().flags, 0x2001558 | 0x700000);
    EXPECT_EQ(settings.GetOption(O::OldSoundSwitch), 0);
    EXPECT_EQ(settings.GetOption(O::PlayFailedSound), 0x200000);
}

TEST_F(SettingsTest, SoundsSwitchedOffAreStoredAsABlank) {
    putText("Sounds", "Sound1", " ");
    putText("Sounds", "Sound2", "");
    putText("Sounds", "Sound3", "/usr/share/sounds/bell.wav");
    LoadedSettings settings(m_registry, environment());
    EXPECT_EQ(settings.GetOptionText(O::SoundAdded), "/opt/fetchora/share/sounds/added.wav");
    EXPECT_EQ(settings.GetOptionText(O::SoundDone), "");
    EXPECT_EQ(settings.GetOptionText(O::SoundFailed), "/opt/fetchora/share/sounds/error.wav");
    EXPECT_EQ(settings.GetOptionText(O::SoundAllDone), "/usr/share/sounds/bell.wav");
    settings.SetOptionText(O::SoundAdded, "");
    ASSERT_TRUE(settings.SaveSettings());
    EXPECT_EQ(text("Sounds", "Sound0"), " ");
    EXPECT_EQ(text("Sounds", "Sound1"), " ");
    EXPECT_EQ(text("Sounds", "Sound2"), "/opt/fetchora/share/sounds/error.wav");
}

TEST_F(SettingsTest, DialUpPasswordKeepsFortyCharacters) {
    const std::string forty = "abcdefghijklmnopqrstuvwxyz0123456789ABCD";
    LoadedSettings settings(m_registry, environment());
    settings.SetOptionText(O::DialUpPassword, forty);
    ASSERT_TRUE(settings.SaveSettings());
    LoadedSettings reloaded(m_registry, environment());
    EXPECT_EQ(reloaded.GetOptionText(O::DialUpPassword), forty);

    reloaded.SetOptionText(O::DialUpPassword, forty + "EFGHI");
    ASSERT_TRUE(reloaded.SaveSettings());
    LoadedSettings cut(m_registry, environment());
    EXPECT_EQ(cut.GetOptionText(O::DialUpPassword), forty);
}

TEST_F(SettingsTest, OldPlainDialUpPasswordIsTakenOverAndStoredScrambled) {
    const std::string key = test::sectionKey("DialUp");
    m_registry.writeBinary(Hive::CurrentUser, key, "Password", {'o', 'l', 'd', 'p', 'w', 0});
    LoadedSettings settings(m_registry, environment());
    EXPECT_EQ(settings.GetOptionText(O::DialUpPassword), "oldpw");
    EXPECT_FALSE(present("DialUp", "Password"));
    EXPECT_EQ(ReadScrambled(m_registry, "DialUp", "New"), "oldpw");
    ASSERT_TRUE(settings.SaveSettings());
    EXPECT_EQ(ReadScrambled(m_registry, "DialUp", "New"), "oldpw");

    // With a scrambled password present the old value is left alone.
    m_registry.writeBinary(Hive::CurrentUser, key, "Password", {'x'});
    LoadedSettings again(m_registry, environment());
    EXPECT_EQ(again.GetOptionText(O::DialUpPassword), "oldpw");
    EXPECT_TRUE(present("DialUp", "Password"));
}

TEST_F(SettingsTest, EmptyMirrorValuesFallBackToTheirDefaults) {
    putText("Mirrors", "Code", "");
    putText("Mirrors", "Server", "");
    putText("Site Explore", "Types", "");
    putText("Site Explore", "Command", "");
    putText("Mirrors", "List", "DE;AT");
    LoadedSettings settings(m_registry, environment("fr_FR.UTF-8"));
    EXPECT_EQ(settings.GetOptionText(O::MirrorCountryCode), "FR");
    EXPECT_EQ(settings.GetOptionText(O::MirrorSearchServer), kDefaultMirrorSearchTemplate);
    EXPECT_EQ(settings.GetOptionText(O::ExploreTypes), kDefaultExploreTypes);
    EXPECT_EQ(settings.GetOptionText(O::ExploreCommand), "");
    EXPECT_EQ(settings.GetOptionText(O::MirrorCountryList), "DE;AT");
    settings.SetOptionText(O::MirrorCountryCode, "JP");
    ASSERT_TRUE(settings.SaveSettings());
    EXPECT_EQ(text("Mirrors", "Code"), "JP");
    EXPECT_FALSE(present("Mirrors", "Server"));
}

TEST_F(SettingsTest, WronglyTypedValuesLoadAsTheirDefaults) {
    putText("Connection", "CT", "120");
    putText("General", "Flags", "0x1");
    m_registry.writeBinary(Hive::CurrentUser, test::sectionKey("General"), "MonitorType", {1, 2, 3});
    putDword("Procotol", "User-Agent Text", 77);
    putDword("Sounds", "Sound0", 1);
    m_registry.writeBinary(Hive::CurrentUser, test::sectionKey("DialUp"), "Retry", std::vector<uint8_t>(4, 0xFF));
    putDword("DialUp", "New", 5);
    putText("DialUp", "Password", "plain");
    LoadedSettings settings(m_registry, environment());
    const SettingsValues& v = settings.values();
    EXPECT_EQ(v.connectTimeout, 90);
    EXPECT_EQ(v.flags, 0x2001558);
    EXPECT_EQ(v.monitorType, kDefaultMonitorType);
    EXPECT_EQ(v.userAgentText, "");
    EXPECT_EQ(v.sounds[0], "/opt/fetchora/share/sounds/added.wav");
    EXPECT_EQ(v.dialUpRetry, 8);
    EXPECT_EQ(v.dialUpPassword, "");
    // A save replaces the unreadable values with readable ones.
    ASSERT_TRUE(settings.SaveSettings());
    EXPECT_EQ(dword("Connection", "CT"), 90u);
    EXPECT_EQ(text("General", "MonitorType"), std::string(kDefaultMonitorType));
}

TEST_F(SettingsTest, DamagedSettingsFilesLoadDefaultsForWhatCannotBeRead) {
    const std::string good =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Korvex\\Korvex\\Connection]\r\n"
        "\"CT\"=dword:00000078\r\n"
        "\"DT\"=dword:zzzz\r\n"
        "\"WT\"=dword:0000000a\r\n"
        "\"Retry\"=hex:01,02,\\\r\n"
        "[HKEY_CURRENT_USER\\Software\\Korvex\\Korvex\\General\r\n"
        "\"Flags\"=dword:00000001\r\n"
        "[HKEY_CURRENT_USER\\Software\\Korvex\\Korvex\\Download default]\r\n"
        "\"Split\"=dword:ffffffff\r\n"
        "\"UserName\"=\"unterminated\r\n"
        "\"Password\"=\"ok\"\r\n"
        "\"Referer\"=hex(2):41,00\r\n"
        "[HKEY_CURRENT_USER\\Software\\Korvex\\Korvex\\DialUp]\r\n"
        "\"New\"=hex:ff,ff,ff\r\n"
        "\"Entry\"=\"Home\"";
    test::writeFile(m_dir / "settings.reg", good);
    Registry damaged(m_dir / "settings.reg");
    damaged.load();
    AppSettings settings(damaged, environment());
    settings.LoadSettings();
    const SettingsValues& v = settings.values();
    EXPECT_EQ(v.connectTimeout, 120);
    EXPECT_EQ(v.dataTimeout, 90);
    EXPECT_EQ(v.retryDelay, 10);
    EXPECT_EQ(v.retryCount, 99);
    EXPECT_EQ(v.defaultSplit, 1);
    EXPECT_EQ(v.defaultPassword, "ok");
    EXPECT_EQ(v.dialUpPassword, "");
    EXPECT_EQ(v.dialUpEntry, "Home");
    EXPECT_TRUE(settings.SaveSettings());
}

// Random bytes, random lines of the store's own syntax and truncations of a
// real settings file: a load never crashes and every value stays in range.
TEST_F(SettingsTest, JunkSettingsNeverBreakTheLoad) {
    LoadedSettings writer(m_registry, environment());
    writer.SetOptionText(O::DialUpPassword, "secret");
    writer.SaveSettings();
    const std::string real = m_registry.toText();

    std::mt19937 random(20240607);
    auto checkInvariants = [this](std::string_view text) {
        Registry junk = Registry::fromText(text);
        AppSettings settings(junk, environment());
        settings.LoadSettings();
        const SettingsValues& v = settings.values();
        EXPECT_TRUE(kTimeoutRange.contains(v.connectTimeout));
        EXPECT_TRUE(v.simJobs >= 1 && v.simJobs <= v.maxSimJobs);
        EXPECT_TRUE(v.defaultSplit >= 1 && v.defaultSplit <= v.maxParallelNum);
        EXPECT_TRUE(kBufferSizeRange.contains(v.bufferSize));
        EXPECT_TRUE(kBlockSizeRange.contains(v.blockSize));
        EXPECT_LE(v.dialUpPassword.size(), 40u);
        settings.SaveSettings();
    };
    for (size_t cut = 0; cut < real.size(); cut += 37) {
        checkInvariants(real.substr(0, cut));
    }
    for (int round = 0; round < 50; ++round) {
        std::string junk = real;
        for (int flips = 0; flips < 20; ++flips) {
            junk[random() % junk.size()] = static_cast<char>(random() & 0xFF);
        }
        checkInvariants(junk);
        std::string bytes(random() % 2048, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random() & 0xFF);
        }
        checkInvariants(bytes);
    }
}

}  // namespace
}  // namespace fetchora
