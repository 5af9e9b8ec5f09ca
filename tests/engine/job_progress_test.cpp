#include "engine/job_progress.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

constexpr int64_t kFileSize = 10'000'000;

// Drives a run second by second: `bytesPerSecond` arrive before each timer
// tick.
struct SimulatedRun {
    RunFigures figures;
    uint32_t now = 50000;
    int64_t completed = 0;

    void seconds(int count, uint64_t bytesPerSecond)
    {
        for (int i = 0; i < count; ++i) {
            now += 1000;
            if (bytesPerSecond > 0) {
                figures.recordData(bytesPerSecond, now - 500);
                completed += static_cast<int64_t>(bytesPerSecond);
            }
            EXPECT_EQ(figures.timerStep(now, kFileSize, completed), kProgressChangeMask);
        }
    }
};

TEST(RunFiguresTest, NothingIsShownBeforeTheFirstData)
{
    SimulatedRun run;
    run.seconds(30, 0);
    EXPECT_FALSE(run.figures.startTick);
    EXPECT_EQ(run.figures.shortSpeed, -1);
    EXPECT_EQ(run.figures.secondsLeft, -1);
    EXPECT_EQ(run.figures.elapsedSeconds, 0u);
}

TEST(RunFiguresTest, FirstFiftySecondsUseTheTenSecondSpeed)
{
    SimulatedRun run;
    run.figures.recordData(0, run.now);  // the first write starts the clocks
    run.seconds(10, 10000);
    // No window has closed yet; the average so far is shown meanwhile.
    EXPECT_FALSE(run.figures.shortSampleClosed);
    EXPECT_EQ(run.figures.shortSpeed, 10000);
    EXPECT_EQ(run.figures.secondsLeft, (kFileSize - 100000) / 10000);
    run.seconds(1, 10000);  // 11 s: more than 10000 ms since the start
    EXPECT_TRUE(run.figures.shortSampleClosed);
    EXPECT_EQ(run.figures.shortSpeed, 10000);
    EXPECT_EQ(run.figures.longSpeed, 10000);
    EXPECT_EQ(run.figures.secondsLeft, (kFileSize - 110000) / 10000);
    EXPECT_EQ(run.figures.elapsedSeconds, 11u);
    EXPECT_EQ(run.figures.runBytes, 110000u);

    // Faster for the next window: before 50 s the estimate follows at once.
    run.seconds(11, 30000);
    EXPECT_EQ(run.figures.shortSpeed, 30000);
    EXPECT_EQ(run.figures.secondsLeft, (kFileSize - run.completed) / 30000);
}

TEST(RunFiguresTest, TheFirstSecondsShowTheAverageSoFar)
{
    RunFigures figures;
    figures.recordData(3000, 1000);
    figures.timerStep(1500, kFileSize, 3000);  // half a second: too short to measure
    EXPECT_EQ(figures.shortSpeed, -1);
    EXPECT_EQ(figures.secondsLeft, -1);
    figures.timerStep(2000, kFileSize, 3000);
    EXPECT_EQ(figures.shortSpeed, 3000);
    EXPECT_EQ(figures.secondsLeft, (kFileSize - 3000) / 3000);

    figures.recordData(9000, 2500);
    figures.timerStep(4000, kFileSize, 12000);  // 12000 bytes over three seconds
    EXPECT_EQ(figures.shortSpeed, 4000);
    EXPECT_EQ(figures.secondsLeft, (kFileSize - 12000) / 4000);
    EXPECT_FALSE(figures.shortSampleClosed);

    // The first window still closes after ten seconds with all its bytes.
    figures.recordData(10000, 9000);
    figures.timerStep(12000, kFileSize, 22000);
    EXPECT_TRUE(figures.shortSampleClosed);
    EXPECT_EQ(figures.shortSpeed, 2000);
    // From then on only closed windows move the figure.
    figures.recordData(50000, 13000);
    figures.timerStep(14000, kFileSize, 72000);
    EXPECT_EQ(figures.shortSpeed, 2000);
}

TEST(RunFiguresTest, DataAfterAStopStartsWithEmptyWindows)
{
    RunFigures figures;
    figures.recordData(50000, 1000);
    figures.timerStep(12001, kFileSize, 50000);  // closes the first window
    figures.recordData(80000, 13000);  // a window the stop cuts short
    figures.stop();

    figures.recordData(2000, 20000);
    figures.timerStep(21000, kFileSize, 132000);
    EXPECT_FALSE(figures.shortSampleClosed);
    EXPECT_EQ(figures.shortSpeed, 2000);
    figures.timerStep(31001, kFileSize, 132000);
    // Only the new run's bytes: the cut window's 80000 are not in it.
    EXPECT_EQ(figures.shortSpeed, 2000 * 1000 / 11001);
}

TEST(RunFiguresTest, AfterFiftySecondsTheLongWindowCarriesTheEstimate)
{
    SimulatedRun run;
    run.figures.recordData(0, run.now);
    run.seconds(66, 10000);  // six short samples; the sixth closes the long window
    EXPECT_EQ(run.figures.elapsedSeconds, 66u);
    // Every byte of the long window counts, including the closing sample's.
    EXPECT_EQ(run.figures.longSpeed, 10000);

    run.seconds(11, 40000);  // much faster now
    EXPECT_EQ(run.figures.shortSpeed, 40000);
    EXPECT_EQ(run.figures.longSpeed, 10000);
    EXPECT_EQ(run.figures.secondsLeft, (kFileSize - run.completed) / 10000);
}

TEST(RunFiguresTest, AWindowWithoutDataShowsNoTimeLeft)
{
    SimulatedRun run;
    run.figures.recordData(0, run.now);
    run.seconds(11, 10000);
    ASSERT_GT(run.figures.secondsLeft, 0);
    run.seconds(11, 0);
    EXPECT_EQ(run.figures.shortSpeed, 0);
    EXPECT_EQ(run.figures.secondsLeft, -1);
    EXPECT_EQ(formatLeftCell(run.figures.secondsLeft, true, run.figures.shortSpeed), "");
}

TEST(RunFiguresTest, UnknownSizeGivesNoEstimateAndStopClearsTheSpeeds)
{
    RunFigures figures;
    figures.recordData(5000, 1000);
    figures.timerStep(12001, -1, 5000);
    EXPECT_EQ(figures.shortSpeed, 5000 * 1000 / 11001);
    EXPECT_EQ(figures.secondsLeft, -1);
    EXPECT_EQ(figures.runSeconds(12001), 11u);

    figures.stop();
    EXPECT_FALSE(figures.startTick);
    EXPECT_EQ(figures.shortSpeed, -1);
    EXPECT_EQ(figures.longSpeed, -1);
    EXPECT_EQ(figures.runSeconds(20000), 0u);
    // The next data starts a new clock.
    figures.recordData(1, 30000);
    EXPECT_EQ(figures.startTick, 30000u);
}

TEST(RunFiguresTest, SamplingWorksAcrossTheTickWrap)
{
    RunFigures figures;
    figures.recordData(11000, 0xFFFFF000u);
    figures.timerStep(0xFFFFF000u + 11000, kFileSize, 11000);  // wrapped past zero
    EXPECT_EQ(figures.shortSpeed, 1000);
    EXPECT_EQ(figures.elapsedSeconds, 11u);
}

TEST(ListCellsTest, LeftAndElapsedClockTexts)
{
    EXPECT_EQ(formatLeftCell(3661, true, 100), "01:01:01");
    EXPECT_EQ(formatLeftCell(500 * 3600, true, 100), "500:00:00");
    EXPECT_EQ(formatLeftCell(501 * 3600 - 1, true, 100), "500:59:59");
    EXPECT_EQ(formatLeftCell(501 * 3600, true, 100), "??:??:??");
    EXPECT_EQ(formatLeftCell(3661, false, 100), "");
    EXPECT_EQ(formatLeftCell(3661, true, -1), "");
    EXPECT_EQ(formatElapsedCell(0), "");
    EXPECT_EQ(formatElapsedCell(59), "00:00:59");
    EXPECT_EQ(formatElapsedCell(100 * 3600 + 62), "100:01:02");
}

TEST(ListCellsTest, SizesSpeedsAndCounts)
{
    struct Case {
        std::string actual;
        std::string expected;
    };
    const Case cases[] = {
        {formatCompletedCell(0, false), ""},
        {formatCompletedCell(1023, false), "1023"},
        {formatCompletedCell(1024, false), "1KB"},
        {formatCompletedCell(5'000'000'000, false), "4882812KB"},
        {formatCompletedCell(5000, true), "5000"},
        {formatSizeCell(1000, false), "1000"},
        {formatSizeCell(1'500'000, false), "1,464KB"},
        {formatSizeCell(1'234'567'890'123, false), "1205,632,705KB"},
        {formatSizeCell(1'500'000, true), "1500000"},
        {formatPercentCell(50, 200), "25%"},
        {formatPercentCell(199, 200), "99%"},
        {formatPercentCell(50, -1), ""},
        {formatPercentCell(0, 0), ""},
        {formatPercentCell(0, 200), ""},
        {formatPercentCell(1, 200), "0%"},
        {formatPercentCell(300, 200), "100%"},
        {formatPercentCell(9'000'000'000'000'000'000 - 1, 9'000'000'000'000'000'000), "99%"},
        {formatPercentCell(6'000'000'000, 8'000'000'000), "75%"},
        {formatSpeedCell(-1, false), ""},
        {formatSpeedCell(1536, false), "1.50"},
        {formatSpeedCell(0, false), "0.00"},
        {formatSpeedCell(1536, true), "1536"},
        {formatRetryCell(0), ""},
        {formatRetryCell(3), "3"},
        {formatConnectionsCell(2, 5), "2/5"},
        {formatTimeCell(-1), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.actual, c.expected);
    EXPECT_FALSE(formatTimeCell(1000000000).empty());
}

TEST(ListCellsTest, StatusAndResumeImages)
{
    struct Case {
        uint32_t state;
        uint32_t startMode;
        bool recheck;
        int image;
    };
    const Case cases[] = {
        {2, 0, false, 5}, {4, 1, false, 6}, {8, 2, false, 7}, {1, 1, false, 4},     {1, 2, false, 9},
        {1, 0, false, 8}, {1, 1, true, 10}, {4, 0, true, 12}, {0x102, 0, false, 5},  // only the low byte is the state
    };
    for (const auto& c : cases) {
        EXPECT_EQ(statusImage(c.state, c.startMode, c.recheck), c.image) << c.state << "/" << c.startMode;
    }
    EXPECT_EQ(resumeImage(0x0000), 0);
    EXPECT_EQ(resumeImage(0x0001), 0);  // the resume bit means nothing until it is known
    EXPECT_EQ(resumeImage(0x0003), 1);
    EXPECT_EQ(resumeImage(0x0202), 2);
}

}  // namespace
}  // namespace fetchora
