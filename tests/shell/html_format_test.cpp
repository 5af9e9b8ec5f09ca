#include "shell/html_format.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace fetchora {
namespace {

// Builds the data with correct offsets: a header whose numbers are padded to
// ten digits, so the header's length does not depend on them.
std::string htmlFormat(const std::string& html, const std::string& sourceUrl, size_t selectionBegin,
                       size_t selectionEnd)
{
    const bool selection = selectionEnd > 0;
    auto header = [&](size_t start, size_t end, size_t selStart, size_t selEnd) {
        char text[512];
        std::snprintf(text, sizeof text, "Version:1.0\r\nStartHTML:%010zu\r\nEndHTML:%010zu\r\n", start, end);
        std::string out = text;
        if (selection) {
            std::snprintf(text, sizeof text, "StartSelection:%010zu\r\nEndSelection:%010zu\r\n", selStart, selEnd);
            out += text;
        }
        if (!sourceUrl.empty())
            out += "SourceURL:" + sourceUrl + "\r\n";
        return out;
    };
    const size_t start = header(0, 0, 0, 0).size();
    return header(start, start + html.size(), start + selectionBegin, start + selectionEnd) + html;
}

const std::string kFiveLinks = "<html><body>"
                               "<a href=\"one.zip\">One</a> "
                               "<a href=\"two.zip\">Two</a> "
                               "<a href=\"three.zip\">Three</a> "
                               "<a href=\"four.zip\">Four</a> "
                               "<a href=\"http://other/five.zip\">Five</a>"
                               "</body></html>";

TEST(HtmlFormat, ASelectionOverTwoOfFiveLinksGivesExactlyThoseTwo)
{
    const size_t begin = kFiveLinks.find("<a href=\"two");
    const size_t end = kFiveLinks.find("</a>", kFiveLinks.find("three.zip")) + 4;
    const HtmlFormatLinks result = ReadHtmlFormat(htmlFormat(kFiveLinks, "http://site/dir/page.html", begin, end));
    EXPECT_EQ(result.baseUrl, "http://site/dir/page.html");
    ASSERT_EQ(result.links.size(), 2u);
    EXPECT_EQ(result.links[0].url, "http://site/dir/two.zip");
    EXPECT_EQ(result.links[0].text, "Two");
    EXPECT_EQ(result.links[1].url, "http://site/dir/three.zip");
    EXPECT_EQ(result.links[1].text, "Three");
    EXPECT_EQ(result.links[0].position, kFiveLinks.find("two.zip"));
}

TEST(HtmlFormat, WithoutASelectionEveryLinkCounts)
{
    const HtmlFormatLinks result = ReadHtmlFormat(htmlFormat(kFiveLinks, "http://site/page.html", 0, 0));
    ASSERT_EQ(result.links.size(), 5u);
    EXPECT_EQ(result.links[0].url, "http://site/one.zip");
    EXPECT_EQ(result.links[4].url, "http://other/five.zip");
}

TEST(HtmlFormat, SourceUrlNeedsVersionOneAndEndsAtItsLine)
{
    std::string data = htmlFormat(kFiveLinks, "http://site/page.html", 0, 0);
    EXPECT_EQ(ReadHtmlFormat(data).baseUrl, "http://site/page.html");
    data.replace(data.find("Version:1.0"), 11, "Version:0.9");
    const HtmlFormatLinks old = ReadHtmlFormat(data);
    EXPECT_EQ(old.baseUrl, "");
    // Without a base only the absolute link is a URL.
    ASSERT_EQ(old.links.size(), 1u);
    EXPECT_EQ(old.links[0].url, "http://other/five.zip");
}

TEST(HtmlFormat, BadHeadersGiveNothing)
{
    const std::string good = htmlFormat(kFiveLinks, "http://site/page.html", 0, 0);
    ASSERT_EQ(ReadHtmlFormat(good).links.size(), 5u);
    const std::string tail = "\r\n<a href=\"http://h/x.zip\">x</a>";
    struct Case {
        const char* what;
        std::string data;
    };
    const Case cases[] = {
        {"no StartHTML", "Version:1.0\r\nEndHTML:40" + tail},
        {"no EndHTML", "Version:1.0\r\nStartHTML:25" + tail},
        {"StartHTML -1", "StartHTML:-1\r\nEndHTML:50" + tail},
        {"negative start", "StartHTML:-20\r\nEndHTML:50" + tail},
        {"end beyond the data", "StartHTML:0\r\nEndHTML:99999" + tail},
        {"huge end", "StartHTML:0\r\nEndHTML:99999999999999999999999999" + tail},
        {"end before start", "StartHTML:40\r\nEndHTML:30" + tail},
        {"selection before the HTML", "StartHTML:10\r\nEndHTML:60\r\nStartSelection:2\r\nEndSelection:50" + tail},
        {"selection end before start", "StartHTML:0\r\nEndHTML:60\r\nStartSelection:50\r\nEndSelection:40" + tail},
        {"selection past the HTML", "StartHTML:0\r\nEndHTML:60\r\nStartSelection:0\r\nEndSelection:61" + tail},
        {"not a number", "StartHTML:abc\r\nEndHTML:x" + tail},
        {"empty", ""},
    };
    for (const Case& c : cases) {
        const HtmlFormatLinks result = ReadHtmlFormat(c.data);
        EXPECT_TRUE(result.links.empty()) << c.what;
    }
}

TEST(HtmlFormat, FieldsReadLikeAtol)
{
    EXPECT_EQ(HtmlFormatField("StartHTML: 00042x", "StartHTML:"), 42);
    EXPECT_EQ(HtmlFormatField("StartHTML:-1", "StartHTML:"), -1);
    EXPECT_EQ(HtmlFormatField("EndHTML:7", "StartHTML:"), -1);
    EXPECT_EQ(HtmlFormatField("StartHTML:", "StartHTML:"), 0);
}

}  // namespace
}  // namespace fetchora
