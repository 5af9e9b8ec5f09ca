#include "config/site_rules.h"

#include "config/list_registry.h"
#include "config/proxy_list.h"
#include "config/scrambled_password.h"
#include "config/settings_key.h"
#include "platform/registry.h"
#include "platform/text_utils.h"

#include <algorithm>

namespace fetchora {

namespace {

constexpr std::string_view kSection = "Sites";

std::string numbered(std::string_view name, size_t index)
{
    return std::string(name) + std::to_string(index);
}

bool beginsWith(std::string_view text, std::string_view prefix)
{
    return !prefix.empty() && text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

using RuleVector = std::vector<std::unique_ptr<SiteRule>>;

// Stored masks are typed by the user and compared without regard to case;
// session masks are made by the program and compared as written.
SiteRule* findRule(const RuleVector& rules, const std::string& lowerUrl, bool foldMask)
{
    for (const auto& rule : rules) {
        if (beginsWith(lowerUrl, foldMask ? asciiLower(rule->urlMask) : rule->urlMask))
            return rule.get();
    }
    return nullptr;
}

SiteRule* findSiteRuleIn(const RuleVector& rules, const RuleVector& sessionRules, std::string_view url)
{
    const std::string lowerUrl = asciiLower(url);
    if (SiteRule* rule = findRule(rules, lowerUrl, true))
        return rule;
    return findRule(sessionRules, lowerUrl, false);
}

}  // namespace

uint32_t packSiteProxies(uint16_t http, uint8_t ftp, uint8_t stream)
{
    return (static_cast<uint32_t>(http) << 16) | (static_cast<uint32_t>(stream) << 8) | ftp;
}

uint32_t defaultSiteProxies(const ProxyList& proxies)
{
    return packSiteProxies(static_cast<uint16_t>(proxies.defaultIndex(ProxyDefault::Http)),
                           static_cast<uint8_t>(proxies.defaultIndex(ProxyDefault::Ftp)), 0);
}

SiteRule newSiteRule(const ProxyList& proxies)
{
    SiteRule rule;
    rule.proxy = defaultSiteProxies(proxies);
    return rule;
}

bool isNeutralSiteRule(const SiteRule& rule, const ProxyList& proxies)
{
    return rule.flags == kSiteDefaultFlags && rule.connection == 1 && rule.proxy == defaultSiteProxies(proxies);
}

void SiteRuleList::load(const Registry& registry)
{
    m_rules.clear();
    const auto count = static_cast<uint32_t>(readListInt(registry, kSection, "Count", 0));
    const size_t extent
        = numberedValueExtent(registry, kSection, {"URLMask", "UserName", "Flags", "Proxy", "Connection", "Password"});
    const size_t toLoad = entriesToLoad(count, extent);
    for (size_t i = 0; i < toLoad; ++i) {
        auto rule = std::make_unique<SiteRule>();
        rule->urlMask = readListText(registry, kSection, numbered("URLMask", i));
        rule->userName = readListText(registry, kSection, numbered("UserName", i));
        rule->flags = static_cast<uint32_t>(readListInt(registry, kSection, numbered("Flags", i), 255));
        rule->proxy = static_cast<uint32_t>(readListInt(registry, kSection, numbered("Proxy", i), 0));
        rule->connection = std::max(readListInt(registry, kSection, numbered("Connection", i), 1), 1);
        rule->password = ReadScrambled(registry, kSection, numbered("Password", i));
        m_rules.push_back(std::move(rule));
    }
}

void SiteRuleList::save(Registry& registry) const
{
    registry.deleteKeyTree(Hive::CurrentUser, settingsKey(kSection));
    writeListInt(registry, kSection, "Count", static_cast<int32_t>(m_rules.size()));
    for (size_t i = 0; i < m_rules.size(); ++i) {
        const SiteRule& rule = *m_rules[i];
        writeListText(registry, kSection, numbered("URLMask", i), rule.urlMask);
        writeListText(registry, kSection, numbered("UserName", i), rule.userName);
        writeListInt(registry, kSection, numbered("Flags", i), static_cast<int32_t>(rule.flags));
        writeListInt(registry, kSection, numbered("Proxy", i), static_cast<int32_t>(rule.proxy));
        writeListInt(registry, kSection, numbered("Connection", i), rule.connection);
        WriteScrambled(registry, kSection, numbered("Password", i), rule.password);
    }
}

const SiteRule* SiteRuleList::FindSiteRule(std::string_view url) const
{
    return findSiteRuleIn(m_rules, m_sessionRules, url);
}

SiteRule* SiteRuleList::FindSiteRule(std::string_view url)
{
    return findSiteRuleIn(m_rules, m_sessionRules, url);
}

SiteRule* SiteRuleList::AddSiteRule(const SiteRule& rule)
{
    m_rules.push_back(std::make_unique<SiteRule>(rule));
    return m_rules.back().get();
}

bool SiteRuleList::RemoveSiteRule(const SiteRule* rule, JobLock& lock)
{
    JobLockGuard guard(lock);
    auto it = std::find_if(m_rules.begin(), m_rules.end(), [&](const auto& owned) { return owned.get() == rule; });
    if (it == m_rules.end())
        return false;
    m_rules.erase(it);
    return true;
}

const SiteRule* SiteRuleList::SiteRuleAt(size_t index) const
{
    return index < m_rules.size() ? m_rules[index].get() : nullptr;
}

SiteRule* SiteRuleList::SiteRuleAt(size_t index)
{
    return index < m_rules.size() ? m_rules[index].get() : nullptr;
}

SiteRule* SiteRuleList::AddSessionSiteRule(const SiteRule& rule)
{
    m_sessionRules.push_back(std::make_unique<SiteRule>(rule));
    return m_sessionRules.back().get();
}

const SiteRule* SiteRuleList::SessionSiteRuleAt(size_t index) const
{
    return index < m_sessionRules.size() ? m_sessionRules[index].get() : nullptr;
}

}  // namespace fetchora
