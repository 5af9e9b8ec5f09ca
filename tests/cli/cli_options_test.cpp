#include "cli/cli_options.h"

#include <gtest/gtest.h>

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
    CliOptions options = parsed({"-d", "/tmp/x", "-s", "8", "-o", "name.bin", "--referer", "http://r/",
                                 "--limit", "20000", "-q", "-v", "http://127.0.0.1/a"});
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

}  // namespace
}  // namespace fetchora
