#include "shell/update_info.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include <ini.h>

#include "net/url.h"
#include "platform/atomic_file.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

constexpr std::size_t kBaseNameLimit = 32;

std::optional<std::string> readSmallFile(const std::filesystem::path& file, std::size_t limit, std::string& error)
{
    std::error_code code;
    const std::uintmax_t size = std::filesystem::file_size(file, code);
    if (code) {
        error = file.string() + ": " + code.message();
        return std::nullopt;
    }
    if (size > limit) {
        error = file.string() + ": larger than " + std::to_string(limit) + " bytes";
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        error = file.string() + ": cannot be read";
        return std::nullopt;
    }
    return bytes;
}

// Why the text is not one the line parser can be given safely; empty when it is.
std::string textProblem(std::string_view text, std::size_t lineLimit, std::size_t lineLength)
{
    std::size_t lines = 0;
    std::size_t length = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\n') {
            ++lines;
            length = 0;
            continue;
        }
        if (byte < 0x20 && byte != '\t' && byte != '\r')
            return "holds binary data";
        if (++length > lineLength)
            return "has a line longer than " + std::to_string(lineLength) + " characters";
    }
    if (length > 0)
        ++lines;
    if (lines > lineLimit)
        return "has more than " + std::to_string(lineLimit) + " lines";
    return {};
}

struct ParseState {
    UpdateInfo* info = nullptr;
    bool haveVersion = false;
};

int onUpdateEntry(void* user, const char* section, const char* name, const char* value)
{
    auto& state = *static_cast<ParseState*>(user);
    if (equalsIgnoringCase(section, "Info") && equalsIgnoringCase(name, "Version")) {
        // The first occurrence wins, as with any profile-file lookup.
        if (!state.haveVersion) {
            state.haveVersion = true;
            state.info->version = std::string(value).substr(0, kUpdateVersionLimit);
        }
    } else if (equalsIgnoringCase(section, "Lang")) {
        const std::string_view text(value);
        const size_t comma = text.find(',');
        if (comma != std::string_view::npos && IsLanguageBaseName(name)) {
            const bool known
                = std::any_of(state.info->languages.begin(), state.info->languages.end(),
                              [&](const LanguageOffer& o) { return equalsIgnoringCase(o.baseName, name); });
            if (!known)
                state.info->languages.push_back({name, std::string(trimBoth(text.substr(0, comma), " \t")),
                                                 std::string(trimBoth(text.substr(comma + 1), " \t"))});
        }
    }
    return 1;
}

int onLanguageEntry(void* user, const char* section, const char* name, const char* value)
{
    auto& found = *static_cast<std::optional<std::string>*>(user);
    if (!found && equalsIgnoringCase(section, "Info") && equalsIgnoringCase(name, "Version"))
        found = value;
    return 1;
}

int onLanguageName(void* user, const char* section, const char* name, const char* value)
{
    if (equalsIgnoringCase(section, "Info") && equalsIgnoringCase(name, "Language") && *value != '\0')
        *static_cast<bool*>(user) = true;
    return 1;
}

bool isLanguageNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

std::string withTrailingSlash(std::string url)
{
    if (url.empty() || url.back() != '/')
        url += '/';
    return url;
}

}  // namespace

bool IsNewerVersion(std::string_view offered, std::string_view own)
{
    return asciiLower(offered) > asciiLower(own);
}

bool IsLanguageBaseName(std::string_view name)
{
    return !name.empty() && name.size() <= kBaseNameLimit && std::all_of(name.begin(), name.end(), isLanguageNameChar);
}

UpdateInfo ParseUpdateInfo(std::string_view text)
{
    UpdateInfo info;
    if (text.size() > kUpdateFileLimit) {
        info.error = "the update information is larger than " + std::to_string(kUpdateFileLimit) + " bytes";
        return info;
    }
    if (std::string problem = textProblem(text, kUpdateLineLimit, kUpdateLineLength); !problem.empty()) {
        info.error = "the update information " + problem;
        return info;
    }
    ParseState state{&info};
    const std::string copy(text);
    if (ini_parse_string(copy.c_str(), onUpdateEntry, &state) < 0) {
        info.error = "the update information cannot be parsed";
        return info;
    }
    if (!state.haveVersion || info.version.empty()) {
        info.error = "the update information has no \"Info\" \"Version\"";
        info.languages.clear();
        return info;
    }
    info.ok = true;
    return info;
}

UpdateInfo ReadUpdateInfo(const std::filesystem::path& file)
{
    std::string error;
    const std::optional<std::string> bytes = readSmallFile(file, kUpdateFileLimit, error);
    if (!bytes) {
        UpdateInfo info;
        info.error = error;
        return info;
    }
    return ParseUpdateInfo(*bytes);
}

std::string LanguageFileVersion(const std::filesystem::path& file)
{
    std::error_code code;
    if (!std::filesystem::is_regular_file(file, code))
        return {};
    std::optional<std::string> version;
    if (ini_parse(file.c_str(), onLanguageEntry, &version) < 0)
        return {};
    return version.value_or(std::string());
}

std::vector<LanguagePackRow> LanguagePackRows(const UpdateInfo& info,
                                              const std::vector<std::filesystem::path>& languageFolders)
{
    std::vector<LanguagePackRow> rows;
    for (const LanguageOffer& offer : info.languages) {
        std::string installed;
        for (const std::filesystem::path& folder : languageFolders) {
            const std::filesystem::path file = folder / (offer.baseName + ".ini");
            std::error_code code;
            if (std::filesystem::exists(file, code)) {
                installed = LanguageFileVersion(file);
                break;
            }
        }
        if (!equalsIgnoringCase(installed, offer.latestVersion))
            rows.push_back({offer.displayName, installed, offer.latestVersion, offer.baseName});
    }
    return rows;
}

std::optional<UpdateEndpoints> UpdateEndpointsFor(std::string_view source, bool simplifiedChinese)
{
    const std::string base = withTrailingSlash(std::string(trimBoth(source, " \t\r\n")));
    const std::string scheme = asciiLower(std::string_view(base).substr(0, base.find("://")));
    if (base.find("://") == std::string::npos || (scheme != "http" && scheme != "https") || !ParseUrl(base))
        return std::nullopt;
    UpdateEndpoints endpoints;
    endpoints.updateFile = base + std::string(kUpdateFileName);
    endpoints.languageFolder = base + std::string(kLanguageFolderName) + "/";
    endpoints.downloadPage = base + (simplifiedChinese ? "download-zh_CN.html" : "download.html");
    return endpoints;
}

std::string LanguagePackUrl(const UpdateEndpoints& endpoints, std::string_view baseName)
{
    return endpoints.languageFolder + std::string(baseName) + ".ini";
}

bool PrefersSimplifiedChinese(std::string_view lcAll, std::string_view lcMessages, std::string_view lang)
{
    std::string_view chosen = !lcAll.empty() ? lcAll : !lcMessages.empty() ? lcMessages : lang;
    chosen = chosen.substr(0, chosen.find_first_of(".@"));
    return equalsIgnoringCase(chosen, "zh_CN") || equalsIgnoringCase(chosen, "zh_SG")
        || equalsIgnoringCase(chosen, "zh_Hans");
}

std::string InstallLanguagePack(const std::filesystem::path& downloaded, const std::filesystem::path& folder,
                                std::string_view baseName)
{
    if (!IsLanguageBaseName(baseName))
        return "not a language file name: " + std::string(baseName);
    if (!folder.is_absolute())
        return "no language folder to write into";
    std::string error;
    const std::optional<std::string> bytes = readSmallFile(downloaded, kLanguagePackLimit, error);
    if (!bytes)
        return error;
    // A language file is text; an error page or junk would replace a good one.
    // A file without "Info" "Language" would not even be listed; an error
    // page or junk must not replace a good file.
    bool named = false;
    if (bytes->find('\0') != std::string::npos || ini_parse_string(bytes->c_str(), onLanguageName, &named) < 0
        || !named)
        return std::string(baseName) + ".ini is not a language file";
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code)
        return folder.string() + ": " + code.message();
    const std::filesystem::path target = folder / (std::string(baseName) + ".ini");
    if (!writeFileAtomically(target, *bytes))
        return target.string() + ": cannot be written";
    return {};
}

}  // namespace fetchora
