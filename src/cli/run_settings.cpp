#include "cli/run_settings.h"

#include "config/app_settings.h"
#include "config/proxy_list.h"

namespace fetchora {

void applyRunSettings(const CliOptions& options, AppSettings& settings)
{
    if (options.proxy) {
        ProxyList& proxies = settings.proxies();
        // Every job of the run takes the given proxy, whatever its site rule
        // or its own choice; the stored proxies stay out of multi-proxy
        // rotation so that no connection goes another way.
        for (size_t i = 0; i < proxies.ProxyCount(); ++i)
            proxies.ProxyAt(i)->flags &= ~kProxyMultiProxy;
        proxies.AddProxy(*options.proxy, false);
        const auto index = static_cast<int32_t>(proxies.ProxyCount() - 1);
        proxies.setDefaultIndex(ProxyDefault::Http, index);
        proxies.setDefaultIndex(ProxyDefault::Ftp, index);
        proxies.setDefaultIndex(ProxyDefault::Stream, index);
        settings.SetOption(OptionId::UseDefaultProxies, 1);
    }
    if (options.retries) {
        // A count the user gives is a limit: unlimited retrying is off.
        settings.SetOption(OptionId::AlwaysRetry, 0);
        settings.SetOption(OptionId::RetryCount, *options.retries);
    }
    if (options.timeout) {
        settings.SetOption(OptionId::ConnectTimeout, *options.timeout);
        settings.SetOption(OptionId::DataTimeout, *options.timeout);
    }
}

}  // namespace fetchora
