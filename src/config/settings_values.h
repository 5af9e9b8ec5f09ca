#pragma once
// The values behind the settings, with their built-in defaults, and the
// ranges they are held to. AppSettings owns one SettingsValues; the defaults
// that depend on the machine (language, locale, folders) are filled in by
// AppSettings when it is created.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace fetchora {

inline constexpr std::string_view kSettingsVersion = "1.65";
inline constexpr std::string_view kBuiltinLanguageFile = "kxeng.ini";

inline constexpr int32_t kDefaultFlags = 0x2001558;
inline constexpr int32_t kDefaultFlags1 = -1;
// Without the FTP-search bit 0x20, for Simplified Chinese systems.
inline constexpr int32_t kDefaultFlags1Chinese = -33;
inline constexpr uint32_t kFlagsOldSoundSwitch = 0x8000;
inline constexpr uint32_t kFlagsSoundBits = 0x700000;
inline constexpr uint32_t kFlagsRememberSpeedMode = 0x800;
inline constexpr uint32_t kFlagsUrlSharingService = 0x2000000;
// The schedule page always sets bit 7 of "Schedule flags"; nothing reads it.
inline constexpr uint32_t kScheduleWrittenBit = 0x80;
inline constexpr uint32_t kProtocolOldPassive = 0x1;

inline constexpr std::string_view kDefaultMonitorType = ".ZIP;.EXE;.BIN;.GZ;.Z;.TAR;.ARJ;.LZH;.MP3;.A[0-9]?;.RAR;.R[0-9][0-9]";
// Lists shipped as defaults by earlier versions; a stored copy of either is
// replaced by the current default at load.
inline constexpr std::string_view kOldMonitorType = ".ZIP;.EXE;.BIN;.GZ;.Z;.TAR;.ARJ;.LZH;.SIT;.HQX;.FML;.VSL;.TGZ;.MP3";
inline constexpr std::string_view kOlderMonitorType = ".ZIP;.EXE;.BIN;.GZ;.Z;.TAR;.ARJ;.LZH;.MP3";
inline constexpr std::string_view kDefaultVirusScanTypes =
    ".ZIP;.EXE;.DO?;.XL?;.COM;.BIN;.GZ;.Z;.TAR;.ARJ;.LZH;.SIT;.HQX;.TGZ;.DLL;.OCX;.VBX";
inline constexpr std::string_view kDefaultOpenTypes = ".MP3;.MPG;.MPEG;.MOV;.AVI";
inline constexpr std::string_view kDefaultAsciiModeTypes = ".txt";
inline constexpr std::string_view kDefaultAnonymousEMail = "anonymous@example.com";
inline constexpr std::string_view kDefaultMirrorSearchTemplate =
    "http://ftpsearch.example.net/"
    "search?advanced=1&cat=ftp&q={filename}&jsact=&cs=utf-8&ftype=6&ld=&lp=&ls1={filesize}&ls2={filesize}"
    "&hits={maxhit}&matches=&hitsprmatch=";
inline constexpr std::string_view kDefaultExploreTypes = ".HTM;.HTM?;.ASP;.STM;.STML;.HTS;.SHTM?;.IDC;.PHP";
inline constexpr std::string_view kDefaultExploreCommand = "-la";
// A sound switched off is stored as a single blank; an empty value means
// "use the default file".
inline constexpr std::string_view kNoSound = " ";
inline constexpr std::array<std::string_view, 4> kSoundFiles = {"added.wav", "done.wav", "error.wav", "all_done.wav"};
inline constexpr uint32_t kDialUpTitleString = 61273;
// The usual button-face colour of the desktop, as 0x00BBGGRR.
inline constexpr int32_t kDefaultBlockBack = 0xF0F0F0;

// Bytes per second of the connection types 0..9; type 10 uses "BandWidth".
inline constexpr std::array<int32_t, 10> kConnTypeBandwidth = {1800,  3600,  4200,   7000,   16000,
                                                               32000, 37500, 64000, 187500, 1250000};
inline constexpr int32_t kConnTypeOther = 10;

struct IntRange {
    int32_t min;
    int32_t max;
    constexpr int32_t clamp(int32_t value) const { return std::clamp(value, min, max); }
    constexpr bool contains(int32_t value) const { return value >= min && value <= max; }
};

inline constexpr int32_t kNoLimit = INT32_MAX;
inline constexpr IntRange kMaxParallelNumRange{1, 30};
inline constexpr IntRange kMaxSimJobsRange{1, 100};
inline constexpr IntRange kTimeoutRange{30, 600};
inline constexpr IntRange kRetryDelayRange{1, 600};
inline constexpr IntRange kRetryCountRange{0, 9999};
inline constexpr IntRange kSpeedLimitRange{400, kNoLimit};
inline constexpr IntRange kKeepRange{100, kNoLimit};
inline constexpr IntRange kBandWidthRange{1800, kNoLimit};
inline constexpr IntRange kConnTypeRange{0, kConnTypeOther};
inline constexpr IntRange kStartModeRange{0, 2};
inline constexpr IntRange kAutoSaveTimeRange{1, kNoLimit};
inline constexpr IntRange kBlockSizeRange{10240, 102400 * 1024};
inline constexpr IntRange kBufferSizeRange{16, 4096};
inline constexpr IntRange kPositiveRange{1, kNoLimit};
inline constexpr IntRange kNonNegativeRange{0, kNoLimit};
inline constexpr IntRange kDialUpRetryRange{0, 99};
inline constexpr IntRange kDialUpWaitRange{1, 600};
inline constexpr IntRange kFtpSearchMinSizeRange{10, 102400};
inline constexpr IntRange kFtpSearchMaxHitRange{5, 100};
inline constexpr IntRange kSpeedModeRange{0, 2};

struct SettingsValues {
    // In memory only.
    std::string programFolder;
    std::string defaultDownloadFolder;
    std::string temporaryFolder;

    // "General"
    std::string languageFile;  // "LanguageEx"; empty: the built-in language
    // False until a language was stored ("LanguageEx" absent): only then
    // does the locale pick the language at start.
    bool languageChosen = false;
    int32_t flags = kDefaultFlags;
    int32_t flags1 = kDefaultFlags1;
    int32_t autoSaveTime = 10;
    int32_t blockSize = 204800;
    int32_t bufferSize = 200;
    int32_t doubleClick = 16;
    std::string monitorType{kDefaultMonitorType};
    int32_t monitorFlags = 0x15F;
    int32_t maxParallelNum = 10;
    int32_t maxSimJobs = 8;
    int32_t fileManager = 0x111;
    std::string virusScanner;
    std::string virusScannerArgs;
    std::string virusScanTypes{kDefaultVirusScanTypes};
    std::string openTypes{kDefaultOpenTypes};
    int32_t scheduleFlags = 0x807F;
    int32_t scheduleStartTime = 915123600;
    int32_t scheduleStopTime = 915138000;
    int32_t ftpSearchMinSize = 1024;
    int32_t ftpSearchMaxHit = 40;
    std::string skin;
    int32_t speedMode = 0;

    // "Connection"
    int32_t connectTimeout = 90;
    int32_t dataTimeout = 90;
    int32_t retryDelay = 5;
    int32_t retryCount = 99;
    int32_t simJobs = 3;
    int32_t speedLimit = 25000;
    int32_t keep = 15000;
    int32_t bandWidth = 187500;
    int32_t connType = 8;

    // "Download default"
    int32_t defaultCategory = 3;
    int32_t defaultSplit = 2;
    int32_t defaultProxySwitch = 0;  // 16 bits, sign-extended
    int32_t defaultStartMode = 1;    // 16 bits, sign-extended
    std::string defaultUserName;
    std::string defaultPassword;
    std::string defaultReferer;
    std::string defaultPath;
    int32_t defaultLogin = 0xFF0;

    // "Procotol"
    int32_t protocolFlags = 0;
    std::string asciiModeTypes{kDefaultAsciiModeTypes};
    std::string anonymousEMail{kDefaultAnonymousEMail};
    int32_t userAgent = 4;
    std::string userAgentText;

    // "Color"
    int32_t graphScale = 100;
    int32_t colorState = 0x9300;
    int32_t colorError = 0x8B;
    int32_t colorServer = 0;
    int32_t colorCommand = 0x8B0000;
    int32_t colorStateBk = 0x98FB98;
    int32_t colorErrorBk = 0xCBC0FF;
    int32_t colorServerBk = 0xFAE6E6;
    int32_t colorCommandBk = 0xEEEEAF;
    int32_t graphFore = 0xFF00;
    int32_t graphBack = 0;
    int32_t blockBack = kDefaultBlockBack;
    int32_t blockMapCellSize = 4;

    // "DialUp"
    int32_t dialUpFlags = 0;
    std::string dialUpEntry;
    std::string dialUpUserName;
    std::string dialUpPassword;
    int32_t dialUpRetry = 8;
    int32_t dialUpWait = 10;
    std::string dialUpTitle;

    // "Mirrors"
    std::string mirrorCode;
    std::string mirrorList;
    std::string mirrorServer{kDefaultMirrorSearchTemplate};

    // "Sounds": empty means no sound.
    std::array<std::string, 4> sounds;

    // "Site Explore"
    std::string exploreTypes{kDefaultExploreTypes};
    std::string exploreCommand{kDefaultExploreCommand};
    int32_t exploreRetry = 5;

    bool operator==(const SettingsValues&) const = default;
};

}  // namespace fetchora
