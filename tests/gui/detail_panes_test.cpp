#include "gui/detail_panes.h"

#include "gui/html_drop.h"
#include "model/completed_range.h"
#include "shell/html_format.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using B = BlockState;

std::vector<CompletedRange> ranges(std::initializer_list<std::pair<int64_t, int64_t>> list)
{
    std::vector<CompletedRange> out;
    for (auto [start, end] : list)
        out.push_back({start, end, 0, 0});
    return out;
}

TEST(BlockMap, CellsAreDoneRunningOrMissingByRangesAndParts)
{
    struct Case {
        const char* name;
        int64_t size;
        std::vector<CompletedRange> done;
        std::vector<RunningSpan> running;
        int64_t block;
        size_t maxCells;
        std::vector<B> expected;
    };
    const std::vector<Case> cases = {
        {"nothing yet", 40, {}, {}, 10, 100, {B::Missing, B::Missing, B::Missing, B::Missing}},
        {"a whole range", 40, ranges({{0, 20}}), {}, 10, 100, {B::Done, B::Done, B::Missing, B::Missing}},
        {"a partly covered block is not done",
         40,
         ranges({{0, 15}}),
         {},
         10,
         100,
         {B::Done, B::Missing, B::Missing, B::Missing}},
        {"two ranges fill one block",
         40,
         ranges({{10, 14}, {14, 20}}),
         {},
         10,
         100,
         {B::Missing, B::Done, B::Missing, B::Missing}},
        {"a running part marks what it still fetches",
         40,
         ranges({{0, 15}}),
         {{15, 29}},
         10,
         100,
         {B::Done, B::Running, B::Running, B::Missing}},
        {"a part to the end of the file",
         40,
         {},
         {{25, -1}},
         10,
         100,
         {B::Missing, B::Missing, B::Running, B::Running}},
        {"a short last block", 35, ranges({{30, 35}}), {}, 10, 100, {B::Missing, B::Missing, B::Missing, B::Done}},
        {"merged cells are done only when all blocks are", 40, ranges({{0, 30}}), {}, 10, 2, {B::Done, B::Missing}},
        {"unknown size", -1, {}, {}, 10, 100, {}},
        {"a range past the end is clipped", 20, ranges({{0, 500}}), {}, 10, 100, {B::Done, B::Done}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(blockMap(c.size, c.done, c.running, c.block, c.maxCells), c.expected) << c.name;
    // A large file never gives more cells than fit.
    EXPECT_LE(blockMap(int64_t{4} << 30, {}, {}, 10240, 5000).size(), 5000u);
}

TEST(SpeedHistory, KeepsTheNewestSamplesAndScalesToTheirPeak)
{
    SpeedHistory history(3);
    for (int64_t speed : {10, 20, 30, 40})
        history.add(speed * 1024);
    ASSERT_EQ(history.samples().size(), 3u);
    EXPECT_EQ(history.samples().front(), 20 * 1024);
    // Below the setting the setting is the top.
    EXPECT_EQ(history.scaleTop(100), 100 * 1024);
    history.add(300 * 1024);
    EXPECT_EQ(history.scaleTop(100), 500 * 1024);
    history.add(-5);
    EXPECT_EQ(history.samples().back(), 0);
    history.clear();
    EXPECT_EQ(history.scaleTop(0), 1024);
}

TEST(DetailColours, StoredValuesAreBlueGreenRed)
{
    EXPECT_EQ(colorFromColorRef(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(colorFromColorRef(0x98FB98), QColor(0x98, 0xFB, 0x98));
    EXPECT_EQ(colorFromColorRef(0x8B0000), QColor(0, 0, 0x8B));
}

TEST(HtmlDrop, WrappedHtmlReadsBackWithItsLinksAndPage)
{
    const std::string html = "<p>see <a href=\"http://127.0.0.1/a.zip\">one</a> and <a href=\"b.zip\">two</a></p>";
    const std::string block = HtmlFormatFromHtml(html, "http://127.0.0.1/dir/page.html");
    EXPECT_EQ(HtmlFormatField(block, "StartHTML:") >= 0, true);
    const HtmlFormatLinks read = ReadHtmlFormat(block);
    ASSERT_EQ(read.links.size(), 2u);
    EXPECT_EQ(read.links[0].url, "http://127.0.0.1/a.zip");
    EXPECT_EQ(read.baseUrl, "http://127.0.0.1/dir/page.html");
    // The offsets point at the fragment exactly.
    const auto start = static_cast<size_t>(HtmlFormatField(block, "StartFragment:"));
    const auto end = static_cast<size_t>(HtmlFormatField(block, "EndFragment:"));
    EXPECT_EQ(block.substr(start, end - start), html);
    EXPECT_EQ(static_cast<size_t>(HtmlFormatField(block, "EndHTML:")), block.size());
}

TEST(HtmlDrop, ALineBreakInThePageAddressAddsNoHeaderField)
{
    const std::string block = HtmlFormatFromHtml("<a href=\"x.zip\">x</a>", "http://127.0.0.1/p\r\nStartHTML:0");
    EXPECT_EQ(ReadHtmlFormat(block).baseUrl, "http://127.0.0.1/p");
    EXPECT_EQ(ReadHtmlFormat(block).links.size(), 1u);
    EXPECT_GT(HtmlFormatField(block, "StartHTML:"), 0);
}

}  // namespace
}  // namespace fetchora
