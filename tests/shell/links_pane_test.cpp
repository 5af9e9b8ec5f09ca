// The links pane's rows: which job pages give links, their decoding, their
// order, and what happens to missing, changed and hostile pages.
#include "shell/links_pane.h"

#include <filesystem>
#include <string>
#include <vector>

#include "config/settings_values.h"
#include "lang/display_text.h"
#include "lang/string_table.h"
#include "model/download_job.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

// The English menu name of an encoding, from the string table's list.
std::string_view encodingName(size_t index)
{
    return builtinListItem(kLinkEncodingNamesId, index);
}

size_t encodingIndex(std::string_view menuText)
{
    for (size_t i = 0; i < kLinkEncodings.size(); ++i)
        if (encodingName(i) == menuText)
            return i;
    ADD_FAILURE() << "no encoding " << menuText;
    return 0;
}

std::vector<std::string> column(const LinksPane& pane, std::string LinkRow::*field)
{
    std::vector<std::string> out;
    for (const LinkRow& row : pane.rows())
        out.push_back(row.*field);
    return out;
}

TEST(DecodeLinkTitle, EachMenuEncodingDecodesItsOwnBytes)
{
    const struct {
        std::string_view menu;
        std::string bytes;
        std::string utf8;
    } cases[] = {
        {"&Default",
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"Baltic", "\xE0", "\xC4\x85"},
        {"Chinese(BIG5)", "\xA7\x41", "\xE4\xBD\xA0"},
        {"Chinese(GB)", "\xC4\xE3", "\xE4\xBD\xA0"},
        {"Easteurope", "\x9A", "\xC5\xA1"},
        {"Greek", "\xE1", "\xCE\xB1"},
        {"Russian", "\xCF\xF0\xE8\xE2\xE5\xF2", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {"Japanese", "\x82\xA0", "\xE3\x81\x82"},
        {"Turkish", "\xFD", "\xC4\xB1"},
        {"Korean", "\xC7\xD1", "\xED\x95\x9C"},
        {"Hebrew", "\xF9", "\xD7\xA9"},
        {"Arabic", "\xC7", "\xD8\xA7"},
        {"Thai", "\xA1", "\xE0\xB8\x81"},
    };
    ASSERT_EQ(std::size(cases), kLinkEncodings.size());
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(encodingName(i), cases[i].menu) << "menu order at " << i;
        EXPECT_EQ(decodeLinkTitle(cases[i].bytes, i), cases[i].utf8) << cases[i].menu;
    }
}

// The menu's names come from the string table: one name for each encoding and
// sort key, none over.
TEST(DecodeLinkTitle, TheStringTableNamesEveryEncodingAndSortKey)
{
    for (size_t i = 0; i < kLinkEncodings.size(); ++i)
        EXPECT_FALSE(encodingName(i).empty()) << i;
    EXPECT_TRUE(encodingName(kLinkEncodings.size()).empty());
    const std::string_view sortNames[] = {"&Type", "Tit&le", "&URL"};
    ASSERT_EQ(kLinkSortChoices.size(), std::size(sortNames));
    for (size_t i = 0; i < kLinkSortChoices.size(); ++i)
        EXPECT_EQ(builtinListItem(kLinkSortNamesId, i), sortNames[i]);
    EXPECT_TRUE(builtinListItem(kLinkSortNamesId, kLinkSortChoices.size()).empty());
}

TEST(DecodeLinkTitle, BadBytesAreReplacedAndTheTextIsOneLine)
{
    const std::string replacement = "\xEF\xBF\xBD";
    // Invalid UTF-8 in the middle and a sequence cut off at the end.
    EXPECT_EQ(decodeLinkTitle("a\xFF"
                              "b\xC3",
                              0),
              "a" + replacement + "b" + replacement);
    // A lead byte of GBK without its trail, then plain text again.
    EXPECT_EQ(decodeLinkTitle("\xC4\xE3\xC4", encodingIndex("Chinese(GB)")), "\xE4\xBD\xA0" + replacement);
    // Bytes CP1253 leaves undefined.
    EXPECT_EQ(decodeLinkTitle("x\xAAy", encodingIndex("Greek")), "x" + replacement + "y");
    EXPECT_EQ(decodeLinkTitle("  Get\r\n\tthe   file\x01 ", 0), "Get the file");
    EXPECT_EQ(decodeLinkTitle(std::string("a\0b", 3), 0), "a b");
    EXPECT_EQ(decodeLinkTitle("", 6), "");
    // An index past the menu decodes as the default.
    EXPECT_EQ(decodeLinkTitle("\xD0\x96", 99), "\xD0\x96");
    // Every byte value, in every set: valid UTF-8 that keeps the ASCII letters.
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    for (size_t i = 0; i < kLinkEncodings.size(); ++i) {
        const std::string text = decodeLinkTitle(all, i);
        EXPECT_TRUE(isValidUtf8(text)) << kLinkEncodings[i].charset;
        EXPECT_NE(text.find("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << kLinkEncodings[i].charset;
    }
}

TEST(LinkType, TheExtensionOfTheFileNameInThePath)
{
    const std::pair<const char*, const char*> cases[] = {
        {"http://host/dir/file.zip", "zip"},
        {"http://host/a.tar.GZ", "GZ"},
        {"http://host/page.php?name=x.exe", "php"},
        {"http://host/f.mp3#t=1.5", "mp3"},
        {"http://www.example.com", ""},
        {"http://www.example.com/", ""},
        {"ftp://host/dir.v2/", ""},
        {"ftp://host/dir.v2/readme", ""},
        {"http://host:8080/x.iso", "iso"},
    };
    for (const auto& [url, type] : cases)
        EXPECT_EQ(linkType(url), type) << url;
}

class LinksPaneTest : public ::testing::Test {
protected:
    std::filesystem::path page(const std::string& name, const std::string& body)
    {
        const std::filesystem::path file = m_dir / name;
        test::writeFile(file, body);
        return file;
    }

    test::TempDir m_dir;
};

const char* const kPage = "<html><body>\n"
                          "<a href=\"b/Zeta.ZIP\">second file</a>\n"
                          "<a href=\"http://other.example/alpha.exe\">Alpha tool</a>\n"
                          "<img src=\"pics/logo.png\">\n"
                          "<a href=\"b/Zeta.ZIP\">again, other title</a>\n"
                          "<a href=\"docs/\">beta docs</a>\n"
                          "<a href=\"mailto:me@example.com\">mail</a>\n"
                          "<a href=\"c.zip\">\xCF\xF0\xE8\xE2\xE5\xF2</a>\n"
                          "</body></html>\n";

TEST_F(LinksPaneTest, RowsAreThePagesLinksOnceEachInPageOrder)
{
    LinksPane pane;
    EXPECT_TRUE(pane.show({"http://host/dir/index.html", page("index.html", kPage)}));
    EXPECT_EQ(
        column(pane, &LinkRow::url),
        (std::vector<std::string>{"http://host/dir/b/Zeta.ZIP", "http://other.example/alpha.exe",
                                  "http://host/dir/pics/logo.png", "http://host/dir/docs/", "http://host/dir/c.zip"}));
    EXPECT_EQ(column(pane, &LinkRow::type), (std::vector<std::string>{"ZIP", "exe", "png", "", "zip"}));
    EXPECT_EQ(pane.rows()[0].title, "second file");
    EXPECT_EQ(pane.rows()[2].title, "");
    // Under the default the cp1251 title is not UTF-8: replaced, not passed on raw.
    std::string sixReplacements;
    for (int i = 0; i < 6; ++i)
        sixReplacements += "\xEF\xBF\xBD";
    EXPECT_EQ(pane.rows()[4].title, sixReplacements);

    pane.setEncoding(encodingIndex("Russian"));
    EXPECT_EQ(pane.rows()[4].title, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    EXPECT_EQ(pane.rows()[0].title, "second file");

    const size_t picked[] = {4, 1, 17};
    const std::vector<LinkChoice> choices = pane.choices(picked);
    ASSERT_EQ(choices.size(), 2u);
    EXPECT_EQ(choices[0].url, "http://host/dir/c.zip");
    EXPECT_EQ(choices[0].text, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    EXPECT_EQ(choices[1].url, "http://other.example/alpha.exe");
    EXPECT_EQ(choices[1].text, "Alpha tool");
}

TEST_F(LinksPaneTest, AnUntitledFirstLinkTakesTheTitleOfALaterOne)
{
    LinksPane pane;
    pane.show({"http://host/", page("p.html", "<img src=\"x.zip\"><a href=\"x.zip\">Named</a>")});
    ASSERT_EQ(pane.rows().size(), 1u);
    EXPECT_EQ(pane.rows()[0].title, "Named");
}

TEST_F(LinksPaneTest, EachSortKeyIgnoresCaseAndKeepsPageOrderForTies)
{
    LinksPane pane;
    pane.show({"http://host/",
               page("s.html",
                    "<a href=\"m/B.zip\">beta</a>"
                    "<a href=\"a.EXE\">Alpha</a>"
                    "<a href=\"z/a.zip\">alpha</a>"
                    "<a href=\"C.iso\">Gamma</a>"
                    "<a href=\"b.zip\">Beta</a>")});
    ASSERT_EQ(pane.rows().size(), 5u);
    pane.setSortKey(LinkSortKey::Type);
    EXPECT_EQ(column(pane, &LinkRow::url),
              (std::vector<std::string>{"http://host/a.EXE", "http://host/C.iso", "http://host/m/B.zip",
                                        "http://host/z/a.zip", "http://host/b.zip"}));
    pane.setSortKey(LinkSortKey::Title);
    EXPECT_EQ(column(pane, &LinkRow::title), (std::vector<std::string>{"Alpha", "alpha", "beta", "Beta", "Gamma"}));
    pane.setSortKey(LinkSortKey::Url);
    EXPECT_EQ(column(pane, &LinkRow::url),
              (std::vector<std::string>{"http://host/a.EXE", "http://host/b.zip", "http://host/C.iso",
                                        "http://host/m/B.zip", "http://host/z/a.zip"}));
    // The key stays when the page is read again.
    pane.show({"http://host/", page("s.html", "<a href=\"b.zip\">b</a><a href=\"A.zip\">a</a>")});
    EXPECT_EQ(column(pane, &LinkRow::url), (std::vector<std::string>{"http://host/A.zip", "http://host/b.zip"}));
    pane.setSortKey(LinkSortKey::PageOrder);
    EXPECT_EQ(pane.rows()[0].url, "http://host/b.zip");
}

TEST_F(LinksPaneTest, MissingNonHtmlAndJunkPagesGiveNoRowsWithoutACrash)
{
    LinksPane pane;
    EXPECT_TRUE(pane.show({"http://host/", m_dir / "absent.html"}));
    EXPECT_TRUE(pane.rows().empty());
    pane.show({"http://host/", page("plain.html", "no tags here, just http://host/a.zip text")});
    EXPECT_TRUE(pane.rows().empty());
    pane.show({"http://host/", m_dir.path()});
    EXPECT_TRUE(pane.rows().empty());
    // Binary junk with stray angle brackets, unclosed quotes and bad bytes.
    std::string junk = "<a href=\"";
    for (int i = 0; i < 20000; ++i)
        junk += static_cast<char>((i * 37 + 11) % 256);
    junk += "<a href='x.zip'>\xFF\xFE<b>\x80</a> <a href=\"unclosed\n>";
    pane.show({"http://host/", page("junk.html", junk)});
    for (const LinkRow& row : pane.rows()) {
        EXPECT_EQ(row.url.rfind("http://", 0), 0u) << row.url;
        EXPECT_EQ(row.title.find('\xFF'), std::string::npos);
    }
    // No source: no rows, whatever was shown before.
    pane.show({"http://host/", page("one.html", "<a href=\"1.zip\">1</a>")});
    ASSERT_EQ(pane.rows().size(), 1u);
    EXPECT_TRUE(pane.show({}));
    EXPECT_TRUE(pane.rows().empty());
}

TEST_F(LinksPaneTest, ThePageIsReadAgainOnlyWhenItOrItsFileChanged)
{
    LinksPane pane;
    const std::filesystem::path file = m_dir / "later.html";
    const LinkPageSource source{"http://host/", file};
    EXPECT_TRUE(pane.show(source));
    EXPECT_TRUE(pane.rows().empty());
    // The file arrives after the first look (a completed job's rename).
    page("later.html", "<a href=\"1.zip\">1</a>");
    EXPECT_TRUE(pane.show(source));
    ASSERT_EQ(pane.rows().size(), 1u);
    EXPECT_TRUE(pane.isCurrent(source));
    EXPECT_FALSE(pane.show(source));
    // Downloaded again with other content.
    page("later.html", "<a href=\"1.zip\">1</a><a href=\"2.zip\">2</a>");
    std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) + std::chrono::seconds(2));
    EXPECT_FALSE(pane.isCurrent(source));
    EXPECT_TRUE(pane.show(source));
    EXPECT_EQ(pane.rows().size(), 2u);
    // The same file under another page URL resolves against that URL.
    EXPECT_TRUE(pane.show({"http://elsewhere/x/", file}));
    EXPECT_EQ(pane.rows()[0].url, "http://elsewhere/x/1.zip");
    pane.clear();
    EXPECT_TRUE(pane.rows().empty());
    EXPECT_TRUE(pane.show({"http://elsewhere/x/", file}));
}

TEST_F(LinksPaneTest, OnlyACompletedJobWithAPageFileIsASource)
{
    const std::string types(kDefaultExploreTypes);
    EXPECT_EQ(linkPageSourceOf(nullptr, types), LinkPageSource{});
    DownloadJob job;
    job.url = "http://host/dir/index.html";
    job.saveFolder = m_dir.path().string();
    job.fileName = "index.html";
    EXPECT_EQ(linkPageSourceOf(&job, types), LinkPageSource{}) << "not complete";
    job.state = static_cast<uint32_t>(JobState::Completed);
    const LinkPageSource source = linkPageSourceOf(&job, types);
    EXPECT_EQ(source.url, job.url);
    EXPECT_EQ(source.file, std::filesystem::path(job.GetLocalPath()));
    const std::pair<const char*, bool> names[] = {
        {"a.htm", true},       {"a.HTML", true}, {"a.php", true},  {"a.shtml", true},
        {"noextension", true}, {"a.zip", false}, {"a.txt", false}, {"a.html.gz", false},
    };
    for (const auto& [name, isPage] : names) {
        job.fileName = name;
        EXPECT_EQ(!linkPageSourceOf(&job, types).url.empty(), isPage) << name;
    }
    job.fileName = "a.zip";
    EXPECT_FALSE(linkPageSourceOf(&job, ".ZIP").url.empty()) << "the types list decides";
}

}  // namespace
}  // namespace fetchora
