#include "config/proxy_list.h"

#include "config/scrambled_password.h"
#include "config/settings_key.h"
#include "platform/registry.h"
#include "support/proxy_entries.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

namespace fetchora {
namespace {

void putInt(Registry& reg, std::string_view section, std::string_view name, uint32_t value)
{
    reg.writeDword(Hive::CurrentUser, settingsKey(section), name, value);
}

void putText(Registry& reg, std::string_view section, std::string_view name, std::string_view value)
{
    reg.writeString(Hive::CurrentUser, settingsKey(section), name, value);
}

void putBytes(Registry& reg, std::string_view section, std::string_view name, std::string_view bytes)
{
    reg.writeBinary(Hive::CurrentUser, settingsKey(section), name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::optional<uint32_t> getInt(const Registry& reg, std::string_view section, std::string_view name)
{
    return reg.readDword(Hive::CurrentUser, settingsKey(section), name);
}

// A stored new-format entry, as a save writes it.
void putEntry(Registry& reg, size_t number, const ProxyEntry& entry)
{
    const std::string section = "Proxy\\Proxy" + std::to_string(number);
    putText(reg, section, "Title", entry.title);
    putInt(reg, section, "Flags", entry.flags);
    putInt(reg, section, "Type", entry.type);
    putText(reg, section, "Server", entry.server);
    putText(reg, section, "UserName", entry.userName);
    putInt(reg, section, "Port", entry.port);
    WriteScrambled(reg, section, "Password", entry.password);
}

ProxyEntry makeEntry(std::string server, uint16_t port, uint16_t type, uint32_t flags = 6)
{
    return test::proxyEntry(type, std::move(server), port, flags);
}

// A loaded list with "Direct Connection" and the given entries.
void loadWith(ProxyList& list, Registry& reg, const std::vector<ProxyEntry>& entries)
{
    putText(reg, "General", "Version", "1.65");
    putInt(reg, "Proxy", "Count", static_cast<uint32_t>(entries.size() + 1));
    putEntry(reg, 1, ProxyEntry{});
    for (size_t i = 0; i < entries.size(); ++i)
        putEntry(reg, i + 2, entries[i]);
    list.load(reg);
}

TEST(ProxyListMigration, OldHttpAndFtpProxiesBecomeThreeEntriesAndAreSavedAtOnce)
{
    test::TempDir dir;
    const auto file = dir / "settings.reg";
    {
        Registry reg(file);
        putInt(reg, "Proxy", "Flags", 0x2 | 0x10);
        putText(reg, "Proxy", "Server", "proxy.example");
        putInt(reg, "Proxy", "Port", 3128);
        putText(reg, "Proxy", "UserName", "alice");
        putBytes(reg, "Proxy", "Password", std::string("secret\0", 7));
        putText(reg, "Ftp Proxy", "Server", "ftpgate.example");
        putInt(reg, "Ftp Proxy", "Type", 1);
        putBytes(reg, "Ftp Proxy", "Password", "ftppw");
        putInt(reg, "Procotol", "Flags", 0);
        putInt(reg, "Download default", "Proxy", 1);

        ProxyList list;
        list.load(reg);

        ASSERT_EQ(list.ProxyCount(), 3u);
        EXPECT_EQ(list.ProxyAt(0)->title, "Direct Connection");
        EXPECT_EQ(list.ProxyAt(0)->type, kProxyDirect);

        const ProxyEntry& http = *list.ProxyAt(1);
        EXPECT_EQ(http.server, "proxy.example");
        EXPECT_EQ(http.port, 3128);
        EXPECT_EQ(http.type, kProxyHttpGet);
        EXPECT_EQ(http.flags, kProxyAuthenticate | kProxyNoCache);
        EXPECT_EQ(http.userName, "alice");
        EXPECT_EQ(http.password, "secret");

        const ProxyEntry& ftp = *list.ProxyAt(2);
        EXPECT_EQ(ftp.type, kProxyFtpOpen);
        EXPECT_EQ(ftp.port, 21);
        EXPECT_EQ(ftp.flags, 0u);  // no user name, "Procotol" passive bit clear
        EXPECT_EQ(ftp.password, "ftppw");

        // The old flags say the HTTP proxy serves FTP too.
        EXPECT_EQ(list.defaultIndex(ProxyDefault::Http), 1);
        EXPECT_EQ(list.defaultIndex(ProxyDefault::Ftp), 1);
    }
    // Written and flushed in the new format straight away.
    Registry reread(file);
    ASSERT_TRUE(reread.load());
    EXPECT_EQ(getInt(reread, "Proxy", "Count"), 3u);
    EXPECT_EQ(getInt(reread, "Proxy\\Proxy2", "Type"), uint32_t{kProxyHttpGet});
    EXPECT_EQ(ReadScrambled(reread, "Proxy\\Proxy2", "Password"), "secret");
    EXPECT_FALSE(reread.keyExists(Hive::CurrentUser, settingsKey("Ftp Proxy")));
    EXPECT_FALSE(getInt(reread, "Proxy", "Flags"));
}

TEST(ProxyListMigration, FtpDefaultNamesTheFtpEntryWithoutTheSharedProxySwitch)
{
    Registry reg;
    putText(reg, "Proxy", "Server", "proxy.example");
    putText(reg, "Ftp Proxy", "Server", "ftpgate.example");
    putText(reg, "Ftp Proxy", "UserName", "bob");
    putInt(reg, "Download default", "Proxy", 1);
    ProxyList list;
    list.load(reg);
    ASSERT_EQ(list.ProxyCount(), 3u);
    EXPECT_EQ(list.ProxyAt(1)->flags, 0u);
    // Old FTP type 0 is the user@host:port style; passive from the default
    // "Procotol" flags (1).
    EXPECT_EQ(list.ProxyAt(2)->type, kProxyFtpUserColon);
    EXPECT_EQ(list.ProxyAt(2)->flags, kProxyAuthenticate | kProxyPassive);
    EXPECT_EQ(list.defaultIndex(ProxyDefault::Http), 1);
    EXPECT_EQ(list.defaultIndex(ProxyDefault::Ftp), 2);
}

TEST(ProxyListMigration, OnlyAnOldFtpProxyNeverBecomesTheHttpDefault)
{
    Registry reg;
    putText(reg, "Ftp Proxy", "Server", "ftpgate.example");
    putInt(reg, "Download default", "Proxy", 1);
    ProxyList list;
    list.load(reg);
    ASSERT_EQ(list.ProxyCount(), 2u);
    EXPECT_EQ(list.defaultIndex(ProxyDefault::Http), 0);
    EXPECT_EQ(list.defaultIndex(ProxyDefault::Ftp), 1);
}

TEST(ProxyListMigration, FreshSettingsGiveDirectConnectionOnlyAndWriteIt)
{
    Registry reg;
    ProxyList list;
    list.load(reg);
    ASSERT_EQ(list.ProxyCount(), 1u);
    EXPECT_EQ(list.ProxyAt(0)->title, "Direct Connection");
    EXPECT_EQ(list.ProxyAt(0)->flags, 6u);
    EXPECT_EQ(list.rollback(), 2048);
    EXPECT_EQ(getInt(reg, "Proxy", "Count"), 1u);
    EXPECT_EQ(getInt(reg, "Proxy", "Rollback"), 2048u);
}

TEST(ProxyListLoad, DefaultsOutsideTheListAreResetToZero)
{
    Registry reg;
    putInt(reg, "Proxy", "DefaultForHttp", 7);
    putInt(reg, "Proxy", "DefaultForFtp", 0xFFFFFFFF);
    putInt(reg, "Proxy", "DefaultForStream", 2);
    ProxyList list;
    loadWith(list, reg, {makeEntry("a", 1, kProxyHttpGet), makeEntry("b", 2, kProxySocks5)});
    ASSERT_EQ(list.ProxyCount(), 3u);
    EXPECT_EQ(list.defaultIndex(ProxyDefault::Http), 0);
    EXPECT_EQ(list.defaultIndex(ProxyDefault::Ftp), 0);
    EXPECT_EQ(list.defaultIndex(ProxyDefault::Stream), 2);
}

TEST(ProxyListLoad, EntryZeroIsAlwaysDirectAndOldVersionsGiveItPassiveAndNoCache)
{
    struct Case {
        const char* version;  // nullptr: no stored version
        uint32_t expectedFlags;
    };
    for (const Case& c : {Case{nullptr, 0x6}, Case{"0.87", 0x6}, Case{"0.88", 0x0}, Case{"1.65", 0x0}}) {
        Registry reg;
        if (c.version)
            putText(reg, "General", "Version", c.version);
        putInt(reg, "Proxy", "Count", 2);
        putEntry(reg, 1, makeEntry("junk", 8080, kProxySocks5, 0));
        putText(reg, "Proxy\\Proxy1", "Title", "Renamed");
        putEntry(reg, 2, makeEntry("b", 2, kProxySocks4, 0));
        ProxyList list;
        list.load(reg);
        ASSERT_EQ(list.ProxyCount(), 2u);
        EXPECT_EQ(list.ProxyAt(0)->title, "Direct Connection");
        EXPECT_EQ(list.ProxyAt(0)->type, kProxyDirect);
        EXPECT_EQ(list.ProxyAt(0)->flags, c.expectedFlags) << (c.version ? c.version : "none");
        EXPECT_EQ(list.ProxyAt(1)->flags, 0u);
        EXPECT_EQ(list.ProxyAt(1)->type, kProxySocks4);
    }
}

TEST(ProxyListLoad, CorruptCountsNeitherAllocateNorDeleteTheList)
{
    for (uint32_t count : {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u}) {
        Registry reg;
        putText(reg, "General", "Version", "1.65");
        putInt(reg, "Proxy", "Count", count);
        putEntry(reg, 1, ProxyEntry{});
        putEntry(reg, 2, makeEntry("kept.example", 1080, kProxySocks5));
        const auto start = std::chrono::steady_clock::now();
        ProxyList list;
        list.load(reg);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        ASSERT_EQ(list.ProxyCount(), 2u) << count;
        EXPECT_EQ(list.ProxyAt(1)->server, "kept.example");
        // Not taken for the old format: the stored entries are untouched.
        EXPECT_TRUE(reg.keyExists(Hive::CurrentUser, settingsKey("Proxy\\Proxy2")));
    }
}

TEST(ProxyListLoad, GapsKeepLaterEntriesAtTheirIndicesAndMissingEntriesAtTheEndAreDropped)
{
    Registry reg;
    putText(reg, "General", "Version", "1.65");
    putInt(reg, "Proxy", "Count", 6);
    putEntry(reg, 1, ProxyEntry{});
    putEntry(reg, 3, makeEntry("third.example", 3128, kProxyHttpGet));
    ProxyList list;
    list.load(reg);
    ASSERT_EQ(list.ProxyCount(), 3u);
    EXPECT_EQ(list.ProxyAt(1)->server, "");
    EXPECT_EQ(list.ProxyAt(1)->port, 80);
    EXPECT_EQ(list.ProxyAt(2)->server, "third.example");
}

TEST(ProxyListLoad, ValuesOutOfRangeTakeTheirDefaults)
{
    Registry reg;
    putInt(reg, "Proxy", "Rollback", 100000);
    ProxyList list;
    loadWith(list, reg, {makeEntry("a", 1, kProxyHttpGet)});
    putInt(reg, "Proxy\\Proxy2", "Port", 0x10050);  // would wrap to 80
    putInt(reg, "Proxy\\Proxy2", "Type", 0x10003);  // would wrap to 3
    list.load(reg);
    ASSERT_EQ(list.ProxyCount(), 2u);
    EXPECT_EQ(list.ProxyAt(1)->port, 80);
    EXPECT_EQ(list.ProxyAt(1)->type, kProxyDirect);
    EXPECT_EQ(list.rollback(), kRollbackMax);

    list.setRollback(10);
    EXPECT_EQ(list.rollback(), kRollbackMin);
}

TEST(ProxyListSave, RoundTripsEveryFieldAndDropsStaleEntries)
{
    Registry reg;
    ProxyList list;
    loadWith(list, reg,
             {makeEntry("a", 1, kProxyHttpGet), makeEntry("b", 2, kProxyFtpSite), makeEntry("c", 3, kProxySocks4)});
    putText(reg, "Ftp Proxy", "Server", "leftover");
    JobLock lock;
    list.RemoveProxy(3, lock);
    ProxyEntry* edited = list.ProxyAt(1);
    edited->title = "Office";
    edited->userName = "carol";
    edited->password = "p@ss:word";
    edited->flags = kProxyAuthenticate | kProxyMultiProxy;
    list.setDefaultIndex(ProxyDefault::Http, 1);
    list.setDefaultIndex(ProxyDefault::Ftp, 2);
    list.setDefaultIndex(ProxyDefault::Stream, 1);
    list.setRollback(4096);
    list.save(reg);

    EXPECT_EQ(getInt(reg, "Proxy", "Count"), 3u);
    EXPECT_FALSE(reg.keyExists(Hive::CurrentUser, settingsKey("Proxy\\Proxy4")));
    EXPECT_FALSE(reg.keyExists(Hive::CurrentUser, settingsKey("Ftp Proxy")));

    ProxyList reloaded;
    reloaded.load(reg);
    ASSERT_EQ(reloaded.ProxyCount(), 3u);
    const ProxyEntry& office = *reloaded.ProxyAt(1);
    EXPECT_EQ(office.title, "Office");
    EXPECT_EQ(office.server, "a");
    EXPECT_EQ(office.port, 1);
    EXPECT_EQ(office.type, kProxyHttpGet);
    EXPECT_EQ(office.flags, kProxyAuthenticate | kProxyMultiProxy);
    EXPECT_EQ(office.userName, "carol");
    EXPECT_EQ(office.password, "p@ss:word");
    EXPECT_EQ(reloaded.ProxyAt(2)->type, kProxyFtpSite);
    EXPECT_EQ(reloaded.defaultIndex(ProxyDefault::Http), 1);
    EXPECT_EQ(reloaded.defaultIndex(ProxyDefault::Ftp), 2);
    EXPECT_EQ(reloaded.defaultIndex(ProxyDefault::Stream), 1);
    EXPECT_EQ(reloaded.rollback(), 4096);
}

TEST(ProxyListEdit, DuplicatesCompareTextsWithoutCaseButNumbersExactly)
{
    ProxyEntry base = makeEntry("Proxy.Example", 8080, kProxyHttpGet);
    base.userName = "Alice";
    base.password = "Secret";
    struct Case {
        const char* what;
        ProxyEntry candidate;
        int expected;
    };
    auto with = [&](auto change) {
        ProxyEntry entry = base;
        change(entry);
        return entry;
    };
    const Case cases[] = {
        {"identical", base, 0},
        {"texts in other case", with([](ProxyEntry& e) {
             e.server = "PROXY.EXAMPLE";
             e.userName = "alice";
             e.password = "SECRET";
         }),
         0},
        {"other title only", with([](ProxyEntry& e) { e.title = "Another"; }), 0},
        {"other port", with([](ProxyEntry& e) { e.port = 8081; }), 1},
        {"other type", with([](ProxyEntry& e) { e.type = kProxyHttpConnect; }), 1},
        {"other password", with([](ProxyEntry& e) { e.password = "Secret2"; }), 1},
    };
    for (const Case& c : cases) {
        Registry reg;
        ProxyList list;
        loadWith(list, reg, {base});
        EXPECT_EQ(list.AddProxy(c.candidate, true), c.expected) << c.what;
        EXPECT_EQ(list.AddProxy(c.candidate, false), 1) << c.what;
    }
}

TEST(ProxyListEdit, RemovalKeepsEntryZeroAndMovesDefaultsWithTheirEntries)
{
    Registry reg;
    ProxyList list;
    loadWith(list, reg, {makeEntry("a", 1, 3), makeEntry("b", 2, 3), makeEntry("c", 3, 3)});
    list.setDefaultIndex(ProxyDefault::Http, 3);
    list.setDefaultIndex(ProxyDefault::Ftp, 2);
    list.setDefaultIndex(ProxyDefault::Stream, 1);
    const ProxyEntry* kept = list.ProxyAt(3);
    JobLock lock;

    list.RemoveProxy(0, lock);
    list.RemoveProxy(99, lock);
    EXPECT_EQ(list.ProxyCount(), 4u);

    list.RemoveProxy(2, lock);
    ASSERT_EQ(list.ProxyCount(), 3u);
    EXPECT_EQ(list.ProxyAt(2), kept);  // entries are not moved by a removal
    EXPECT_EQ(list.ProxyAt(2)->server, "c");
    EXPECT_EQ(list.defaultIndex(ProxyDefault::Http), 2);
    EXPECT_EQ(list.defaultIndex(ProxyDefault::Ftp), 0);
    EXPECT_EQ(list.defaultIndex(ProxyDefault::Stream), 1);
}

TEST(ProxyListEdit, RemovalWaitsForTheJobLockAndWorksWhenTheCallerHoldsIt)
{
    Registry reg;
    ProxyList list;
    loadWith(list, reg, {makeEntry("a", 1, 3), makeEntry("b", 2, 3)});
    JobLock lock;

    std::promise<void> locked;
    std::promise<void> release;
    std::thread holder([&] {
        JobLockGuard guard(lock);
        locked.set_value();
        release.get_future().wait();
    });
    locked.get_future().wait();
    auto removal = std::async(std::launch::async, [&] { list.RemoveProxy(1, lock); });
    EXPECT_EQ(removal.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    release.set_value();
    removal.get();
    holder.join();
    EXPECT_EQ(list.ProxyCount(), 2u);

    JobLockGuard guard(lock);
    list.RemoveProxy(1, lock);
    EXPECT_EQ(list.ProxyCount(), 1u);
}

TEST(ProxyListQuery, ProxyKindFollowsTheType)
{
    Registry reg;
    ProxyList list;
    std::vector<ProxyEntry> entries;
    for (uint16_t type = 1; type <= 9; ++type)
        entries.push_back(makeEntry("h" + std::to_string(type), type, type));
    loadWith(list, reg, entries);
    const int expected[] = {0, 1, 1, 2, 1, 1, 1, 0, 0, 0};
    for (size_t index = 0; index < 10; ++index)
        EXPECT_EQ(list.ProxyKind(index), expected[index]) << "type " << index;
    EXPECT_EQ(list.ProxyKind(10), kProxyKindNone);
}

TEST(ProxyListQuery, MultiProxyCountsRotationEntriesFromOneSkippingTheKindsDefault)
{
    Registry reg;
    ProxyList list;
    loadWith(list, reg,
             {makeEntry("r1", 1, 3, kProxyMultiProxy), makeEntry("plain", 2, 3, 0),
              makeEntry("r3", 3, 7, kProxyMultiProxy), makeEntry("r4", 4, 8, kProxyMultiProxy | kProxyNoCache)});
    list.setDefaultIndex(ProxyDefault::Http, 1);
    list.setDefaultIndex(ProxyDefault::Stream, 3);
    list.setDefaultIndex(ProxyDefault::Ftp, 0);

    struct Case {
        int n, kind;
        const char* server;  // nullptr: none
    };
    const Case cases[] = {
        {1, kMultiProxyHttp, "r3"},   {2, kMultiProxyHttp, "r4"},   {3, kMultiProxyHttp, nullptr},
        {1, kMultiProxyStream, "r1"}, {2, kMultiProxyStream, "r4"}, {1, kMultiProxyFtp, "r1"},
        {3, kMultiProxyFtp, "r4"},    {0, kMultiProxyFtp, nullptr}, {1, 7, nullptr},
    };
    for (const Case& c : cases) {
        const ProxyEntry* entry = list.MultiProxy(c.n, c.kind);
        if (c.server) {
            ASSERT_NE(entry, nullptr) << c.n << "/" << c.kind;
            EXPECT_EQ(entry->server, c.server) << c.n << "/" << c.kind;
        } else {
            EXPECT_EQ(entry, nullptr) << c.n << "/" << c.kind;
        }
    }
}

}  // namespace
}  // namespace fetchora
