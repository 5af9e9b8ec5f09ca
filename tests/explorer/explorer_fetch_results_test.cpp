#include "explorer/explorer_fetch_results.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace fetchora {
namespace {

namespace fs = std::filesystem;

// 2026-12-08 20:00:00 UTC.
constexpr std::time_t kNow = 1796760000;

TEST(ListingTime, ReadsUnixAndDosDatesAsListed)
{
    const std::pair<const char*, int64_t> cases[] = {
        {"Mar 3 2021", 1614729600},  // 2021-03-03 00:00 UTC
        {"mar  3  2021", 1614729600},
        {"Dec 1 12:30", 1796128200},  // this year: 2026-12-01 12:30
        {"Dec 9 19:00", 1796842800},  // tomorrow still counts as this year
        {"Dec 25 10:00", 1766656800},  // weeks ahead: last year, 2025-12-25 10:00
        {"04-27-00 09:09PM", 956869740},  // 2000-04-27 21:09
        {"12-31-99 12:00AM", 946598400},  // 1999-12-31 00:00
        {"01-02-2003 12:15PM", 1041509700},  // 2003-01-02 12:15
        {"", -1},
        {"Foo 3 2021", -1},
        {"Mar x 2021", -1},
        {"Mar 3 25:00", -1},
        {"13-01-00 01:00AM", -1},
        {"04/27/00 09:09PM", -1},
    };
    for (const auto& [date, seconds] : cases)
        EXPECT_EQ(ListingTime(date, kNow), seconds) << date;
}

TEST(FolderListingReady, AddsEachNewEntryUnderTheFolderOfTheFinalUrl)
{
    ExplorerNodeStore store;
    ExplorerNode* folder = store.addAddress("ftp://host/pub/");
    ASSERT_NE(folder, nullptr);
    store.addAddress("ftp://host/pub/known.zip")->size = 7;
    const std::deque<FtpListEntry> entries = {
        {"src", true, false, 0, "Jan 10 12:00"},
        {"known.zip", false, false, 99, "Mar 3 2021"},
        {"f.tar.gz", false, false, 123456, "Mar 3 2021"},
    };
    EXPECT_EQ(FolderListingReady(store, "ftp://host/pub", "", entries, kNow), folder);
    ASSERT_EQ(folder->children.size(), 3u);
    EXPECT_EQ(folder->children[1]->url, "ftp://host/pub/src/");
    EXPECT_EQ(folder->children[1]->kind, ExplorerNodeKind::Folder);
    EXPECT_EQ(folder->children[1]->displayName, "src");
    const ExplorerNode* file = store.find("ftp://host/pub/f.tar.gz");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->kind, ExplorerNodeKind::File);
    EXPECT_EQ(file->size, 123456);
    EXPECT_EQ(file->modified, 1614729600);
    EXPECT_EQ(file->parent, folder);
    // A node known before keeps what it had.
    EXPECT_EQ(store.find("ftp://host/pub/known.zip")->size, 7);
    EXPECT_TRUE(folder->fetched);
}

TEST(FolderListingReady, AKnownNodeWithoutSizeOrDateTakesThemFromTheListing)
{
    ExplorerNodeStore store;
    ExplorerNode* browsed = store.addAddress("ftp://host/pub/browsed.iso");
    ASSERT_EQ(browsed->size, -1);
    const std::deque<FtpListEntry> entries = {{"browsed.iso", false, false, 4096, "Mar 3 2021"}};
    FolderListingReady(store, "ftp://host/pub/", "", entries, kNow);
    EXPECT_EQ(browsed->size, 4096);
    EXPECT_EQ(browsed->modified, 1614729600);
}

TEST(FolderListingReady, TheReportedPathReplacesTheUrlPath)
{
    ExplorerNodeStore store;
    const std::deque<FtpListEntry> entries = {{"a.txt", false, false, 1, ""}};
    const ExplorerNode* folder = FolderListingReady(store, "ftp://u@host/~u", "/home/u", entries, kNow);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->url, "ftp://u@host/home/u/");
    ASSERT_NE(store.find("ftp://u@host/home/u/a.txt"), nullptr);
    EXPECT_EQ(store.find("ftp://u@host/home/u/a.txt")->modified, -1);
    EXPECT_EQ(FolderListingReady(store, "not a url", "", entries, kNow), nullptr);
}

TEST(FolderListingReady, NamesThatWouldChangeTheUrlAreEncoded)
{
    ExplorerNodeStore store;
    const std::deque<FtpListEntry> entries = {
        {"two words.txt", false, false, 1, ""},
        {"100%#1?.bin", false, false, 2, ""},
        {"caf\xC3\xA9", true, false, 0, ""},
    };
    const ExplorerNode* folder = FolderListingReady(store, "ftp://host/x/", "/pub dir", entries, kNow);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->url, "ftp://host/pub%20dir/");
    const ExplorerNode* blank = store.find("ftp://host/pub%20dir/two%20words.txt");
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(blank->displayName, "two words.txt");
    EXPECT_NE(store.find("ftp://host/pub%20dir/100%25%231%3F.bin"), nullptr);
    EXPECT_NE(store.find("ftp://host/pub%20dir/caf%C3%A9/"), nullptr);
    EXPECT_EQ(EncodeListedName("a/b", false), "a%2Fb");
    EXPECT_EQ(EncodeListedName("a/b", true), "a/b");
}

class PageFetchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_file = fs::temp_directory_path() / ("fetchora-page-" + std::to_string(::getpid()) + ".html");
    }
    void TearDown() override { fs::remove(m_file); }
    void writePage(const std::string& text) { std::ofstream(m_file, std::ios::binary) << text; }

    ExplorerNodeStore m_store;
    fs::path m_file;
};

TEST_F(PageFetchTest, LinksOfACompletedPageBecomeNodesWithTitleAndFrom)
{
    ExplorerNode* page = m_store.addAddress("http://host/d/index.html");
    ExplorerNode* known = m_store.addAddress("http://host/d/old.zip");
    known->title = "old title";
    writePage("<html><a href=f.zip>The file</a> <a href=\"old.zip\">again</a>"
              "<a href=/other/>up</a><a href=mailto:x@y>m</a><a href=ftp://m/pub/g.zip>mirror</a></html>");
    ASSERT_EQ(PageFetchEnded(m_store, "http://host/d/index.html", true, m_file), page);
    ASSERT_EQ(page->links.size(), 4u);
    const ExplorerNode* file = m_store.find("http://host/d/f.zip");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->title, "The file");
    EXPECT_EQ(file->from, "http://host/d/index.html");
    EXPECT_EQ(file->parent, page->parent);
    EXPECT_EQ(known->title, "old title");
    EXPECT_TRUE(known->from.empty());
    ASSERT_NE(m_store.find("http://host/other/"), nullptr);
    EXPECT_EQ(m_store.find("http://host/other/")->kind, ExplorerNodeKind::Folder);
    ASSERT_NE(m_store.find("ftp://m/pub/g.zip"), nullptr);
    EXPECT_EQ(m_store.find("ftp://m/pub/g.zip")->from, "http://host/d/index.html");
    EXPECT_TRUE(page->fetched);
}

TEST_F(PageFetchTest, AFolderIsReadWithASlashAppendedToItsBase)
{
    ExplorerNode* folder = m_store.addAddress("http://host/d");
    writePage("<a href=f.zip>f</a>");
    ASSERT_EQ(PageFetchEnded(m_store, "http://host/d", true, m_file), folder);
    EXPECT_NE(m_store.find("http://host/d/f.zip"), nullptr);
}

TEST_F(PageFetchTest, FailedFetchesFilesAndUnknownUrlsAddNothing)
{
    ExplorerNode* page = m_store.addAddress("http://host/p.html");
    ExplorerNode* file = m_store.addAddress("http://host/f.zip");
    writePage("<a href=new.zip>n</a>");
    const size_t before = m_store.size();
    EXPECT_EQ(PageFetchEnded(m_store, "http://host/p.html", false, m_file), page);
    EXPECT_EQ(PageFetchEnded(m_store, "http://host/f.zip", true, m_file), file);
    EXPECT_EQ(PageFetchEnded(m_store, "http://elsewhere/p.html", true, m_file), nullptr);
    EXPECT_EQ(m_store.size(), before);
    EXPECT_TRUE(page->links.empty());
    EXPECT_FALSE(page->fetched);
}

TEST_F(PageFetchTest, AHugePageAddsABoundedNumberOfNodes)
{
    ExplorerNode* page = m_store.addAddress("http://host/p.html");
    std::string text = "<html>";
    for (size_t i = 0; i < kMaxNewNodesPerPage + 5000; ++i)
        text += "<a href=d" + std::to_string(i) + "/f.zip>x</a>";
    writePage(text);
    const size_t before = m_store.size();
    ASSERT_EQ(PageFetchEnded(m_store, "http://host/p.html", true, m_file), page);
    EXPECT_GE(m_store.size(), before + kMaxNewNodesPerPage - 2);
    EXPECT_LE(m_store.size(), before + kMaxNewNodesPerPage + 2);
    // The page still lists every link it holds.
    EXPECT_EQ(page->links.size(), kMaxNewNodesPerPage + 5000);
}

TEST(FetchEndedLogLine, NamesTheOutcomeAndTheUrl)
{
    EXPECT_EQ(FetchEndedLogLine(true, "http://h/"), "Download success http://h/");
    EXPECT_EQ(FetchEndedLogLine(false, "ftp://h/x/"), "Download failure ftp://h/x/");
}

TEST(PageLinkNodes, StepsMakeTheNodesOfOneReadAndStoreTheLinksOnlyAtTheEnd)
{
    std::vector<ExtractedLink> links;
    for (int i = 0; i < 23; ++i)
        links.push_back({"http://host/d/f" + std::to_string(i % 17) + ".zip", "t" + std::to_string(i), 0, 1});
    links.push_back({"http://host/sub/", "folder", 0, 1});
    ExplorerNodeStore once;
    ExplorerNode* oncePage = once.addAddress("http://host/p.html");
    ASSERT_EQ(PageLinksReady(once, "http://host/p.html", links), oncePage);

    ExplorerNodeStore stepped;
    ExplorerNode* page = stepped.addAddress("http://host/p.html");
    PageLinkNodes adder(stepped, "http://host/p.html", links);
    ASSERT_EQ(adder.node(), page);
    int steps = 0;
    while (adder.step(4)) {
        ++steps;
        // A half-read page is not shown as read.
        EXPECT_FALSE(page->fetched);
        EXPECT_TRUE(page->links.empty());
    }
    EXPECT_EQ(steps, 5);
    EXPECT_FALSE(adder.step(4));
    EXPECT_TRUE(page->fetched);
    EXPECT_EQ(page->links.size(), links.size());
    EXPECT_EQ(stepped.size(), once.size());
    for (int i = 0; i < 17; ++i) {
        const std::string url = "http://host/d/f" + std::to_string(i) + ".zip";
        ASSERT_NE(stepped.find(url), nullptr) << url;
        // The first link to a file names it.
        EXPECT_EQ(stepped.find(url)->title, once.find(url)->title);
        EXPECT_EQ(stepped.find(url)->title, "t" + std::to_string(i));
    }
    ASSERT_NE(stepped.find("http://host/sub/"), nullptr);

    // A file's fetch adds nothing, however often it is stepped.
    ExplorerNode* file = stepped.addAddress("http://host/f.zip");
    PageLinkNodes none(stepped, "http://host/f.zip", links);
    const size_t before = stepped.size();
    EXPECT_FALSE(none.step(100));
    EXPECT_EQ(stepped.size(), before);
    EXPECT_TRUE(file->links.empty());
}

}  // namespace
}  // namespace fetchora
