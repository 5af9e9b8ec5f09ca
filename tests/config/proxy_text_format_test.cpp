#include "config/proxy_text_format.h"

#include "config/proxy_list.h"
#include "platform/registry.h"
#include "support/proxy_entries.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fetchora {
namespace {

ProxyEntry entry(std::string server, uint16_t port, uint16_t type, uint32_t flags = 6)
{
    return test::proxyEntry(type, std::move(server), port, flags);
}

// A list holding only "Direct Connection", as after a first start.
void freshList(ProxyList& list)
{
    Registry reg;
    list.load(reg);
}

TEST(ProxyExport, WritesOneTaggedLinePerProxyAndSkipsDirectAndUnknownTypes)
{
    ProxyList list;
    freshList(list);
    ProxyEntry withLogin = entry("gate.example", 8080, kProxyHttpConnect, 7);
    withLogin.userName = "frank";
    withLogin.password = "s3cret";
    list.AddProxy(withLogin, false);
    list.AddProxy(entry("socks.example", 1080, kProxySocks5), false);
    ProxyEntry loginOff = entry("ftp.example", 21, kProxyFtpSiteUser, 6);
    loginOff.userName = "unused";
    list.AddProxy(loginOff, false);
    list.AddProxy(entry("direct.example", 1, kProxyDirect), false);
    list.AddProxy(entry("odd.example", 2, 42), false);

    EXPECT_EQ(formatProxyText(list),
              "gate.example:8080@HTTP1:frank:s3cret\r\n"
              "socks.example:1080@SOCKS5\r\n"
              "ftp.example:21@FTP4\r\n");
}

TEST(ProxyExport, TagsCoverEveryProxyType)
{
    const char* expected[] = {"", "@FTP1", "@FTP", "@HTTP", "@FTP2", "@FTP3", "@FTP4", "@SOCKS5", "@HTTP1", "@SOCKS4"};
    for (uint16_t type = 0; type < kProxyTypeCount; ++type) {
        EXPECT_EQ(proxyExportTag(type), expected[type]);
        // Every exported tag reads back as its own type.
        if (type != kProxyDirect) {
            auto parsed = parseProxyLine("h:1" + std::string(expected[type]));
            ASSERT_TRUE(parsed) << expected[type];
            EXPECT_EQ(parsed->type, type);
        }
    }
}

TEST(ProxyExport, ListWithOnlyDirectConnectionWritesNothing)
{
    test::TempDir dir;
    ProxyList list;
    freshList(list);
    EXPECT_EQ(formatProxyText(list), "");
    EXPECT_EQ(exportProxyFile(list, dir / "out.txt"), ProxyFileResult::NothingToWrite);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.txt"));
}

TEST(ProxyExport, FileIsPrivateAndReimportsToTheSameEntries)
{
    test::TempDir dir;
    ProxyList list;
    freshList(list);
    ProxyEntry withLogin = entry("gate.example", 3128, kProxyHttpGet, 7);
    withLogin.userName = "gina";
    withLogin.password = "pa:ss@word";
    list.AddProxy(withLogin, false);
    list.AddProxy(entry("s4.example", 1081, kProxySocks4), false);

    const auto file = dir / "proxies.txt";
    ASSERT_EQ(exportProxyFile(list, file), ProxyFileResult::Ok);
    struct stat info { };
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    ProxyList other;
    freshList(other);
    std::vector<size_t> added;
    ASSERT_EQ(importProxyFile(other, file, &added), ProxyFileResult::Ok);
    EXPECT_EQ(added, (std::vector<size_t>{1, 2}));
    ASSERT_EQ(other.ProxyCount(), 3u);
    const ProxyEntry& back = *other.ProxyAt(1);
    EXPECT_EQ(back.server, "gate.example");
    EXPECT_EQ(back.port, 3128);
    EXPECT_EQ(back.type, kProxyHttpGet);
    EXPECT_EQ(back.userName, "gina");
    EXPECT_EQ(back.password, "pa:ss@word");
    EXPECT_EQ(back.flags, 7u);
    EXPECT_EQ(back.title, "");

    // A second import adds nothing: every line is a duplicate.
    added.clear();
    ASSERT_EQ(importProxyFile(other, file, &added), ProxyFileResult::Ok);
    EXPECT_TRUE(added.empty());
    EXPECT_EQ(other.ProxyCount(), 3u);
}

struct LineCase {
    const char* line;
    bool accepted;
    uint16_t type = 0;
    uint16_t port = 0;
    uint32_t flags = 0;
    const char* user = "";
    const char* password = "";
};

TEST(ProxyImport, ParsesLinesAsTheExportWritesThemAndSkipsMalformedOnes)
{
    const LineCase cases[] = {
        {"socks.example:1080@SOCKS5", true, kProxySocks5, 1080, 6},
        {"gate.example:8080@HTTP1:user:pass", true, kProxyHttpConnect, 8080, 7, "user", "pass"},
        {"gate.example:8080@HTTP:user:", true, kProxyHttpGet, 8080, 7, "user", ""},
        {"gate.example:8080@HTTP:user", true, kProxyHttpGet, 8080, 6},
        {"gate.example:8080@HTTP::pass", true, kProxyHttpGet, 8080, 6},
        {"gate.example:8080@HTTP:u:p:q", true, kProxyHttpGet, 8080, 7, "u", "p:q"},
        {"f.example:21@FTP", true, kProxyFtpUserColon, 21, 6},
        {"f.example:21@FTP9", true, kProxyFtpUserColon, 21, 6},
        {"f.example:21@FTP2:a:b", true, kProxyFtpUserSpace, 21, 7, "a", "b"},
        {"s.example:1080@SOCKS4:id:", true, kProxySocks4, 1080, 7, "id", ""},
        {"s.example:1080@SOCKS", true, kProxySocks5, 1080, 6},
        {"h:65535@HTTP", true, kProxyHttpGet, 65535, 6},
        // The type comes from the tag, never from the login that follows it.
        {"h:80@FTP:HTTPuser:pw", true, kProxyFtpUserColon, 80, 7, "HTTPuser", "pw"},
        {"h:80@SOCKS5:user:HTTP1", true, kProxySocks5, 80, 7, "user", "HTTP1"},
        // Skipped.
        {"h:0@SOCKS5", false},
        {"h@SOCKS5", false},
        {":1080@SOCKS5", false},
        {"h:@SOCKS5", false},
        {"h:1080SOCKS5", false},
        {"h:1080@PROXY", false},
        {"h:1080@socks5", false},
        {"h:65536@HTTP", false},
        {"h:4294967376@HTTP", false},  // 2^32 + 80 must not wrap to 80
        {"h:99999999999999999999@HTTP", false},
        {"h:-80@HTTP", false},
        {"h:+80@HTTP", false},
        {"h: 80@HTTP", false},
        {"h:80x@HTTP", false},
        {"h:80@:user:HTTP", false},
        {"", false},
    };
    for (const LineCase& c : cases) {
        const auto parsed = parseProxyLine(c.line);
        ASSERT_EQ(parsed.has_value(), c.accepted) << c.line;
        if (!parsed)
            continue;
        EXPECT_EQ(parsed->type, c.type) << c.line;
        EXPECT_EQ(parsed->port, c.port) << c.line;
        EXPECT_EQ(parsed->flags, c.flags) << c.line;
        EXPECT_EQ(parsed->userName, c.user) << c.line;
        EXPECT_EQ(parsed->password, c.password) << c.line;
        EXPECT_EQ(parsed->title, "") << c.line;
    }
}

TEST(ProxyImport, ControlBytesInALineSkipIt)
{
    EXPECT_FALSE(parseProxyLine(std::string("h:80@HTTP:u:p\0w", 15)));
    EXPECT_FALSE(parseProxyLine("h:80@HTTP:u:p\x1bw"));
    EXPECT_FALSE(parseProxyLine("h\tx:80@HTTP"));
}

TEST(ProxyImport, LinesEndAtCrLfOrLfAndTheLastMayLackAnEnd)
{
    const auto entries = parseProxyText("a:1@HTTP\r\n\r\nb:2@FTP\nc:3@SOCKS4\r\nbad line\r\nd:4@HTTP1");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].server, "a");
    EXPECT_EQ(entries[1].server, "b");
    EXPECT_EQ(entries[2].type, kProxySocks4);
    EXPECT_EQ(entries[3].server, "d");
    EXPECT_EQ(entries[3].type, kProxyHttpConnect);
}

TEST(ProxyImport, GarbledFilesAddNothingWrongAndLoseNothing)
{
    test::TempDir dir;
    ProxyList list;
    freshList(list);
    list.AddProxy(entry("keep.example", 80, kProxyHttpGet), false);

    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 37 + 11) & 0xFF);
    binary += "\r\nok.example:3128@HTTP\r\n";
    binary += std::string("\xff\xfe:80@HTTP\0\r\n", 13);
    test::writeFile(dir / "garbled.bin", binary);

    std::vector<size_t> added;
    ASSERT_EQ(importProxyFile(list, dir / "garbled.bin", &added), ProxyFileResult::Ok);
    ASSERT_EQ(list.ProxyCount(), 3u);
    EXPECT_EQ(list.ProxyAt(1)->server, "keep.example");
    EXPECT_EQ(list.ProxyAt(2)->server, "ok.example");
    EXPECT_EQ(added, std::vector<size_t>{2});
}

TEST(ProxyImport, MissingDirectoryAndOversizedFilesAreRefused)
{
    test::TempDir dir;
    ProxyList list;
    freshList(list);
    EXPECT_EQ(importProxyFile(list, dir / "missing.txt"), ProxyFileResult::CannotOpen);
    EXPECT_EQ(importProxyFile(list, dir.path()), ProxyFileResult::CannotOpen);

    std::string big;
    const std::string line = "big.example:8080@HTTP\r\n";
    while (big.size() <= kMaxProxyFileSize)
        big += line;
    test::writeFile(dir / "big.txt", big);
    EXPECT_EQ(importProxyFile(list, dir / "big.txt"), ProxyFileResult::TooLarge);
    EXPECT_EQ(list.ProxyCount(), 1u);

    EXPECT_EQ(exportProxyFile(list, dir / "no-such-dir" / "out.txt"), ProxyFileResult::NothingToWrite);
    list.AddProxy(entry("x", 1, kProxyHttpGet), false);
    EXPECT_EQ(exportProxyFile(list, dir / "no-such-dir" / "out.txt"), ProxyFileResult::CannotOpen);
}

}  // namespace
}  // namespace fetchora
