#include "lang/language_catalog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "lang/current_language.h"
#include "lang/string_table.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string info(const std::string& name, int codePage = 1252)
{
    return "[Info]\nLanguage=" + name + "\nVersion=1\nCodepage=" + std::to_string(codePage) + "\n";
}

TEST(LanguageCatalog, ListsNamedFilesSortedProfileFirst)
{
    test::TempDir dir;
    const fs::path profile = dir.path() / "profile";
    const fs::path program = dir.path() / "program";
    write(program / "kxdeu.ini", info("Deutsch") + "[String]\n1=shipped\n");
    write(profile / "kxdeu.ini", info("Deutsch (eigene)"));
    write(program / "kxfra.ini",
          info("fran\xC3\xA7"
               "ais"));
    write(program / "KXESP.INI", info("Espa\xC3\xB1ol"));
    write(program / "kxrus.ini", info("Russian", 1251));
    write(program / "kxeng.ini", info("English"));
    write(program / "kxnoinfo.ini", info("Too long a name"));
    write(program / "kxnul.ini", "[String]\n1=no info section\n");
    write(program / "kx1ab.ini", info("Digit in name"));
    write(program / "kxita.txt", info("Italiano"));
    fs::create_directories(program / "kxdir.ini");

    const auto entries = listLanguageFiles({profile.string(), program.string(), (dir.path() / "none").string()});
    std::vector<std::string> names;
    for (const auto& entry : entries)
        names.push_back(entry.displayName + "|" + entry.fileName);
    const std::vector<std::string> expected{"Deutsch (eigene)|kxdeu.ini", "Espa\xC3\xB1ol|KXESP.INI",
                                            "fran\xC3\xA7"
                                            "ais|kxfra.ini",
                                            "Russian|kxrus.ini"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(entries[0].path, (profile / "kxdeu.ini").string());
    EXPECT_EQ(entries[3].codePage, 1251u);
}

TEST(LanguageCatalog, LocalesMapToTheThreeLettersOfTheirFile)
{
    struct Case {
        const char* locale;
        const char* code;
        uint32_t codePage;
    };
    const Case cases[] = {
        {"de_DE.UTF-8", "deu", 1252},
        {"de_AT", "deu", 1252},
        {"pt_BR.UTF-8", "ptb", 1252},
        {"pt_PT", "ptg", 1252},
        {"zh_TW.Big5", "cht", 950},
        {"zh_CN.GB18030", "chs", 936},
        {"he_IL.UTF-8", "heb", 1255},
        {"ru_RU.KOI8-R", "rus", 1251},
        {"sr_RS@latin", "srl", 1250},
        {"en_US.UTF-8", "", 1252},
        {"C", "", 1252},
        {"POSIX", "", 1252},
        {"", "", 1252},
    };
    for (const Case& each : cases) {
        EXPECT_EQ(localeLanguageCode(each.locale), each.code) << each.locale;
        EXPECT_EQ(localeCodePage(each.locale), each.codePage) << each.locale;
    }
    EXPECT_EQ(localeOfLanguageCode("DEU"), "de");
    EXPECT_EQ(localeOfLanguageCode("ptb"), "pt_BR");
    EXPECT_EQ(localeOfLanguageCode("heb"), "he");
    EXPECT_EQ(localeOfLanguageCode("eng"), "");
}

TEST(LanguageCatalog, ChoosesTheStoredFileThenTheLocaleThenTheCodePage)
{
    const std::vector<LanguageEntry> entries{
        {"Deutsch", "kxdeu.ini", "/x/kxdeu.ini", 1252},
        {"Hebrew", "kxheb.ini", "/x/kxheb.ini", 1255},
        {"Ukrainian", "kxukr.ini", "/x/kxukr.ini", 1251},
    };
    struct Case {
        const char* name;
        std::optional<std::string> configured;
        const char* locale;
        std::optional<std::size_t> expected;
    };
    const Case cases[] = {
        {"stored file", std::string("KXHEB.INI"), "de_DE.UTF-8", 1},
        {"stored English beats the locale", std::string(), "de_DE.UTF-8", std::nullopt},
        {"stored file gone", std::string("kxita.ini"), "de_DE.UTF-8", std::nullopt},
        {"locale file", std::nullopt, "de_CH.UTF-8", 0},
        {"code page of the locale", std::nullopt, "ru_RU.UTF-8", 2},
        {"1252 never matches by code page", std::nullopt, "fr_FR.UTF-8", std::nullopt},
        {"English locale", std::nullopt, "en_GB.UTF-8", std::nullopt},
        {"no locale", std::nullopt, "", std::nullopt},
    };
    for (const Case& each : cases)
        EXPECT_EQ(chooseStartLanguage(entries, each.configured, each.locale), each.expected) << each.name;

    EXPECT_EQ(findLanguageCode(entries, "deu"), 0u);
    EXPECT_EQ(findLanguageCode(entries, "de"), 0u);
    EXPECT_EQ(findLanguageCode(entries, "he_IL"), 1u);
    EXPECT_FALSE(findLanguageCode(entries, "xx"));
    EXPECT_TRUE(isRightToLeftFile("kxHEB.ini"));
    EXPECT_FALSE(isRightToLeftFile("kxdeu.ini"));
}

TEST(CurrentLanguage, StringLookupsFollowTheSwitchAndOldTextsStayValid)
{
    auto german = std::make_unique<ActiveLanguage>();
    german->file = LanguageFile::parse("[String]\n61204=Herunterladen\n61231=Gel\xC3\xB6scht\\r\\nPapierkorb\n");
    german->fileName = "kxdeu.ini";
    setCurrentLanguage(std::move(german));
    const std::string_view downloading = builtinString(61204);
    EXPECT_EQ(downloading, "Herunterladen");
    EXPECT_EQ(builtinString(61231), "Gel\xC3\xB6scht\nPapierkorb");
    // Ids the file lacks stay English.
    EXPECT_EQ(builtinString(61206), "Downloaded");
    EXPECT_EQ(englishString(61204), "Download");
    ASSERT_NE(currentLanguage(), nullptr);
    EXPECT_EQ(currentLanguage()->fileName, "kxdeu.ini");

    setCurrentLanguage(nullptr);
    EXPECT_EQ(currentLanguage(), nullptr);
    EXPECT_EQ(builtinString(61204), "Download");
    // A view handed out before the switch still reads the old text.
    EXPECT_EQ(downloading, "Herunterladen");
}

TEST(CurrentLanguage, ListItemsComeFromTheTranslationAndShortListsFallBackToEnglish)
{
    // English: 61301 "Date,Information", 61208 starts with two empty headers.
    EXPECT_EQ(builtinListItem(61301, 0), "Date");
    EXPECT_EQ(builtinListItem(61301, 1), "Information");
    EXPECT_EQ(builtinListItem(61301, 2), "");
    EXPECT_EQ(builtinListItem(61208, 0), "");
    EXPECT_EQ(builtinListItem(61208, 2), "Name");
    EXPECT_EQ(builtinListItem(61208, 14), "Complete Time");
    EXPECT_EQ(builtinListItem(61238, 0), "Status");
    EXPECT_EQ(builtinListItem(1, 0), "");

    auto german = std::make_unique<ActiveLanguage>();
    german->file = LanguageFile::parse("[String]\n61301=Datum\n61208=,,Name,L\xC3\xA4nge,Fertig\n");
    setCurrentLanguage(std::move(german));
    EXPECT_EQ(builtinListItem(61301, 0), "Datum");
    // Items the translation lacks stay English; the ones it has are its own.
    EXPECT_EQ(builtinListItem(61301, 1), "Information");
    EXPECT_EQ(builtinListItem(61208, 3), "L\xC3\xA4nge");
    EXPECT_EQ(builtinListItem(61208, 4), "Fertig");
    EXPECT_EQ(builtinListItem(61208, 5), "Percent");
    EXPECT_EQ(builtinListItem(61208, 1), "");
    setCurrentLanguage(nullptr);
    EXPECT_EQ(builtinListItem(61208, 4), "Completed");
}

}  // namespace
}  // namespace fetchora
