#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

TEST(CliUrlList, DashIAddsTheListsValidUrlsAfterTheCommandLineOnes)
{
    test::TempDir dir;
    test::writeFile(dir / "in.lst", "http://127.0.0.1/b\r\njunk\r\n\r\nftp://127.0.0.1/c\n");
    CliParse parse = parseCliArguments({"-i", (dir / "in.lst").string(), "http://127.0.0.1/a"});
    ASSERT_TRUE(parse.options) << parse.error;
    EXPECT_EQ(addUrlsFromList(*parse.options), "");
    EXPECT_EQ(parse.options->urls,
              (std::vector<std::string>{"http://127.0.0.1/a", "http://127.0.0.1/b", "ftp://127.0.0.1/c"}));

    parse = parseCliArguments({"--input-file", (dir / "in.lst").string()});
    ASSERT_TRUE(parse.options) << parse.error;
    EXPECT_EQ(addUrlsFromList(*parse.options), "");
    EXPECT_EQ(parse.options->urls.size(), 2u);
}

TEST(CliUrlList, BadListsAndMisplacedOptionsAreRefused)
{
    test::TempDir dir;
    test::writeFile(dir / "empty.lst", "nothing here\r\n");
    test::writeFile(dir / "two.lst", "http://127.0.0.1/1\r\nhttp://127.0.0.1/2\r\n");

    CliParse parse = parseCliArguments({"-i", (dir / "empty.lst").string()});
    ASSERT_TRUE(parse.options);
    EXPECT_NE(addUrlsFromList(*parse.options).find("Doesn't include valid URL(s)!"), std::string::npos);

    parse = parseCliArguments({"-i", (dir / "missing.lst").string()});
    ASSERT_TRUE(parse.options);
    EXPECT_NE(addUrlsFromList(*parse.options).find("missing.lst"), std::string::npos);

    parse = parseCliArguments({"-o", "x.bin", "-i", (dir / "two.lst").string()});
    ASSERT_TRUE(parse.options);
    EXPECT_NE(addUrlsFromList(*parse.options).find("-o names one file"), std::string::npos);

    EXPECT_FALSE(parseCliArguments({"-i"}).options);
    EXPECT_FALSE(parseCliArguments({"--daemon", "-i", "x.lst"}).options);
    EXPECT_FALSE(parseCliArguments({"--send", "http://127.0.0.1/", "-i", "x.lst"}).options);
}

}  // namespace
}  // namespace fetchora
