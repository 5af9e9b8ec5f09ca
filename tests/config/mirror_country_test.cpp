#include "config/mirror_country.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace fetchora {
namespace {

TEST(MirrorCountry, TableMapsEveryAlpha3ToADistinctAlpha2) {
    const std::vector<std::string> sample = {"DEU", "deu", "USA", "CHN", "GBR", "SRB", "TLS", "CUW", "ZWE"};
    const std::vector<std::string> expected = {"DE", "DE", "US", "CN", "GB", "RS", "TL", "CW", "ZW"};
    for (size_t i = 0; i < sample.size(); ++i) {
        EXPECT_EQ(alpha2FromAlpha3(sample[i]).value_or("?"), expected[i]) << sample[i];
    }
    EXPECT_FALSE(alpha2FromAlpha3("XYZ"));
    EXPECT_FALSE(alpha2FromAlpha3("DE"));
    EXPECT_EQ(countryTableSize(), 249u);
}

TEST(MirrorCountry, CodeComesFromTheLocaleTerritory) {
    EXPECT_EQ(MirrorCountryCode("de_DE.UTF-8"), "DE");
    EXPECT_EQ(MirrorCountryCode("pt_BR"), "BR");
    EXPECT_EQ(MirrorCountryCode("sr_RS@latin"), "RS");
    EXPECT_EQ(MirrorCountryCode("zh_CN.GB18030"), "CN");
    // A locale that is not installed still gives its name's territory; a
    // three-letter territory goes through the table.
    EXPECT_EQ(MirrorCountryCode("xx_FR"), "FR");
    EXPECT_EQ(MirrorCountryCode("xx_DEU"), "DE");
}

TEST(MirrorCountry, NoUsableTerritoryFallsBackByLanguage) {
    EXPECT_EQ(MirrorCountryCode(""), "US");
    EXPECT_EQ(MirrorCountryCode("C"), "US");
    EXPECT_EQ(MirrorCountryCode("C.UTF-8"), "US");
    EXPECT_EQ(MirrorCountryCode("en"), "US");
    EXPECT_EQ(MirrorCountryCode("xx_QQQ"), "US");
    EXPECT_EQ(countryCodeFromAbbreviation("", true), "CN");
    EXPECT_EQ(countryCodeFromAbbreviation("QQQ", true), "CN");
    EXPECT_EQ(countryCodeFromAbbreviation("QQQ", false), "US");
    EXPECT_EQ(countryCodeFromAbbreviation("X", false), "X");
}

TEST(MirrorCountry, OnlyMainlandChineseLocalesCountAsSimplifiedChinese) {
    EXPECT_TRUE(isSimplifiedChineseLocale("zh_CN.UTF-8"));
    EXPECT_TRUE(isSimplifiedChineseLocale("zh_CN"));
    EXPECT_FALSE(isSimplifiedChineseLocale("zh_TW.UTF-8"));
    EXPECT_FALSE(isSimplifiedChineseLocale("zh_SG"));
    EXPECT_FALSE(isSimplifiedChineseLocale("en_CN"));
    EXPECT_FALSE(isSimplifiedChineseLocale(""));
}

TEST(MirrorCountry, ProcessLocaleTakesTheFirstSetVariable) {
    std::map<std::string, std::string> vars = {{"LANG", "fr_FR.UTF-8"}, {"LC_CTYPE", "de_AT.UTF-8"}, {"LC_ALL", ""}};
    auto lookup = [&vars](const char* name) -> const char* {
        const auto it = vars.find(name);
        return it == vars.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(processLocaleName(lookup), "de_AT.UTF-8");
    vars["LC_ALL"] = "it_IT";
    EXPECT_EQ(processLocaleName(lookup), "it_IT");
    vars.clear();
    EXPECT_EQ(processLocaleName(lookup), "");
}

TEST(MirrorCountry, UrlCountryIsTheTwoLetterTopLevelDomain) {
    EXPECT_EQ(countryCodeFromUrl("http://www.example.de/file.zip"), "DE");
    EXPECT_EQ(countryCodeFromUrl("ftp://user:p@ss@ftp.host.co.uk:21/pub/"), "UK");
    EXPECT_EQ(countryCodeFromUrl("RTSP://media.server.jp:554/stream"), "JP");
    EXPECT_EQ(countryCodeFromUrl("mms://streams.example.Fr"), "FR");
    EXPECT_EQ(countryCodeFromUrl("https://example.com/?q=a.de"), "US");
    EXPECT_EQ(countryCodeFromUrl("http://192.168.1.10/a.de"), "US");
    EXPECT_EQ(countryCodeFromUrl("http://[::1]:8080/x.de"), "US");
    EXPECT_EQ(countryCodeFromUrl("pnm://host.de/x"), "US");
    EXPECT_EQ(countryCodeFromUrl("file:///home/x.de"), "US");
    EXPECT_EQ(countryCodeFromUrl("http:///path.de"), "US");
    EXPECT_EQ(countryCodeFromUrl("www.example.de"), "US");
    EXPECT_EQ(countryCodeFromUrl("http://host.d3/"), "US");
    EXPECT_EQ(countryCodeFromUrl(""), "US");
}

}  // namespace
}  // namespace fetchora
