#include "explorer/link_extractor.h"

#include "explorer/link_url.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fetchora {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> urlsOf(const std::vector<ExtractedLink>& links)
{
    std::vector<std::string> urls;
    for (const ExtractedLink& link : links)
        urls.push_back(link.url);
    return urls;
}

struct PageCase {
    const char* name;
    const char* page;
    const char* base;
    std::vector<std::string> urls;
};

TEST(ExtractLinks, FindsTheLinksOfEachKindOfTag)
{
    const PageCase cases[] = {
        {"anchor with fragment", "<a href=\"f.zip#part\">F</a>", "http://h/d/i.html", {"http://h/d/f.zip"}},
        {"single quotes and any case",
         "<A HREF='x.zip'>x</A><IMG Src=p.gif>",
         "http://h/",
         {"http://h/x.zip", "http://h/p.gif"}},
        {"unquoted values end at a blank or >",
         "<img src=a.gif alt=x><img src=b.gif>",
         "http://h/",
         {"http://h/a.gif", "http://h/b.gif"}},
        {"blanks around =", "<frame src = \"f.html\" >", "http://h/", {"http://h/f.html"}},
        {"every table pair",
         "<body background=1><frame src=2><iframe src=3><fig src=4><overlay src=5><applet code=6><script src=7>"
         "<embed src=8><bgsound src=9><area href=10><img lowsrc=11><input src=12><layer src=13>"
         "<table background=14><th background=15><td background=16><img href=17>",
         "http://h/",
         {"http://h/1", "http://h/2", "http://h/3", "http://h/4", "http://h/5", "http://h/6", "http://h/7",
          "http://h/8", "http://h/9", "http://h/10", "http://h/11", "http://h/12", "http://h/13", "http://h/14",
          "http://h/15", "http://h/16", "http://h/17"}},
        {"pairs outside the table are ignored", "<link href=s.css><img alt=x.gif><p src=y>", "http://h/", {}},
        {"base tag replaces the base from there on",
         "<a href=a>1</a><base href=\"ftp://m/pub/\"><a href=b>2</a>",
         "http://h/d/",
         {"http://h/d/a", "ftp://m/pub/b"}},
        {"relative base is taken against the old base",
         "<base href=\"/other/\"><a href=b>2</a>",
         "http://h/d/",
         {"http://h/other/b"}},
        {"meta refresh",
         "<meta http-equiv=refresh content=\"5; URL=next.html\">",
         "http://h/d/p.html",
         {"http://h/d/next.html"}},
        {"meta refresh any case without blank", "<META CONTENT=\"0;url=http://o/x\">", "", {"http://o/x"}},
        {"meta refresh with quoted target", "<meta content=\"3; URL='n.html'\">", "http://h/", {"http://h/n.html"}},
        {"meta without a target", "<meta content=\"text/html; charset=utf-8\"><meta content=\"5\">", "http://h/", {}},
        {"dropped schemes",
         "<a href=mailto:x@h>m</a><a href=\"javascript:f()\">j</a><a href=HTTP://H/U>u</a>",
         "",
         {"HTTP://H/U"}},
        {"http: without //",
         "<a href=http:page.html>p</a>",
         "http://host/dir/index.html",
         {"http://host/dir/page.html"}},
        {"relative links need a base", "<a href=f.zip>f</a><a href=http://h/g.zip>g</a>", "", {"http://h/g.zip"}},
        {"quoted value broken by a line feed",
         "<a href=\"bro\nken.zip\">x</a><a href=ok.zip>y</a>",
         "http://h/",
         {"http://h/ok.zip"}},
        {"quoted value never closed", "<a href=\"never.zip>x</a>", "http://h/", {}},
        {"empty and escaped values", "<a href=\"\">e</a><a href=\"#top\">t</a><img src='\\\"\"x'>", "http://h/", {}},
        {"plain text is no tag", "a < b and c > d href=x.zip", "http://h/", {}},
    };
    for (const PageCase& c : cases)
        EXPECT_EQ(urlsOf(ExtractLinks(c.page, c.base)), c.urls) << c.name;
}

struct TitleCase {
    const char* page;
    const char* title;
};

TEST(ExtractLinks, TakesAnchorTitlesFromTheTextOrAnAltValue)
{
    const TitleCase cases[] = {
        {"<a href=f.zip#part>F</a>", "F"},
        {"<a href=f.zip>  The <b>big</b> file\n</A>", "The big file"},
        {"<a href=f.zip><img src=i.gif alt=\"Get it\"></a>", "Get"},
        {"<a href=f.zip><img src=i.gif ALT=Download></a>", "Download"},
        {"<a href=f.zip></a>", ""},
        {"<a href=f.zip>no end", "no end"},
        {"<a href=f.zip", ""},
    };
    for (const TitleCase& c : cases) {
        const std::vector<ExtractedLink> links = ExtractLinks(c.page, "http://h/");
        ASSERT_FALSE(links.empty()) << c.page;
        EXPECT_EQ(links.front().url, "http://h/f.zip") << c.page;
        EXPECT_EQ(links.front().title, c.title) << c.page;
    }
}

TEST(ExtractLinks, RecordsWhereEachValueStandsInThePage)
{
    const std::string page = "<p><a href=\"f.zip#x\">F</a> <img src=g.gif>";
    const std::vector<ExtractedLink> links = ExtractLinks(page, "http://h/");
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(page.substr(links[0].offset, links[0].length), "f.zip#x");
    EXPECT_EQ(page.substr(links[1].offset, links[1].length), "g.gif");
    EXPECT_LT(links[0].offset, links[1].offset);
}

TEST(ExtractLinks, SurvivesHostilePagesInBoundedTime)
{
    const size_t tenMiB = size_t{10} << 20;
    const size_t twoMiB = size_t{2} << 20;
    std::vector<std::pair<const char*, std::string>> pages;
    std::string repeated;
    while (repeated.size() < tenMiB)
        repeated += "<a href=";
    pages.emplace_back("unterminated anchors", repeated);
    std::string closed;
    while (closed.size() < twoMiB)
        closed += "<a href=x>";
    pages.emplace_back("anchors without </a", closed);
    std::string nested;
    while (nested.size() < twoMiB)
        nested += "<a href=x><b>t</b>" + std::string(40, ' ');
    pages.emplace_back("anchors closed late", nested + "</a>");
    pages.emplace_back("one open quote", "<a href=\"" + std::string(tenMiB, 'x'));
    pages.emplace_back("lone brackets", std::string(tenMiB, '<'));
    std::string binary(twoMiB, '\0');
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 7919) % 251);
    pages.emplace_back("binary", binary);
    pages.emplace_back("long base", "<base href=\"http://h/" + std::string(100000, 'b') + "/\">" + closed);

    for (const auto& [name, page] : pages) {
        const auto start = std::chrono::steady_clock::now();
        const std::vector<ExtractedLink> links = ExtractLinks(page, "http://h/");
        const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        size_t bytes = 0;
        for (const ExtractedLink& link : links) {
            EXPECT_LE(link.url.size(), 2 * kMaxLinkLength) << name;
            EXPECT_LE(link.title.size(), kMaxTitleLength) << name;
            bytes += sizeof(ExtractedLink) + link.url.size() + link.title.size();
        }
        EXPECT_LE(bytes, page.size() * 8 + (size_t{1} << 20)) << name;
        // Linear work takes a few seconds even unoptimised; a quadratic scan
        // of these pages would take hours.
        EXPECT_LT(seconds, 60.0) << name;
    }
}

TEST(ExtractLinks, NulBytesAreOrdinaryText)
{
    const char raw[] = "<a\0 href=x.zip>A\0B</a><img src=\"y\0z\">";
    const std::string page(raw, sizeof raw - 1);
    const std::vector<ExtractedLink> links = ExtractLinks(page, "http://h/");
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].url, std::string("http://h/y\0z", 12));
}

class PageFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("fetchora-links-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path write(const std::string& name, const std::string& content)
    {
        const fs::path path = m_dir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    fs::path m_dir;
};

TEST_F(PageFileTest, ReadsTheWholeFileThroughGrowingBlocks)
{
    // Links in the first block, past the second and far into the file.
    std::string page = "<html><a href=first.zip>1</a>";
    page += std::string(700, ' ') + "<a href=second.zip>2</a>";
    page += std::string(100000, ' ') + "<a href=last.zip>3</a>";
    const fs::path file = write("page.html", page);
    std::string text;
    ASSERT_TRUE(ReadPageSource(file, text));
    EXPECT_EQ(text, page);
    EXPECT_EQ(urlsOf(ExtractLinksFromFile(file, "http://h/")),
              (std::vector<std::string>{"http://h/first.zip", "http://h/second.zip", "http://h/last.zip"}));
}

TEST_F(PageFileTest, AFileWhoseFirstBlockLacksBracketsIsNoPage)
{
    // The brackets come only after the first 512 bytes.
    const fs::path late = write("late.html", std::string(512, 'x') + "<a href=f.zip>f</a>");
    const fs::path onlyOpen = write("open.html", "<<<< no closing bracket here");
    const fs::path empty = write("empty.html", "");
    for (const fs::path& file : {late, onlyOpen, empty}) {
        std::string text = "stale";
        EXPECT_FALSE(ReadPageSource(file, text)) << file;
        EXPECT_TRUE(text.empty()) << file;
        EXPECT_TRUE(ExtractLinksFromFile(file, "http://h/").empty()) << file;
    }
    const fs::path small = write("small.html", "<a href=f.zip>f</a>");
    EXPECT_EQ(urlsOf(ExtractLinksFromFile(small, "http://h/")), std::vector<std::string>{"http://h/f.zip"});
}

TEST_F(PageFileTest, MissingFilesAndFoldersGiveNothing)
{
    std::string text;
    EXPECT_FALSE(ReadPageSource(m_dir / "missing.html", text));
    EXPECT_FALSE(ReadPageSource(m_dir, text));
    EXPECT_TRUE(ExtractLinksFromFile(m_dir / "missing.html", "http://h/").empty());
}

TEST_F(PageFileTest, ADashReadsStandardInput)
{
    const fs::path file = write("stdin.html", "<a href=in.zip>in</a>");
    ASSERT_NE(std::freopen(file.c_str(), "rb", stdin), nullptr);
    const std::vector<ExtractedLink> links = ExtractLinksFromFile("-", "http://h/");
    EXPECT_EQ(urlsOf(links), std::vector<std::string>{"http://h/in.zip"});
    EXPECT_NE(std::freopen("/dev/null", "rb", stdin), nullptr);
}

}  // namespace
}  // namespace fetchora
