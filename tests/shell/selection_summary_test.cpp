#include "shell/selection_summary.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

TEST(SelectionSummary, SizeTextPicksItsUnitAtTheEdges)
{
    struct Case {
        int64_t bytes;
        const char* expected;
    };
    const Case cases[] = {
        {0, "0 Byte"},
        {1023, "1023 Byte"},
        {1024, "1.00 KB"},
        {1536, "1.50 KB"},
        {1048575, "1024.00 KB"},
        {1048576, "1.00 M"},
        {1073741824, "1024.00 M"},  // exactly 1 GiB is not above it
        {1073741825, "1.00 GB"},
        {5LL * 1073741824 + 536870912, "5.50 GB"},
        {-5, "0 Byte"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(selectionSizeText(c.bytes), c.expected) << c.bytes;
}

TEST(SelectionSummary, PaneTextIsCountFilesTwoSpacesAndSize)
{
    EXPECT_EQ(selectionSummaryText(3, 1024), "3 File(s)  1.00 KB");
    EXPECT_EQ(selectionSummaryText(0, 0), "0 File(s)  0 Byte");
}

TEST(SelectionSummary, TrayTooltipCountsQueueAndRunningJobs)
{
    EXPECT_EQ(trayTooltipText(0, 0, {}), "Fetchora");
    EXPECT_EQ(trayTooltipText(-1, 3, {}), "Fetchora");
    EXPECT_EQ(trayTooltipText(4, 0, {}), "Fetchora - 4 file(s) in queue");
    EXPECT_EQ(trayTooltipText(4, 2, {}), "Fetchora - 4 file(s) in queue 2 file(s) downloading");
}

TEST(SelectionSummary, TrayTooltipUsesTheActiveLanguage)
{
    const StringLookup german = [](uint32_t id) -> std::string {
        switch (id) {
        case kStrTrayQueue: return "Fetchora - %1 Datei(en) wartend";
        case kStrTrayQueueRunning: return "Fetchora - %1 wartend, %2 aktiv";
        default: return {};  // untranslated: English applies
        }
    };
    EXPECT_EQ(trayTooltipText(0, 0, german), "Fetchora");
    EXPECT_EQ(trayTooltipText(7, 0, german), "Fetchora - 7 Datei(en) wartend");
    EXPECT_EQ(trayTooltipText(7, 1, german), "Fetchora - 7 wartend, 1 aktiv");
}

}  // namespace
}  // namespace fetchora
