#pragma once
// Site rules: per-site login, connection limit and proxies, found by the start
// of a job's URL.
//
// Thread: changed and saved on the loop thread; looked up by job runners.
// Rules are kept behind stable pointers (adding never moves a rule), so a job
// may keep the rule it found; removal frees the rule and takes the job lock.
// Owns its rules; borrows the Registry during load and save.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/job_lock.h"

namespace fetchora {

class ProxyList;
class Registry;

inline constexpr uint32_t kSiteUnlimited = 0x1;
inline constexpr uint32_t kSiteLogin = 0x100;  // log in with userName/password
inline constexpr uint32_t kSiteOnePerFile = 0x200;  // one connection per file on this site
inline constexpr uint32_t kSiteMultiProxy = 0x400;  // a different proxy for each connection
inline constexpr uint32_t kSiteDefaultFlags = 0xFF;

inline constexpr int32_t kSiteMaxConnections = 100;

struct SiteRule {
    std::string urlMask;
    std::string userName;
    std::string password;
    uint32_t flags = kSiteDefaultFlags;
    int32_t connection = 1;
    // Bits 16..31 the HTTP proxy index, 0..7 the FTP proxy, 8..15 the stream
    // (RTSP/MMS) proxy.
    uint32_t proxy = 0;
};

inline uint16_t siteHttpProxy(const SiteRule& rule)
{
    return static_cast<uint16_t>(rule.proxy >> 16);
}
inline uint8_t siteFtpProxy(const SiteRule& rule)
{
    return static_cast<uint8_t>(rule.proxy & 0xFF);
}
inline uint8_t siteStreamProxy(const SiteRule& rule)
{
    return static_cast<uint8_t>((rule.proxy >> 8) & 0xFF);
}
uint32_t packSiteProxies(uint16_t http, uint8_t ftp, uint8_t stream);

// The proxy word of a rule that just follows the current defaults: the HTTP
// default in bits 16..31, the FTP default in bits 0..7, no stream proxy.
uint32_t defaultSiteProxies(const ProxyList& proxies);
// A rule for a new site as the site dialog starts it.
SiteRule newSiteRule(const ProxyList& proxies);
// A neutral rule (default flags, one connection, default proxies) says
// nothing about proxies; jobs under it keep their own.
bool isNeutralSiteRule(const SiteRule& rule, const ProxyList& proxies);

class SiteRuleList {
public:
    SiteRuleList() = default;
    SiteRuleList(const SiteRuleList&) = delete;
    SiteRuleList& operator=(const SiteRuleList&) = delete;

    // LoadSiteRules / SaveSiteRules (the "Sites" section; a save deletes the
    // key and writes it anew, without flushing).
    void load(const Registry& registry);
    void save(Registry& registry) const;

    // The first stored rule whose mask begins the URL, both without regard to
    // case; failing that, the first session rule whose mask, as written,
    // begins the lower-cased URL. A rule with an empty mask never matches.
    const SiteRule* FindSiteRule(std::string_view url) const;
    SiteRule* FindSiteRule(std::string_view url);

    SiteRule* AddSiteRule(const SiteRule& rule);
    // Removes a stored rule under the job lock (recursive: the caller may
    // already hold it). Returns false when the rule is not in the list.
    bool RemoveSiteRule(const SiteRule* rule, JobLock& lock);
    size_t SiteRuleCount() const { return m_rules.size(); }
    const SiteRule* SiteRuleAt(size_t index) const;
    SiteRule* SiteRuleAt(size_t index);

    // Session rules live in memory only and are never saved: the per-site
    // connection limits learnt at run time (an FTP server's welcome text
    // announcing its limit). The FTP transfer adds them under the job lock;
    // their masks are built by the program in lower case.
    SiteRule* AddSessionSiteRule(const SiteRule& rule);
    size_t SessionSiteRuleCount() const { return m_sessionRules.size(); }
    const SiteRule* SessionSiteRuleAt(size_t index) const;

private:
    std::vector<std::unique_ptr<SiteRule>> m_rules;
    std::vector<std::unique_ptr<SiteRule>> m_sessionRules;
};

}  // namespace fetchora
