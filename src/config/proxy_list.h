#pragma once
// The proxy list: every proxy the user configured, entry 0 being the pseudo
// entry "Direct Connection", plus the three default proxy indices and the
// resume rollback.
//
// Thread: changed and saved on the loop thread. Entries are kept behind stable
// pointers: adding entries never moves existing ones, so a running job may
// keep a `const ProxyEntry*` across additions. Removal frees the entry and
// therefore takes the job lock (see RemoveProxy). Owns its entries; borrows
// the Registry during load and save.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "config/proxy_entry.h"
#include "platform/job_lock.h"

namespace fetchora {

class Registry;

enum class ProxyDefault { Http, Ftp, Stream };

// `ProxyKind` results: which job dialogs offer an entry.
inline constexpr int kProxyKindAny = 0;  // direct or tunnel: every protocol
inline constexpr int kProxyKindFtp = 1;
inline constexpr int kProxyKindHttp = 2;
inline constexpr int kProxyKindNone = 3;  // no such entry

// `MultiProxy` kinds: which default entry the rotation skips.
inline constexpr int kMultiProxyHttp = 0;
inline constexpr int kMultiProxyStream = 1;
inline constexpr int kMultiProxyFtp = 2;

inline constexpr int32_t kRollbackDefault = 2048;
inline constexpr int32_t kRollbackMin = 1024;
inline constexpr int32_t kRollbackMax = 8192;

class ProxyList {
public:
    ProxyList() = default;
    ProxyList(const ProxyList&) = delete;
    ProxyList& operator=(const ProxyList&) = delete;

    // LoadProxies. Replaces the list from the "Proxy" section. A configuration
    // without a new-format list ("Count" 0 or absent) is migrated from the old
    // single-proxy sections and written back at once (and flushed). After a
    // load entry 0 exists and every default index names an entry.
    void load(Registry& registry);
    // SaveProxies: deletes the "Proxy" and "Ftp Proxy" keys and writes the list
    // anew. Does not flush.
    void save(Registry& registry) const;

    int32_t defaultIndex(ProxyDefault which) const;
    void setDefaultIndex(ProxyDefault which, int32_t index);
    int32_t rollback() const { return m_rollback; }
    // Kept within 1024..8192 bytes: the transfer's hold-back buffer is sized
    // for at most 8192.
    void setRollback(int32_t bytes);

    const ProxyEntry* ProxyAt(size_t index) const;
    ProxyEntry* ProxyAt(size_t index);
    size_t ProxyCount() const { return m_entries.size(); }

    // Returns 1 when added, 0 when rejected as a duplicate: same port, type,
    // server, user name and password, texts compared without regard to case.
    int AddProxy(const ProxyEntry& entry, bool rejectDuplicate);
    // Removes the entry under the job lock, because job runners look entries
    // up from other threads. The lock is recursive, so a caller may already
    // hold it. Entry 0 ("Direct Connection") is never removed. Default indices
    // that named the removed entry fall back to 0; those after it move down
    // with their entries.
    void RemoveProxy(size_t index, JobLock& lock);

    // kProxyKindNone for no entry; FTP-proxy types give kProxyKindFtp, the
    // HTTP GET proxy kProxyKindHttp, every other type kProxyKindAny.
    int ProxyKind(size_t index) const;
    // The n-th entry (counting from 1) that takes part in multi-proxy
    // rotation, skipping the default entry of the kind (kMultiProxyHttp,
    // kMultiProxyStream, kMultiProxyFtp); none when there are fewer.
    const ProxyEntry* MultiProxy(int n, int kind) const;

private:
    void clear();
    void loadNewFormat(const Registry& registry, size_t count);
    void migrateOldFormat(Registry& registry);
    void resetBadDefaults();

    std::vector<std::unique_ptr<ProxyEntry>> m_entries;
    int32_t m_defaultHttp = 0;
    int32_t m_defaultFtp = 0;
    int32_t m_defaultStream = 0;
    int32_t m_rollback = kRollbackDefault;
};

}  // namespace fetchora
