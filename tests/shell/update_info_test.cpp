// The update information file, the version comparison and the pack list.
#include "shell/update_info.h"

#include <fstream>

#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using test::TempDir;

TEST(UpdateVersionTest, VersionsCompareAsTextsWithoutRegardToCase)
{
    const std::vector<std::pair<std::string, bool>> cases = {
        {"1.7", true}, {"1.100", false}, {"1.65", false}, {"1.66", true},  {"1.650", true}, {"1.6", false},
        {"2", true},   {"10.0", true},   {"1.65a", true}, {"1.65A", true}, {"0.99", false}, {"", false},
    };
    for (const auto& [offered, newer] : cases)
        EXPECT_EQ(IsNewerVersion(offered), newer) << offered;
    EXPECT_FALSE(IsNewerVersion("1.65B", "1.65b")) << "case is ignored";
    EXPECT_TRUE(IsNewerVersion("1.65c", "1.65B"));
}

TEST(UpdateInfoTest, VersionAndLanguageLinesAreRead)
{
    const UpdateInfo info = ParseUpdateInfo("[info]\r\nversion = 1.7\r\nVersion=9.9\r\n"
                                            "[Lang]\r\nkxdeu=0.9,Deutsch\r\nkxfra = 1.0 , Fran\xc3\xa7"
                                            "ais\r\n"
                                            "kxdeu=2.0,Twice\r\nnocomma=1.0\r\n../etc=1.0,Escape\r\n");
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(info.version, "1.7") << "the first occurrence wins";
    ASSERT_EQ(info.languages.size(), 2u);
    EXPECT_EQ(info.languages[0].baseName, "kxdeu");
    EXPECT_EQ(info.languages[0].latestVersion, "0.9");
    EXPECT_EQ(info.languages[0].displayName, "Deutsch");
    EXPECT_EQ(info.languages[1].baseName, "kxfra");
    EXPECT_EQ(info.languages[1].latestVersion, "1.0");
    EXPECT_EQ(info.languages[1].displayName,
              "Fran\xc3\xa7"
              "ais");

    EXPECT_EQ(ParseUpdateInfo("[Info]\nVersion=12345678901234567890123\n").version, "1234567890123456789");
}

TEST(UpdateInfoTest, HostileOrIncompleteFilesAreRefused)
{
    std::string manyLines = "[Info]\nVersion=1.7\n[Lang]\n";
    for (int i = 0; i < 10000; ++i)
        manyLines += "a=b\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {manyLines, "lines"},
        {std::string("[Info]\nVersion=1.7\n\x01\x02\xff\x00junk", 20), "binary"},
        {"[Info]\nTranslator=x\n[Lang]\nkxdeu=0.9,Deutsch\n", "Version"},
        {"[Lang]\nkxdeu=0.9,Deutsch\n", "Version"},
        {"[Info]\nVersion=\n", "Version"},
        {"", "Version"},
        {"[Info]\nVersion=1.0" + std::string(300, ' ') + "\n", "longer"},
        {std::string(kUpdateFileLimit + 1, 'x'), "larger"},
    };
    for (const auto& [text, why] : cases) {
        const UpdateInfo info = ParseUpdateInfo(text);
        EXPECT_FALSE(info.ok) << why;
        EXPECT_NE(info.error.find(why), std::string::npos) << info.error;
        EXPECT_TRUE(info.languages.empty());
    }
}

TEST(UpdateInfoTest, PackRowsListOffersWhoseInstalledVersionDiffers)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "profile");
    std::filesystem::create_directories(dir / "shipped");
    test::writeFile(dir / "profile" / "kxdeu.ini", "[Info]\nLanguage=Deutsch\nVersion=0.9\n");
    test::writeFile(dir / "shipped" / "kxdeu.ini", "[Info]\nLanguage=Deutsch\nVersion=0.1\n");
    test::writeFile(dir / "shipped" / "kxfra.ini", "[Info]\nLanguage=Francais\nVersion=1.0B\n");
    test::writeFile(dir / "shipped" / "kxita.ini", "[Info]\nLanguage=Italiano\nVersion=0.5\n");
    const UpdateInfo info = ParseUpdateInfo("[Info]\nVersion=1.0\n[Lang]\nkxdeu=0.9,Deutsch\nkxfra=1.0b,"
                                            "Francais\nkxita=0.6,Italiano\nkxjpn=1.0,Japanese\n");
    ASSERT_TRUE(info.ok);
    const std::vector<LanguagePackRow> rows = LanguagePackRows(info, {dir / "profile", dir / "shipped"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].displayName, "Italiano");
    EXPECT_EQ(rows[0].installedVersion, "0.5");
    EXPECT_EQ(rows[0].latestVersion, "0.6");
    EXPECT_EQ(rows[0].baseName, "kxita");
    EXPECT_EQ(rows[1].displayName, "Japanese");
    EXPECT_EQ(rows[1].installedVersion, "") << "not installed";
}

TEST(UpdateEndpointsTest, AddressesLieUnderTheConfiguredFolder)
{
    EXPECT_FALSE(UpdateEndpointsFor("", false));
    EXPECT_FALSE(UpdateEndpointsFor("   ", false));
    EXPECT_FALSE(UpdateEndpointsFor("ftp://127.0.0.1/up/", false));
    EXPECT_FALSE(UpdateEndpointsFor("not a url", false));
    const std::optional<UpdateEndpoints> endpoints = UpdateEndpointsFor(" http://127.0.0.1:8080/up ", false);
    ASSERT_TRUE(endpoints);
    EXPECT_EQ(endpoints->updateFile, "http://127.0.0.1:8080/up/qvupdate.ini");
    EXPECT_EQ(LanguagePackUrl(*endpoints, "kxdeu"), "http://127.0.0.1:8080/up/language/kxdeu.ini");
    EXPECT_EQ(endpoints->downloadPage, "http://127.0.0.1:8080/up/download.html");
    EXPECT_EQ(UpdateEndpointsFor("https://127.0.0.1/", true)->downloadPage, "https://127.0.0.1/download-zh_CN.html");

    EXPECT_TRUE(PrefersSimplifiedChinese("", "", "zh_CN.UTF-8"));
    EXPECT_FALSE(PrefersSimplifiedChinese("de_DE.UTF-8", "", "zh_CN.UTF-8")) << "LC_ALL first";
    EXPECT_FALSE(PrefersSimplifiedChinese("", "", "zh_TW.UTF-8"));
    EXPECT_FALSE(PrefersSimplifiedChinese("", "", ""));
}

TEST(LanguagePackInstallTest, APackReplacesTheOldFileAndJunkIsNotInstalled)
{
    TempDir dir;
    const std::filesystem::path folder = dir / "profile" / "language";
    test::writeFile(dir / "new.ini", "[Info]\nLanguage=Deutsch\nVersion=1.0\n[String]\n61204=Herunterladen\n");
    test::writeFile(dir / "page.ini", "<html><body>Not Found</body></html>\n");
    test::writeFile(dir / "binary.ini", std::string("[Info]\nLanguage=X\n\0\1\2", 22));

    EXPECT_EQ(InstallLanguagePack(dir / "new.ini", folder, "kxdeu"), "");
    EXPECT_EQ(LanguageFileVersion(folder / "kxdeu.ini"), "1.0");
    test::writeFile(dir / "newer.ini", "[Info]\nLanguage=Deutsch\nVersion=1.1\n");
    EXPECT_EQ(InstallLanguagePack(dir / "newer.ini", folder, "kxdeu"), "");
    EXPECT_EQ(LanguageFileVersion(folder / "kxdeu.ini"), "1.1");

    EXPECT_NE(InstallLanguagePack(dir / "page.ini", folder, "kxdeu"), "");
    EXPECT_NE(InstallLanguagePack(dir / "binary.ini", folder, "kxdeu"), "");
    EXPECT_NE(InstallLanguagePack(dir / "new.ini", folder, "../kxdeu"), "");
    EXPECT_NE(InstallLanguagePack(dir / "missing.ini", folder, "kxdeu"), "");
    EXPECT_NE(InstallLanguagePack(dir / "new.ini", "", "kxdeu"), "");
    EXPECT_EQ(LanguageFileVersion(folder / "kxdeu.ini"), "1.1") << "a refused pack leaves the old file";
    EXPECT_FALSE(std::filesystem::exists(dir / "profile" / "kxdeu.ini"));
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++files;
    EXPECT_EQ(files, 1u) << "no temporary file is left behind";
}

}  // namespace
}  // namespace fetchora
