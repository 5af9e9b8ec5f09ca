#include "shell/job_list_cells.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "engine/engine_context.h"
#include "engine/job_runner.h"
#include "model/download_job.h"
#include "platform/job_lock.h"
#include "platform/tick.h"
#include "shell/job_list_fixture.h"

namespace fetchora {
namespace {

using test::JobListTree;

struct CellCase {
    const char* what;
    int64_t size;  // -1: unknown
    int64_t received;
    JobState state;
    bool inBytes;
    JobColumn column;
    const char* expected;
};

TEST(JobListCells, SizeCompletedAndPercentFollowTheTable)
{
    const CellCase cases[] = {
        {"size below 1024 in bytes", 1023, 0, JobState::Ready, false, JobColumn::Size, "1023"},
        {"size of 1 KB", 1024, 0, JobState::Ready, false, JobColumn::Size, "1KB"},
        {"one separator", 1'500'000, 0, JobState::Ready, false, JobColumn::Size, "1,464KB"},
        {"two separators", 1'234'567'890LL * 1024, 0, JobState::Ready, false, JobColumn::Size, "1234,567,890KB"},
        {"seven digits", 1'234'567LL * 1024, 0, JobState::Ready, false, JobColumn::Size, "1,234,567KB"},
        {"size in bytes setting", 1'500'000, 0, JobState::Ready, true, JobColumn::Size, "1500000"},
        {"unknown size while running", -1, 5000, JobState::Downloading, false, JobColumn::Size, ""},
        {"unknown size, completed", -1, 5000, JobState::Completed, false, JobColumn::Size, "4KB"},
        {"nothing received", 4096, 0, JobState::Ready, false, JobColumn::Completed, ""},
        {"received below 1024", 4096, 1023, JobState::Ready, false, JobColumn::Completed, "1023"},
        {"received in KB, truncated", 9000, 2047, JobState::Ready, false, JobColumn::Completed, "1KB"},
        {"received in bytes setting", 9000, 2047, JobState::Ready, true, JobColumn::Completed, "2047"},
        {"percent truncated", 1000, 999, JobState::Ready, false, JobColumn::Percent, "99%"},
        {"percent whole", 1000, 1000, JobState::Completed, false, JobColumn::Percent, "100%"},
        {"percent without size", -1, 999, JobState::Ready, false, JobColumn::Percent, ""},
        {"percent without data", 1000, 0, JobState::Ready, false, JobColumn::Percent, ""},
    };
    JobListTree t;
    for (const CellCase& c : cases) {
        DownloadJob& job = t.add(t.download, "a.zip", c.size, c.received);
        job.state = static_cast<uint32_t>(c.state);
        EXPECT_EQ(jobCellText(job, c.column, JobRunFigures{}, c.inBytes), c.expected) << c.what;
    }
}

TEST(JobListCells, RunFiguresGiveElapsedLeftSpeedAndConnections)
{
    JobListTree t;
    DownloadJob& job = t.add(t.download, "a.zip", 10'000'000, 1000);
    job.splitCount = 4;
    const JobRunFigures idle{};
    EXPECT_EQ(jobCellText(job, JobColumn::Elapsed, idle, false), "");
    EXPECT_EQ(jobCellText(job, JobColumn::Left, idle, false), "");
    EXPECT_EQ(jobCellText(job, JobColumn::Speed, idle, false), "");
    EXPECT_EQ(jobCellText(job, JobColumn::Num, idle, false), "0/4");

    job.totalTime = 3600;
    JobRunFigures running{61, 3661, 1536, 3};
    EXPECT_EQ(jobCellText(job, JobColumn::Elapsed, running, false), "01:01:01");
    EXPECT_EQ(jobCellText(job, JobColumn::Left, running, false), "01:01:01");
    EXPECT_EQ(jobCellText(job, JobColumn::Speed, running, false), "1.50");
    EXPECT_EQ(jobCellText(job, JobColumn::Speed, running, true), "1536");
    EXPECT_EQ(jobCellText(job, JobColumn::Num, running, false), "3/4");

    running.secondsLeft = 500LL * 3600;
    EXPECT_EQ(jobCellText(job, JobColumn::Left, running, false), "500:00:00");
    running.secondsLeft = 501LL * 3600;
    EXPECT_EQ(jobCellText(job, JobColumn::Left, running, false), "??:??:??");
    // No time left without a size, without a speed or without an estimate.
    JobListTree::setSize(job, -1);
    EXPECT_EQ(jobCellText(job, JobColumn::Left, running, false), "");
    JobListTree::setSize(job, 10'000'000);
    running.shortSpeed = -1;
    EXPECT_EQ(jobCellText(job, JobColumn::Left, running, false), "");
    running.shortSpeed = 100;
    running.secondsLeft = -1;
    EXPECT_EQ(jobCellText(job, JobColumn::Left, running, false), "");
}

// An engine runner for a downloading job, on a clock the test moves; the
// runner goes before the engine parts it borrows.
struct EngineClock {
    explicit EngineClock(DownloadJob& runningJob) : job(runningJob)
    {
        context.jobLock = &lock;
        context.clock = &clock;
        job.setRunner(JobRunnerPtr(new JobRunner(job, context), JobRunnerDeleter{&destroyJobRunner}));
        job.state = static_cast<uint32_t>(JobState::Downloading);
    }
    ~EngineClock() { job.resetRunner(); }

    DownloadJob& job;
    JobLock lock;
    ManualClock clock{1000};
    EngineContext context;
};

TEST(JobListCells, EngineFiguresCountARunOnlyWhileItGoes)
{
    JobListTree t;
    DownloadJob& job = t.add(t.download, "a.zip", 1'000'000, 0);
    EXPECT_EQ(engineRunFigures(job).shortSpeed, -1);  // no runner

    EngineClock engine(job);
    ManualClock& clock = engine.clock;
    job.totalTime = 100;
    job.runner()->countReceived(4096);
    clock.set(8000);
    ASSERT_TRUE(job.runner()->onTimer());
    JobRunFigures figures = engineRunFigures(job);
    EXPECT_EQ(figures.elapsedSeconds, 7u);
    EXPECT_EQ(figures.runningParts, 0u);
    EXPECT_EQ(jobCellText(job, JobColumn::Elapsed, figures, false), "00:01:47");

    // The stopped run's seconds go into the total; the runner stays for now
    // and must not count them a second time.
    job.runner()->Finish(StopReason::Silent);
    EXPECT_EQ(job.totalTime, 107);
    figures = engineRunFigures(job);
    EXPECT_EQ(figures.shortSpeed, -1);
    EXPECT_EQ(jobCellText(job, JobColumn::Elapsed, figures, false), "00:01:47");
}

TEST(JobListCells, SpeedAndLeftAppearOnceASecondIsMeasured)
{
    JobListTree t;
    DownloadJob& job = t.add(t.download, "a.zip", 1'000'000, 0);
    EngineClock engine(job);
    ManualClock& clock = engine.clock;
    auto receive = [&job](uint64_t length) {
        job.runner()->countReceived(length);
        job.completedBytes += static_cast<int64_t>(length);
    };
    auto cells = [&job] {
        const JobRunFigures figures = engineRunFigures(job);
        return std::pair{jobCellText(job, JobColumn::Speed, figures, false),
                         jobCellText(job, JobColumn::Left, figures, false)};
    };

    receive(10240);
    clock.set(1500);
    ASSERT_TRUE(job.runner()->onTimer());
    EXPECT_EQ(cells(), std::pair(std::string(), std::string()));  // too early to measure

    clock.set(2000);
    receive(10240);
    ASSERT_TRUE(job.runner()->onTimer());
    // 20480 bytes in the first second; (1000000 - 20480) / 20480 seconds left.
    EXPECT_EQ(cells(), std::pair(std::string("20.00"), std::string("00:00:47")));

    clock.set(3000);
    receive(40960);
    ASSERT_TRUE(job.runner()->onTimer());
    EXPECT_EQ(cells(), std::pair(std::string("30.00"), std::string("00:00:30")));
}

TEST(JobListCells, TextColumnsRetriesAndTimes)
{
    JobListTree t;
    DownloadJob& job = t.add(t.downloaded, "Report.PDF", 10, 10);
    job.editTexts().comment = "monthly";
    EXPECT_EQ(jobCellText(job, JobColumn::Name, {}, false), "Report.PDF");
    EXPECT_EQ(jobCellText(job, JobColumn::Url, {}, false), "http://example.com/Report.PDF");
    EXPECT_EQ(jobCellText(job, JobColumn::Comment, {}, false), "monthly");
    EXPECT_EQ(jobCellText(job, JobColumn::Status, {}, false), "");
    EXPECT_EQ(jobCellText(job, JobColumn::Resume, {}, false), "");
    EXPECT_EQ(jobCellText(job, JobColumn::Retry, {}, false), "");
    job.retryCount = 3;
    EXPECT_EQ(jobCellText(job, JobColumn::Retry, {}, false), "3");
    job.createTime = -1;
    job.completeTime = -1;
    EXPECT_EQ(jobCellText(job, JobColumn::CreateTime, {}, false), "");
    EXPECT_EQ(jobCellText(job, JobColumn::CompleteTime, {}, false), "");
    job.createTime = 1'700'000'000;
    job.completeTime = 1'700'086'400;
    const std::string created = jobCellText(job, JobColumn::CreateTime, {}, false);
    const std::string completed = jobCellText(job, JobColumn::CompleteTime, {}, false);
    EXPECT_FALSE(created.empty());
    EXPECT_NE(created, completed);  // a day apart, so the date differs
}

TEST(JobListCells, StatusIconAndResumeOverlay)
{
    struct IconCase {
        JobState state;
        StartMode mode;
        bool recheck;
        int icon;
    };
    const IconCase cases[] = {
        {JobState::Downloading, StartMode::Manual, false, 5}, {JobState::Completed, StartMode::Manual, false, 6},
        {JobState::Failed, StartMode::Immediately, false, 7}, {JobState::Ready, StartMode::Immediately, false, 4},
        {JobState::Ready, StartMode::Schedule, false, 9},     {JobState::Ready, StartMode::Manual, false, 8},
        {JobState::Ready, StartMode::Immediately, true, 10},  {JobState::Downloading, StartMode::Manual, true, 11},
    };
    JobListTree t;
    DownloadJob& job = t.add(t.download, "a.zip");
    for (const IconCase& c : cases) {
        job.state = static_cast<uint32_t>(c.state);
        job.startMode = c.mode;
        job.optionFlags = c.recheck ? kOptRecheck : 0;
        EXPECT_EQ(jobStatusIcon(job), c.icon) << static_cast<int>(c.state) << "/" << static_cast<int>(c.mode);
    }
    job.optionFlags = kOptResumable;  // not known yet: no overlay
    EXPECT_EQ(jobResumeOverlay(job), 0);
    job.optionFlags = kOptResumeKnown | kOptResumable;
    EXPECT_EQ(jobResumeOverlay(job), 1);
    job.optionFlags = kOptResumeKnown;
    EXPECT_EQ(jobResumeOverlay(job), 2);
}

TEST(JobListCells, UpdateFlagsRefreshTheirColumns)
{
    auto shown = [](uint32_t flags) {
        std::vector<JobColumn> columns;
        const ColumnMask mask = columnsForFlags(flags);
        for (size_t i = 0; i < kJobColumnCount; ++i) {
            if (mask[i])
                columns.push_back(static_cast<JobColumn>(i));
        }
        return columns;
    };
    using C = JobColumn;
    EXPECT_EQ(shown(0x0010), std::vector<C>{});
    EXPECT_EQ(shown(0x0100), (std::vector<C>{C::Completed, C::Percent, C::Elapsed, C::CreateTime}));
    EXPECT_EQ(shown(0x0300), (std::vector<C>{C::Completed, C::Percent, C::Elapsed, C::Left, C::Speed, C::CreateTime}));
    EXPECT_EQ(shown(0x0808), (std::vector<C>{C::Status, C::Resume, C::CreateTime}));
    EXPECT_EQ(shown(0x0003), (std::vector<C>{C::Name, C::Url, C::CreateTime}));
    EXPECT_EQ(shown(0x3424), (std::vector<C>{C::Size, C::Num, C::Retry, C::Comment, C::CreateTime, C::CompleteTime}));
    EXPECT_EQ(shown(0xFFFF).size(), kJobColumnCount);
}

}  // namespace
}  // namespace fetchora
