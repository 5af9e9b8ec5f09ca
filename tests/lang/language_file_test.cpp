#include "lang/language_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

using namespace std::string_literals;

namespace fetchora {
namespace {

TEST(LanguageFile, StringValuesTurnWrittenLineBreaksIntoRealOnes)
{
    const auto file = LanguageFile::parse("[String]\r\n"
                                          "61225=Kategorie l\xC3\xB6schen?\\r\\nAlle Unterkategorien auch.\r\n"
                                          "61226=Eins\\nZwei\r\n"
                                          "61227=Pfad C:\\temp\\x und \\\r\n"
                                          "61228=\\r allein\r\n");
    EXPECT_EQ(file.string(61225).value_or(""), "Kategorie l\xC3\xB6schen?\nAlle Unterkategorien auch.");
    EXPECT_EQ(file.string(61226).value_or(""), "Eins\nZwei");
    // Other backslashes, a lone "\r" and a backslash at the end stay as written.
    EXPECT_EQ(file.string(61227).value_or(""), "Pfad C:\\temp\\x und \\");
    EXPECT_EQ(file.string(61228).value_or(""), "\\r allein");
    EXPECT_FALSE(file.string(61229));
}

TEST(LanguageFile, StandardButtonsFallBackToTheCommonSection)
{
    const auto file = LanguageFile::parse("[Dialog_Common]\n1=OK\n2=Abbrechen\n12=Nie benutzt\n"
                                          "[Export_Dlg]\nTitle=Exportieren\n2=Schlie\xC3\x9F"
                                          "en\n1001=Datei:\n");
    EXPECT_EQ(file.controlText("Export_Dlg", 1).value_or(""), "OK");
    EXPECT_EQ(file.controlText("Export_Dlg", 2).value_or(""),
              "Schlie\xC3\x9F"
              "en");
    EXPECT_EQ(file.controlText("Export_Dlg", 1001).value_or(""), "Datei:");
    // Only ids below 10 fall back.
    EXPECT_FALSE(file.controlText("Export_Dlg", 12));
    EXPECT_FALSE(file.controlText("Export_Dlg", -1));
    EXPECT_EQ(file.controlText("Unknown_Dlg", 1).value_or(""), "OK");
    EXPECT_EQ(file.dialogTitle("export_dlg").value_or(""), "Exportieren");
    EXPECT_FALSE(file.dialogTitle("Merge_Dlg"));
}

TEST(LanguageFile, MenusUseCommandIdsAndPopupsTheirFirstItemWithP)
{
    const auto file = LanguageFile::parse("[Menu]\n57600p=&Datei\n57600=&Neue Datenbank\n224=Englisch\n");
    EXPECT_EQ(file.popupText(57600).value_or(""), "&Datei");
    EXPECT_EQ(file.menuText(57600).value_or(""), "&Neue Datenbank");
    EXPECT_EQ(file.menuText(224).value_or(""), "Englisch");
    EXPECT_FALSE(file.popupText(224));
}

TEST(LanguageFile, ReadsKeysAsWindowsDoes)
{
    const auto file = LanguageFile::parse("; a comment\n"
                                          "[INFO]\n  LANGUAGE = Deutsch  \nVersion=1.0\nCodepage=1252\n"
                                          "[String]\n57344=Erste\n57344=Zweite\n"
                                          "61204=\"  Mit Leerzeichen  \"\n"
                                          "61206=Text ; mit Semikolon\n"
                                          "#61207=kein Kommentar\n");
    EXPECT_EQ(file.displayName(), "Deutsch");
    EXPECT_EQ(file.version(), "1.0");
    EXPECT_EQ(file.codePage(), 1252u);
    EXPECT_EQ(file.string(57344).value_or(""), "Erste");
    EXPECT_EQ(file.string(61204).value_or(""), "  Mit Leerzeichen  ");
    // ";" inside a value belongs to it.
    EXPECT_EQ(file.string(61206).value_or(""), "Text ; mit Semikolon");
    EXPECT_EQ(file.value("String", "#61207").value_or(""), "kein Kommentar");
}

TEST(LanguageFile, DecodesTheCodePageTheFileNames)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        // "Привет" in Windows-1251.
        {"cp1251", "[Info]\nLanguage=Russian\nCodepage=1251\n[String]\n1=\xCF\xF0\xE8\xE2\xE5\xF2\n",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        // "Größe" in Windows-1252.
        {"cp1252",
         "[Info]\nLanguage=Deutsch\nCodepage=1252\n[String]\n1=Gr\xF6\xDF"
         "e\n",
         "Gr\xC3\xB6\xC3\x9F"
         "e"},
        // "中文" in GBK, whose second bytes may look like "\" or "]".
        {"cp936", "[Info]\nLanguage=Chinese\nCodepage=936\n[String]\n1=\xD6\xD0\xCE\xC4\n", "\xE4\xB8\xAD\xE6\x96\x87"},
        // Valid UTF-8 is taken as it is, whatever code page the file claims.
        {"utf8 wins", "[Info]\nLanguage=Russian\nCodepage=1251\n[String]\n1=\xD0\x9F\n", "\xD0\x9F"},
        // Without a usable code page: Windows-1252.
        {"no codepage", "[Info]\nLanguage=X\n[String]\n1=caf\xE9\n", "caf\xC3\xA9"},
        {"unknown codepage", "[Info]\nLanguage=X\nCodepage=99999\n[String]\n1=caf\xE9\n", "caf\xC3\xA9"},
        // A lead byte with nothing after it is lost, not the rest.
        {"cut sequence", "[Info]\nLanguage=X\nCodepage=932\n[String]\n2=ok\n1=a\x82", "a\xEF\xBF\xBD"},
        {"bom", "\xEF\xBB\xBF[String]\n1=mit BOM\n", "mit BOM"},
    };
    for (const Case& each : cases) {
        const auto file = LanguageFile::parse(each.bytes);
        EXPECT_EQ(file.string(1).value_or("<missing>"), each.expected) << each.name;
    }
    EXPECT_EQ(LanguageFile::parse(cases[6].bytes).string(2).value_or(""), "ok");
}

TEST(LanguageFile, DecodeCodePageRefusesUnknownPages)
{
    EXPECT_FALSE(decodeCodePage("abc", 4242));
    EXPECT_EQ(decodeCodePage("\x80", 1252).value_or(""), "\xE2\x82\xAC");
}

TEST(LanguageFile, BadFilesAreReadAsFarAsTheyAreSound)
{
    // Random bytes: no crash, whatever they give.
    std::mt19937 random(20261209);
    std::string noise(256 * 1024, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    const auto binary = LanguageFile::parse(noise);
    EXPECT_TRUE(binary.displayName().empty() || binary.keyCount() > 0);

    // A line longer than a line may be is cut, and its rest does not come back
    // as a key of its own; the lines after it still count.
    std::string longLine = "[String]\n1=" + std::string(kMaxLanguageLineBytes * 2, 'a') + "2=hidden\n3=after\n";
    const auto cut = LanguageFile::parse(longLine);
    EXPECT_FALSE(cut.string(2));
    EXPECT_EQ(cut.string(3).value_or(""), "after");
    EXPECT_GT(cut.string(1).value_or("").size(), 1000u);

    // Ids no lookup can ask for, broken lines and sections are passed over.
    const auto odd = LanguageFile::parse("[String\n99999999999999999999=huge\n-5=negative\n=no key\nno value line\n"
                                         "[String]\n\x00\x01=ctrl\n7=fine\n[]\n8=in empty section\n"
                                         "[String]\n9=\\"s);
    EXPECT_EQ(odd.string(7).value_or(""), "fine");
    EXPECT_EQ(odd.string(9).value_or(""), "\\");
    EXPECT_FALSE(odd.string(8));
    EXPECT_FALSE(odd.string(UINT32_MAX));

    // Only the first part of a huge file is read.
    std::string huge = "[Info]\nLanguage=Gross\n[String]\n1=first\n";
    while (huge.size() < kMaxLanguageFileBytes)
        huge += "5=filler filler filler filler filler filler\n";
    huge += "2=beyond the limit\n";
    const auto big = LanguageFile::parse(huge);
    EXPECT_EQ(big.displayName(), "Gross");
    EXPECT_EQ(big.string(1).value_or(""), "first");
    EXPECT_FALSE(big.string(2));

    // Without "Info" the file still parses; it is the listing that skips it.
    const auto noInfo = LanguageFile::parse("[String]\n1=eins\n");
    EXPECT_TRUE(noInfo.displayName().empty());
    EXPECT_EQ(noInfo.string(1).value_or(""), "eins");
}

TEST(LanguageFile, KeysOutsideANamedSectionAreLeftOut)
{
    const auto file = LanguageFile::parse("1002=before any section\n"
                                          "[Filter_Dlg]\n1002=Nur &zeigen...\n"
                                          "[]\n1003=under an empty name\n"
                                          "[ ]\n1004=under a blank name\n"
                                          "[Filter_Dlg]\n1003=Alle &au\xC3\x9F"
                                          "er...\n");
    EXPECT_EQ(file.controlText("Filter_Dlg", 1002).value_or(""), "Nur &zeigen...");
    // The section goes on after a stray one.
    EXPECT_EQ(file.controlText("Filter_Dlg", 1003).value_or(""),
              "Alle &au\xC3\x9F"
              "er...");
    for (const char* key : {"1002", "1003", "1004"})
        EXPECT_FALSE(file.value("", key)) << key;
    EXPECT_EQ(file.keyCount(), 2u);
}

TEST(LanguageFile, LoadFailsOnlyForAFileThatCannotBeOpened)
{
    EXPECT_FALSE(LanguageFile::load("/nonexistent/kxdeu.ini"));
    const auto folder = LanguageFile::load("/");
    // A folder opens but reads nothing.
    EXPECT_TRUE(!folder || folder->empty());
}

}  // namespace
}  // namespace fetchora
