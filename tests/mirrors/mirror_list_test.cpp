// Mirror list files: which group a job URL selects, the order by country and
// the cap on other countries, and adding the finds to a job.
#include "mirrors/mirror_list.h"

#include <gtest/gtest.h>

#include <fstream>

#include "model/download_job.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

constexpr const char* kList = "// country,note,group,prefix\r\n"
                              "US,,gnu,http://ftp.one.test/gnu/\r\n"
                              "DE,x,gnu,http://ftp.two.test/pub/gnu/\r\n"
                              "FR,,gnu,ftp://ftp.three.test/gnu/\r\n"
                              "JP,,gnu,http://ftp.four.test/gnu/\r\n"
                              "BR,,gnu,http://ftp.five.test/gnu/\r\n"
                              "US,,debian,http://deb.one.test/debian/\r\n"
                              "DE,,debian,http://deb.two.test/debian/\r\n";

TEST(MirrorList, TheGroupOfTheMatchingPrefixGivesEveryOtherLineWithTheRestOfTheUrl)
{
    const auto found = FindListMirrors("http://ftp.four.test/gnu/tar/tar-1.35.tar.xz", kList, {"", ""}, 40);
    EXPECT_EQ(found,
              (std::vector<std::string>{
                  "http://ftp.one.test/gnu/tar/tar-1.35.tar.xz", "http://ftp.two.test/pub/gnu/tar/tar-1.35.tar.xz",
                  "ftp://ftp.three.test/gnu/tar/tar-1.35.tar.xz", "http://ftp.five.test/gnu/tar/tar-1.35.tar.xz"}));
    const auto debian = FindListMirrors("http://deb.two.test/debian/pool/a.deb", kList, {"", ""}, 40);
    EXPECT_EQ(debian, (std::vector<std::string>{"http://deb.one.test/debian/pool/a.deb"}));
}

TEST(MirrorList, OwnCountryFirstThenListedOnesThenAtMostMaxHitOthersByPosition)
{
    const auto found = FindListMirrors("http://ftp.one.test/gnu/f.iso", kList, {"fr", "jp, de"}, 0);
    EXPECT_EQ(found,
              (std::vector<std::string>{"ftp://ftp.three.test/gnu/f.iso", "http://ftp.two.test/pub/gnu/f.iso",
                                        "http://ftp.four.test/gnu/f.iso"}));
    const auto capped = FindListMirrors("http://ftp.one.test/gnu/f.iso", kList, {"JP", ""}, 2);
    EXPECT_EQ(capped,
              (std::vector<std::string>{"http://ftp.four.test/gnu/f.iso", "http://ftp.two.test/pub/gnu/f.iso",
                                        "ftp://ftp.three.test/gnu/f.iso"}));
}

TEST(MirrorList, APrefixThatIsNotAtTheStartSelectsNoGroup)
{
    EXPECT_TRUE(FindListMirrors("http://proxy.test/?u=http://ftp.one.test/gnu/f.iso", kList, {}, 40).empty());
    EXPECT_TRUE(FindListMirrors("http://ftp.one.test/other/f.iso", kList, {}, 40).empty());
}

TEST(MirrorList, CommentsShortLinesAndEmptyPrefixesAreSkipped)
{
    const std::string list = "/US,,g,http://a.test/\n"
                             "U/,,g,http://b.test/\n"
                             "US,,g\n"
                             "US,,g,\n"
                             "US,,g,http://c.test/x,y/\n"
                             "DE,,g,http://d.test/\n";
    const auto lines = ParseMirrorList(list);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].prefix, "http://c.test/x,y/");
    EXPECT_EQ(lines[1].country, "DE");
    // Without the empty-prefix rule this line would claim every URL.
    EXPECT_TRUE(FindListMirrors("http://unrelated.test/f", "US,,g,\nDE,,g,http://d.test/\n", {}, 40).empty());
    EXPECT_EQ(FindListMirrors("http://d.test/f", list, {}, 40), std::vector<std::string>{"http://c.test/x,y/f"});
}

TEST(MirrorList, BothFilesAddAlternateUrlsOnceEach)
{
    test::TempDir dir;
    std::ofstream(dir / "mirrors.lst", std::ios::binary) << kList;
    std::ofstream(dir / "mymirror.lst", std::ios::binary) << "US,,mine,http://ftp.one.test/gnu/\n"
                                                             "US,,mine,http://ftp.two.test/pub/gnu/\n"
                                                             "US,,mine,http://mine.test/gnu/\n";
    DownloadJob job;
    job.url = "http://ftp.one.test/gnu/f.iso";
    job.alternateUrls.push_back({"http://ftp.five.test/gnu/f.iso", 0});
    const size_t added
        = AddListMirrors(job, {dir / "mirrors.lst", dir / "mymirror.lst", dir / "missing.lst"}, {"", ""}, 40);
    EXPECT_EQ(added, 4u);
    std::vector<std::string> urls;
    for (const AlternateUrl& alternate : job.alternateUrls)
        urls.push_back(alternate.url);
    EXPECT_EQ(urls,
              (std::vector<std::string>{"http://ftp.five.test/gnu/f.iso", "http://ftp.two.test/pub/gnu/f.iso",
                                        "ftp://ftp.three.test/gnu/f.iso", "http://ftp.four.test/gnu/f.iso",
                                        "http://mine.test/gnu/f.iso"}));
}

TEST(MirrorRanking, CountryOfAUrlAndItsRank)
{
    struct Case {
        const char* url;
        const char* country;
    };
    for (const Case& c :
         {Case{"http://ftp.uni.de/x", "DE"}, Case{"ftp://host.example.com/x", "US"},
          Case{"http://localhost:8080/x", "US"}, Case{"not a url", "US"}, Case{"https://a.b.jp:443/f", "JP"}}) {
        EXPECT_EQ(UrlCountry(c.url), c.country) << c.url;
    }
    const MirrorCountries countries{"de", "fr;jp"};
    EXPECT_EQ(countryRank("DE", countries), 1);
    EXPECT_EQ(countryRank("jp", countries), 2);
    EXPECT_EQ(countryRank("RJ", {"", "FRJP"}), 3);  // letters across two codes do not count
    EXPECT_EQ(countryRank("JP", {"", "FRJP"}), 2);
    EXPECT_EQ(countryRank("EF", {"", "de,fr"}), 3);
    EXPECT_EQ(countryRank("", countries), 3);
    EXPECT_EQ(rankByCountry({"http://a.us/1", "http://b.fr/2", "http://c.de/3", "http://d.jp/4"}, countries),
              (std::vector<std::string>{"http://c.de/3", "http://b.fr/2", "http://d.jp/4", "http://a.us/1"}));
}

}  // namespace
}  // namespace fetchora
