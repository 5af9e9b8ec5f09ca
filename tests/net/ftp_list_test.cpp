// LIST lines of DOS and Unix servers, and lines that are no entry.
#include <gtest/gtest.h>

#include "net/ftp_list.h"

namespace fetchora {
namespace {

TEST(FtpListTest, UnixAndDosLinesGiveTheirEntries)
{
    struct Case {
        const char* line;
        const char* name;
        bool directory;
        bool link;
        int64_t size;
        const char* date;
    };
    const Case cases[] = {
        {"-rw-r--r--   1 ftp  ftp   1234567 Jan 10 12:00 file name.bin", "file name.bin", false, false, 1234567,
         "Jan 10 12:00"},
        {"drwxr-xr-x   2 ftp  ftp      4096 Mar  3  2021 pub", "pub", true, false, 0, "Mar 3 2021"},
        {"lrwxrwxrwx   1 root root        7 Feb 28 09:15 latest -> v1.2.3", "latest", false, true, 7, "Feb 28 09:15"},
        {"-rw-r--r-- 1 owner 42 Dec 31 1999 nogroup.txt", "nogroup.txt", false, false, 42, "Dec 31 1999"},
        {"04-27-00  09:09PM       <DIR>          licensed", "licensed", true, false, 0, "04-27-00 09:09PM"},
        {"04-14-2000  03:47AM                  589 read me.htm", "read me.htm", false, false, 589, "04-14-2000 03:47AM"},
    };
    for (const Case& item : cases) {
        const std::optional<FtpListEntry> entry = ParseListLine(item.line);
        ASSERT_TRUE(entry.has_value()) << item.line;
        EXPECT_EQ(entry->name, item.name) << item.line;
        EXPECT_EQ(entry->isDirectory, item.directory) << item.line;
        EXPECT_EQ(entry->isLink, item.link) << item.line;
        EXPECT_EQ(entry->size, item.size) << item.line;
        EXPECT_EQ(entry->date, item.date) << item.line;
    }
}

TEST(FtpListTest, JunkAndUnsafeNamesGiveNoEntry)
{
    for (const char* line : {
             "total 48",
             "",
             "hello world",
             "drwxr-xr-x   2 ftp  ftp      4096 Mar  3  2021 .",
             "drwxr-xr-x   2 ftp  ftp      4096 Mar  3  2021 ..",
             "-rw-r--r--   1 ftp  ftp        10 Mar  3  2021 ../../etc/passwd",
             "04-27-00  09:09PM       <DIR>          ..\\windows",
             "-rw-r--r--   1 ftp  ftp       -10 Mar  3  2021 negative",
             "-rw-r--r--   1 ftp  ftp  99999999999999999999 Mar  3  2021 giant",
         }) {
        EXPECT_FALSE(ParseListLine(std::string_view(line)).has_value()) << line;
    }
    // "PM" in a name does not make a Unix line a DOS one.
    const std::optional<FtpListEntry> pm = ParseListLine("-rw-r--r-- 1 u g 5 Jan 10 12:00 PM notes AM");
    ASSERT_TRUE(pm.has_value());
    EXPECT_EQ(pm->name, "PM notes AM");
}

TEST(FtpListTest, EntriesAreAddedAtTheHead)
{
    std::deque<FtpListEntry> entries;
    EXPECT_TRUE(ParseListLine("-rw-r--r-- 1 u g 1 Jan 10 12:00 first", entries));
    EXPECT_FALSE(ParseListLine("total 2", entries));
    EXPECT_TRUE(ParseListLine("-rw-r--r-- 1 u g 2 Jan 10 12:00 second", entries));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.front().name, "second");
    EXPECT_EQ(entries.back().name, "first");
}

}  // namespace
}  // namespace fetchora
