#pragma once
// The user's two-letter country code for the mirror search, derived from the
// process locale, and the country code suggested by a URL's host.
//
// Thread: any (pure functions; the locale is passed in, never read from the
// process here, so tests choose it).
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace fetchora {

// The locale name the program runs under: LC_ALL, else LC_ADDRESS, else
// LC_CTYPE, else LANG (the first that is set and not empty); empty when none.
// `getenvFn` stands in for ::getenv.
std::string processLocaleName(const std::function<const char*(const char*)>& getenvFn);

// The territory part of a locale name such as "de_DE.UTF-8@euro" ("DE");
// empty when the name has none ("C", "POSIX", "en").
std::string localeTerritory(std::string_view localeName);

// Whether the locale stands for Simplified Chinese as used in mainland China
// (language id 2052 on the system the settings format comes from).
bool isSimplifiedChineseLocale(std::string_view localeName);

// The alpha-2 code of an ISO 3166-1 alpha-3 code, compared without regard to
// case; nothing when the code is not in the table.
std::optional<std::string_view> alpha2FromAlpha3(std::string_view alpha3);
size_t countryTableSize();

// The abbreviated country name of the locale: the C library's three-letter
// territory code when the locale is installed, else the territory part of its
// name.
std::string localeCountryAbbreviation(std::string_view localeName);

// The country code of the user: the abbreviation looked up in the alpha-3
// table (the abbreviation itself when absent); when that is empty or longer
// than two characters, "CN" for a Simplified Chinese locale, else "US".
std::string MirrorCountryCode(std::string_view localeName);
// The same, from an abbreviation already obtained.
std::string countryCodeFromAbbreviation(std::string_view abbreviation, bool simplifiedChinese);

// The country suggested by a URL: the text after the last "." of the host
// when it is exactly two letters (upper-cased); "US" otherwise, and for URLs
// of an unsupported scheme or without a host.
std::string countryCodeFromUrl(std::string_view url);

}  // namespace fetchora
