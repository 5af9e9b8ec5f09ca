// The load sequence of AppSettings. The order of the reads is the one the
// settings format has always used; some steps depend on earlier ones ("Split"
// on "Max Parallel Num", "SpeedMode" on the flags).
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "config/app_settings.h"
#include "config/mirror_country.h"
#include "config/scrambled_password.h"
#include "config/settings_key.h"
#include "config/unless_default.h"
#include "lang/string_table.h"
#include "platform/registry.h"
#include "platform/text_utils.h"

namespace fetchora {
namespace {

// "Proxy" and "Start" are 16-bit fields of the job record.
int32_t low16(int32_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFF));
}

// Out-of-range values of a fixed choice fall back to the default rather than
// to an end of the range: 7 is no better a connection type than 10.
int32_t choiceOrDefault(int32_t value, IntRange range, int32_t defaultValue) {
    return range.contains(value) ? value : defaultValue;
}

void createPrivateFolder(const std::string& folder) {
    if (folder.empty()) {
        return;
    }
    std::error_code error;
    if (std::filesystem::create_directories(folder, error)) {
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace,
                                     error);
    }
}

}  // namespace

bool AppSettings::LoadSettings() {
    m_loaded = true;
    loadGeneralStart();
    loadConnection();
    m_proxies.load(m_registry);
    m_siteRules.load(m_registry);
    m_downloadRules.load(m_registry);
    loadDownloadDefault();
    loadFlagWords();
    loadMonitorAndDisplay();
    loadDialUp();
    loadMirrors();
    loadScheduleAndRest();
    // What the load wrote itself (the program path, a consumed one-shot, a
    // migrated password) stays in the store: a start saves at once, so the
    // file is replaced once, not twice, and a reader that only looks (the
    // browser host) never writes the file.
    return true;
}

void AppSettings::loadGeneralStart() {
    readText("General", "AppPath", "");
    writeText("General", "AppPath", m_environment.programFile);
    m_values.programFolder = m_environment.programFolder;
    m_values.defaultDownloadFolder = m_environment.defaultDownloadFolder;
    m_values.temporaryFolder = m_environment.temporaryFolder;
    createPrivateFolder(m_values.temporaryFolder);
    // Kept so that a save does not replace the chosen language file.
    m_values.languageFile = readText("General", "LanguageEx", "");
    m_values.languageChosen = !m_values.languageFile.empty();
    if (equalsIgnoringCase(m_values.languageFile, kBuiltinLanguageFile)) {
        m_values.languageFile.clear();
    }
}

void AppSettings::loadConnection() {
    SettingsValues& v = m_values;
    v.connectTimeout = kTimeoutRange.clamp(readInt("Connection", "CT", 90));
    v.dataTimeout = kTimeoutRange.clamp(readInt("Connection", "DT", 90));
    v.retryDelay = kRetryDelayRange.clamp(readInt("Connection", "WT", 5));
    v.retryCount = kRetryCountRange.clamp(readInt("Connection", "Retry", 99));
    v.simJobs = readInt("Connection", "SimJobs", 3);
    v.speedLimit = kSpeedLimitRange.clamp(readInt("Connection", "Speed Limit", 25000));
    v.keep = kKeepRange.clamp(readInt("Connection", "Keep", 15000));
    v.bandWidth = kBandWidthRange.clamp(readInt("Connection", "BandWidth", 187500));
    v.connType = choiceOrDefault(readInt("Connection", "ConnType", 8), kConnTypeRange, 8);
    v.maxParallelNum = kMaxParallelNumRange.clamp(readInt("General", "Max Parallel Num", 10));
    v.maxSimJobs = kMaxSimJobsRange.clamp(readInt("General", "MaxSimJobs", 8));
    v.simJobs = std::clamp(v.simJobs, 1, v.maxSimJobs);
}

void AppSettings::loadDownloadDefault() {
    SettingsValues& v = m_values;
    v.defaultCategory = readInt("Download default", "Server", 3);
    v.defaultSplit = std::clamp(readInt("Download default", "Split", 2), 1, v.maxParallelNum);
    v.defaultProxySwitch = low16(readInt("Download default", "Proxy", 0));
    v.defaultStartMode = choiceOrDefault(low16(readInt("Download default", "Start", 1)), kStartModeRange, 1);
    v.defaultUserName = readText("Download default", "UserName", "");
    v.defaultPassword = readText("Download default", "Password", "");
    v.defaultReferer = readText("Download default", "Referer", "");
    v.defaultPath = readText("Download default", "Path", "");
    v.defaultLogin = readInt("Download default", "Login", 0xFF0);
}

void AppSettings::loadFlagWords() {
    SettingsValues& v = m_values;
    uint32_t flags = static_cast<uint32_t>(readInt("General", "Flags", kDefaultFlags));
    // An installer's one-shot switch for the URL-sharing service: 1 turns it
    // on, any other non-zero value off; it is consumed either way.
    const uint32_t linkPools = static_cast<uint32_t>(readInt("General", "LINKPOOLS", 0));
    if (linkPools != 0) {
        flags = linkPools == 1 ? (flags | kFlagsUrlSharingService) : (flags & ~kFlagsUrlSharingService);
        writeInt("General", "LINKPOOLS", 0);
    }
    if ((flags & kFlagsOldSoundSwitch) != 0) {
        flags = (flags & ~kFlagsOldSoundSwitch) | kFlagsSoundBits;
    }
    v.flags = static_cast<int32_t>(flags);
    v.flags1 = readInt("General", "Flags1", simplifiedChinese() ? kDefaultFlags1Chinese : kDefaultFlags1);
    v.protocolFlags = readInt("Procotol", "Flags", 0);
    v.autoSaveTime = kAutoSaveTimeRange.clamp(readInt("General", "AutoSaveTime", 10));
    v.bufferSize = kBufferSizeRange.clamp(readInt("General", "BufferSize", 200));
    v.asciiModeTypes = readText("Procotol", "AsciiMode", kDefaultAsciiModeTypes);
    v.anonymousEMail = readText("Procotol", "EMail", kDefaultAnonymousEMail);
    v.doubleClick = readInt("General", "Double Click", 16);
}

void AppSettings::loadMonitorAndDisplay() {
    SettingsValues& v = m_values;
    v.monitorType = readText("General", "MonitorType", kOldMonitorType);
    if (v.monitorType == kOldMonitorType || v.monitorType == kOlderMonitorType) {
        v.monitorType = kDefaultMonitorType;
    }
    v.monitorFlags = readInt("General", "Monitor Flags", 0x15F);
    // Scale and cell size divide what the graph and block map draw.
    v.graphScale = kPositiveRange.clamp(readInt("Color", "Scale", 100));
    v.colorState = readInt("Color", "State", 0x9300);
    v.colorError = readInt("Color", "Error", 0x8B);
    v.colorServer = readInt("Color", "Server", 0);
    v.colorCommand = readInt("Color", "Command", 0x8B0000);
    v.blockMapCellSize = kPositiveRange.clamp(readInt("Color", "BlockSize", 4));
    v.colorStateBk = readInt("Color", "StateBk", 0x98FB98);
    v.colorErrorBk = readInt("Color", "ErrorBk", 0xCBC0FF);
    v.colorServerBk = readInt("Color", "ServerBk", 0xFAE6E6);
    v.colorCommandBk = readInt("Color", "CommandBk", 0xEEEEAF);
    v.graphFore = readInt("Color", "GraphFore", 0xFF00);
    v.graphBack = readInt("Color", "GraphBack", 0);
    v.blockBack = readInt("Color", "BlockBack", kDefaultBlockBack);
    v.fileManager = readInt("General", "File Manager", 0x111);
    v.virusScanner = readText("General", "Virus Scanner", "");
    v.virusScannerArgs = readText("General", "Virus Scanner Args", "");
    v.virusScanTypes = readText("General", "Virus Scan Type", kDefaultVirusScanTypes);
    v.openTypes = readText("General", "Open Types", kDefaultOpenTypes);
    v.userAgent = readInt("Procotol", "User-Agent", 4);
    v.userAgentText = readText("Procotol", "User-Agent Text", "");
}

void AppSettings::loadDialUp() {
    SettingsValues& v = m_values;
    v.dialUpFlags = readInt("DialUp", "Flags", 0);
    v.dialUpEntry = readText("DialUp", "Entry", "");
    v.dialUpUserName = readText("DialUp", "UserName", "");
    v.dialUpPassword = ReadScrambled(m_registry, "DialUp", "New");
    if (v.dialUpPassword.empty()) {
        const std::string key = settingsKey("DialUp");
        if (const auto old = m_registry.readBinary(Hive::CurrentUser, key, "Password")) {
            // The old form held the plain bytes, possibly with a terminator.
            std::string password(old->begin(), old->end());
            v.dialUpPassword = password.substr(0, password.find('\0'));
            // Stored scrambled before the plain value goes, so that no flush
            // can leave the password in neither place.
            WriteScrambled(m_registry, "DialUp", "New", v.dialUpPassword);
            m_registry.deleteValue(Hive::CurrentUser, key, "Password");
        }
    }
    v.dialUpRetry = kDialUpRetryRange.clamp(readInt("DialUp", "Retry", 8));
    v.dialUpWait = kDialUpWaitRange.clamp(readInt("DialUp", "WT", 10));
    v.dialUpTitle = readText("DialUp", "Title", builtinString(kDialUpTitleString));
}

void AppSettings::loadMirrors() {
    SettingsValues& v = m_values;
    v.ftpSearchMinSize = kFtpSearchMinSizeRange.clamp(readInt("General", "FtpSearchMinSize", 1024));
    v.ftpSearchMaxHit = kFtpSearchMaxHitRange.clamp(readInt("General", "FtpSearchMaxHit", 40));
    v.mirrorCode = readText("Mirrors", "Code", "");
    if (v.mirrorCode.empty()) {
        v.mirrorCode = derivedCountryCode();
    }
    v.mirrorList = readText("Mirrors", "List", "");
    v.mirrorServer = readText("Mirrors", "Server", "");
    if (v.mirrorServer.empty()) {
        v.mirrorServer = kDefaultMirrorSearchTemplate;
    }
}

void AppSettings::loadScheduleAndRest() {
    SettingsValues& v = m_values;
    for (size_t i = 0; i < v.sounds.size(); ++i) {
        const std::string stored = readText("Sounds", "Sound" + std::to_string(i), "");
        v.sounds[i] = stored == kNoSound ? std::string() : stored.empty() ? defaultSoundPath(i) : stored;
    }
    v.scheduleFlags = readInt("General", "Schedule flags", 0x807F);
    v.scheduleStartTime = readInt("General", "Schedule Start Time", 915123600);
    v.scheduleStopTime = readInt("General", "Schedule Stop Time", 915138000);
    v.blockSize = kBlockSizeRange.clamp(readInt("General", "BlockSize", 204800));
    v.speedMode = (static_cast<uint32_t>(v.flags) & kFlagsRememberSpeedMode) != 0
                      ? choiceOrDefault(readInt("General", "SpeedMode", 0), kSpeedModeRange, 0)
                      : 0;
    v.exploreTypes = readText("Site Explore", "Types", "");
    if (v.exploreTypes.empty()) {
        v.exploreTypes = kDefaultExploreTypes;
    }
    v.exploreCommand = readText("Site Explore", "Command", kDefaultExploreCommand);
    v.exploreRetry = kNonNegativeRange.clamp(readInt("Site Explore", "Retry", 5));
    v.skin = readText("General", "Skin", "");
}

}  // namespace fetchora
