#include "cli/progress_line.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

TEST(ProgressLine, ShowsPercentAmountSpeedTimeLeftAndConnections)
{
    ProgressFigures figures{"big.bin", 512LL << 20, 1LL << 30, 100LL << 20, 5, 8, ""};
    std::string line = progressLine(figures, 200);
    EXPECT_EQ(line, "big.bin   50.0%  512.0 MiB / 1.0 GiB  100.0 MiB/s  left 00:00:05  8 conn");
}

TEST(ProgressLine, UnknownSizeEndStatesAndNarrowTerminals)
{
    EXPECT_NE(progressLine({"a", 100, -1, -1, -1, 1, ""}, 200).find("  ?  "), std::string::npos);
    EXPECT_NE(progressLine({"a", 0, 0, -1, -1, 0, "done"}, 200).find("100.0%"), std::string::npos);
    std::string longName(300, 'x');
    std::string narrow = progressLine({longName, 10, 100, 5, 1, 1, ""}, 60);
    EXPECT_LE(narrow.size(), 60u);
    EXPECT_NE(narrow.find("..."), std::string::npos);
    EXPECT_EQ(humanBytes(1023), "1023 B");
    EXPECT_EQ(humanBytes(1536), "1.5 KiB");
}

}  // namespace
}  // namespace fetchora
