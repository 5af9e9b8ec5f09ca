#pragma once
// Which proxies a job connects through: the global defaults, its site rule's
// proxies or its own choice, filtered by what each kind of connection can use.
//
// Thread: the loop thread, under the job lock (the returned pointers stay
// valid until their entries are removed from the list, which takes the lock).
// Borrows the ProxyList and the SiteRule.
#include <cstdint>

namespace fetchora {

class ProxyList;
struct ProxyEntry;
struct SiteRule;

// The three proxy indices a job carries (0 = none).
struct JobProxyIds {
    uint16_t http = 0;
    uint16_t ftp = 0;
    uint16_t stream = 0;
};

// The proxies chosen for a run; a null entry means a direct connection. The
// ids are the list indices the entries were taken from (0 with a null entry).
struct JobProxies {
    const ProxyEntry* http = nullptr;
    const ProxyEntry* ftp = nullptr;
    const ProxyEntry* stream = nullptr;
    JobProxyIds ids;
};

struct JobProxyRequest {
    // Option 31: every job uses the default proxies.
    bool useDefaultProxies = false;
    // The job's own choice.
    JobProxyIds own;
    // An HTTP or HTTPS job; such a job takes only HTTP GET, tunnel and SOCKS
    // proxies in its HTTP slot.
    bool httpJob = false;
    // The site rule of the job's URL, if any; a neutral rule is ignored.
    const SiteRule* siteRule = nullptr;
};

// The proxy indices that apply before filtering: the defaults with option 31,
// else the proxies of a non-neutral site rule, else the job's own.
JobProxyIds jobProxyIds(const ProxyList& proxies, const JobProxyRequest& request);

// Resolves the indices into entries. Entry 0, unknown indices and entries of
// type 0 give none; the stream slot takes only SOCKS and CONNECT proxies.
JobProxies ChooseJobProxies(const ProxyList& proxies, const JobProxyRequest& request);

// The proxies of every job while a proxy is given for the whole run: it
// takes the HTTP and FTP slots, and the stream slot when it is a tunnel.
JobProxies RunProxies(const ProxyEntry& run);

// The proxy for connection n (counting from 1) of a job with multi-proxy in
// effect: the n-th rotation entry of the kind (kMultiProxyHttp,
// kMultiProxyStream, kMultiProxyFtp), falling back to the job's ordinary
// choice of that kind when the rotation has none.
const ProxyEntry* proxyForConnection(const ProxyList& proxies, const JobProxies& chosen, int n, int kind);

}  // namespace fetchora
