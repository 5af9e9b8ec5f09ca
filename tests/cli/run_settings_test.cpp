#include "cli/run_settings.h"

#include "config/job_proxies.h"
#include "config/proxy_list.h"
#include "config/settings_fixture.h"
#include "config/site_rules.h"

namespace fetchora {
namespace {

class RunSettings : public test::SettingsTest {
protected:
    // A user's set-up that would send jobs elsewhere: a stored HTTP proxy as
    // the default, in multi-proxy rotation, and a site rule that picks it.
    void SetUp() override
    {
        putDword("Connection", "CT", 120);
        putDword("Connection", "Retry", 99);
        m_settings.LoadSettings();
        ProxyEntry stored{"office", "10.0.0.1", "", "", 8080, kProxyHttpGet, 6 | kProxyMultiProxy};
        ASSERT_EQ(m_settings.proxies().AddProxy(stored, false), 1);
        ASSERT_EQ(m_settings.proxies().AddProxy(stored, false), 1);
        m_settings.proxies().setDefaultIndex(ProxyDefault::Http, 1);
        for (const char* mask : {"http://127.0.0.1", "https://127.0.0.1", "ftp://127.0.0.1"}) {
            SiteRule rule;
            rule.urlMask = mask;
            rule.flags |= kSiteMultiProxy;
            rule.proxy = packSiteProxies(2, 2, 0);
            m_settings.siteRules().AddSiteRule(rule);
        }
    }

    JobProxies chosenFor(const std::string& url)
    {
        JobProxyRequest request;
        request.useDefaultProxies = m_settings.GetOption(OptionId::UseDefaultProxies) > 0;
        request.own = {1, 1, 0};
        request.httpJob = url.rfind("http", 0) == 0;
        request.siteRule = m_settings.siteRules().FindSiteRule(url);
        return ChooseJobProxies(m_settings.proxies(), request);
    }

    AppSettings m_settings{m_registry, environment()};
};

TEST_F(RunSettings, ProxyGoesToEveryKindOfJobAndIsNeverSaved)
{
    CliOptions options;
    options.proxy = ProxyEntry{"--proxy", "127.0.0.1", "u", "p", 1080, kProxySocks5, 7};
    const size_t stored = m_settings.proxies().ProxyCount();
    applyRunSettings(options, m_settings);

    const ProxyEntry* run = m_settings.runProxy();
    ASSERT_NE(run, nullptr);
    const JobProxies chosen = RunProxies(*run);
    for (const ProxyEntry* proxy : {chosen.http, chosen.ftp, chosen.stream}) {
        ASSERT_NE(proxy, nullptr);
        EXPECT_EQ(proxy->type, kProxySocks5);
        EXPECT_EQ(proxy->port, 1080);
        EXPECT_EQ(proxy->password, "p");
    }
    // The stored list, its defaults and the option that points jobs at them
    // are as the user left them, so a save at exit writes none of the run's.
    EXPECT_EQ(m_settings.proxies().ProxyCount(), stored);
    EXPECT_EQ(m_settings.GetOption(OptionId::UseDefaultProxies), 0);
    ASSERT_TRUE(m_settings.SaveSettings());
    AppSettings reloaded{m_registry, environment()};
    reloaded.LoadSettings();
    EXPECT_EQ(reloaded.proxies().ProxyCount(), stored);
    EXPECT_EQ(reloaded.runProxy(), nullptr);
}

TEST_F(RunSettings, HttpProxyLeavesStreamsDirect)
{
    CliOptions options;
    options.proxy = ProxyEntry{"--proxy", "127.0.0.1", "", "", 3128, kProxyHttpGet, 6};
    applyRunSettings(options, m_settings);
    ASSERT_NE(m_settings.runProxy(), nullptr);
    const JobProxies chosen = RunProxies(*m_settings.runProxy());
    ASSERT_NE(chosen.http, nullptr);
    EXPECT_EQ(chosen.http->port, 3128);
    EXPECT_EQ(chosen.stream, nullptr);
}

TEST_F(RunSettings, RetryAndTimeoutReplaceTheSettingsInMemoryOnly)
{
    m_settings.SetOption(OptionId::AlwaysRetry, 1);
    CliOptions options;
    options.retries = 0;
    options.timeout = 30;
    applyRunSettings(options, m_settings);
    EXPECT_EQ(m_settings.GetOption(OptionId::RetryCount), 0);
    EXPECT_EQ(m_settings.GetOption(OptionId::AlwaysRetry), 0);
    EXPECT_EQ(m_settings.GetOption(OptionId::ConnectTimeout), 30);
    EXPECT_EQ(m_settings.GetOption(OptionId::DataTimeout), 30);
    // The store still holds the user's values, also after a save.
    ASSERT_TRUE(m_settings.SaveSettings());
    EXPECT_EQ(dword("Connection", "CT"), 120u);
    EXPECT_EQ(dword("Connection", "Retry"), 99u);
}

TEST_F(RunSettings, NoRunOptionsChangeNothing)
{
    const int32_t retries = m_settings.GetOption(OptionId::RetryCount);
    const size_t proxies = m_settings.proxies().ProxyCount();
    applyRunSettings(CliOptions{}, m_settings);
    EXPECT_EQ(m_settings.GetOption(OptionId::RetryCount), retries);
    EXPECT_EQ(m_settings.GetOption(OptionId::ConnectTimeout), 120);
    EXPECT_EQ(m_settings.GetOption(OptionId::UseDefaultProxies), 0);
    EXPECT_EQ(m_settings.proxies().ProxyCount(), proxies);
    JobProxies chosen = chosenFor("http://127.0.0.1/f");
    ASSERT_NE(chosen.http, nullptr);
    EXPECT_EQ(chosen.http->server, "10.0.0.1");
}

}  // namespace
}  // namespace fetchora
