#include "cli/progress_line.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

TEST(ProgressLine, ShowsPercentAmountSpeedTimeLeftAndConnections)
{
    ProgressFigures figures{"big.bin", 512LL << 20, 1LL << 30, 100LL << 20, 5, 8, "", ""};
    std::string line = progressLine(figures, 200);
    EXPECT_EQ(line, "big.bin   50.0%  512.0 MiB/1.0 GiB  100.0 MiB/s  ETA 0:05  8 conn");
    ProgressFigures sameUnit{"f.bin", 48024780, 104857600, 12897484, 4, 8, "", ""};
    EXPECT_EQ(progressLine(sameUnit, 200), "f.bin   45.8%  45.8/100.0 MiB  12.3 MiB/s  ETA 0:04  8 conn");
    sameUnit.secondsLeft = 3725;
    EXPECT_NE(progressLine(sameUnit, 200).find("ETA 1:02:05"), std::string::npos);
}

TEST(ProgressLine, UnknownSizeEndStatesAndNarrowTerminals)
{
    EXPECT_NE(progressLine({"a", 100, -1, -1, -1, 1, "", ""}, 200).find("  ?  "), std::string::npos);
    EXPECT_NE(progressLine({"a", 0, 0, -1, -1, 0, "done", ""}, 200).find("100.0%"), std::string::npos);
    std::string longName(300, 'x');
    std::string narrow = progressLine({longName, 10, 100, 5, 1, 1, "", ""}, 60);
    EXPECT_LE(narrow.size(), 60u);
    EXPECT_NE(narrow.find("..."), std::string::npos);
    EXPECT_EQ(humanBytes(1023), "1023 B");
    EXPECT_EQ(humanBytes(1536), "1.5 KiB");
}

TEST(ProgressLine, AWaitingRetryReplacesSpeedAndServerNamesAreEscaped)
{
    ProgressFigures figures{"f.bin", 0, -1, 0, -1, 1, "", retryText(2, 5, 4, "HTTP 503 Service Unavailable")};
    EXPECT_EQ(progressLine(figures, 200), "f.bin     ?    0 B  retry 2/5 in 4 s: HTTP 503 Service Unavailable");
    EXPECT_EQ(retryText(7, -1, 0, ""), "retry 7 in 0 s");
    ProgressFigures evil{"x\x1b[2Jy.bin", 1, 2, 1, 1, 1, "", ""};
    const std::string line = progressLine(evil, 200);
    EXPECT_EQ(line.find('\x1b'), std::string::npos);
    EXPECT_EQ(line.rfind("x\\x1b[2Jy.bin", 0), 0u) << line;
}

TEST(SummaryLine, DoneFailedAndStopped)
{
    JobSummary done{"f.bin", true, false, 100LL << 20, 100LL << 20, 100LL << 20, 8.0, ""};
    EXPECT_EQ(summaryLine(done), "f.bin: done, 100.0 MiB in 0:08 (12.5 MiB/s)");
    JobSummary failed{"f.bin", false, true, -1, 0, 0, 0.3, "HTTP 404 Not Found"};
    EXPECT_EQ(summaryLine(failed), "f.bin: failed: HTTP 404 Not Found");
    failed.cause = "HTTP 404 \x1b]0;t\x07";
    EXPECT_EQ(summaryLine(failed), "f.bin: failed: HTTP 404 \\x1b]0;t\\x07");
    failed.cause.clear();
    EXPECT_EQ(summaryLine(failed), "f.bin: failed: the download failed");
    JobSummary stopped{"f.bin", false, false, 200, 50, 50, 1.0, ""};
    EXPECT_EQ(summaryLine(stopped), "f.bin: stopped at 25.0%; run the same command again to resume");
}

}  // namespace
}  // namespace fetchora
