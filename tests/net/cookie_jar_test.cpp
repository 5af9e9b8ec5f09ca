// The cookie jar file: the Netscape format as browsers export it, which
// cookies go with which URL, and a jar that changes on disk while the
// program runs.
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "net/cookie_jar.h"
#include "net/url.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

using test::TempDir;
using test::writeFile;

UrlEntry url(const std::string& text)
{
    return ParseUrl(text).value();
}

constexpr int64_t kNow = 1700000000;

TEST(CookieJarFormat, ParsesExportedLinesAndSkipsTheRest)
{
    const std::optional<Cookie> plain = ParseCookieLine(".example.org\tTRUE\t/dl\tFALSE\t1800000000\tsid\tabc=1\r\n");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->domain, "example.org");
    EXPECT_TRUE(plain->includeSubdomains);
    EXPECT_EQ(plain->path, "/dl");
    EXPECT_FALSE(plain->secure);
    EXPECT_EQ(plain->expires, 1800000000);
    EXPECT_EQ(plain->name, "sid");
    EXPECT_EQ(plain->value, "abc=1");

    const std::optional<Cookie> httpOnly = ParseCookieLine("#HttpOnly_Host.Example\tFALSE\t/\tTRUE\t0\tk\tv");
    ASSERT_TRUE(httpOnly);
    EXPECT_TRUE(httpOnly->httpOnly);
    EXPECT_EQ(httpOnly->domain, "host.example");
    EXPECT_EQ(FormatCookieLine(*httpOnly), "#HttpOnly_host.example\tFALSE\t/\tTRUE\t0\tk\tv");

    for (const char* line :
         {"# Netscape HTTP Cookie File", "", "a\tb\tc", "h\tFALSE\t/\tFALSE\tsoon\tn\tv",
          "h\tFALSE\t/\tFALSE\t-1\tn\tv", "h\tFALSE\t/\tFALSE\t0\t\tv", "h\tFALSE\t/\tFALSE\t0\tn\tv\x01"})
        EXPECT_FALSE(ParseCookieLine(line)) << line;
}

TEST(CookieJarFormat, MatchesDomainPathSecureAndExpiry)
{
    Cookie cookie;
    cookie.domain = "example.org";
    cookie.path = "/dl";
    EXPECT_TRUE(CookieMatches(cookie, url("http://EXAMPLE.org/dl/f.zip"), kNow));
    EXPECT_TRUE(CookieMatches(cookie, url("http://example.org/dl"), kNow));
    EXPECT_FALSE(CookieMatches(cookie, url("http://example.org/dlx"), kNow));
    EXPECT_FALSE(CookieMatches(cookie, url("http://www.example.org/dl/f"), kNow));
    EXPECT_FALSE(CookieMatches(cookie, url("http://badexample.org/dl/f"), kNow));
    EXPECT_FALSE(CookieMatches(cookie, url("ftp://example.org/dl/f"), kNow));
    cookie.includeSubdomains = true;
    EXPECT_TRUE(CookieMatches(cookie, url("http://www.example.org/dl/f"), kNow));
    EXPECT_FALSE(CookieMatches(cookie, url("http://badexample.org/dl/f"), kNow));
    cookie.secure = true;
    EXPECT_FALSE(CookieMatches(cookie, url("http://www.example.org/dl/f"), kNow));
    EXPECT_TRUE(CookieMatches(cookie, url("https://www.example.org/dl/f"), kNow));
    cookie.expires = kNow;
    EXPECT_FALSE(CookieMatches(cookie, url("https://www.example.org/dl/f"), kNow));
}

TEST(CookieJar, HeaderListsTheMatchingCookiesLongestPathFirst)
{
    TempDir dir;
    writeFile(dir / "cookies.txt",
              "# Netscape HTTP Cookie File\n"
              ".example.org\tTRUE\t/\tFALSE\t0\troot\t1\n"
              "example.org\tFALSE\t/dl/\tFALSE\t0\tdeep\t2\n"
              "other.org\tFALSE\t/\tFALSE\t0\tother\t3\n"
              "example.org\tFALSE\t/\tFALSE\t1000\told\t4\n");
    const CookieJar jar(CookieJar::fileIn(dir.path()));
    EXPECT_EQ(jar.cookieHeaderFor(url("http://example.org/dl/f.zip"), kNow), "deep=2; root=1");
    EXPECT_EQ(jar.cookieHeaderFor(url("http://nothing.test/"), kNow), "");
}

TEST(CookieJar, MissingFileHasNoCookiesAndAChangedFileIsReadAgain)
{
    TempDir dir;
    const CookieJar jar(dir / "cookies.txt");
    EXPECT_EQ(jar.cookieHeaderFor(url("http://h/"), kNow), "");
    writeFile(dir / "cookies.txt", "h\tFALSE\t/\tFALSE\t0\ta\t1\n");
    EXPECT_EQ(jar.cookieHeaderFor(url("http://h/"), kNow), "a=1");
    writeFile(dir / "cookies.txt", "h\tFALSE\t/\tFALSE\t0\tb\t22\n");
    // The size alone tells the change even within the clock's resolution.
    EXPECT_EQ(jar.cookieHeaderFor(url("http://h/"), kNow), "b=22");
}

TEST(CookieJar, AddedCookiesReplaceTheirNamesakeAndSurviveASave)
{
    TempDir dir;
    writeFile(dir / "cookies.txt", "h\tFALSE\t/\tFALSE\t0\ta\t1\n");
    CookieJar jar(dir / "cookies.txt");
    Cookie replacement;
    replacement.domain = "h";
    replacement.name = "a";
    replacement.value = "2";
    jar.add(replacement);
    ASSERT_TRUE(jar.save());
    const CookieJar again(dir / "cookies.txt");
    ASSERT_EQ(again.cookies().size(), 1u);
    EXPECT_EQ(again.cookies()[0], replacement);
}

TEST(CookieJar, ManyThreadsReadTheJarAtOnce)
{
    TempDir dir;
    writeFile(dir / "cookies.txt", "h\tFALSE\t/\tFALSE\t0\ta\t1\n");
    const CookieJar jar(dir / "cookies.txt");
    std::vector<std::thread> threads;
    std::atomic<int> right{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            for (int n = 0; n < 200; ++n)
                right += jar.cookieHeaderFor(url("http://h/"), kNow) == "a=1" ? 1 : 0;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(right.load(), 8 * 200);
}

}  // namespace
}  // namespace fetchora
