#include "shell/clipboard_capture.h"

#include <gtest/gtest.h>

#include <set>

namespace fetchora {
namespace {

constexpr std::string_view kTypes = ".ZIP;.EXE;.A[0-9]?;.R[0-9][0-9];.tar";

TEST(ClipboardCapture, OnlyOneListedUrlOfAMonitoredTypeIsCaught)
{
    const std::set<std::string, std::less<>> listed = {"http://h/listed.zip"};
    const UrlListedPredicate isListed = [&](std::string_view url) { return listed.count(url) != 0; };
    const std::string longUrl = "http://h/" + std::string(kMaxCapturedUrlBytes - 13, 'a') + ".zip";
    ASSERT_EQ(longUrl.size(), kMaxCapturedUrlBytes);
    struct Case {
        std::string text;
        bool caught;
    };
    const Case cases[] = {
        {"http://h/pub/file.zip", true},
        {"HTTP://h/pub/FILE.Zip", true},
        {"ftp://h/pub/setup.exe", true},
        {"https://h/a/b/archive.tar", true},
        {"http://h/pub/file.zip\r\nhttp://h/pub/other.zip", false},
        {"http://h/pub/file.zip\r\n", false},
        {"http://h/pub/file.zip\nsome text", false},
        {" http://h/pub/file.zip", false},
        {"see http://h/pub/file.zip", false},
        {"http://h/listed.zip", false},
        {"http://h/page.html", false},
        {"http://h/noextension", false},
        // Patterns never match: only an entry spelled exactly like the
        // extension does.
        {"http://h/archive.A01", false},
        {"http://h/archive.R12", false},
        {"http://h/archive.R[0-9][0-9]", true},
        // The extension is the path's, not the query's.
        {"http://h/get.php?f=file.zip", false},
        {"http://h/dir.zip/file", false},
        {"gopher://h/file.zip", false},
        {"pnm://h/file.zip", false},
        {"http:///file.zip", false},
        {longUrl, true},
        {longUrl + "x", false},
        {"", false},
    };
    for (const Case& c : cases) {
        ClipboardChange change{c.text, kMonitorWatchClipboard, std::string(kTypes)};
        const std::optional<std::string> url = ClipboardUrlToCapture(change, isListed);
        EXPECT_EQ(url.has_value(), c.caught) << c.text;
        if (url) {
            EXPECT_EQ(*url, c.text);
        }
    }
}

TEST(ClipboardCapture, TheSwitchTheFrontWindowAndOwnWritesStopIt)
{
    const std::string url = "http://h/file.zip";
    ClipboardChange change{url, 0x15F, std::string(kTypes)};
    ASSERT_TRUE(ClipboardUrlToCapture(change, nullptr));
    change.monitorFlags = 0x15E;
    EXPECT_FALSE(ClipboardUrlToCapture(change, nullptr));
    change.monitorFlags = 0x15F;
    change.ownWindowInFront = true;
    EXPECT_FALSE(ClipboardUrlToCapture(change, nullptr));
    change.ownWindowInFront = false;
    change.writingClipboard = true;
    EXPECT_FALSE(ClipboardUrlToCapture(change, nullptr));
}

TEST(ClipboardCapture, MonitorTypeEntriesCompareWholeAndIgnoreCase)
{
    EXPECT_TRUE(MonitorTypeListsExtension(".ZIP;.EXE", ".exe"));
    EXPECT_TRUE(MonitorTypeListsExtension(".zip", ".ZIP"));
    EXPECT_FALSE(MonitorTypeListsExtension(".ZIP;.EXE", ".ZI"));
    EXPECT_FALSE(MonitorTypeListsExtension(".ZIP;.EXE", ".ZIPX"));
    EXPECT_FALSE(MonitorTypeListsExtension(".ZIP;;.EXE", ""));
    EXPECT_FALSE(MonitorTypeListsExtension("", ".zip"));
    EXPECT_EQ(UrlPathExtension("http://h/a.b/c.tar.gz?x=.zip"), ".gz");
    EXPECT_EQ(UrlPathExtension("http://h/"), "");
}

}  // namespace
}  // namespace fetchora
