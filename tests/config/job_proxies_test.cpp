#include "config/job_proxies.h"

#include "config/proxy_list.h"
#include "config/site_rules.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

// Index: 0 direct, 1 HTTP GET, 2 FTP user@host, 3 SOCKS5, 4 CONNECT, 5 SOCKS4,
// 6 a configured entry of type 0, 7 HTTP GET in rotation.
class ChooseJobProxiesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Registry reg;
        proxies.load(reg);
        const uint16_t types[] = {kProxyHttpGet, kProxyFtpUserColon, kProxySocks5, kProxyHttpConnect,
                                  kProxySocks4,  kProxyDirect,       kProxyHttpGet};
        uint16_t port = 1000;
        for (uint16_t type : types) {
            ProxyEntry entry;
            entry.server = "p" + std::to_string(port);
            entry.port = port++;
            entry.type = type;
            proxies.AddProxy(entry, false);
        }
        proxies.ProxyAt(7)->flags |= kProxyMultiProxy;
        proxies.setDefaultIndex(ProxyDefault::Http, 1);
        proxies.setDefaultIndex(ProxyDefault::Ftp, 2);
        proxies.setDefaultIndex(ProxyDefault::Stream, 3);
    }

    JobProxyRequest request(uint16_t http, uint16_t ftp, uint16_t stream, bool httpJob = false)
    {
        JobProxyRequest r;
        r.own = {http, ftp, stream};
        r.httpJob = httpJob;
        return r;
    }

    ProxyList proxies;
};

TEST_F(ChooseJobProxiesTest, OptionThirtyOneUsesTheDefaultsOverEverythingElse)
{
    SiteRule rule = newSiteRule(proxies);
    rule.proxy = packSiteProxies(4, 4, 4);
    JobProxyRequest r = request(5, 5, 5);
    r.useDefaultProxies = true;
    r.siteRule = &rule;
    const JobProxies chosen = ChooseJobProxies(proxies, r);
    EXPECT_EQ(chosen.http, proxies.ProxyAt(1));
    EXPECT_EQ(chosen.ftp, proxies.ProxyAt(2));
    EXPECT_EQ(chosen.stream, proxies.ProxyAt(3));
    EXPECT_EQ(chosen.ids.http, 1);
    EXPECT_EQ(chosen.ids.ftp, 2);
    EXPECT_EQ(chosen.ids.stream, 3);
}

TEST_F(ChooseJobProxiesTest, NonNeutralSiteRuleProxiesReplaceTheJobsOwn)
{
    SiteRule rule = newSiteRule(proxies);
    rule.proxy = packSiteProxies(4, 2, 5);
    JobProxyRequest r = request(1, 0, 3);
    r.siteRule = &rule;
    JobProxies chosen = ChooseJobProxies(proxies, r);
    EXPECT_EQ(chosen.ids.http, 4);
    EXPECT_EQ(chosen.ids.ftp, 2);
    EXPECT_EQ(chosen.ids.stream, 5);

    // A neutral rule leaves the job's own choice in force.
    rule = newSiteRule(proxies);
    chosen = ChooseJobProxies(proxies, r);
    EXPECT_EQ(chosen.ids.http, 1);
    EXPECT_EQ(chosen.ftp, nullptr);
    EXPECT_EQ(chosen.ids.stream, 3);

    // Only the connection count makes it non-neutral: its proxy word (the
    // defaults) now applies.
    rule.connection = 4;
    chosen = ChooseJobProxies(proxies, r);
    EXPECT_EQ(chosen.ids.http, 1);
    EXPECT_EQ(chosen.ids.ftp, 2);
    EXPECT_EQ(chosen.stream, nullptr);
}

TEST_F(ChooseJobProxiesTest, EachSlotTakesOnlyTheTypesItsConnectionsCanUse)
{
    struct Case {
        uint16_t index;
        bool httpJob;
        bool http, ftp, stream;  // whether each slot takes the entry
    };
    const Case cases[] = {
        {0, false, false, false, false},  // entry 0: direct
        {1, true, true, true, false},  // HTTP GET
        {2, true, false, true, false},  // FTP proxy: not for an HTTP job's HTTP slot
        {2, false, true, true, false},  // ... but an FTP job keeps it
        {3, true, true, true, true},  // SOCKS5
        {4, true, true, true, true},  // CONNECT
        {5, true, true, true, true},  // SOCKS4
        {6, false, false, false, false},  // type 0 entry
        {99, false, false, false, false},  // no such entry
    };
    for (const Case& c : cases) {
        const JobProxies chosen = ChooseJobProxies(proxies, request(c.index, c.index, c.index, c.httpJob));
        const ProxyEntry* entry = proxies.ProxyAt(c.index);
        EXPECT_EQ(chosen.http, c.http ? entry : nullptr) << c.index << " http job " << c.httpJob;
        EXPECT_EQ(chosen.ftp, c.ftp ? entry : nullptr) << c.index;
        EXPECT_EQ(chosen.stream, c.stream ? entry : nullptr) << c.index;
        EXPECT_EQ(chosen.ids.http, c.http ? c.index : 0) << c.index;
    }
}

TEST_F(ChooseJobProxiesTest, ConnectionsRotateThroughMultiProxiesAndFallBackToTheChoice)
{
    const JobProxies chosen = ChooseJobProxies(proxies, request(4, 2, 3, true));
    EXPECT_EQ(proxyForConnection(proxies, chosen, 1, kMultiProxyHttp), proxies.ProxyAt(7));
    EXPECT_EQ(proxyForConnection(proxies, chosen, 2, kMultiProxyHttp), proxies.ProxyAt(4));
    EXPECT_EQ(proxyForConnection(proxies, chosen, 2, kMultiProxyFtp), proxies.ProxyAt(2));
    EXPECT_EQ(proxyForConnection(proxies, chosen, 2, kMultiProxyStream), proxies.ProxyAt(3));

    // The rotation skips the kind's default entry.
    proxies.setDefaultIndex(ProxyDefault::Http, 7);
    EXPECT_EQ(proxyForConnection(proxies, chosen, 1, kMultiProxyHttp), proxies.ProxyAt(4));
    EXPECT_EQ(proxyForConnection(proxies, chosen, 1, kMultiProxyFtp), proxies.ProxyAt(7));
}

}  // namespace
}  // namespace fetchora
