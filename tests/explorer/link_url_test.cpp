#include "explorer/link_url.h"

#include <gtest/gtest.h>

#include <string>

namespace fetchora {
namespace {

struct TargetCase {
    const char* link;
    const char* base;
    const char* expected;  // nullptr: the link is not taken
};

TEST(LinkTarget, ResolvesAndFiltersLinksAsAPageWritesThem)
{
    const TargetCase cases[] = {
        // "http:" without "//" is a relative link in disguise.
        {"http:page.html", "http://host/dir/index.html", "http://host/dir/page.html"},
        {"http:/top.html", "http://host/dir/index.html", "http://host/top.html"},
        // A rooted link replaces the whole path of the base.
        {"/a/b.zip", "ftp://host/x/y/", "ftp://host/a/b.zip"},
        {"/a/b.zip", "http://host", "http://host/a/b.zip"},
        // A plain link replaces the last segment; a bare host gets its "/".
        {"f.zip", "http://host", "http://host/f.zip"},
        {"f.zip", "http://host/dir/", "http://host/dir/f.zip"},
        {"f.zip", "http://host/dir/page", "http://host/dir/f.zip"},
        {"sub/f.zip", "http://host:8080/a/b.html", "http://host:8080/a/sub/f.zip"},
        // No folding of "." and "..".
        {"../up/f.zip", "http://host/a/b/", "http://host/a/b/../up/f.zip"},
        {"./f.zip", "http://host/a/", "http://host/a/./f.zip"},
        // A "/" in the base's query is no folder.
        {"f.zip", "http://host/d/get.cgi?u=/x/y", "http://host/d/f.zip"},
        // Absolute links: only http:// and ftp://, any case, kept as written.
        {"HTTP://Host/F.ZIP", "http://base/", "HTTP://Host/F.ZIP"},
        {"ftp://host/pub/", "", "ftp://host/pub/"},
        {"URL: http://host/x", "", "http://host/x"},
        {"mailto:me@host", "http://host/", nullptr},
        {"javascript:go()", "http://host/", nullptr},
        {"JavaScript:go()", "http://host/", nullptr},
        {"https://host/x", "http://host/", nullptr},
        {"news:comp.lang", "http://host/", nullptr},
        // Blanks are trimmed; empty and escaped-quote links are skipped.
        {"  f.zip \t", "http://host/", "http://host/f.zip"},
        {"   ", "http://host/", nullptr},
        {"\\\"\"x.zip", "http://host/", nullptr},
        // A relative link needs a usable base.
        {"f.zip", "", nullptr},
        {"f.zip", "host/dir/", nullptr},
        {"f.zip", "http:", nullptr},
        {"f.zip", "1http://x/", nullptr},
        // An unknown scheme counts as a relative name.
        {"about:blank", "http://host/d/", "http://host/d/about:blank"},
    };
    for (const TargetCase& c : cases) {
        const std::optional<std::string> got = LinkTarget(c.link, c.base);
        if (c.expected == nullptr) {
            EXPECT_FALSE(got.has_value()) << c.link << " on " << c.base << " gave " << got.value_or("");
        } else {
            ASSERT_TRUE(got.has_value()) << c.link << " on " << c.base;
            EXPECT_EQ(*got, c.expected) << c.link << " on " << c.base;
        }
    }
}

TEST(LinkTarget, DropsLinksLongerThanTheLimit)
{
    const std::string longLink = "http://host/" + std::string(kMaxLinkLength, 'x');
    EXPECT_FALSE(LinkTarget(longLink, "").has_value());
    EXPECT_FALSE(LinkTarget("f.zip", "http://host/" + std::string(kMaxLinkLength, 'd')).has_value());
    EXPECT_TRUE(LinkTarget(std::string(kMaxLinkLength - 20, 'x'), "http://host/").has_value());
}

TEST(IsAbsoluteLink, KnowsEverySchemeInAnyCaseAfterAnOptionalUrlPrefix)
{
    for (const char* link : {"cid:x", "CLSID:x", "whois++:x", "tn3270:x", "url:  ftp://h/", "Gopher://h"})
        EXPECT_TRUE(IsAbsoluteLink(link)) << link;
    for (const char* link : {"x", "/http:", "whois+:x", "tn327:x", "URL:x", ""})
        EXPECT_FALSE(IsAbsoluteLink(link)) << link;
}

}  // namespace
}  // namespace fetchora
