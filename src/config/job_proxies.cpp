#include "config/job_proxies.h"

#include "config/proxy_list.h"
#include "config/site_rules.h"

namespace fetchora {

namespace {

// An index names a usable proxy when it is not entry 0 and its entry exists
// and is not a direct connection.
const ProxyEntry* usableProxy(const ProxyList& proxies, uint16_t index)
{
    if (index == 0)
        return nullptr;
    const ProxyEntry* entry = proxies.ProxyAt(index);
    return (entry && entry->type != kProxyDirect) ? entry : nullptr;
}

bool httpJobAccepts(uint16_t type)
{
    return type == kProxyHttpGet || isTunnelProxyType(type);
}

}  // namespace

JobProxyIds jobProxyIds(const ProxyList& proxies, const JobProxyRequest& request)
{
    if (request.useDefaultProxies) {
        return {static_cast<uint16_t>(proxies.defaultIndex(ProxyDefault::Http)),
                static_cast<uint16_t>(proxies.defaultIndex(ProxyDefault::Ftp)),
                static_cast<uint16_t>(proxies.defaultIndex(ProxyDefault::Stream))};
    }
    if (request.siteRule && !isNeutralSiteRule(*request.siteRule, proxies)) {
        const SiteRule& rule = *request.siteRule;
        return {siteHttpProxy(rule), siteFtpProxy(rule), siteStreamProxy(rule)};
    }
    return request.own;
}

JobProxies ChooseJobProxies(const ProxyList& proxies, const JobProxyRequest& request)
{
    const JobProxyIds ids = jobProxyIds(proxies, request);
    JobProxies chosen;
    if (const ProxyEntry* ftp = usableProxy(proxies, ids.ftp)) {
        chosen.ftp = ftp;
        chosen.ids.ftp = ids.ftp;
    }
    if (const ProxyEntry* http = usableProxy(proxies, ids.http);
        http && (!request.httpJob || httpJobAccepts(http->type))) {
        chosen.http = http;
        chosen.ids.http = ids.http;
    }
    if (const ProxyEntry* stream = usableProxy(proxies, ids.stream); stream && isTunnelProxyType(stream->type)) {
        chosen.stream = stream;
        chosen.ids.stream = ids.stream;
    }
    return chosen;
}

JobProxies RunProxies(const ProxyEntry& run)
{
    JobProxies chosen;
    chosen.http = &run;
    chosen.ftp = &run;
    if (isTunnelProxyType(run.type))
        chosen.stream = &run;
    return chosen;
}

const ProxyEntry* proxyForConnection(const ProxyList& proxies, const JobProxies& chosen, int n, int kind)
{
    if (const ProxyEntry* rotated = proxies.MultiProxy(n, kind))
        return rotated;
    switch (kind) {
    case kMultiProxyHttp: return chosen.http;
    case kMultiProxyStream: return chosen.stream;
    case kMultiProxyFtp: return chosen.ftp;
    default: return nullptr;
    }
}

}  // namespace fetchora
