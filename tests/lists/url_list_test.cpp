#include "lists/url_list.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace fetchora {
namespace {

TEST(UrlList, ReadingKeepsValidUrlsInOrder)
{
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"CR LF lines", "http://a/1\r\nftp://b/2\r\n", {"http://a/1", "ftp://b/2"}},
        {"bare LF lines", "http://a/1\nhttp://a/2", {"http://a/1", "http://a/2"}},
        {"mixed endings and empty lines", "\r\n\r\nhttp://a/1\n\r\nhttp://a/2\r\n\n", {"http://a/1", "http://a/2"}},
        {"blanks around a URL", "  http://a/1 \t\r\n", {"http://a/1"}},
        {"invalid lines dropped", "hello\r\nhttp://\r\nmailto:x@y\r\nhttps://c/3\r\n", {"https://c/3"}},
        {"a lone CR does not split", "http://a/1\rhttp://a/2\r\n", {}},
        {"nothing", "", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseUrlList(c.text), c.expected) << c.what;
}

TEST(UrlList, BinaryJunkGivesNoUrlAndKeepsTheGoodLines)
{
    std::string junk;
    for (int i = 0; i < 4096; ++i)
        junk.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
    EXPECT_TRUE(ParseUrlList(junk).empty());

    const std::string mixed = junk + "\r\nhttp://ok/file\r\n" + std::string("http://a/\0b", 11) + "\r\n";
    EXPECT_EQ(ParseUrlList(mixed), std::vector<std::string>{"http://ok/file"});
}

TEST(UrlList, WriteThenReadGivesTheJobsUrls)
{
    test::TempDir dir;
    DownloadJob a, b, empty, c;
    a.url = "http://a.com/x.zip";
    b.url = "ftp://b.org/pub/y";
    c.url = "https://c.net/z?q=1";
    const std::vector<const DownloadJob*> jobs{&a, &empty, &b, &c};
    EXPECT_EQ(UrlListText(jobs), "http://a.com/x.zip\r\nftp://b.org/pub/y\r\nhttps://c.net/z?q=1\r\n");

    const auto file = dir / "list.lst";
    ASSERT_TRUE(WriteUrlList(file, jobs));
    const UrlListRead read = ReadUrlList(file);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.urls, (std::vector<std::string>{a.url, b.url, c.url}));
}

TEST(UrlList, UnreadableFilesGiveAnErrorNotAnEmptyList)
{
    test::TempDir dir;
    const UrlListRead missing = ReadUrlList(dir / "none.lst");
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("none.lst"), std::string::npos);
    EXPECT_FALSE(ReadUrlList(dir.path()).ok);
    std::string error;
    EXPECT_FALSE(WriteUrlList(dir / "no" / "such" / "dir.lst", {}, &error));
    EXPECT_FALSE(error.empty());
}

TEST(UrlList, OneUrlOpensTheDialogAndMoreGoToTheSelection)
{
    EXPECT_EQ(ActionForUrls(0), UrlListAction::NoValidUrl);
    EXPECT_EQ(ActionForUrls(1), UrlListAction::AddOne);
    EXPECT_EQ(ActionForUrls(2), UrlListAction::SelectLinks);
}

}  // namespace
}  // namespace fetchora
