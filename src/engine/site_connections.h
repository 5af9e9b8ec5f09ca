#pragma once
// The per-site connection counters: how many connections a site allows at
// once, whether it allows only one per file, and how many are in use.
//
// A site has a record when a site rule limits it (a rule without the
// "unlimited" flag, or with "one connection per file") or when an FTP
// server's welcome text announced a limit. Records are keyed by host (without
// regard to case) and port; a rule's limit is read again at every look-up,
// so edits on the options page apply to the next connection.
//
// Thread: loop thread and transfer threads, always under the job lock.
// Owned by the application; records live as long as the table, so a
// UrlEntry may keep a pointer to one.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/url_entry.h"

namespace fetchora {

class DownloadJob;
class SiteRuleList;

struct SiteConnectionLimit {
    std::string host;  // lower case
    uint16_t port = 0;
    int32_t limit = 1;  // connections at once
    bool onePerFile = false;  // one connection per file on this site
    bool learnt = false;  // announced by the server, not a rule
    int32_t used = 0;

    bool hasRoom() const { return used < limit; }
};

class SiteConnectionTable {
public:
    explicit SiteConnectionTable(const SiteRuleList& rules) : m_rules(rules) { }
    SiteConnectionTable(const SiteConnectionTable&) = delete;
    SiteConnectionTable& operator=(const SiteConnectionTable&) = delete;

    // The record of a URL's site, or none when nothing limits the site. A
    // record attached to the entry (an announced limit) comes first.
    SiteConnectionLimit* lookup(const UrlEntry& url);
    // The record of a job's main URL.
    SiteConnectionLimit* lookup(const DownloadJob& job);

    // A limit a server announced for host and port (at least 1).
    SiteConnectionLimit* learnLimit(std::string_view host, uint16_t port, int32_t limit);

    static void acquire(SiteConnectionLimit* site);
    static void release(SiteConnectionLimit* site);

    // For the queue: whether the job's site has a record, and whether that
    // record has no free connection.
    bool hasRecord(const DownloadJob& job);
    bool full(const DownloadJob& job);

    size_t size() const { return m_records.size(); }

private:
    SiteConnectionLimit* find(std::string_view host, uint16_t port);
    SiteConnectionLimit* make(std::string_view host, uint16_t port);

    const SiteRuleList& m_rules;
    std::vector<std::unique_ptr<SiteConnectionLimit>> m_records;
};

}  // namespace fetchora
