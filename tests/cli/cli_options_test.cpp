#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <fstream>

#include "lang/string_table.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

CliOptions parsed(std::vector<std::string> arguments)
{
    CliParse parse = parseCliArguments(arguments);
    EXPECT_TRUE(parse.options) << parse.error;
    return parse.options.value_or(CliOptions{});
}

TEST(CliOptions, DownloadModeTakesEveryOptionOfTheContract)
{
    CliOptions options = parsed({"-d", "/tmp/x", "-s", "8", "-o", "name.bin", "--referer", "http://r/", "--limit",
                                 "20000", "-q", "-v", "http://127.0.0.1/a"});
    EXPECT_EQ(options.mode, CliMode::Download);
    EXPECT_EQ(options.folder, "/tmp/x");
    EXPECT_EQ(options.split, 8);
    EXPECT_EQ(options.outputName, "name.bin");
    EXPECT_EQ(options.referer, "http://r/");
    EXPECT_EQ(options.limit, 20000u);
    EXPECT_TRUE(options.quiet);
    EXPECT_TRUE(options.verbose);
    EXPECT_EQ(options.urls, std::vector<std::string>{"http://127.0.0.1/a"});
}

TEST(CliOptions, OtherModes)
{
    EXPECT_EQ(parsed({"--db", "a.kxd", "list"}).database, "a.kxd");
    EXPECT_EQ(parsed({"--db", "a.kxd", "list"}).mode, CliMode::ListDatabase);
    EXPECT_EQ(parsed({"--daemon"}).mode, CliMode::Daemon);
    EXPECT_EQ(parsed({"--send", "http://h/f", "http://ref/"}).urls.size(), 2u);
    EXPECT_EQ(parsed({"--info", "3"}).infoItem, 3);
    EXPECT_EQ(parsed({"--", "-strange-url"}).urls, std::vector<std::string>{"-strange-url"});
}

TEST(CliOptions, BadArgumentsAreRefusedWithAReason)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"-s", "0", "http://h/"},
        {"-s", "eight", "http://h/"},
        {"-s"},
        {"--limit", "-5", "http://h/"},
        {"--limit", "0", "http://h/"},
        {"-o", "x", "http://h/1", "http://h/2"},
        {"--db", "a.kxd"},
        {"--db", "a.kxd", "drop"},
        {"--send"},
        {"--info", "x"},
        {"--daemon", "http://h/"},
        {"--bogus", "http://h/"},
    };
    for (const auto& arguments : bad) {
        CliParse parse = parseCliArguments(arguments);
        EXPECT_FALSE(parse.options) << testing::PrintToString(arguments);
        EXPECT_FALSE(parse.error.empty());
    }
}

TEST(CliOptions, RunOptionsTakeTheirValuesInBothSpellings)
{
    CliOptions options = parsed({"-x", "socks5://u:p@127.0.0.1:1080", "--ca-file", "/tmp/ca.pem", "--retry", "0",
                                 "--timeout", "30", "http://127.0.0.1/a"});
    ASSERT_TRUE(options.proxy);
    EXPECT_EQ(options.proxy->type, kProxySocks5);
    EXPECT_EQ(options.proxy->password, "p");
    EXPECT_EQ(options.caFile, "/tmp/ca.pem");
    EXPECT_EQ(options.retries, 0);
    EXPECT_EQ(options.timeout, 30);

    options = parsed(
        {"--proxy=http://127.0.0.1:3128", "--retry=9999", "--timeout=600", "--dir=/tmp/y", "http://127.0.0.1/a"});
    ASSERT_TRUE(options.proxy);
    EXPECT_EQ(options.proxy->type, kProxyHttpGet);
    EXPECT_EQ(options.proxy->port, 3128);
    EXPECT_EQ(options.retries, 9999);
    EXPECT_EQ(options.timeout, 600);
    EXPECT_EQ(options.folder, "/tmp/y");

    // Without the options nothing of the settings is replaced.
    options = parsed({"http://127.0.0.1/a"});
    EXPECT_FALSE(options.proxy);
    EXPECT_FALSE(options.retries);
    EXPECT_FALSE(options.timeout);
    EXPECT_TRUE(options.caFile.empty());
    EXPECT_TRUE(options.folder.empty());

    EXPECT_EQ(parsed({"--version"}).mode, CliMode::Version);
    EXPECT_EQ(parsed({"-h"}).mode, CliMode::Help);
}

TEST(CliOptions, RunOptionsOutOfRangeOrOutsideADownloadRunAreRefused)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--retry", "-1", "http://h/"},
        {"--retry", "10000", "http://h/"},
        {"--retry", "two", "http://h/"},
        {"--retry", "", "http://h/"},
        {"--retry"},
        {"--timeout", "29", "http://h/"},
        {"--timeout", "601", "http://h/"},
        {"--timeout", "5s", "http://h/"},
        {"--timeout=", "http://h/"},
        {"-x", "127.0.0.1:3128", "http://h/"},
        {"-x", "socks5://h:99999", "http://h/"},
        {"-x"},
        {"--ca-file", "", "http://h/"},
        {"--quiet=yes", "http://h/"},
        {"--version", "http://h/"},
        {"-x", "http://127.0.0.1:3128", "--daemon"},
        {"--retry", "3", "--send", "http://h/"},
        {"--timeout", "30", "--info", "0"},
        {"--ca-file", "/tmp/ca.pem", "--db", "a.kxd", "list"},
    };
    for (const auto& arguments : bad) {
        CliParse parse = parseCliArguments(arguments);
        EXPECT_FALSE(parse.options) << testing::PrintToString(arguments);
        EXPECT_FALSE(parse.error.empty()) << testing::PrintToString(arguments);
    }
}

// Whether a line of the help names the option as a word of its own.
bool namesOption(const std::string& line, const std::string& name)
{
    for (size_t at = line.find(name); at != std::string::npos; at = line.find(name, at + 1)) {
        const size_t end = at + name.size();
        if ((at == 0 || line[at - 1] == ' ' || line[at - 1] == '[')
            && (end == line.size() || line[end] == ' ' || line[end] == ',' || line[end] == ']'))
            return true;
    }
    return false;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t begin = 0; begin < text.size();) {
        size_t end = text.find('\n', begin);
        end = end == std::string::npos ? text.size() : end;
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return lines;
}

// The options users and scripts rely on, written out here so that one the
// parser drops or one --help forgets is caught.
TEST(CliOptions, HelpDescribesEveryOptionTheParserAccepts)
{
    const std::vector<std::string> help = linesOf(cliHelp());
    auto describedLine = [&](const std::string& name) {
        return std::find_if(help.begin(), help.end(), [&](const std::string& line) {
            const size_t first = line.find_first_not_of(' ');
            return first >= 2 && first != std::string::npos && line[first] == '-' && namesOption(line, name);
        });
    };
    const std::vector<std::string> contract
        = {"-d", "--dir", "-s", "--split", "-o", "--output", "--referer", "--mirror", "--limit", "-q", "--quiet", "-v",
           "--verbose", "-i", "--input-file", "--db", "--daemon", "--send", "--info", "-x", "--proxy", "--ca-file",
           "--retry", "--timeout", "--version", "-h", "--help",
           // The job list modes.
           "--batch", "--import-list", "--export-list", "--export-html", "--category", "--install-browser-hosts",
           "--uninstall-browser-hosts", "--system", "--lang"};
    for (const std::string& name : contract) {
        SCOPED_TRACE(name);
        EXPECT_NE(describedLine(name), help.end());
        CliParse parse = parseCliArguments({name, "1", "http://h/"});
        EXPECT_EQ(parse.error.find("unknown option"), std::string::npos) << parse.error;
    }

    size_t names = 0;
    for (const CliOptionSpec& spec : cliOptionSpecs()) {
        for (std::string_view name : {spec.shortName, spec.longName}) {
            if (name.empty())
                continue;
            SCOPED_TRACE(std::string(name));
            ++names;
            CliParse parse = parseCliArguments({std::string(name), "1", "http://h/"});
            EXPECT_EQ(parse.error.find("unknown option"), std::string::npos) << parse.error;
            // One line names it and says what it does.
            auto line = describedLine(std::string(name));
            ASSERT_NE(line, help.end());
            const std::string_view description = builtinString(spec.description);
            EXPECT_NE(line->find(description), std::string::npos) << *line;
            EXPECT_GE(description.size(), 10u);
        }
    }
    EXPECT_EQ(names, contract.size());
    EXPECT_FALSE(parseCliArguments({"--no-such-option", "http://h/"}).options);
}

TEST(CliOptions, TheBrowserHostCommandsTakeOnlyTheSystemSwitch)
{
    CliParse user = parseCliArguments({"--install-browser-hosts"});
    ASSERT_TRUE(user.options) << user.error;
    EXPECT_EQ(user.options->mode, CliMode::InstallBrowserHosts);
    EXPECT_FALSE(user.options->systemWide);
    CliParse system = parseCliArguments({"--uninstall-browser-hosts", "--system"});
    ASSERT_TRUE(system.options) << system.error;
    EXPECT_EQ(system.options->mode, CliMode::UninstallBrowserHosts);
    EXPECT_TRUE(system.options->systemWide);
    EXPECT_NE(parseCliArguments({"--system", "http://h/"}).error.find("--system goes with"), std::string::npos);
    EXPECT_NE(parseCliArguments({"--install-browser-hosts", "http://h/"}).error.find("unexpected argument"),
              std::string::npos);
}

TEST(CliOptions, VersionIsTheProjectVersion)
{
    EXPECT_EQ(cliVersion(), std::string("fetchora-cli ") + FETCHORA_PROJECT_VERSION + "\n");
}

TEST(CliOptions, CaFileMustBeAReadablePemFile)
{
    test::TempDir dir;
    CliOptions options = parsed({"http://h/"});
    EXPECT_EQ(checkCaFile(options), "");

    options.caFile = (dir / "missing.pem").string();
    EXPECT_NE(checkCaFile(options).find("no such file"), std::string::npos);
    options.caFile = dir.path().string();
    EXPECT_NE(checkCaFile(options), "");
    options.caFile = (dir / "not-pem.txt").string();
    std::ofstream(options.caFile) << "this is no certificate\n";
    EXPECT_NE(checkCaFile(options), "");
}

}  // namespace
}  // namespace fetchora

namespace fetchora {
namespace {

TEST(CliOptions, MirrorIsRepeatableForOneUrlAndTakesOnlyDownloadableUrls)
{
    CliOptions options = parsed({"--mirror", "http://127.0.0.2/f.iso", "--mirror=ftp://127.0.0.3/pub/f.iso", "--mirror",
                                 "https://127.0.0.4/f.iso", "http://127.0.0.1/f.iso"});
    EXPECT_EQ(
        options.mirrors,
        (std::vector<std::string>{"http://127.0.0.2/f.iso", "ftp://127.0.0.3/pub/f.iso", "https://127.0.0.4/f.iso"}));
    EXPECT_EQ(options.urls, std::vector<std::string>{"http://127.0.0.1/f.iso"});
    const std::vector<std::vector<std::string>> bad = {
        {"--mirror", "http://127.0.0.2/a", "http://127.0.0.1/a", "http://127.0.0.1/b"},
        {"--mirror", "mms://127.0.0.2/a", "http://127.0.0.1/a"},
        {"--mirror", "not a url", "http://127.0.0.1/a"},
        {"--mirror"},
        {"--mirror", "http://127.0.0.2/a", "--daemon"},
    };
    for (const auto& arguments : bad) {
        CliParse parse = parseCliArguments(arguments);
        EXPECT_FALSE(parse.options) << testing::PrintToString(arguments);
        EXPECT_FALSE(parse.error.empty());
    }
    EXPECT_NE(cliHelp().find("--mirror URL"), std::string::npos);
}

}  // namespace
}  // namespace fetchora
