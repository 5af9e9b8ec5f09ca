#include "shell/splitter_sizes.h"

#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fetchora {
namespace {

// The main view: the tree on the left (fixed), the job list above the detail
// panes (log and graph side by side) on the right.
Pane mainViewPanes()
{
    Pane details = Pane::divided(PaneSplit::Along, Pane::leaf("log", 300), Pane::leaf("graph", 200), 150);
    Pane right = Pane::divided(PaneSplit::Across, Pane::leaf("jobs", 250), std::move(details), 500);
    return Pane::divided(PaneSplit::Along, Pane::leaf("tree", 180, true), std::move(right), 700);
}

std::vector<int> sizes(const Pane& pane)
{
    std::vector<int> result{pane.size};
    for (const Pane& child : pane.children)
        for (int size : sizes(child))
            result.push_back(size);
    return result;
}

TEST(SplitterSizes, WritesEveryPaneDepthFirst)
{
    EXPECT_EQ(formatSplitterSizes(mainViewPanes()), "0700 0180 0500 0250 0150 0300 0200 ");
}

TEST(SplitterSizes, ClampsWrittenSizes)
{
    Pane panes = Pane::divided(PaneSplit::Across, Pane::leaf("a", -5), Pane::leaf("b", 123456), 42);
    EXPECT_EQ(formatSplitterSizes(panes), "0042 0000 9999 ");
}

TEST(SplitterSizes, ReadsBackWhatItWrote)
{
    Pane stored = mainViewPanes();
    stored.children[0].size = 220;
    stored.children[1].children[1].children[0].size = 410;
    Pane restored = mainViewPanes();
    ASSERT_TRUE(applySplitterSizes(formatSplitterSizes(stored), restored));
    EXPECT_EQ(sizes(restored), sizes(stored));
}

TEST(SplitterSizes, ProportionalPanesGetAtLeastTenFixedPanesKeepWhatIsStored)
{
    Pane panes = mainViewPanes();
    ASSERT_TRUE(applySplitterSizes("0000 0003 0009 0010 -020 0011 12345", panes));
    // Root 0 -> 10; the fixed tree pane keeps 3; 9 -> 10; 10; -20 -> 10;
    // 11; "12345" is read as five characters and clamped to 9999.
    EXPECT_EQ(sizes(panes), (std::vector<int>{10, 3, 10, 10, 10, 11, 9999}));
}

TEST(SplitterSizes, ShortOrUnreadableTextLeavesTheBuiltInSizes)
{
    const std::vector<int> builtIn = sizes(mainViewPanes());
    const std::vector<std::string> bad = {
        "",
        "0700 0180 0500 0250 0150 0300 ",  // one pane short
        "0700 0180 0500 xxxx 0150 0300 0200 ",
        "0700 0180 0500      0150 0300 0200 ",
    };
    for (const std::string& text : bad) {
        SCOPED_TRACE(text);
        Pane panes = mainViewPanes();
        EXPECT_FALSE(applySplitterSizes(text, panes));
        EXPECT_EQ(sizes(panes), builtIn);
    }
    // The last field needs no trailing blank.
    Pane panes = mainViewPanes();
    EXPECT_TRUE(applySplitterSizes("0700 0180 0500 0250 0150 0300 0201", panes));
    EXPECT_EQ(panes.children[1].children[1].children[1].size, 201);
}

TEST(SplitterSizes, StoredUnderTheViewsSection)
{
    Registry registry;
    Pane panes = mainViewPanes();
    EXPECT_FALSE(readSplitterSizes(registry, "Main Frame", panes));
    panes.children[0].size = 260;
    writeSplitterSizes(registry, "Main Frame", panes);
    EXPECT_EQ(registry.readString(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Main Frame", "Splitter"),
              "0700 0260 0500 0250 0150 0300 0200 ");
    Pane restored = mainViewPanes();
    EXPECT_TRUE(readSplitterSizes(registry, "Main Frame", restored));
    EXPECT_EQ(restored.children[0].size, 260);
}

}  // namespace
}  // namespace fetchora
