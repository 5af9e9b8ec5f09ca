// The mirror search: the request built from the settings, the links of a
// result page that are kept, and the worker against a real loopback server.
#include "mirrors/mirror_search.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <mutex>

#include "config/settings_values.h"
#include "lang/current_language.h"
#include "support/real_peers.h"
#include "support/scripted_server.h"

namespace fetchora {
namespace {

MirrorSearchOptions searchAt(std::string templateUrl)
{
    MirrorSearchOptions options;
    options.searchTemplate = std::move(templateUrl);
    options.maxHit = 25;
    options.countryCode = "DE";
    options.jobUrl = "http://files.test/pub/a b&c.iso";
    return options;
}

TEST(MirrorSearchUrl, TheShippedTemplateNamesNoHostSoTheSearchIsOff)
{
    std::string why;
    EXPECT_EQ(BuildSearchUrl(searchAt(std::string(kDefaultMirrorSearchTemplate)), "f.iso", 10, &why), "");
    EXPECT_NE(why.find("no search host"), std::string::npos);
    // A template that is no web URL falls back to the shipped one: still off.
    EXPECT_EQ(BuildSearchUrl(searchAt("not a url"), "f.iso", 10, &why), "");
    EXPECT_EQ(BuildSearchUrl(searchAt("ftp://127.0.0.1/search?q={filename}"), "f.iso", 10), "");
    MirrorSearchOptions sharing = searchAt(std::string(kDefaultMirrorSearchTemplate));
    sharing.sharingService = true;
    EXPECT_EQ(BuildSearchUrl(sharing, "f.iso", 10), "");
    EXPECT_TRUE(isPlaceholderHost("ftpsearch.example.net"));
    EXPECT_TRUE(isPlaceholderHost("search.invalid"));
    EXPECT_FALSE(isPlaceholderHost("127.0.0.1"));
    EXPECT_FALSE(isPlaceholderHost("myexample.net"));
}

TEST(MirrorSearchUrl, PlaceholdersAreFilledAndTheFileNameCannotChangeTheQuery)
{
    EXPECT_EQ(BuildSearchUrl(searchAt("http://127.0.0.1:81/s?q={filename}&n={maxhit}&a={filesize}&b={filesize}"),
                             "a b&c#.iso", 1234567890123, nullptr),
              "http://127.0.0.1:81/s?q=a%20b%26c%23.iso&n=25&a=1234567890123&b=1234567890123");
    // A bare search server gets the classic query.
    EXPECT_EQ(BuildSearchUrl(searchAt("http://127.0.0.1/ftpsearch"), "f.iso", 1),
              "http://127.0.0.1/ftpsearch?query=f.iso&doit=Search&type=Case+insensitive+multiple+substrings+search"
              "&hits=25&matches=&hitsprmatch=&limdom=&limpath=&f1=-&f2=-&f3=-&f4=-&f5=-&f6=Path&header=none"
              "&sort=none&trlen=20");
    MirrorSearchOptions off = searchAt("http://127.0.0.1/s?q={filename}");
    off.ftpSearch = false;
    std::string why;
    EXPECT_EQ(BuildSearchUrl(off, "f.iso", 1, &why), "");
    EXPECT_FALSE(why.empty());
}

TEST(MirrorSearchUrl, SharingServiceAtTheUsersHostWithDailyCodeAndSharedUrl)
{
    MirrorSearchOptions options = searchAt("http://127.0.0.1:8080/anything?q={filename}");
    options.sharingService = true;
    options.today = options.checkDate = 20231114;
    EXPECT_EQ(BuildSearchUrl(options, "f.iso", 7), "http://127.0.0.1:8080/mirrors.php?name=f.iso&size=7&maxhit=25");
    options.checkDate = 20231113;
    options.shareUrls = true;
    options.simplifiedChinese = true;
    EXPECT_EQ(BuildSearchUrl(options, "f.iso", 7),
              "http://127.0.0.1:8080/cn/mirrors.php?name=f.iso&size=7&maxhit=25&code=DE&ver=1.65"
              "&url=http%3A%2F%2Ffiles.test%2Fpub%2Fa%20b%26c.iso");
    // A job URL with a query is never shared.
    options.jobUrl = "http://files.test/get?id=1";
    EXPECT_EQ(BuildSearchUrl(options, "f.iso", 7).find("&url="), std::string::npos);
    EXPECT_EQ(DailyDateCode(1700000000), 20231114);  // 2023-11-14 22:13 UTC
}

std::vector<ExtractedLink> links(std::initializer_list<const char*> urls)
{
    std::vector<ExtractedLink> out;
    for (const char* url : urls)
        out.push_back({url, "", 0, 0});
    return out;
}

TEST(MirrorSearchResults, OnlyWebAndFtpLinksOfTheSameNameRankedByCountry)
{
    const auto found = PickSearchResults(
        links({"http://a.test/pub/F.ISO", "javascript:alert('/f.iso')", "file:///etc/f.iso", "data:text/plain,f.iso",
               "ftp://b.de/f.iso", "https://c.fr/x/f.iso?mirror=1", "http://d.test/f.iso.md5",
               "http://a.test/pub/F.ISO", "http://e.test/dir/f%2Eiso", "mailto:f.iso@e.test"}),
        "f.iso", {"DE", "FR"});
    EXPECT_EQ(found,
              (std::vector<std::string>{"ftp://b.de/f.iso", "https://c.fr/x/f.iso?mirror=1", "http://a.test/pub/F.ISO",
                                        "http://e.test/dir/f%2Eiso"}));
    EXPECT_EQ(linkFileName("http://h.test/a/b%20c.zip?x=/y#z"), "b c.zip");
    EXPECT_EQ(linkFileName("http://h.test"), "");
}

TEST(MirrorSearchResults, AHugePageIsLookedAtOnlyForItsFirst5000Links)
{
    std::vector<ExtractedLink> many;
    for (int i = 0; i < 100000; ++i)
        many.push_back({"http://m" + std::to_string(i) + ".test/f.iso", "", 0, 0});
    const auto found = PickSearchResults(many, "f.iso", {});
    ASSERT_EQ(found.size(), kMaxSearchLinks);
    EXPECT_EQ(found.back(), "http://m4999.test/f.iso");
}

// Records what the worker reports.
class RecordingMirrorChannel final : public MirrorChannel {
public:
    bool alive() const override { return true; }
    void pingResult(size_t, int32_t, const std::string&) override { }
    void foundUrls(const std::vector<std::string>& urls) override
    {
        std::lock_guard lock(m_mutex);
        found.insert(found.end(), urls.begin(), urls.end());
    }
    void logLine(ConnectionLogKind kind, std::string_view text) override
    {
        std::lock_guard lock(m_mutex);
        lines.push_back({kind, std::string(text)});
    }
    void dailyCodeSent(int32_t day) override { dailyCode = day; }
    bool logged(std::string_view text) const
    {
        for (const auto& line : lines) {
            if (line.second.find(text) != std::string::npos)
                return true;
        }
        return false;
    }

    std::mutex m_mutex;
    std::vector<std::string> found;
    std::vector<std::pair<ConnectionLogKind, std::string>> lines;
    int32_t dailyCode = 0;
};

MirrorTask searchTask(const std::string& templateUrl, RecordingMirrorChannel*& channel)
{
    MirrorTask task;
    auto recording = std::make_unique<RecordingMirrorChannel>();
    channel = recording.get();
    task.channel = std::move(recording);
    task.fileName = "release.tar.gz";
    task.fileSize = 4096;
    task.search = searchAt(templateUrl);
    task.search.countryList = "JP";
    task.settings.connectTimeoutMs = 5000;
    task.settings.dataTimeoutMs = 5000;
    return task;
}

TEST(MirrorSearchWorker, ALoopbackResultPageAddsTheMatchingLinksInCountryOrder)
{
    test::NginxPeer nginx;
    std::string page = "<html><body><a href=\"http://mirror.example.us/pub/release.tar.gz\">us</a>\n"
                       "<a href=\"ftp://ftp.uni.jp/release.tar.gz\">jp</a>\n"
                       "<a href=\"javascript:go('release.tar.gz')\">js</a>\n"
                       "<a href=\"/local/release.tar.gz\">relative</a>\n"
                       "<a href=\"http://mirror.tu.de/files/RELEASE.TAR.GZ\">de</a>\n"
                       "<a href=\"http://other.de/release.tar.gz.sig\">sig</a>\n";
    for (int i = 0; i < 20000; ++i)
        page += "<a href=\"http://filler" + std::to_string(i) + ".test/other.bin\">x</a>\n";
    page += "<a href=\"http://late.de/release.tar.gz\">past the links looked at</a></body></html>\n";
    nginx.writeServedFile("search/results.html", page);
    const std::string base = "http://127.0.0.1:" + std::to_string(nginx.httpPort());

    RecordingMirrorChannel* channel = nullptr;
    MirrorTask task = searchTask(base + "/search/results.html?q={filename}&size={filesize}", channel);
    EXPECT_EQ(MirrorSearchProcedure(task), 0);
    EXPECT_EQ(
        channel->found,
        (std::vector<std::string>{"http://mirror.tu.de/files/RELEASE.TAR.GZ", "ftp://ftp.uni.jp/release.tar.gz",
                                  "http://mirror.example.us/pub/release.tar.gz", base + "/local/release.tar.gz"}));
    EXPECT_TRUE(channel->logged("Start Ftp Search."));
    EXPECT_TRUE(channel->logged("Ftp search finished.  Total found 4 mirror sites."));
    // The request carried the filled query.
    std::ifstream ranges(nginx.rangeLogFile());
    const std::string logText((std::istreambuf_iterator<char>(ranges)), std::istreambuf_iterator<char>());
    EXPECT_NE(logText.find("/search/results.html?q=release.tar.gz&size=4096"), std::string::npos) << logText;
}

TEST(MirrorSearchWorker, AnUnreachablePageLogsTheErrorOnceAndFindsNothing)
{
    // A port that was just free: nothing listens there.
    uint16_t port = 0;
    {
        test::ScriptedServer probe(test::ServerScript{});
        port = probe.port();
    }
    RecordingMirrorChannel* channel = nullptr;
    MirrorTask task = searchTask("http://127.0.0.1:" + std::to_string(port) + "/s?q={filename}", channel);
    EXPECT_EQ(MirrorSearchProcedure(task), 0);
    EXPECT_TRUE(channel->found.empty());
    int errors = 0;
    for (const auto& line : channel->lines)
        errors += line.second.starts_with("Error occured!") ? 1 : 0;
    EXPECT_EQ(errors, 1) << [&] {
        std::string all;
        for (const auto& line : channel->lines)
            all += line.second + "\n";
        return all;
    }();
    EXPECT_FALSE(channel->logged("Total found"));
}

// Why the search is off, in the current language.
TEST(MirrorSearchUrl, WhyTheSearchIsOffIsInTheCurrentLanguage)
{
    auto german = std::make_unique<ActiveLanguage>();
    german->file = LanguageFile::parse("[String]\n41632=kein Suchserver\n41633=Websuche aus\n");
    german->fileName = "kxdeu.ini";
    setCurrentLanguage(std::move(german));
    std::string why;
    EXPECT_EQ(BuildSearchUrl(searchAt(std::string(kDefaultMirrorSearchTemplate)), "f.iso", 10, &why), "");
    EXPECT_EQ(why, "kein Suchserver");
    MirrorSearchOptions webOff = searchAt("http://127.0.0.1:81/s?q={filename}");
    webOff.ftpSearch = false;
    EXPECT_EQ(BuildSearchUrl(webOff, "f.iso", 10, &why), "");
    EXPECT_EQ(why, "Websuche aus");
    setCurrentLanguage(nullptr);
    EXPECT_EQ(BuildSearchUrl(webOff, "f.iso", 10, &why), "");
    EXPECT_EQ(why, "Mirror search is off: web search is switched off on the Mirrors page.");
}

TEST(MirrorSearchWorker, WithoutASearchHostItSaysSoAndSendsNothing)
{
    RecordingMirrorChannel* channel = nullptr;
    MirrorTask task = searchTask(std::string(kDefaultMirrorSearchTemplate), channel);
    // Nothing is sent, so the day's code is not used up either.
    task.search.sharingService = true;
    task.search.today = 20231114;
    EXPECT_EQ(MirrorSearchProcedure(task), 0);
    EXPECT_EQ(channel->dailyCode, 0);
    ASSERT_EQ(channel->lines.size(), 1u);
    EXPECT_NE(channel->lines[0].second.find("Mirror search is off"), std::string::npos);
    EXPECT_FALSE(channel->logged("Start Ftp Search."));
}

}  // namespace
}  // namespace fetchora
