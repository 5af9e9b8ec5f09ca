// The virus scanner's argv: when there is one, the argument words and the
// file path kept whole.
#include "shell/virus_scan.h"

#include "config/app_settings.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using Argv = std::vector<std::string>;

TEST(SplitArgumentWords, BlanksSeparateAndDoubleQuotesGroup)
{
    const std::pair<const char*, Argv> cases[] = {
        {"", {}},
        {"   \t ", {}},
        {"-r --quiet", {"-r", "--quiet"}},
        {"  -r \t --quiet  ", {"-r", "--quiet"}},
        {"--log \"/var/log/scan results.txt\" -v", {"--log", "/var/log/scan results.txt", "-v"}},
        {"--name=\"a b\"c", {"--name=a bc"}},
        {"\"\" x", {"", "x"}},
        {"\"open quote runs on", {"open quote runs on"}},
        {"C:\\path\\x", {"C:\\path\\x"}},
    };
    for (const auto& [text, words] : cases)
        EXPECT_EQ(splitArgumentWords(text), words) << text;
}

TEST(VirusScanCommand, ScannerThenArgumentsThenTheWholePath)
{
    const VirusScanSettings settings{"/usr/bin/clamscan", "--no-summary \"--log=/tmp/a b.log\"", ".ZIP;.EXE"};
    const std::string file = "/home/me/Down loads/it's \"odd\" $(x).zip";
    const Argv expected{"/usr/bin/clamscan", "--no-summary", "--log=/tmp/a b.log", file};
    EXPECT_EQ(virusScanCommand(settings, file, VirusScanTrigger::AfterDownload), expected);
    EXPECT_EQ(virusScanCommand(settings, file, VirusScanTrigger::Command), expected);
    const VirusScanSettings noArguments{"/opt/scanner bin/scan", "", ""};
    EXPECT_EQ(virusScanCommand(noArguments, "/d/f.bin", VirusScanTrigger::Command),
              (Argv{"/opt/scanner bin/scan", "/d/f.bin"}));
}

TEST(VirusScanCommand, NothingRunsWithoutAScanner)
{
    const VirusScanSettings settings{"", "-r", ""};
    EXPECT_TRUE(virusScanCommand(settings, "/d/a.zip", VirusScanTrigger::AfterDownload).empty());
    EXPECT_TRUE(virusScanCommand(settings, "/d/a.zip", VirusScanTrigger::Command).empty());
}

TEST(VirusScanCommand, AfterADownloadOnlyListedTypesAreScanned)
{
    VirusScanSettings settings{"/usr/bin/scan", "", ".ZIP;.DO?;.R[0-9][0-9]"};
    const std::pair<const char*, bool> cases[] = {
        {"/d/a.zip", true},      {"/d/A.ZIP", true},     {"/d/letter.doc", true}, {"/d/part.r07", true},
        {"/d/a.zip.txt", false}, {"/d/song.mp3", false}, {"/d/README", false},    {"/d/zip", false},
    };
    for (const auto& [file, scanned] : cases) {
        EXPECT_EQ(!virusScanCommand(settings, file, VirusScanTrigger::AfterDownload).empty(), scanned) << file;
        // The user's own command scans whatever the type.
        EXPECT_FALSE(virusScanCommand(settings, file, VirusScanTrigger::Command).empty()) << file;
    }
    settings.types.clear();
    EXPECT_FALSE(virusScanCommand(settings, "/d/song.mp3", VirusScanTrigger::AfterDownload).empty());
}

TEST(VirusScanCommand, TheSettingsComeFromTheirOptions)
{
    Registry registry;
    AppSettings app(registry, {"/opt/fetchora/bin/fetchora", "/opt/fetchora/share", "/tmp/dl", "/tmp/t", "C"});
    app.LoadSettings();
    EXPECT_TRUE(virusScanCommand(virusScanSettings(app), "/d/a.zip", VirusScanTrigger::Command).empty());
    app.SetOptionText(OptionId::VirusScanner, "/usr/bin/clamscan");
    app.SetOptionText(OptionId::VirusScannerArgs, "-i");
    const VirusScanSettings settings = virusScanSettings(app);
    EXPECT_EQ(settings.scanner, "/usr/bin/clamscan");
    EXPECT_EQ(settings.arguments, "-i");
    // The default list holds .ZIP but not .MP3.
    EXPECT_EQ(virusScanCommand(settings, "/d/a.zip", VirusScanTrigger::AfterDownload),
              (Argv{"/usr/bin/clamscan", "-i", "/d/a.zip"}));
    EXPECT_TRUE(virusScanCommand(settings, "/d/a.mp3", VirusScanTrigger::AfterDownload).empty());
}

}  // namespace
}  // namespace fetchora
