// The command line of the list modes and of --batch.
#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "lang/string_table.h"
#include "lists/file_error.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

TEST(CliListOptions, ListModesTakeTheirFileAndCategory)
{
    CliParse parse = parseCliArguments({"--import-list", "in.lst", "--category", "Music"});
    ASSERT_TRUE(parse.options) << parse.error;
    EXPECT_EQ(parse.options->mode, CliMode::ImportList);
    EXPECT_EQ(parse.options->listFile, "in.lst");
    EXPECT_EQ(parse.options->category, "Music");

    parse = parseCliArguments({"--export-list=out.lst"});
    ASSERT_TRUE(parse.options) << parse.error;
    EXPECT_EQ(parse.options->mode, CliMode::ExportList);
    EXPECT_EQ(parse.options->category, "");

    parse = parseCliArguments({"--export-html", "out.htm", "plain.kxs"});
    ASSERT_TRUE(parse.options) << parse.error;
    EXPECT_EQ(parse.options->mode, CliMode::ExportHtml);
    EXPECT_EQ(parse.options->listFile, "out.htm");
    EXPECT_EQ(parse.options->exportTemplate, "plain.kxs");
    EXPECT_TRUE(parse.options->urls.empty());

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--import-list"},
             {"--import-list", ""},
             {"--import-list", "a.lst", "http://127.0.0.1/x"},
             {"--import-list", "a.lst", "--export-list", "b.lst"},
             {"--export-html", "a.htm", "t1.kxs", "t2.kxs"},
             {"--category", "Music", "http://127.0.0.1/x"},
             {"--export-list", "a.lst", "--category"},
             {"--export-list", "a.lst", "-i", "b.lst"},
         })
        EXPECT_FALSE(parseCliArguments(bad).options) << bad.front() << " " << bad.size();
}

TEST(CliListOptions, BatchSeriesAreExpandedBehindTheCommandLineUrls)
{
    CliParse parse
        = parseCliArguments({"http://127.0.0.1/first", "--batch", "http://127.0.0.1/f(*).bin", "10", "8", "3", "-q"});
    ASSERT_TRUE(parse.options) << parse.error;
    EXPECT_TRUE(parse.options->quiet);
    EXPECT_EQ(addUrlsFromBatch(*parse.options), "");
    EXPECT_EQ(parse.options->urls,
              (std::vector<std::string>{"http://127.0.0.1/first", "http://127.0.0.1/f010.bin",
                                        "http://127.0.0.1/f009.bin", "http://127.0.0.1/f008.bin"}));

    parse = parseCliArguments({"--batch", "http://127.0.0.1/(*)/(*).txt", "z", "x"});
    ASSERT_TRUE(parse.options) << parse.error;
    EXPECT_EQ(addUrlsFromBatch(*parse.options), "");
    EXPECT_EQ(
        parse.options->urls,
        (std::vector<std::string>{"http://127.0.0.1/z/z.txt", "http://127.0.0.1/y/y.txt", "http://127.0.0.1/x/x.txt"}));

    // Without a width the numbers are not padded; a URL may follow the series.
    parse = parseCliArguments({"--batch", "http://127.0.0.1/(*)", "9", "10", "http://127.0.0.1/last"});
    ASSERT_TRUE(parse.options) << parse.error;
    EXPECT_EQ(addUrlsFromBatch(*parse.options), "");
    EXPECT_EQ(parse.options->urls,
              (std::vector<std::string>{"http://127.0.0.1/last", "http://127.0.0.1/9", "http://127.0.0.1/10"}));
}

TEST(CliListOptions, UnusableBatchSeriesAreRefused)
{
    EXPECT_FALSE(parseCliArguments({"--batch", "http://127.0.0.1/(*)", "1"}).options);
    EXPECT_FALSE(parseCliArguments({"--batch", "http://127.0.0.1/(*)", "1", "zz"}).options);
    EXPECT_FALSE(parseCliArguments({"--batch", "http://127.0.0.1/(*)", "ab", "cd"}).options);
    // A number and a letter, or characters that are no letters, make no series.
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"1", "b"}, {"b", "1"}, {"#", "z"}, {"a", "/"}, {"-1", "5"}}) {
        const CliParse parse = parseCliArguments({"--batch", "http://127.0.0.1/(*)", from, to});
        EXPECT_FALSE(parse.options) << from << " " << to;
        EXPECT_EQ(parse.error, "--batch FROM and TO are both numbers or both single letters") << from << " " << to;
    }
    EXPECT_FALSE(parseCliArguments({"--daemon", "--batch", "http://127.0.0.1/(*)", "1", "2"}).options);

    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--batch", "http://127.0.0.1/plain", "1", "2"}, "--batch http://127.0.0.1/plain has no (*)"},
        {{"--batch", "URL", "1", "2"}, "--batch URL has no (*)"},
        {{"--batch", "(*)", "a", "b"}, "--batch (*) gives a, not a URL fetchora can download"},
        {{"--batch", "127.0.0.1/f(*)", "1", "2"}, "gives 127.0.0.1/f1, not a URL"},
        {{"--batch", "gopher://127.0.0.1/(*)", "1", "2"}, "gives gopher://127.0.0.1/1, not a URL"},
        {{"--batch", "http://127.0.0.1:(*)/", "65535", "65536"}, "gives http://127.0.0.1:65536/, not a URL"},
        {{"--batch", "http://127.0.0.1/(*)", "1", "2", "0"}, "Wildcard bytes"},
        {{"--batch", "http://127.0.0.1/(*)", "1", "2", "21"}, "Wildcard bytes"},
        {{"--batch", "http://127.0.0.1/(*)", "0", "100000"}, "at most 100000"},
        {{"--batch", "http://127.0.0.1/(*)", "0", "18446744073709551615"}, "at most"},
        {{"-o", "one.bin", "--batch", "http://127.0.0.1/(*)", "1", "2"}, "-o names one file"},
    };
    for (const auto& [arguments, why] : cases) {
        CliParse parse = parseCliArguments(arguments);
        ASSERT_TRUE(parse.options) << parse.error;
        const std::string error = addUrlsFromBatch(*parse.options);
        EXPECT_NE(error.find(why), std::string::npos) << error;
    }
}

TEST(FileErrorTextTest, TheCauseChoosesTheStandardText)
{
    test::TempDir dir;
    const std::filesystem::path file = dir / "list.lst";
    EXPECT_EQ(FileErrorText(file, ENOENT), file.string() + " was not found.");
    EXPECT_EQ(FileErrorText(dir / "no" / "list.lst", ENOENT),
              (dir / "no" / "list.lst").string() + " contains an incorrect path.");
    EXPECT_EQ(FileErrorText(file, EACCES), "Access to " + file.string() + " was denied.");
    EXPECT_EQ(FileErrorText(file, EROFS), "Access to " + file.string() + " was denied.");
    EXPECT_EQ(FileErrorText(file, EMFILE),
              file.string() + " could not be opened because there are too many open files.");
    EXPECT_EQ(FileErrorText(file, EIO), "An unknown error occurred while accessing " + file.string() + ".");
    EXPECT_EQ(FileErrorText("", ENOENT), "Invalid filename.");
    EXPECT_EQ(FileErrorStringId(file, EBADF), kStrFileInvalidHandle);

    EXPECT_EQ(ReadErrorNumber(file), ENOENT);
    EXPECT_EQ(ReadErrorNumber(dir.path()), EISDIR);
    test::writeFile(file, "x");
    EXPECT_EQ(ReadErrorNumber(file), 0);
}

}  // namespace
}  // namespace fetchora

namespace fetchora {
namespace {

TEST(CliListOptions, HelpNamesEachGroupOnce)
{
    const std::string help = cliHelp();
    for (const CliOptionSpec& spec : cliOptionSpecs()) {
        const std::string group(builtinString(spec.group));
        const std::string header = "\n" + group + ":\n";
        const size_t first = help.find(header);
        ASSERT_NE(first, std::string::npos) << group;
        EXPECT_EQ(help.find(header, first + 1), std::string::npos) << group << " is split";
    }
}

}  // namespace
}  // namespace fetchora
