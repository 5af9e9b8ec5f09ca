#include "engine/site_connections.h"

#include <algorithm>
#include <climits>

#include "config/site_rules.h"
#include "model/download_job.h"
#include "net/url.h"
#include "platform/text_utils.h"

namespace fetchora {

SiteConnectionLimit* SiteConnectionTable::find(std::string_view host, uint16_t port)
{
    const std::string key = asciiLower(host);
    for (const auto& record : m_records) {
        if (record->host == key && record->port == port)
            return record.get();
    }
    return nullptr;
}

SiteConnectionLimit* SiteConnectionTable::make(std::string_view host, uint16_t port)
{
    if (SiteConnectionLimit* found = find(host, port))
        return found;
    auto record = std::make_unique<SiteConnectionLimit>();
    record->host = asciiLower(host);
    record->port = port;
    m_records.push_back(std::move(record));
    return m_records.back().get();
}

SiteConnectionLimit* SiteConnectionTable::lookup(const UrlEntry& url)
{
    if (url.siteLimit)
        return url.siteLimit;
    const std::optional<std::string> text = CanonicalUrl(url);
    const SiteRule* rule = text ? m_rules.FindSiteRule(*text) : nullptr;
    const bool ruleLimits = rule && ((rule->flags & kSiteUnlimited) == 0 || (rule->flags & kSiteOnePerFile) != 0);
    if (ruleLimits) {
        SiteConnectionLimit* record = make(url.host, url.port);
        if (!record->learnt) {
            record->limit = (rule->flags & kSiteUnlimited) != 0 ? INT32_MAX
                                                                : std::clamp(rule->connection, 1, kSiteMaxConnections);
        }
        record->onePerFile = (rule->flags & kSiteOnePerFile) != 0;
        return record;
    }
    SiteConnectionLimit* record = find(url.host, url.port);
    return record && record->learnt ? record : nullptr;
}

SiteConnectionLimit* SiteConnectionTable::lookup(const DownloadJob& job)
{
    // The stored URL, not the entries of the last run: it may have changed since.
    const std::optional<UrlEntry> entry = ParseUrl(job.url);
    return entry ? lookup(*entry) : nullptr;
}

SiteConnectionLimit* SiteConnectionTable::learnLimit(std::string_view host, uint16_t port, int32_t limit)
{
    SiteConnectionLimit* record = make(host, port);
    record->limit = std::max(limit, 1);
    record->learnt = true;
    return record;
}

void SiteConnectionTable::acquire(SiteConnectionLimit* site)
{
    if (site)
        ++site->used;
}

void SiteConnectionTable::release(SiteConnectionLimit* site)
{
    if (site && site->used > 0)
        --site->used;
}

bool SiteConnectionTable::hasRecord(const DownloadJob& job)
{
    return lookup(job) != nullptr;
}

bool SiteConnectionTable::full(const DownloadJob& job)
{
    const SiteConnectionLimit* record = lookup(job);
    return record && !record->hasRoom();
}

}  // namespace fetchora
