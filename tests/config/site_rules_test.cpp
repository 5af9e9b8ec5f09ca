#include "config/site_rules.h"

#include "config/proxy_list.h"
#include "config/scrambled_password.h"
#include "config/settings_key.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace fetchora {
namespace {

void putInt(Registry& reg, std::string_view name, uint32_t value)
{
    reg.writeDword(Hive::CurrentUser, settingsKey("Sites"), name, value);
}

void putText(Registry& reg, std::string_view name, std::string_view value)
{
    reg.writeString(Hive::CurrentUser, settingsKey("Sites"), name, value);
}

SiteRule rule(std::string mask)
{
    SiteRule r;
    r.urlMask = std::move(mask);
    return r;
}

TEST(SiteRuleStore, LoadAppliesDefaultsAndRaisesConnectionsToOne)
{
    Registry reg;
    putInt(reg, "Count", 3);
    putText(reg, "URLMask0", "http://a.example/");
    putText(reg, "URLMask1", "ftp://b.example/");
    putInt(reg, "Connection1", 0xFFFFFFFF);  // -1
    putInt(reg, "Flags1", 0x501);
    putInt(reg, "Proxy1", 0x00020103);
    putText(reg, "UserName1", "dave");
    WriteScrambled(reg, "Sites", "Password1", "hunter2");
    putText(reg, "URLMask2", "http://c.example/");
    putInt(reg, "Connection2", 0);

    SiteRuleList list;
    list.load(reg);
    ASSERT_EQ(list.SiteRuleCount(), 3u);
    const SiteRule& first = *list.SiteRuleAt(0);
    EXPECT_EQ(first.flags, 255u);
    EXPECT_EQ(first.proxy, 0u);
    EXPECT_EQ(first.connection, 1);
    EXPECT_EQ(first.password, "");
    const SiteRule& second = *list.SiteRuleAt(1);
    EXPECT_EQ(second.connection, 1);
    EXPECT_EQ(second.flags, 0x501u);
    EXPECT_EQ(siteHttpProxy(second), 2);
    EXPECT_EQ(siteStreamProxy(second), 1);
    EXPECT_EQ(siteFtpProxy(second), 3);
    EXPECT_EQ(second.userName, "dave");
    EXPECT_EQ(second.password, "hunter2");
    EXPECT_EQ(list.SiteRuleAt(2)->connection, 1);
}

TEST(SiteRuleStore, SaveRewritesTheSectionAndRoundTrips)
{
    Registry reg;
    putInt(reg, "Count", 4);
    for (int i = 0; i < 4; ++i)
        putText(reg, "URLMask" + std::to_string(i), "http://old" + std::to_string(i) + "/");
    SiteRuleList list;
    list.load(reg);
    JobLock lock;
    ASSERT_TRUE(list.RemoveSiteRule(list.SiteRuleAt(1), lock));
    ASSERT_TRUE(list.RemoveSiteRule(list.SiteRuleAt(2), lock));
    SiteRule added = rule("ftp://new.example/pub/");
    added.userName = "erin";
    added.password = "pw";
    added.flags = kSiteLogin | kSiteOnePerFile;
    added.connection = 5;
    added.proxy = packSiteProxies(4, 2, 1);
    list.AddSiteRule(added);
    list.AddSessionSiteRule(rule("ftp://session.example:21/"));
    list.save(reg);

    EXPECT_EQ(reg.readDword(Hive::CurrentUser, settingsKey("Sites"), "Count"), 3u);
    EXPECT_FALSE(reg.readString(Hive::CurrentUser, settingsKey("Sites"), "URLMask3"));

    SiteRuleList reloaded;
    reloaded.load(reg);
    ASSERT_EQ(reloaded.SiteRuleCount(), 3u);
    EXPECT_EQ(reloaded.SiteRuleAt(0)->urlMask, "http://old0/");
    EXPECT_EQ(reloaded.SiteRuleAt(1)->urlMask, "http://old2/");
    const SiteRule& back = *reloaded.SiteRuleAt(2);
    EXPECT_EQ(back.urlMask, added.urlMask);
    EXPECT_EQ(back.userName, "erin");
    EXPECT_EQ(back.password, "pw");
    EXPECT_EQ(back.flags, added.flags);
    EXPECT_EQ(back.connection, 5);
    EXPECT_EQ(back.proxy, added.proxy);
    EXPECT_EQ(reloaded.SessionSiteRuleCount(), 0u);
}

TEST(SiteRuleStore, CorruptCountStopsAtTheRulesPresent)
{
    Registry reg;
    putInt(reg, "Count", 0xFFFFFFFF);
    putText(reg, "URLMask0", "http://a/");
    putText(reg, "URLMask1", "http://b/");
    const auto start = std::chrono::steady_clock::now();
    SiteRuleList list;
    list.load(reg);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(list.SiteRuleCount(), 2u);
}

TEST(SiteRuleLookup, MasksMatchTheStartOfTheUrlWithoutRegardToCase)
{
    SiteRuleList list;
    list.AddSiteRule(rule(""));  // never matches, though it begins every URL
    list.AddSiteRule(rule("http://Files.Example.com/Pub/"));
    list.AddSiteRule(rule("http://files.example.com/"));
    list.AddSiteRule(rule("ftp://mirror.example/"));

    struct Case {
        const char* url;
        const char* mask;  // nullptr: none
    };
    const Case cases[] = {
        {"HTTP://FILES.EXAMPLE.COM/PUB/A/B.ZIP", "http://Files.Example.com/Pub/"},
        {"http://files.example.com/pub", "http://files.example.com/"},
        {"http://files.example.com", nullptr},
        {"http://files.example.com.evil/", nullptr},
        {"ftp://mirror.example/x", "ftp://mirror.example/"},
        {"https://files.example.com/pub/", nullptr},
    };
    for (const Case& c : cases) {
        const SiteRule* found = list.FindSiteRule(c.url);
        if (c.mask) {
            ASSERT_NE(found, nullptr) << c.url;
            EXPECT_EQ(found->urlMask, c.mask) << c.url;
        } else {
            EXPECT_EQ(found, nullptr) << c.url;
        }
    }
}

TEST(SiteRuleLookup, SessionRulesComeAfterStoredOnesAndCompareTheirMaskAsWritten)
{
    SiteRuleList list;
    SiteRule* upper = list.AddSessionSiteRule(rule("ftp://Upper.example/"));
    SiteRule* lower = list.AddSessionSiteRule(rule("ftp://lower.example/"));
    EXPECT_EQ(list.FindSiteRule("ftp://upper.example/file"), nullptr);
    EXPECT_EQ(list.FindSiteRule("ftp://Upper.example/file"), nullptr);
    EXPECT_EQ(list.FindSiteRule("FTP://LOWER.EXAMPLE/file"), lower);
    EXPECT_NE(upper, nullptr);

    SiteRule* stored = list.AddSiteRule(rule("ftp://lower.example/"));
    EXPECT_EQ(list.FindSiteRule("ftp://lower.example/file"), stored);
    EXPECT_EQ(list.SiteRuleCount(), 1u);
    EXPECT_EQ(list.SessionSiteRuleCount(), 2u);
}

TEST(SiteRuleEdit, RulesStayPutWhenOthersAreAddedAndForeignRulesAreNotRemoved)
{
    SiteRuleList list;
    SiteRule* first = list.AddSiteRule(rule("http://a/"));
    for (int i = 0; i < 100; ++i)
        list.AddSiteRule(rule("http://b" + std::to_string(i) + "/"));
    EXPECT_EQ(list.SiteRuleAt(0), first);
    EXPECT_EQ(first->urlMask, "http://a/");

    SiteRule outside = rule("http://a/");
    JobLock lock;
    EXPECT_FALSE(list.RemoveSiteRule(&outside, lock));
    EXPECT_FALSE(list.RemoveSiteRule(nullptr, lock));
    EXPECT_EQ(list.SiteRuleCount(), 101u);
}

TEST(SiteRuleNeutral, OnlyDefaultFlagsOneConnectionAndDefaultProxiesAreNeutral)
{
    Registry reg;
    ProxyList proxies;
    proxies.load(reg);
    ProxyEntry entry;
    entry.type = kProxyHttpGet;
    for (int i = 0; i < 3; ++i) {
        entry.port = static_cast<uint16_t>(8000 + i);
        proxies.AddProxy(entry, true);
    }
    proxies.setDefaultIndex(ProxyDefault::Http, 2);
    proxies.setDefaultIndex(ProxyDefault::Ftp, 3);
    proxies.setDefaultIndex(ProxyDefault::Stream, 1);

    const SiteRule fresh = newSiteRule(proxies);
    EXPECT_EQ(fresh.proxy, 0x00020003u);  // no stream place
    EXPECT_TRUE(isNeutralSiteRule(fresh, proxies));

    struct Case {
        const char* what;
        uint32_t flags;
        int32_t connection;
        uint32_t proxy;
        bool neutral;
    };
    const Case cases[] = {
        {"other flags", 0x1FF, 1, fresh.proxy, false},
        {"two connections", 0xFF, 2, fresh.proxy, false},
        {"stream proxy set", 0xFF, 1, fresh.proxy | 0x100, false},
        {"proxy word 0", 0xFF, 1, 0, false},
    };
    for (const Case& c : cases) {
        SiteRule r = fresh;
        r.flags = c.flags;
        r.connection = c.connection;
        r.proxy = c.proxy;
        EXPECT_EQ(isNeutralSiteRule(r, proxies), c.neutral) << c.what;
    }
}

}  // namespace
}  // namespace fetchora
