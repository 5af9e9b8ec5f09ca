#include "config/proxy_list.h"

#include "config/list_registry.h"
#include "config/scrambled_password.h"
#include "config/settings_key.h"
#include "lang/string_table.h"
#include "platform/registry.h"
#include "platform/text_utils.h"

#include <algorithm>
#include <string>

namespace fetchora {

namespace {

constexpr std::string_view kSection = "Proxy";
constexpr std::string_view kOldFtpSection = "Ftp Proxy";
constexpr uint32_t kDirectConnectionTitle = 61307;

// Settings written before version 0.88 kept passive mode and no-cache for
// direct connections elsewhere; such lists give entry 0 both flags.
constexpr std::string_view kFirstVersionWithEntryFlags = "0.88";

// Old single-proxy flags.
constexpr uint32_t kOldNoCache = 0x2;
constexpr uint32_t kOldHttpProxyForFtp = 0x10;

std::string entrySection(size_t number)
{
    return std::string(kSection) + "\\Proxy" + std::to_string(number);
}

// Ports and types are 16-bit; a stored value that does not fit is unreadable
// and takes the default rather than wrapping into another number.
uint16_t readUint16(const Registry& registry, std::string_view section, std::string_view name, uint16_t defaultValue)
{
    const int32_t value = readListInt(registry, section, name, defaultValue);
    return (value >= 0 && value <= 0xFFFF) ? static_cast<uint16_t>(value) : defaultValue;
}

// The old format kept passwords as plain bytes, possibly with a terminator.
std::string readPlainPassword(const Registry& registry, std::string_view section)
{
    auto bytes = registry.readBinary(Hive::CurrentUser, settingsKey(section), "Password");
    if (!bytes)
        return {};
    auto end = std::find(bytes->begin(), bytes->end(), uint8_t{0});
    return std::string(bytes->begin(), end);
}

std::unique_ptr<ProxyEntry> directConnection()
{
    auto entry = std::make_unique<ProxyEntry>();
    entry->title = std::string(builtinString(kDirectConnectionTitle));
    entry->type = kProxyDirect;
    return entry;
}

int32_t clampRollback(int32_t bytes)
{
    return std::clamp(bytes, kRollbackMin, kRollbackMax);
}

}  // namespace

void ProxyList::clear()
{
    m_entries.clear();
    m_defaultHttp = m_defaultFtp = m_defaultStream = 0;
    m_rollback = kRollbackDefault;
}

void ProxyList::load(Registry& registry)
{
    clear();
    m_rollback = clampRollback(readListInt(registry, kSection, "Rollback", kRollbackDefault));
    m_defaultHttp = readListInt(registry, kSection, "DefaultForHttp", 0);
    m_defaultFtp = readListInt(registry, kSection, "DefaultForFtp", 0);
    m_defaultStream = readListInt(registry, kSection, "DefaultForStream", 0);
    // Read unsigned: a corrupt negative count must not be taken for the old
    // format, whose migration would rewrite (and so delete) the stored list.
    const auto count = static_cast<uint32_t>(readListInt(registry, kSection, "Count", 0));
    if (count == 0) {
        migrateOldFormat(registry);
    } else {
        const size_t extent = numberedSubkeyExtent(registry, kSection, "Proxy");
        loadNewFormat(registry, entriesToLoad(count, extent > 0 ? extent - 1 : 0));
    }
    resetBadDefaults();
}

void ProxyList::loadNewFormat(const Registry& registry, size_t count)
{
    const std::string version = readListText(registry, "General", "Version", "0.87");
    const bool beforeEntryFlags = asciiLower(version) < kFirstVersionWithEntryFlags;
    for (size_t number = 1; number <= count; ++number) {
        const std::string section = entrySection(number);
        auto entry = std::make_unique<ProxyEntry>();
        entry->title = readListText(registry, section, "Title");
        entry->server = readListText(registry, section, "Server");
        entry->flags = static_cast<uint32_t>(readListInt(registry, section, "Flags", 6));
        if (number == 1) {
            entry->type = kProxyDirect;
            if (beforeEntryFlags)
                entry->flags |= kProxyPassive | kProxyNoCache;
        } else {
            entry->type = readUint16(registry, section, "Type", kProxyDirect);
        }
        entry->userName = readListText(registry, section, "UserName");
        entry->port = readUint16(registry, section, "Port", 80);
        entry->password = ReadScrambled(registry, section, "Password");
        m_entries.push_back(std::move(entry));
    }
    if (m_entries.empty())
        m_entries.push_back(directConnection());
    m_entries.front()->title = std::string(builtinString(kDirectConnectionTitle));
}

void ProxyList::migrateOldFormat(Registry& registry)
{
    m_entries.push_back(directConnection());

    const auto oldFlags = static_cast<uint32_t>(readListInt(registry, kSection, "Flags", 0));
    int32_t httpIndex = 0;
    int32_t ftpIndex = 0;

    if (std::string server = readListText(registry, kSection, "Server"); !server.empty()) {
        auto entry = std::make_unique<ProxyEntry>();
        entry->server = std::move(server);
        entry->port = readUint16(registry, kSection, "Port", 80);
        entry->userName = readListText(registry, kSection, "UserName");
        entry->type = kProxyHttpGet;
        entry->flags
            = ((oldFlags & kOldNoCache) ? kProxyNoCache : 0) | (entry->userName.empty() ? 0 : kProxyAuthenticate);
        entry->password = readPlainPassword(registry, kSection);
        httpIndex = static_cast<int32_t>(m_entries.size());
        m_entries.push_back(std::move(entry));
    }

    if (std::string server = readListText(registry, kOldFtpSection, "Server"); !server.empty()) {
        auto entry = std::make_unique<ProxyEntry>();
        entry->server = std::move(server);
        entry->port = readUint16(registry, kOldFtpSection, "Port", 21);
        entry->userName = readListText(registry, kOldFtpSection, "UserName");
        entry->type = readListInt(registry, kOldFtpSection, "Type", 0) != 0 ? kProxyFtpOpen : kProxyFtpUserColon;
        const auto protocolFlags = static_cast<uint32_t>(readListInt(registry, "Procotol", "Flags", 1));
        entry->flags = (entry->userName.empty() ? 0 : kProxyAuthenticate) | ((protocolFlags & 0x1) ? kProxyPassive : 0);
        entry->password = readPlainPassword(registry, kOldFtpSection);
        ftpIndex = static_cast<int32_t>(m_entries.size());
        m_entries.push_back(std::move(entry));
    }

    // The old switch made the configured proxies the defaults. The defaults
    // name the migrated entries by where they landed, so that a missing old
    // HTTP proxy never makes the FTP proxy the HTTP default.
    if ((readListInt(registry, "Download default", "Proxy", 0) & 0xFFFF) != 0) {
        m_defaultHttp = httpIndex;
        m_defaultFtp = (oldFlags & kOldHttpProxyForFtp) ? httpIndex : ftpIndex;
    }

    resetBadDefaults();
    save(registry);
    // Migrated proxies reach the file at once. A store without old ones (a
    // new profile) gets only the direct connection, which the settings'
    // own flush writes: a second replacement of the file would cost a start
    // two syncs more.
    if (m_entries.size() > 1)
        registry.flush();
}

void ProxyList::resetBadDefaults()
{
    const auto count = static_cast<int64_t>(m_entries.size());
    for (int32_t* index : {&m_defaultHttp, &m_defaultFtp, &m_defaultStream}) {
        if (*index < 0 || *index >= count)
            *index = 0;
    }
}

void ProxyList::save(Registry& registry) const
{
    registry.deleteKeyTree(Hive::CurrentUser, settingsKey(kOldFtpSection));
    registry.deleteKeyTree(Hive::CurrentUser, settingsKey(kSection));
    writeListInt(registry, kSection, "Count", static_cast<int32_t>(m_entries.size()));
    writeListInt(registry, kSection, "DefaultForHttp", m_defaultHttp);
    writeListInt(registry, kSection, "DefaultForStream", m_defaultStream);
    writeListInt(registry, kSection, "DefaultForFtp", m_defaultFtp);
    writeListInt(registry, kSection, "Rollback", m_rollback);
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const ProxyEntry& entry = *m_entries[i];
        const std::string section = entrySection(i + 1);
        writeListText(registry, section, "Title", entry.title);
        writeListInt(registry, section, "Flags", static_cast<int32_t>(entry.flags));
        writeListInt(registry, section, "Type", entry.type);
        writeListText(registry, section, "Server", entry.server);
        writeListText(registry, section, "UserName", entry.userName);
        writeListInt(registry, section, "Port", entry.port);
        WriteScrambled(registry, section, "Password", entry.password);
    }
}

int32_t ProxyList::defaultIndex(ProxyDefault which) const
{
    switch (which) {
    case ProxyDefault::Ftp: return m_defaultFtp;
    case ProxyDefault::Stream: return m_defaultStream;
    case ProxyDefault::Http: break;
    }
    return m_defaultHttp;
}

void ProxyList::setDefaultIndex(ProxyDefault which, int32_t index)
{
    switch (which) {
    case ProxyDefault::Http: m_defaultHttp = index; break;
    case ProxyDefault::Ftp: m_defaultFtp = index; break;
    case ProxyDefault::Stream: m_defaultStream = index; break;
    }
}

void ProxyList::setRollback(int32_t bytes)
{
    m_rollback = clampRollback(bytes);
}

const ProxyEntry* ProxyList::ProxyAt(size_t index) const
{
    return index < m_entries.size() ? m_entries[index].get() : nullptr;
}

ProxyEntry* ProxyList::ProxyAt(size_t index)
{
    return index < m_entries.size() ? m_entries[index].get() : nullptr;
}

int ProxyList::AddProxy(const ProxyEntry& entry, bool rejectDuplicate)
{
    if (rejectDuplicate) {
        const bool duplicate = std::any_of(m_entries.begin(), m_entries.end(), [&](const auto& existing) {
            return existing->port == entry.port && existing->type == entry.type
                && equalsIgnoringCase(existing->server, entry.server)
                && equalsIgnoringCase(existing->userName, entry.userName)
                && equalsIgnoringCase(existing->password, entry.password);
        });
        if (duplicate)
            return 0;
    }
    m_entries.push_back(std::make_unique<ProxyEntry>(entry));
    return 1;
}

void ProxyList::RemoveProxy(size_t index, JobLock& lock)
{
    JobLockGuard guard(lock);
    if (index == 0 || index >= m_entries.size())
        return;
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
    const auto removed = static_cast<int32_t>(index);
    for (int32_t* defaultIndex : {&m_defaultHttp, &m_defaultFtp, &m_defaultStream}) {
        if (*defaultIndex == removed)
            *defaultIndex = 0;
        else if (*defaultIndex > removed)
            --*defaultIndex;
    }
}

int ProxyList::ProxyKind(size_t index) const
{
    const ProxyEntry* entry = ProxyAt(index);
    if (!entry)
        return kProxyKindNone;
    if (isFtpProxyType(entry->type))
        return kProxyKindFtp;
    if (entry->type == kProxyHttpGet)
        return kProxyKindHttp;
    return kProxyKindAny;
}

const ProxyEntry* ProxyList::MultiProxy(int n, int kind) const
{
    int32_t skip = 0;
    switch (kind) {
    case kMultiProxyHttp: skip = m_defaultHttp; break;
    case kMultiProxyStream: skip = m_defaultStream; break;
    case kMultiProxyFtp: skip = m_defaultFtp; break;
    default: return nullptr;
    }
    if (n < 1)
        return nullptr;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (static_cast<int64_t>(i) == skip || !(m_entries[i]->flags & kProxyMultiProxy))
            continue;
        if (--n == 0)
            return m_entries[i].get();
    }
    return nullptr;
}

}  // namespace fetchora
