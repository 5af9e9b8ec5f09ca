#include "lang/language_catalog.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

namespace fetchora {
namespace {

namespace fs = std::filesystem;

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

bool sameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

struct LocaleInfo {
    std::string_view locale;  // language, or language_TERRITORY
    std::string_view code;  // the three letters of the file name
    uint32_t codePage;
};

// The abbreviations translations are named with, and the code page each
// language's texts were written in; a territory entry comes before its
// language's general entry.
constexpr LocaleInfo kLocales[] = {
    {"ar", "ara", 1256},   {"bg", "bgr", 1251},    {"ca", "cat", 1252}, {"cs", "csy", 1250},   {"da", "dan", 1252},
    {"de", "deu", 1252},   {"el", "ell", 1253},    {"es", "esp", 1252}, {"fi", "fin", 1252},   {"fr", "fra", 1252},
    {"he", "heb", 1255},   {"hr", "hrv", 1250},    {"hu", "hun", 1250}, {"it", "ita", 1252},   {"ja", "jpn", 932},
    {"ko", "kor", 949},    {"lt", "lth", 1257},    {"nl", "nld", 1252}, {"nb", "nor", 1252},   {"no", "nor", 1252},
    {"pl", "plk", 1250},   {"pt_BR", "ptb", 1252}, {"pt", "ptg", 1252}, {"ro", "rom", 1250},   {"ru", "rus", 1251},
    {"sk", "sky", 1250},   {"sl", "slv", 1250},    {"sr", "srl", 1250}, {"sv", "sve", 1252},   {"th", "tha", 874},
    {"tr", "trk", 1254},   {"uk", "ukr", 1251},    {"vi", "vit", 1258}, {"zh_CN", "chs", 936}, {"zh_SG", "chs", 936},
    {"zh_TW", "cht", 950}, {"zh_HK", "cht", 950},  {"zh", "chs", 936},
};

// "de_DE.UTF-8@euro" -> {"de", "DE"}.
std::pair<std::string, std::string> splitLocale(std::string_view locale)
{
    locale = locale.substr(0, locale.find_first_of(".@"));
    const std::size_t underscore = locale.find('_');
    if (underscore == std::string_view::npos)
        return {lowered(locale), {}};
    std::string territory(locale.substr(underscore + 1));
    std::transform(territory.begin(), territory.end(), territory.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    return {lowered(locale.substr(0, underscore)), territory};
}

const LocaleInfo* findLocale(std::string_view locale)
{
    const auto [language, territory] = splitLocale(locale);
    if (language.empty())
        return nullptr;
    const std::string full = territory.empty() ? language : language + "_" + territory;
    for (const LocaleInfo& info : kLocales) {
        if (info.locale == full)
            return &info;
    }
    for (const LocaleInfo& info : kLocales) {
        if (info.locale == language)
            return &info;
    }
    return nullptr;
}

}  // namespace

bool isLanguageFileName(std::string_view name)
{
    if (name.size() != 9 || !sameText(name.substr(0, 2), "kx") || !sameText(name.substr(5), ".ini"))
        return false;
    return std::all_of(name.begin() + 2, name.begin() + 5,
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
}

std::vector<LanguageEntry> listLanguageFiles(const std::vector<std::string>& folders)
{
    std::vector<LanguageEntry> entries;
    std::set<std::string> seen;
    for (const std::string& folder : folders) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (isLanguageFileName(name) && !sameText(name, "kxeng.ini") && it->is_regular_file(ec))
                files.push_back(it->path());
        }
        // Directory order is arbitrary: the same folder lists the same way.
        std::sort(files.begin(), files.end());
        for (const fs::path& path : files) {
            const std::string name = path.filename().string();
            if (seen.count(lowered(name)) != 0)
                continue;
            const auto file = LanguageFile::load(path.string());
            if (!file || file->displayName().empty())
                continue;
            seen.insert(lowered(name));
            entries.push_back({std::string(file->displayName()), name, path.string(), file->codePage()});
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const LanguageEntry& a, const LanguageEntry& b) {
        return lowered(a.displayName) < lowered(b.displayName);
    });
    return entries;
}

std::string messagesLocale()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return {};
}

std::string localeLanguageCode(std::string_view locale)
{
    const LocaleInfo* info = findLocale(locale);
    return info == nullptr ? std::string() : std::string(info->code);
}

std::string localeOfLanguageCode(std::string_view code)
{
    const std::string wanted = lowered(code);
    for (const LocaleInfo& info : kLocales) {
        if (info.code == wanted)
            return std::string(info.locale);
    }
    return {};
}

uint32_t localeCodePage(std::string_view locale)
{
    const LocaleInfo* info = findLocale(locale);
    return info == nullptr ? 1252 : info->codePage;
}

std::optional<std::size_t> findLanguageFile(const std::vector<LanguageEntry>& entries, std::string_view fileName)
{
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (sameText(entries[i].fileName, fileName))
            return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> chooseStartLanguage(const std::vector<LanguageEntry>& entries,
                                               const std::optional<std::string>& configured, std::string_view locale)
{
    // A stored choice is the user's, English included: the locale only
    // decides for a user who never chose. A stored file that is gone falls
    // back to English rather than to a guess.
    if (configured && !configured->empty())
        return findLanguageFile(entries, *configured);
    if (configured)
        return std::nullopt;
    const std::string code = localeLanguageCode(locale);
    if (!code.empty()) {
        if (auto found = findLanguageFile(entries, "kx" + code + ".ini"))
            return found;
    }
    const uint32_t page = localeCodePage(locale);
    if (page != 1252 && !code.empty()) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].codePage == page)
                return i;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> findLanguageCode(const std::vector<LanguageEntry>& entries, std::string_view code)
{
    if (code.size() == 3) {
        if (auto found = findLanguageFile(entries, "kx" + std::string(code) + ".ini"))
            return found;
    }
    const std::string fromLocale = localeLanguageCode(code);
    if (!fromLocale.empty())
        return findLanguageFile(entries, "kx" + fromLocale + ".ini");
    return std::nullopt;
}

bool isRightToLeftFile(std::string_view fileName)
{
    return sameText(fileName, "kxheb.ini") || sameText(fileName, "kxara.ini");
}

}  // namespace fetchora
