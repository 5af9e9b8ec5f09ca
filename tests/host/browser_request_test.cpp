#include "host/browser_request.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "net/base64_codec.h"
#include "shell/click_catcher.h"

namespace fetchora {
namespace {

// The code and the decoded data of a "<code> <base64>" item.
std::pair<std::string, std::vector<uint8_t>> splitItem(const std::string& item)
{
    const size_t blank = item.find(' ');
    if (blank == std::string::npos)
        return {item, {}};
    return {item.substr(0, blank), Base64Codec().decode(item.substr(blank + 1))};
}

TEST(BrowserRequest, MalformedMessagesAreRefusedWithAReasonAndTheirId)
{
    const struct {
        const char* json;
        const char* reason;
    } cases[] = {
        {"not json", "not a JSON object"},
        {"[1,2]", "not a JSON object"},
        {R"({"id":7})", "no \"type\""},
        {R"({"id":7,"type":"format-disk"})", "unknown message type"},
        {R"({"id":7,"type":"download","url":12})", "must be strings"},
        {R"j({"id":7,"type":"download","url":"javascript:alert(1)"})j", "only http, https and ftp"},
        {R"({"id":7,"type":"download","url":"file:///etc/passwd"})", "only http, https and ftp"},
        {R"({"id":7,"type":"links","links":"http://x/"})", "must be a list"},
        {R"({"id":7,"type":"links","links":[{"url":"data:text/plain,x"},{"url":"mailto:a@b"},7]})", "no http"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        const ParsedBrowserRequest parsed = ParseBrowserRequest(c.json);
        EXPECT_FALSE(parsed.request);
        EXPECT_NE(parsed.error.find(c.reason), std::string::npos) << parsed.error;
        if (std::string(c.json).find("\"id\"") != std::string::npos)
            EXPECT_EQ(parsed.id, "7");
        else
            EXPECT_EQ(parsed.id, "null");
        // The reply is valid JSON that names the error.
        const auto reply = nlohmann::json::parse(ErrorReplyJson(parsed.id, parsed.error));
        EXPECT_FALSE(reply["ok"].get<bool>());
        EXPECT_EQ(reply["error"].get<std::string>(), parsed.error);
    }
}

TEST(BrowserRequest, ADownloadBecomesAUrlBlockWithItsReferrer)
{
    const ParsedBrowserRequest parsed = ParseBrowserRequest(
        R"({"id":"a1","type":"download","url":"https://127.0.0.1/f.iso","referrer":"https://127.0.0.1/page.html"})");
    ASSERT_TRUE(parsed.request) << parsed.error;
    EXPECT_EQ(parsed.id, "\"a1\"");
    const CatcherHandOver handOver = MakeCatcherHandOver(*parsed.request, 64 * 1024);
    ASSERT_TRUE(handOver.error.empty());
    EXPECT_TRUE(handOver.fileData.empty());
    const auto [code, data] = splitItem(handOver.item);
    EXPECT_EQ(code, "0x77");
    const std::optional<CaughtUrl> url = ReadCaughtUrlBlock(data, true);
    ASSERT_TRUE(url);
    EXPECT_EQ(url->url, "https://127.0.0.1/f.iso");
    EXPECT_EQ(url->referer, "https://127.0.0.1/page.html");
}

TEST(BrowserRequest, TheCodeFollowsTheReferrerTheAlwaysSwitchAndTheUrlLength)
{
    BrowserRequest request;
    request.kind = BrowserRequest::Kind::Download;
    request.url = "http://127.0.0.1/a.zip";
    EXPECT_EQ(splitItem(MakeCatcherHandOver(request, 65536).item).first, "0x44");
    request.always = true;
    EXPECT_EQ(splitItem(MakeCatcherHandOver(request, 65536).item).first, "0x66");
    request.always = false;
    // A block holds at most 511 bytes: a longer URL goes through the file.
    request.url = "http://127.0.0.1/" + std::string(600, 'a');
    CatcherHandOver longUrl = MakeCatcherHandOver(request, 65536);
    EXPECT_EQ(longUrl.item, "0x11");
    EXPECT_EQ(longUrl.fileData, request.url);
    request.url = "http://127.0.0.1/" + std::string(2000, 'a');
    EXPECT_NE(MakeCatcherHandOver(request, 65536).error.find("longer than 1023"), std::string::npos);
}

TEST(BrowserRequest, CookiesFitForAJarLineAreKeptWithTheirDomainRule)
{
    const ParsedBrowserRequest parsed = ParseBrowserRequest(R"({"type":"download","url":"http://a.test/f",
        "cookies":[{"name":"sid","value":"1","domain":".a.test","path":"/","secure":true,"httpOnly":true,
                    "expirationDate":1900000000.5},
                   {"name":"host","value":"2","domain":"a.test","path":"/f","hostOnly":true},
                   {"name":"tab","value":"x\ty","domain":"a.test","path":"/"},
                   {"name":"line","value":"x\r\nSet: 1","domain":"a.test","path":"/"},
                   {"name":"","value":"empty","domain":"a.test","path":"/"},
                   {"name":"nodomain","value":"1","path":"/"},
                   {"name":"rel","value":"1","domain":"a.test","path":"f"},
                   "junk", 7]})");
    ASSERT_TRUE(parsed.request) << parsed.error;
    const std::vector<Cookie>& cookies = parsed.request->cookies;
    ASSERT_EQ(cookies.size(), 2u);
    EXPECT_EQ(cookies[0].domain, "a.test");
    EXPECT_TRUE(cookies[0].includeSubdomains);
    EXPECT_TRUE(cookies[0].secure);
    EXPECT_TRUE(cookies[0].httpOnly);
    EXPECT_EQ(cookies[0].expires, 1900000000);
    EXPECT_EQ(cookies[1].name, "host");
    EXPECT_FALSE(cookies[1].includeSubdomains);
    EXPECT_EQ(cookies[1].path, "/f");
    EXPECT_EQ(cookies[1].expires, 0);
}

TEST(BrowserRequest, AListKeepsOnlyDownloadableLinksAndGoesThroughTheFileWhenLarge)
{
    const ParsedBrowserRequest parsed = ParseBrowserRequest(R"j({"type":"links","pageUrl":"http://127.0.0.1/p.html",
        "links":[{"url":"http://127.0.0.1/1.zip","text":"One"},{"url":"javascript:void(0)"},
                 {"url":"ftp://127.0.0.1/2.zip"},{"url":"http://127.0.0.1/3.zip","text":7}]})j");
    ASSERT_TRUE(parsed.request) << parsed.error;
    ASSERT_EQ(parsed.request->links.size(), 3u);
    const CatcherHandOver small = MakeCatcherHandOver(*parsed.request, 65536);
    const auto [code, data] = splitItem(small.item);
    EXPECT_EQ(code, "0x55");
    const CaughtLinks links = ReadCaughtLinks(data);
    EXPECT_EQ(links.description, "http://127.0.0.1/p.html");
    ASSERT_EQ(links.links.size(), 3u);
    EXPECT_EQ(links.links[0].text, "One");
    EXPECT_EQ(links.links[1].url, "ftp://127.0.0.1/2.zip");
    EXPECT_EQ(links.links[2].url, "http://127.0.0.1/3.zip");
    EXPECT_EQ(links.links[2].text, "");

    BrowserRequest many = *parsed.request;
    for (int i = 0; i < 2000; ++i)
        many.links.push_back(
            {"http://127.0.0.1/file" + std::to_string(i) + ".bin", "File " + std::to_string(i), "", 0});
    const CatcherHandOver large = MakeCatcherHandOver(many, 65536);
    EXPECT_EQ(large.item, "0x22");
    const std::vector<uint8_t> bytes(large.fileData.begin(), large.fileData.end());
    EXPECT_EQ(ReadCaughtLinks(bytes).links.size(), 2003u);
}

}  // namespace
}  // namespace fetchora
