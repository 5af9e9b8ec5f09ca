#pragma once
// The update information file ("qvupdate.ini") that the update source
// serves, the version comparison made with it, the rows of the language-pack
// list, and where the update source's files lie.
//
// The file comes from a web server, so it is checked before it is parsed:
// at most kUpdateFileLimit bytes and kUpdateLineLimit lines, no line longer
// than the parser's line buffer (a longer one would be cut and its rest read
// as a line of its own), no control bytes but tab, CR and LF. A file that
// fails a check, or has no "Info" "Version", is refused as a whole.
//
// Thread: any; pure apart from reading files.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

// The version text the offered version is compared with.
inline constexpr std::string_view kUpdateVersionText = "1.65";
inline constexpr std::string_view kUpdateFileName = "qvupdate.ini";
inline constexpr std::size_t kUpdateFileLimit = 64 * 1024;
inline constexpr std::size_t kUpdateLineLimit = 1000;
inline constexpr std::size_t kUpdateLineLength = 190;
// "Info" "Version" is read into a 20-byte buffer: longer texts are cut.
inline constexpr std::size_t kUpdateVersionLimit = 19;
// A downloaded language pack larger than this is not installed.
inline constexpr std::size_t kLanguagePackLimit = 4 * 1024 * 1024;
// The profile's folder of downloaded language files.
inline constexpr std::string_view kLanguageFolderName = "language";

// The dialog's texts, by their id in the string table (lang/string_table.h).
inline constexpr uint32_t kStrDownloadingUpdateInfo = 40201;  // "Downloading the update information..."
inline constexpr uint32_t kStrDownloadingLanguagePack = 40202;  // "Downloading language pack..."
inline constexpr uint32_t kStrCantGetUpdateInfo = 40203;  // "Can't get update information."
inline constexpr uint32_t kStrNewerVersionLanguageMode = 40204;  // "A newer version(%1) ... Download it first?"
inline constexpr uint32_t kStrNewerVersionCheckMode = 40205;  // "A newer version(%1) ...View More Information?"
inline constexpr uint32_t kStrLatestVersion = 40206;  // "You already have the latest version of Fetchora."
inline constexpr uint32_t kStrLanguagePacksDone = 40207;  // "Download language pach successfully, ..."
inline constexpr uint32_t kStrNoUpdateSource = 40208;  // "No update source is configured ..."
inline constexpr uint32_t kStrLanguagePackColumns = 40209;  // "Language,Current version,Latest version"
inline constexpr uint32_t kStrLanguagePackTitle = 40210;  // "Download Additional/Update language pack"
inline constexpr uint32_t kStrVersionCheckTitle = 40211;  // "Check for a new version"

// Whether the offered version counts as newer than ours: the two are
// compared as texts without regard to case, so "1.7" is newer than "1.65"
// and "1.100" is not.
bool IsNewerVersion(std::string_view offered, std::string_view own = kUpdateVersionText);

// One line of section "Lang": "kxdeu=0.9,Deutsch".
struct LanguageOffer {
    std::string baseName;  // the file's name without ".ini"
    std::string latestVersion;
    std::string displayName;
};

struct UpdateInfo {
    bool ok = false;
    std::string error;  // why the file was refused
    std::string version;  // "Info" "Version", cut to kUpdateVersionLimit
    std::vector<LanguageOffer> languages;  // in file order
};

// Lang lines whose name is not a plain file name (letters, digits, "_",
// "-"; at most 32) or that have no "," are left out: the name becomes a
// file in the language folder.
UpdateInfo ParseUpdateInfo(std::string_view text);
UpdateInfo ReadUpdateInfo(const std::filesystem::path& file);

bool IsLanguageBaseName(std::string_view name);

// "Info" "Version" of an installed language file; empty when the file or
// the key is missing.
std::string LanguageFileVersion(const std::filesystem::path& file);

// One row of the language-pack list.
struct LanguagePackRow {
    std::string displayName;
    std::string installedVersion;
    std::string latestVersion;
    std::string baseName;
};

// The offers whose installed version (looked up in the folders in order,
// the first that has the file counting) differs, without regard to case,
// from the latest one.
std::vector<LanguagePackRow> LanguagePackRows(const UpdateInfo& info,
                                              const std::vector<std::filesystem::path>& languageFolders);

// The addresses under the configured update source (an http or https URL
// of a folder): the update file, a language pack, the download page (its
// Simplified Chinese variant for a zh_CN user). None for an empty or
// unusable source.
struct UpdateEndpoints {
    std::string updateFile;
    std::string languageFolder;
    std::string downloadPage;
};
std::optional<UpdateEndpoints> UpdateEndpointsFor(std::string_view source, bool simplifiedChinese);
std::string LanguagePackUrl(const UpdateEndpoints& endpoints, std::string_view baseName);

// Whether the locale settings ($LC_ALL, $LC_MESSAGES, $LANG, first set
// wins) name Simplified Chinese.
bool PrefersSimplifiedChinese(std::string_view lcAll, std::string_view lcMessages, std::string_view lang);

// Checks a downloaded pack and writes it into the folder as baseName.ini,
// replacing an older file at once (never a half-written one). Empty on
// success, else why not.
std::string InstallLanguagePack(const std::filesystem::path& downloaded, const std::filesystem::path& folder,
                                std::string_view baseName);

}  // namespace fetchora
