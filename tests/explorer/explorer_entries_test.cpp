#include "explorer/explorer_entries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fetchora {
namespace {

std::vector<std::string> cellsOf(const EntryRow& row, bool sizesInBytes = false)
{
    std::vector<std::string> cells;
    for (int column = 0; column < static_cast<int>(EntryColumn::Count); ++column)
        cells.push_back(EntryCellText(row, static_cast<EntryColumn>(column), sizesInBytes));
    return cells;
}

class ExplorerEntriesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_page = m_store.addAddress("http://host/d/index.html");
        m_file = m_store.addAddress("http://host/d/big.zip");
        m_file->title = "Big one";
        m_file->from = "http://host/d/index.html";
        m_file->size = 5 * 1024 + 1000;
        m_file->modified = 1614729600;
        m_folder = m_store.addAddress("http://host/d/sub/");
        m_folder->size = 0;
        m_page->links = {
            {"http://host/d/big.zip", "Big one", 0, 7},
            {"http://host/d/sub", "Sub", 10, 3},
            {"http://other/x/readme.TXT?v=2", "Readme", 20, 10},
            {"http://other/x/readme.TXT?v=2", "again", 40, 10},
        };
    }

    ExplorerNodeStore m_store;
    ExplorerNode* m_page = nullptr;
    ExplorerNode* m_file = nullptr;
    ExplorerNode* m_folder = nullptr;
};

TEST_F(ExplorerEntriesTest, CellsOfNodesAndBareLinks)
{
    EXPECT_EQ(cellsOf({m_file, nullptr, m_page}),
              (std::vector<std::string>{"big.zip", "zip", "Big one", "http://host/d/big.zip", "5KB",
                                        "03/03/21 00:00:00", "http://host/d/index.html"}));
    EXPECT_EQ(EntryCellText({m_file, nullptr, m_page}, EntryColumn::Size, true), "6120");
    EXPECT_EQ(cellsOf({m_folder, nullptr, m_page}),
              (std::vector<std::string>{"sub", "", "", "http://host/d/sub/", "", "", ""}));
    EXPECT_EQ(cellsOf({nullptr, &m_page->links[2], m_page}),
              (std::vector<std::string>{"readme.TXT", "TXT", "Readme", "http://other/x/readme.TXT?v=2", "", "",
                                        "http://host/d/index.html"}));
}

TEST_F(ExplorerEntriesTest, SizesBelowAKilobyteOrUnknown)
{
    const std::pair<int64_t, const char*> cases[]
        = {{-1, ""}, {0, "0"}, {1023, "1023"}, {1024, "1KB"}, {2047, "1KB"}, {int64_t{5} << 40, "5368709120KB"}};
    for (const auto& [size, text] : cases) {
        m_file->size = size;
        EXPECT_EQ(EntryCellText({m_file, nullptr, m_page}, EntryColumn::Size, false), text) << size;
    }
}

TEST_F(ExplorerEntriesTest, RowsListChildrenThenLinksOnceEach)
{
    const std::vector<EntryRow> rows = EntryRows(m_store, *m_page, {});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].node, m_file);
    EXPECT_EQ(rows[1].node, m_folder);
    EXPECT_EQ(rows[2].node, nullptr);
    EXPECT_EQ(rows[2].link, &m_page->links[2]);

    const std::vector<EntryRow> folderRows = EntryRows(m_store, *m_page->parent, {});
    ASSERT_EQ(folderRows.size(), 3u);
    EXPECT_EQ(folderRows[0].node, m_page);
}

TEST_F(ExplorerEntriesTest, FilterHidesFilesByExtensionButKeepsFolders)
{
    const ExplorerFilter only{ExplorerFilterMode::ShowOnly, ".ZIP;.A[0-9]?"};
    std::vector<EntryRow> rows = EntryRows(m_store, *m_page, only);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].node, m_file);
    EXPECT_EQ(rows[1].node, m_folder);

    const ExplorerFilter except{ExplorerFilterMode::ShowAllExcept, ".zip"};
    rows = EntryRows(m_store, *m_page, except);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].node, m_folder);
    EXPECT_EQ(rows[1].link, &m_page->links[2]);
}

TEST(FilterPasses, MatchesExtensionPatternsWithWildcardsInAnyCase)
{
    const ExplorerFilter only{ExplorerFilterMode::ShowOnly, std::string(kDefaultExplorerFilter)};
    const ExplorerFilter except{ExplorerFilterMode::ShowAllExcept, std::string(kDefaultExplorerFilter)};
    const std::pair<const char*, bool> cases[] = {
        {"a.zip", true},    {"A.ZIP", true},   {"x.a01", true}, {"x.a1", false}, {"x.ab1", false},
        {"x.tar.gz", true}, {"readme", false}, {"x.z", true},   {"x.zz", false}, {"song.Mp3", true},
    };
    for (const auto& [name, matches] : cases) {
        EXPECT_EQ(FilterPasses(only, name), matches) << name;
        EXPECT_EQ(FilterPasses(except, name), !matches) << name;
        EXPECT_TRUE(FilterPasses({}, name)) << name;
    }
}

TEST_F(ExplorerEntriesTest, PickedDownloadsCarryTitleAndReferrer)
{
    const std::optional<PickedDownload> fromNode = PickedDownloadOf({m_file, nullptr, m_page});
    ASSERT_TRUE(fromNode.has_value());
    EXPECT_EQ(fromNode->url, "http://host/d/big.zip");
    EXPECT_EQ(fromNode->title, "Big one");
    EXPECT_EQ(fromNode->referrer, "http://host/d/index.html");

    const std::optional<PickedDownload> fromLink = PickedDownloadOf({nullptr, &m_page->links[2], m_page});
    ASSERT_TRUE(fromLink.has_value());
    EXPECT_EQ(fromLink->url, "http://other/x/readme.TXT?v=2");
    EXPECT_EQ(fromLink->title, "Readme");
    EXPECT_EQ(fromLink->referrer, "http://host/d/index.html");

    const ExtractedLink relative{"rel.zip", "R", 0, 7};
    const std::optional<PickedDownload> resolved = PickedDownloadOf({nullptr, &relative, m_page});
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(resolved->url, "http://host/d/rel.zip");

    const ExtractedLink mail{"mailto:x@y", "", 0, 10};
    EXPECT_FALSE(PickedDownloadOf({nullptr, &mail, m_page}).has_value());
    EXPECT_FALSE(PickedDownloadOf({}).has_value());
}

TEST(UrlFileName, IsTheLastSegmentWithoutQuery)
{
    EXPECT_EQ(UrlFileName("http://h/a/b.zip?x=/y"), "b.zip");
    EXPECT_EQ(UrlFileName("http://h/a/"), "");
    EXPECT_EQ(UrlFileName("b.zip#frag"), "b.zip");
}

TEST_F(ExplorerEntriesTest, RowsTakenInBatchesAreTheRowsTakenAtOnce)
{
    // Duplicates spread over several batches and a filter, so that a
    // builder that forgot what it saw or filtered per batch would differ.
    for (int i = 0; i < 40; ++i)
        m_page->links.push_back({"http://host/d/f" + std::to_string(i % 25) + (i % 3 == 0 ? ".bin" : ".zip"), "link",
                                 static_cast<size_t>(100 + i), 5});
    const ExplorerFilter filter{ExplorerFilterMode::ShowAllExcept, ".BIN"};
    const std::vector<EntryRow> atOnce = EntryRows(m_store, *m_page, filter);
    ASSERT_GT(atOnce.size(), 10u);
    for (const size_t batch : {size_t{1}, size_t{3}, size_t{7}, size_t{1000}}) {
        EntryRowsBuilder builder(m_store, *m_page, filter);
        std::vector<EntryRow> rows;
        size_t calls = 0;
        while (builder.next(batch, rows))
            ++calls;
        EXPECT_TRUE(builder.done());
        EXPECT_GE(calls + 1, (m_page->children.size() + m_page->links.size()) / batch) << batch;
        ASSERT_EQ(rows.size(), atOnce.size()) << batch;
        for (size_t r = 0; r < rows.size(); ++r) {
            EXPECT_EQ(rows[r].node, atOnce[r].node) << batch << " " << r;
            EXPECT_EQ(rows[r].link, atOnce[r].link) << batch << " " << r;
        }
    }
}

}  // namespace
}  // namespace fetchora
