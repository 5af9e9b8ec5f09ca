#include "config/mirror_country.h"

#include <langinfo.h>
#include <locale.h>

#include <array>
#include <utility>

#include "config/unless_default.h"
#include "platform/text_utils.h"

namespace fetchora {
namespace {

struct CountryPair {
    std::string_view alpha3;
    std::string_view alpha2;
};

// ISO 3166-1 alpha-3 to alpha-2, including the codes added since 2002 (Serbia,
// Montenegro, Timor-Leste, Curacao and others) so that every territory the C
// library can report resolves.
constexpr std::array<CountryPair, 249> kCountries = {{
    {"AFG", "AF"}, {"ALA", "AX"}, {"ALB", "AL"}, {"DZA", "DZ"}, {"ASM", "AS"}, {"AND", "AD"}, {"AGO", "AO"},
    {"AIA", "AI"}, {"ATA", "AQ"}, {"ATG", "AG"}, {"ARG", "AR"}, {"ARM", "AM"}, {"ABW", "AW"}, {"AUS", "AU"},
    {"AUT", "AT"}, {"AZE", "AZ"}, {"BHS", "BS"}, {"BHR", "BH"}, {"BGD", "BD"}, {"BRB", "BB"}, {"BLR", "BY"},
    {"BEL", "BE"}, {"BLZ", "BZ"}, {"BEN", "BJ"}, {"BMU", "BM"}, {"BTN", "BT"}, {"BOL", "BO"}, {"BES", "BQ"},
    {"BIH", "BA"}, {"BWA", "BW"}, {"BVT", "BV"}, {"BRA", "BR"}, {"IOT", "IO"}, {"BRN", "BN"}, {"BGR", "BG"},
    {"BFA", "BF"}, {"BDI", "BI"}, {"CPV", "CV"}, {"KHM", "KH"}, {"CMR", "CM"}, {"CAN", "CA"}, {"CYM", "KY"},
    {"CAF", "CF"}, {"TCD", "TD"}, {"CHL", "CL"}, {"CHN", "CN"}, {"CXR", "CX"}, {"CCK", "CC"}, {"COL", "CO"},
    {"COM", "KM"}, {"COG", "CG"}, {"COD", "CD"}, {"COK", "CK"}, {"CRI", "CR"}, {"CIV", "CI"}, {"HRV", "HR"},
    {"CUB", "CU"}, {"CUW", "CW"}, {"CYP", "CY"}, {"CZE", "CZ"}, {"DNK", "DK"}, {"DJI", "DJ"}, {"DMA", "DM"},
    {"DOM", "DO"}, {"ECU", "EC"}, {"EGY", "EG"}, {"SLV", "SV"}, {"GNQ", "GQ"}, {"ERI", "ER"}, {"EST", "EE"},
    {"SWZ", "SZ"}, {"ETH", "ET"}, {"FLK", "FK"}, {"FRO", "FO"}, {"FJI", "FJ"}, {"FIN", "FI"}, {"FRA", "FR"},
    {"GUF", "GF"}, {"PYF", "PF"}, {"ATF", "TF"}, {"GAB", "GA"}, {"GMB", "GM"}, {"GEO", "GE"}, {"DEU", "DE"},
    {"GHA", "GH"}, {"GIB", "GI"}, {"GRC", "GR"}, {"GRL", "GL"}, {"GRD", "GD"}, {"GLP", "GP"}, {"GUM", "GU"},
    {"GTM", "GT"}, {"GGY", "GG"}, {"GIN", "GN"}, {"GNB", "GW"}, {"GUY", "GY"}, {"HTI", "HT"}, {"HMD", "HM"},
    {"VAT", "VA"}, {"HND", "HN"}, {"HKG", "HK"}, {"HUN", "HU"}, {"ISL", "IS"}, {"IND", "IN"}, {"IDN", "ID"},
    {"IRN", "IR"}, {"IRQ", "IQ"}, {"IRL", "IE"}, {"IMN", "IM"}, {"ISR", "IL"}, {"ITA", "IT"}, {"JAM", "JM"},
    {"JPN", "JP"}, {"JEY", "JE"}, {"JOR", "JO"}, {"KAZ", "KZ"}, {"KEN", "KE"}, {"KIR", "KI"}, {"PRK", "KP"},
    {"KOR", "KR"}, {"KWT", "KW"}, {"KGZ", "KG"}, {"LAO", "LA"}, {"LVA", "LV"}, {"LBN", "LB"}, {"LSO", "LS"},
    {"LBR", "LR"}, {"LBY", "LY"}, {"LIE", "LI"}, {"LTU", "LT"}, {"LUX", "LU"}, {"MAC", "MO"}, {"MKD", "MK"},
    {"MDG", "MG"}, {"MWI", "MW"}, {"MYS", "MY"}, {"MDV", "MV"}, {"MLI", "ML"}, {"MLT", "MT"}, {"MHL", "MH"},
    {"MTQ", "MQ"}, {"MRT", "MR"}, {"MUS", "MU"}, {"MYT", "YT"}, {"MEX", "MX"}, {"FSM", "FM"}, {"MDA", "MD"},
    {"MCO", "MC"}, {"MNG", "MN"}, {"MNE", "ME"}, {"MSR", "MS"}, {"MAR", "MA"}, {"MOZ", "MZ"}, {"MMR", "MM"},
    {"NAM", "NA"}, {"NRU", "NR"}, {"NPL", "NP"}, {"NLD", "NL"}, {"NCL", "NC"}, {"NZL", "NZ"}, {"NIC", "NI"},
    {"NER", "NE"}, {"NGA", "NG"}, {"NIU", "NU"}, {"NFK", "NF"}, {"MNP", "MP"}, {"NOR", "NO"}, {"OMN", "OM"},
    {"PAK", "PK"}, {"PLW", "PW"}, {"PSE", "PS"}, {"PAN", "PA"}, {"PNG", "PG"}, {"PRY", "PY"}, {"PER", "PE"},
    {"PHL", "PH"}, {"PCN", "PN"}, {"POL", "PL"}, {"PRT", "PT"}, {"PRI", "PR"}, {"QAT", "QA"}, {"REU", "RE"},
    {"ROU", "RO"}, {"RUS", "RU"}, {"RWA", "RW"}, {"BLM", "BL"}, {"SHN", "SH"}, {"KNA", "KN"}, {"LCA", "LC"},
    {"MAF", "MF"}, {"SPM", "PM"}, {"VCT", "VC"}, {"WSM", "WS"}, {"SMR", "SM"}, {"STP", "ST"}, {"SAU", "SA"},
    {"SEN", "SN"}, {"SRB", "RS"}, {"SYC", "SC"}, {"SLE", "SL"}, {"SGP", "SG"}, {"SXM", "SX"}, {"SVK", "SK"},
    {"SVN", "SI"}, {"SLB", "SB"}, {"SOM", "SO"}, {"ZAF", "ZA"}, {"SGS", "GS"}, {"SSD", "SS"}, {"ESP", "ES"},
    {"LKA", "LK"}, {"SDN", "SD"}, {"SUR", "SR"}, {"SJM", "SJ"}, {"SWE", "SE"}, {"CHE", "CH"}, {"SYR", "SY"},
    {"TWN", "TW"}, {"TJK", "TJ"}, {"TZA", "TZ"}, {"THA", "TH"}, {"TLS", "TL"}, {"TGO", "TG"}, {"TKL", "TK"},
    {"TON", "TO"}, {"TTO", "TT"}, {"TUN", "TN"}, {"TUR", "TR"}, {"TKM", "TM"}, {"TCA", "TC"}, {"TUV", "TV"},
    {"UGA", "UG"}, {"UKR", "UA"}, {"ARE", "AE"}, {"GBR", "GB"}, {"USA", "US"}, {"UMI", "UM"}, {"URY", "UY"},
    {"UZB", "UZ"}, {"VUT", "VU"}, {"VEN", "VE"}, {"VNM", "VN"}, {"VGB", "VG"}, {"VIR", "VI"}, {"WLF", "WF"},
    {"ESH", "EH"}, {"YEM", "YE"}, {"ZMB", "ZM"}, {"ZWE", "ZW"},
}};

// The language and territory of "ll_TT.codeset@modifier" (also "ll-TT").
std::pair<std::string_view, std::string_view> splitLocaleName(std::string_view name) {
    name = name.substr(0, name.find_first_of(".@"));
    const size_t separator = name.find_first_of("_-");
    if (separator == std::string_view::npos) {
        return {name, {}};
    }
    return {name.substr(0, separator), name.substr(separator + 1)};
}

std::string libcAbbreviation(std::string_view localeName) {
#if defined(__GLIBC__) && defined(_NL_ADDRESS_COUNTRY_AB3)
    const std::string name(localeName);
    locale_t locale = newlocale(LC_ADDRESS_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr)) {
        return {};
    }
    const char* value = nl_langinfo_l(_NL_ADDRESS_COUNTRY_AB3, locale);
    std::string result = value != nullptr ? std::string(value) : std::string();
    freelocale(locale);
    return result;
#else
    (void)localeName;
    return {};
#endif
}

bool isAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Minimal authority parsing for the schemes the program can transfer; the full
// URL model lives with the network code and handles every other detail.
std::optional<std::string> hostOfUrl(std::string_view url) {
    while (!url.empty() && (url.front() == ' ' || url.front() == '\t')) {
        url.remove_prefix(1);
    }
    const size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos) {
        return std::nullopt;
    }
    static constexpr std::array<std::string_view, 6> kSchemes = {"http", "https", "ftp", "mms", "mmst", "rtsp"};
    const std::string_view scheme = url.substr(0, schemeEnd);
    bool supported = false;
    for (std::string_view known : kSchemes) {
        supported = supported || equalsIgnoringCase(scheme, known);
    }
    if (!supported) {
        return std::nullopt;
    }
    std::string_view authority = url.substr(schemeEnd + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        return std::string(authority.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    }
    return std::string(authority.substr(0, authority.find(':')));
}

}  // namespace

std::string processLocaleName(const std::function<const char*(const char*)>& getenvFn) {
    for (const char* variable : {"LC_ALL", "LC_ADDRESS", "LC_CTYPE", "LANG"}) {
        const char* value = getenvFn(variable);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

std::string localeTerritory(std::string_view localeName) {
    return std::string(splitLocaleName(localeName).second);
}

bool isSimplifiedChineseLocale(std::string_view localeName) {
    const auto [language, territory] = splitLocaleName(localeName);
    return equalsIgnoringCase(language, "zh") && equalsIgnoringCase(territory, "CN");
}

std::optional<std::string_view> alpha2FromAlpha3(std::string_view alpha3) {
    for (const CountryPair& pair : kCountries) {
        if (equalsIgnoringCase(pair.alpha3, alpha3)) {
            return pair.alpha2;
        }
    }
    return std::nullopt;
}

size_t countryTableSize() {
    return kCountries.size();
}

std::string localeCountryAbbreviation(std::string_view localeName) {
    if (localeName.empty()) {
        return {};
    }
    std::string abbreviation = libcAbbreviation(localeName);
    if (abbreviation.empty()) {
        abbreviation = localeTerritory(localeName);
    }
    return abbreviation;
}

std::string countryCodeFromAbbreviation(std::string_view abbreviation, bool simplifiedChinese) {
    abbreviation = abbreviation.substr(0, 3);
    const auto alpha2 = alpha2FromAlpha3(abbreviation);
    std::string code(alpha2 ? *alpha2 : abbreviation);
    if (code.empty() || code.size() > 2) {
        return simplifiedChinese ? "CN" : "US";
    }
    return code;
}

std::string MirrorCountryCode(std::string_view localeName) {
    return countryCodeFromAbbreviation(localeCountryAbbreviation(localeName), isSimplifiedChineseLocale(localeName));
}

std::string countryCodeFromUrl(std::string_view url) {
    const auto host = hostOfUrl(url);
    if (!host || host->empty()) {
        return "US";
    }
    const size_t dot = host->rfind('.');
    const std::string_view last = dot == std::string::npos ? std::string_view(*host)
                                                           : std::string_view(*host).substr(dot + 1);
    if (last.size() == 2 && isAsciiLetter(last[0]) && isAsciiLetter(last[1])) {
        return asciiUpper(last);
    }
    return "US";
}

}  // namespace fetchora
