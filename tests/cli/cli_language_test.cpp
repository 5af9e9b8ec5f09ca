// --lang: the command line's messages come from the chosen translation in
// the profile's language folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "support/cli_process.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

TEST(CliLanguage, MessagesFollowTheChosenTranslation)
{
    test::TempDir dir;
    std::filesystem::create_directories(dir / "home" / "language");
    test::writeFile(dir / "home" / "language" / "kxdeu.ini",
                    "[Info]\nLanguage=Deutsch\nCodepage=1252\n[String]\n61355=Enth\xE4lt keine g\xFCltige URL!\n");
    test::writeFile(dir / "empty.lst", "nothing here\n");
    const std::map<std::string, std::string> environment{
        {"FETCHORA_HOME", (dir / "home").string()}, {"HOME", dir.path().string()}, {"TMPDIR", dir.path().string()}};
    std::string errors;
    EXPECT_EQ(test::runCli({"--lang", "de", "-i", (dir / "empty.lst").string()}, environment, dir.path(), &errors), 2);
    // Windows-1252 in the file, UTF-8 on the terminal.
    EXPECT_NE(errors.find("Enth\xC3\xA4lt keine g\xC3\xBCltige URL!"), std::string::npos) << errors;

    errors.clear();
    EXPECT_EQ(test::runCli({"-i", (dir / "empty.lst").string()}, environment, dir.path(), &errors), 2);
    EXPECT_NE(errors.find("Doesn't include valid URL(s)!"), std::string::npos) << errors;

    errors.clear();
    EXPECT_EQ(test::runCli({"--lang", "fra", "-i", (dir / "empty.lst").string()}, environment, dir.path(), &errors), 2);
    EXPECT_NE(errors.find("no translation for the language fra"), std::string::npos) << errors;

    EXPECT_FALSE(parseCliArguments({"--lang"}).options);
    EXPECT_EQ(parseCliArguments({"--lang=deu", "http://127.0.0.1/"}).options->language, "deu");
}

// The texts the command line shares with the window come from the same table.
TEST(CliLanguage, MessagesSharedWithTheWindowFollowTheTranslation)
{
    test::TempDir dir;
    std::filesystem::create_directories(dir / "home" / "language");
    std::filesystem::create_directories(dir / "out");
    test::writeFile(dir / "home" / "language" / "kxdeu.ini",
                    "[Info]\nLanguage=Deutsch\nCodepage=1252\n[String]\n40807=HTTPS ist nicht verf\xFCgbar: %1\n");
    const std::map<std::string, std::string> environment{{"FETCHORA_HOME", (dir / "home").string()},
                                                         {"HOME", dir.path().string()},
                                                         {"TMPDIR", dir.path().string()},
                                                         {"FETCHORA_EXTRA_CA_FILE", (dir / "missing.pem").string()}};
    const std::vector<std::string> download{
        "--retry", "0", "-q", "-d", (dir / "out").string(), "http://127.0.0.1:9/a.bin"};
    std::string errors;
    std::vector<std::string> german{"--lang", "deu"};
    german.insert(german.end(), download.begin(), download.end());
    test::runCli(german, environment, dir.path(), &errors);
    EXPECT_NE(errors.find("HTTPS ist nicht verf\xC3\xBCgbar: "), std::string::npos) << errors;
    EXPECT_NE(errors.find("missing.pem"), std::string::npos) << errors;

    errors.clear();
    test::runCli(download, environment, dir.path(), &errors);
    EXPECT_NE(errors.find("HTTPS is unavailable: "), std::string::npos) << errors;
}

}  // namespace
}  // namespace fetchora
