#include "config/app_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "config/settings_fixture.h"
#include "lang/string_table.h"

namespace fetchora {
namespace {

using test::LoadedSettings;
using test::SettingsTest;
using O = OptionId;

TEST_F(SettingsTest, FreshStoreLoadsTheDocumentedDefaults) {
    AppSettings settings(m_registry, environment());
    ASSERT_TRUE(settings.LoadSettings());
    const SettingsValues& v = settings.values();

    EXPECT_EQ(v.flags, 0x2001558);
    EXPECT_EQ(v.flags1, -1);
    EXPECT_EQ(v.autoSaveTime, 10);
    EXPECT_EQ(v.blockSize, 204800);
    EXPECT_EQ(v.bufferSize, 200);
    EXPECT_EQ(v.doubleClick, 16);
    EXPECT_EQ(v.monitorType, ".ZIP;.EXE;.BIN;.GZ;.Z;.TAR;.ARJ;.LZH;.MP3;.A[0-9]?;.RAR;.R[0-9][0-9]");
    EXPECT_EQ(v.monitorFlags, 0x15F);
    EXPECT_EQ(v.maxParallelNum, 10);
    EXPECT_EQ(v.maxSimJobs, 8);
    EXPECT_EQ(v.fileManager, 0x111);
    EXPECT_EQ(v.virusScanTypes, ".ZIP;.EXE;.DO?;.XL?;.COM;.BIN;.GZ;.Z;.TAR;.ARJ;.LZH;.SIT;.HQX;.TGZ;.DLL;.OCX;.VBX");
    EXPECT_EQ(v.openTypes, ".MP3;.MPG;.MPEG;.MOV;.AVI");
    EXPECT_EQ(v.scheduleFlags, 0x807F);
    EXPECT_EQ(v.scheduleStartTime, 0x368BAD90);
    EXPECT_EQ(v.scheduleStopTime, 0x368BE5D0);
    EXPECT_EQ(v.ftpSearchMinSize, 1024);
    EXPECT_EQ(v.ftpSearchMaxHit, 40);
    EXPECT_EQ(v.skin, "");
    EXPECT_EQ(v.speedMode, 0);

    EXPECT_EQ(v.connectTimeout, 90);
    EXPECT_EQ(v.dataTimeout, 90);
    EXPECT_EQ(v.retryDelay, 5);
    EXPECT_EQ(v.retryCount, 99);
    EXPECT_EQ(v.simJobs, 3);
    EXPECT_EQ(v.speedLimit, 25000);
    EXPECT_EQ(v.keep, 15000);
    EXPECT_EQ(v.bandWidth, 187500);
    EXPECT_EQ(v.connType, 8);

    EXPECT_EQ(v.defaultCategory, 3);
    EXPECT_EQ(v.defaultSplit, 2);
    EXPECT_EQ(v.defaultProxySwitch, 0);
    EXPECT_EQ(v.defaultStartMode, 1);
    EXPECT_EQ(v.defaultLogin, 0xFF0);
    EXPECT_EQ(v.defaultUserName + v.defaultPassword + v.defaultReferer + v.defaultPath, "");

    EXPECT_EQ(v.protocolFlags, 0);
    EXPECT_EQ(v.asciiModeTypes, ".txt");
    EXPECT_FALSE(v.anonymousEMail.empty());
    EXPECT_EQ(v.userAgent, 4);

    EXPECT_EQ(v.graphScale, 100);
    EXPECT_EQ(v.colorState, 0x9300);
    EXPECT_EQ(v.colorError, 0x8B);
    EXPECT_EQ(v.colorServer, 0);
    EXPECT_EQ(v.colorCommand, 0x8B0000);
    EXPECT_EQ(v.colorStateBk, 10025880);
    EXPECT_EQ(v.colorErrorBk, 13353215);
    EXPECT_EQ(v.colorServerBk, 16443110);
    EXPECT_EQ(v.colorCommandBk, 15658671);
    EXPECT_EQ(v.graphFore, 65280);
    EXPECT_EQ(v.graphBack, 0);
    EXPECT_EQ(v.blockMapCellSize, 4);

    EXPECT_EQ(v.dialUpFlags, 0);
    EXPECT_EQ(v.dialUpPassword, "");
    EXPECT_EQ(v.dialUpRetry, 8);
    EXPECT_EQ(v.dialUpWait, 10);
    EXPECT_EQ(v.dialUpTitle, builtinString(61273));

    EXPECT_EQ(v.mirrorCode, "DE");
    EXPECT_EQ(v.mirrorList, "");
    EXPECT_NE(v.mirrorServer.find("/search?advanced=1&cat=ftp&q={filename}&jsact=&cs=utf-8&ftype=6&ld=&lp=&ls1="
                                  "{filesize}&ls2={filesize}&hits={maxhit}&matches=&hitsprmatch="),
              std::string::npos);

    EXPECT_EQ(v.sounds[0], "/opt/fetchora/share/sounds/added.wav");
    EXPECT_EQ(v.sounds[1], "/opt/fetchora/share/sounds/done.wav");
    EXPECT_EQ(v.sounds[2], "/opt/fetchora/share/sounds/error.wav");
    EXPECT_EQ(v.sounds[3], "/opt/fetchora/share/sounds/all_done.wav");

    EXPECT_EQ(v.exploreTypes, ".HTM;.HTM?;.ASP;.STM;.STML;.HTS;.SHTM?;.IDC;.PHP");
    EXPECT_EQ(v.exploreCommand, "-la");
    EXPECT_EQ(v.exploreRetry, 5);

    EXPECT_EQ(settings.GetOptionText(O::ProgramFolder), "/opt/fetchora/share");
    EXPECT_EQ(settings.GetOptionText(O::DefaultDownloadFolder), "/home/user/Downloads");
    EXPECT_EQ(settings.GetOption(O::CloseBoxExits), 0);
    EXPECT_EQ(settings.GetOptionText(O::MarkTypes), "");
    EXPECT_EQ(settings.GetOptionText(O::ExploreFilter), "");

    // Loading changes nothing that the constructor did not already hold,
    // apart from what the store and the machine add.
    AppSettings unloaded(m_registry, environment());
    EXPECT_EQ(unloaded.values(), v);
}

TEST_F(SettingsTest, SimplifiedChineseSystemsDefaultWithoutFtpSearchAndToChina) {
    LoadedSettings settings(m_registry, environment("zh_CN.UTF-8"));
    EXPECT_EQ(settings.values().flags1, -33);
    EXPECT_EQ(settings.GetOption(O::FtpSearch), 0);
    EXPECT_EQ(settings.GetOption(O::MirrorSearch), 0x10);
    EXPECT_EQ(settings.GetOptionText(O::MirrorCountryCode), "CN");
}

TEST_F(SettingsTest, LoadRecordsTheProgramPathAndCreatesTheTemporaryFolder) {
    putText("General", "AppPath", "C:\\old\\path.exe");
    LoadedSettings settings(m_registry, environment());
    EXPECT_EQ(text("General", "AppPath"), "/opt/fetchora/bin/fetchora");
    EXPECT_TRUE(std::filesystem::is_directory(settings.temporaryFolder()));
    EXPECT_EQ(settings.temporaryFolder(), (m_dir / "fetchora-tmp").string());
}

TEST_F(SettingsTest, ProgramFolderDefaultsToTheProgramFilesFolder) {
    SettingsEnvironment env = environment();
    env.programFolder.clear();
    AppSettings settings(m_registry, env);
    settings.LoadSettings();
    EXPECT_EQ(settings.GetOptionText(O::ProgramFolder), "/opt/fetchora/bin");
    EXPECT_EQ(settings.GetOptionText(O::SoundAdded), "/opt/fetchora/bin/sounds/added.wav");
}

TEST_F(SettingsTest, SaveWritesEveryValueButTheUnlessDefaultOnes) {
    LoadedSettings settings(m_registry, environment());
    ASSERT_TRUE(settings.SaveSettings());

    // The order of first writes is the save order (AppPath comes from the load).
    EXPECT_EQ(m_registry.valueNames(Hive::CurrentUser, test::sectionKey("General")),
              (std::vector<std::string>{"AppPath", "Version", "LanguageEx", "Flags", "Flags1", "AutoSaveTime",
                                        "BlockSize", "BufferSize", "Double Click", "Monitor Flags", "MonitorType",
                                        "File Manager", "Virus Scanner", "Virus Scanner Args", "Virus Scan Type",
                                        "FtpSearchMinSize", "FtpSearchMaxHit", "Schedule flags",
                                        "Schedule Start Time", "Schedule Stop Time"}));
    EXPECT_EQ(m_registry.valueNames(Hive::CurrentUser, test::sectionKey("Connection")),
              (std::vector<std::string>{"CT", "DT", "WT", "Retry", "SimJobs", "Speed Limit", "Keep", "BandWidth",
                                        "ConnType"}));
    EXPECT_EQ(m_registry.valueNames(Hive::CurrentUser, test::sectionKey("Download default")),
              (std::vector<std::string>{"Server", "Split", "Proxy", "Start", "UserName", "Password", "Referer",
                                        "Path", "Login"}));
    EXPECT_EQ(m_registry.valueNames(Hive::CurrentUser, test::sectionKey("Procotol")),
              (std::vector<std::string>{"Flags", "AsciiMode", "User-Agent", "User-Agent Text"}));
    EXPECT_EQ(m_registry.valueNames(Hive::CurrentUser, test::sectionKey("DialUp")),
              (std::vector<std::string>{"Flags", "Entry", "UserName", "New", "Retry", "WT", "Title"}));
    EXPECT_EQ(m_registry.valueNames(Hive::CurrentUser, test::sectionKey("Mirrors")), std::vector<std::string>{"List"});
    EXPECT_EQ(m_registry.valueNames(Hive::CurrentUser, test::sectionKey("Site Explore")),
              (std::vector<std::string>{"Command", "Retry"}));
    EXPECT_EQ(m_registry.valueNames(Hive::CurrentUser, test::sectionKey("Color")).size(), 13u);

    EXPECT_EQ(text("General", "Version"), "1.65");
    // No language chosen yet: none stored, so the locale still picks at the next start.
    EXPECT_EQ(text("General", "LanguageEx"), "");
    EXPECT_EQ(dword("General", "Flags"), 0x2001558u);
    EXPECT_EQ(dword("General", "Flags1"), 0xFFFFFFFFu);
    EXPECT_EQ(dword("General", "Schedule flags"), 0x807Fu);
    EXPECT_EQ(dword("Connection", "ConnType"), 8u);
    EXPECT_EQ(dword("Download default", "Login"), 0xFF0u);
    EXPECT_EQ(dword("Color", "BlockSize"), 4u);
    EXPECT_EQ(text("Sounds", "Sound0"), "/opt/fetchora/share/sounds/added.wav");
    EXPECT_EQ(text("Sounds", "Sound3"), "/opt/fetchora/share/sounds/all_done.wav");
    EXPECT_EQ(text("DialUp", "Title"), std::string(builtinString(61273)));
    EXPECT_EQ(m_registry.readBinary(Hive::CurrentUser, test::sectionKey("DialUp"), "New"), std::vector<uint8_t>{});
}

TEST_F(SettingsTest, SaveIsRefusedUntilLoaded) {
    AppSettings settings(m_registry, environment());
    const std::string before = m_registry.toText();
    EXPECT_FALSE(settings.SaveSettings());
    EXPECT_EQ(m_registry.toText(), before);
    EXPECT_FALSE(m_registry.keyExists(Hive::CurrentUser, std::string(test::kRoot)));
}

TEST_F(SettingsTest, UnknownIdsAndMismatchedKindsGiveMinusOneAndEmptyText) {
    LoadedSettings settings(m_registry, environment());
    const SettingsValues before = settings.values();
    for (int32_t id : {0, 5, 63, 77, 110, 600, -3}) {
        EXPECT_EQ(settings.GetOption(static_cast<OptionId>(id)), -1) << id;
        EXPECT_EQ(settings.GetOptionText(static_cast<OptionId>(id)), "") << id;
        settings.SetOption(static_cast<OptionId>(id), 12345);
        settings.SetOptionText(static_cast<OptionId>(id), "junk");
    }
    EXPECT_EQ(settings.GetOption(O::MonitorType), -1);
    EXPECT_EQ(settings.GetOptionText(O::ConnectTimeout), "");
    settings.SetOption(O::MonitorType, 1);
    settings.SetOptionText(O::ConnectTimeout, "120");
    EXPECT_EQ(settings.values(), before);
}

TEST_F(SettingsTest, BitOptionsReadRawMaskedBitsAndFieldsReadTheirNumber) {
    LoadedSettings settings(m_registry, environment());
    EXPECT_EQ(settings.GetOption(O::ConfirmDrop), 0x8);
    EXPECT_EQ(settings.GetOption(O::UrlSharingService), 0x2000000);
    EXPECT_EQ(settings.GetOption(O::StartHidden), 0);
    EXPECT_EQ(settings.GetOption(O::ReuseFtpConnections), 0x100000);
    EXPECT_EQ(settings.GetOption(O::DoubleClickRunning), 0);
    EXPECT_EQ(settings.GetOption(O::DoubleClickFailed), 1);
    EXPECT_EQ(settings.GetOption(O::MoveDownloaded), 1);
    EXPECT_EQ(settings.GetOption(O::ExistingFileAction), 1);
    EXPECT_EQ(settings.GetOption(O::DeleteUnfinishedFile), 0x10);
    EXPECT_EQ(settings.GetOption(O::UserAgentChoice), 4);
    EXPECT_EQ(settings.GetOption(O::DefaultLogin), 0);
    EXPECT_EQ(settings.GetOption(O::DefaultJobSwitch20), 0x20);

    settings.SetOption(O::VirusScan, 7);
    EXPECT_EQ(settings.GetOption(O::VirusScan), static_cast<int32_t>(0x80000000u));
    settings.SetOption(O::DoubleClickDownloaded, 2);
    EXPECT_EQ(settings.values().doubleClick, 16 | 8);
    settings.SetOption(O::PortableDeviceIndex, 0x1AB);  // wider than the field: only 8 bits kept
    EXPECT_EQ(settings.GetOption(O::PortableDeviceIndex), 0xAB);
    EXPECT_EQ(static_cast<uint32_t>(settings.values().fileManager), 0x800AB111u);
    settings.SetOption(O::NoReferer, 1);
    settings.SetOption(O::UserAgentChoice, 9);
    EXPECT_EQ(settings.values().userAgent, 0x109);
    settings.SetOption(O::ConfirmDrop, 0);
    EXPECT_EQ(settings.values().flags, 0x2001550);
    settings.SetOption(O::DefaultLogin, 3);
    EXPECT_EQ(settings.values().defaultLogin, 0xFF3);
}

TEST_F(SettingsTest, UserAgentHeaderFollowsTheChoice) {
    LoadedSettings settings(m_registry, environment());
    EXPECT_EQ(settings.userAgentHeader(), "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)");
    settings.SetOption(O::UserAgentChoice, 0);
    EXPECT_EQ(settings.userAgentHeader(), "");
    settings.SetOption(O::UserAgentChoice, 6);
    EXPECT_EQ(settings.userAgentHeader(), "Mozilla/4.05 [en] (Win98; I))");
    settings.SetOptionText(O::UserAgentText, "MyAgent/1.0");
    settings.SetOption(O::UserAgentChoice, 7);
    EXPECT_EQ(settings.userAgentHeader(), "MyAgent/1.0");
}

TEST_F(SettingsTest, ConnectionBandwidthComesFromTheTypeOrTheOtherField) {
    LoadedSettings settings(m_registry, environment());
    EXPECT_EQ(settings.connectionBandwidth(), 187500);
    settings.setConnType(0);
    EXPECT_EQ(settings.connectionBandwidth(), 1800);
    settings.setConnType(9);
    EXPECT_EQ(settings.connectionBandwidth(), 1250000);
    settings.setBandWidth(99999);
    settings.setConnType(10);
    EXPECT_EQ(settings.connectionBandwidth(), 99999);
    settings.setConnType(11);
    EXPECT_EQ(settings.connType(), 10);
}

TEST_F(SettingsTest, DropZoneStateDefaultsToTheScreensTopRightAndKeepsOpacityInRange) {
    LoadedSettings settings(m_registry, environment());
    const DropZoneSettings fresh = settings.dropZone(1920);
    EXPECT_TRUE(fresh.show);
    EXPECT_EQ(fresh.x, 1820);
    EXPECT_EQ(fresh.y, 30);
    EXPECT_TRUE(fresh.transparent);
    EXPECT_EQ(fresh.opacity, 125);

    settings.setDropZone({false, 10, 20, false, 300});
    const DropZoneSettings stored = settings.dropZone(1920);
    EXPECT_FALSE(stored.show);
    EXPECT_EQ(stored.x, 10);
    EXPECT_EQ(stored.y, 20);
    EXPECT_FALSE(stored.transparent);
    EXPECT_EQ(stored.opacity, 255);
    putDword("DropZone", "TValue", 0xFFFFFFFF);
    EXPECT_EQ(settings.dropZone(1920).opacity, 0);
}

class MockObserver : public SettingsObserver {
public:
    MOCK_METHOD(void, simJobsChanged, (), (override));
    MOCK_METHOD(void, scheduleTimesChanged, (), (override));
};

TEST_F(SettingsTest, SimJobsChangeAndScheduleTimesNotifyTheObserver) {
    LoadedSettings settings(m_registry, environment());
    ::testing::StrictMock<MockObserver> observer;
    settings.setObserver(&observer);

    EXPECT_CALL(observer, simJobsChanged()).Times(1);
    settings.SetOption(O::SimJobs, 3);  // unchanged: no re-evaluation
    settings.SetOption(O::SimJobs, 5);
    EXPECT_EQ(settings.GetOption(O::SimJobs), 5);
    ::testing::Mock::VerifyAndClearExpectations(&observer);

    EXPECT_CALL(observer, scheduleTimesChanged()).Times(2);
    settings.SetOption(O::ScheduleStartTime, 1000);
    settings.SetOption(O::ScheduleStopTime, 2000);
    ::testing::Mock::VerifyAndClearExpectations(&observer);

    EXPECT_CALL(observer, simJobsChanged()).Times(1);
    settings.SetOption(O::SimJobs, 500);  // held to "MaxSimJobs"
    EXPECT_EQ(settings.GetOption(O::SimJobs), 8);
    settings.setObserver(nullptr);
    settings.SetOption(O::SimJobs, 1);
}

}  // namespace
}  // namespace fetchora
