#include "shell/job_list_model.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "config/app_settings.h"
#include "model/job_part.h"
#include "platform/registry.h"
#include "shell/job_list_fixture.h"

namespace fetchora {
namespace {

class RecordingObserver final : public JobListObserver {
public:
    void jobListChanged(const JobListChanges& changes) override { batches.push_back(changes); }
    std::vector<JobListChanges> batches;
};

class JobListModelTest : public ::testing::Test {
protected:
    JobListModelTest() { model.setObserver(&observer); }

    std::vector<std::string> names() const
    {
        std::vector<std::string> shown;
        for (size_t row = 0; row < model.rowCount(); ++row)
            shown.push_back(model.cellText(row, JobColumn::Name));
        return shown;
    }
    static std::vector<std::string> namesOf(const std::vector<DownloadJob*>& jobs)
    {
        std::vector<std::string> shown;
        for (const DownloadJob* job : jobs)
            shown.push_back(job->GetDisplayName());
        return shown;
    }
    // Hands over what is pending now and forgets it.
    void flush()
    {
        model.deliver(m_tick += 1000);
        observer.batches.clear();
    }

    test::JobListTree t;
    Registry registry;
    AppSettings settings{registry,
                         SettingsEnvironment{"/usr/bin/fetchora", "/usr/share/fetchora", "/tmp/dl", "/tmp/t", "C"}};
    std::map<const DownloadJob*, JobRunFigures> figures;
    JobListModel model{t.tree, settings, {}, [this](const DownloadJob& job) {
                           auto found = figures.find(&job);
                           return found != figures.end() ? found->second : JobRunFigures{};
                       }};
    RecordingObserver observer;
    uint32_t m_tick = 100000;
};

TEST_F(JobListModelTest, OpeningACategoryListsItsJobsAndPicksTheColumnSet)
{
    DownloadJob& a = t.add(t.download, "a.zip");
    DownloadJob& b = t.add(t.download, "b.zip");
    t.add(t.downloaded, "c.zip");
    model.openCategory(t.download);
    EXPECT_TRUE(model.downloadCategoryOpen());
    EXPECT_EQ(model.columnSet(), 1);
    EXPECT_EQ(names(), (std::vector<std::string>{"a.zip", "b.zip"}));
    EXPECT_EQ(model.rowOf(b), 1u);
    EXPECT_EQ(model.job(0), &a);
    EXPECT_EQ(model.job(2), nullptr);
    EXPECT_EQ(model.cellText(5, JobColumn::Name), "");

    model.openCategory(t.downloaded);
    EXPECT_FALSE(model.downloadCategoryOpen());
    EXPECT_EQ(model.columnSet(), 2);
    EXPECT_EQ(names(), (std::vector<std::string>{"c.zip"}));
    EXPECT_FALSE(model.rowOf(a));
    ASSERT_TRUE(model.deliver(m_tick));
    const JobListChanges& batch = observer.batches.back();
    EXPECT_TRUE(batch.rebuilt);
    EXPECT_TRUE(batch.columnSetChanged);
}

TEST_F(JobListModelTest, CellsUseTheRunFiguresAndTheBytesSetting)
{
    DownloadJob& a = t.add(t.download, "a.zip", 4096, 2048);
    a.state = static_cast<uint32_t>(JobState::Downloading);
    figures[&a] = JobRunFigures{5, 20, 2048, 2};
    model.openCategory(t.download);
    EXPECT_EQ(model.cellText(0, JobColumn::Speed), "2.00");
    EXPECT_EQ(model.cellText(0, JobColumn::Num), "2/2");
    EXPECT_EQ(model.cellText(0, JobColumn::Size), "4KB");
    EXPECT_EQ(model.statusIcon(0), 5);
    EXPECT_EQ(model.statusIcon(1), -1);
    settings.SetOption(OptionId::SizesInBytes, 1);
    EXPECT_EQ(model.cellText(0, JobColumn::Size), "4096");
    EXPECT_EQ(model.cellText(0, JobColumn::Speed), "2048");
}

TEST_F(JobListModelTest, SortingIsRefusedInTheQueueAndFlipsOnTheSecondClick)
{
    t.add(t.download, "b.zip");
    t.add(t.download, "a.zip");
    model.openCategory(t.download);
    EXPECT_FALSE(model.sortBy(JobColumn::Name));
    EXPECT_EQ(names(), (std::vector<std::string>{"b.zip", "a.zip"}));

    t.add(t.downloaded, "beta.zip");
    t.add(t.downloaded, "Alpha.zip");
    t.add(t.downloaded, "gamma.zip");
    model.openCategory(t.downloaded);
    ASSERT_TRUE(model.sortBy(JobColumn::Name));
    EXPECT_EQ(names(), (std::vector<std::string>{"Alpha.zip", "beta.zip", "gamma.zip"}));
    EXPECT_TRUE(model.sortAscending());
    ASSERT_TRUE(model.sortBy(JobColumn::Name));
    EXPECT_EQ(names(), (std::vector<std::string>{"gamma.zip", "beta.zip", "Alpha.zip"}));
    ASSERT_TRUE(model.sortBy(JobColumn::Name));
    EXPECT_EQ(names(), (std::vector<std::string>{"Alpha.zip", "beta.zip", "gamma.zip"}));
    // Another column starts ascending again.
    ASSERT_TRUE(model.sortBy(JobColumn::Comment));
    EXPECT_TRUE(model.sortAscending());
}

TEST_F(JobListModelTest, SizeSortsUnknownSizesByBytesReceived)
{
    t.add(t.downloaded, "known-300", 300, 300);
    t.add(t.downloaded, "unknown-got-500", -1, 500);
    t.add(t.downloaded, "known-100", 100, 100);
    t.add(t.downloaded, "unknown-got-200", -1, 200);
    model.openCategory(t.downloaded);
    ASSERT_TRUE(model.sortBy(JobColumn::Size));
    EXPECT_EQ(names(), (std::vector<std::string>{"known-100", "unknown-got-200", "known-300", "unknown-got-500"}));
}

TEST_F(JobListModelTest, OtherSortKeysAndTiesKeepTheCategoryOrder)
{
    DownloadJob& a = t.add(t.downloaded, "a");
    DownloadJob& b = t.add(t.downloaded, "b");
    DownloadJob& c = t.add(t.downloaded, "c");
    a.state = static_cast<uint32_t>(JobState::Failed);
    b.state = static_cast<uint32_t>(JobState::Completed);
    c.state = static_cast<uint32_t>(JobState::Completed);
    a.optionFlags |= kOptResumeKnown;  // cannot resume: after "yes"
    b.optionFlags |= kOptResumeKnown | kOptResumable;
    a.url = "http://Z.example/";
    b.url = "http://a.example/";
    c.url = "http://m.example/";
    a.createTime = 300;
    b.createTime = 100;
    c.createTime = 200;
    model.openCategory(t.downloaded);
    ASSERT_TRUE(model.sortBy(JobColumn::Status));
    EXPECT_EQ(names(), (std::vector<std::string>{"b", "c", "a"}));
    ASSERT_TRUE(model.sortBy(JobColumn::Status));
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "b", "c"}));  // ties still in category order
    ASSERT_TRUE(model.sortBy(JobColumn::Resume));
    EXPECT_EQ(names(), (std::vector<std::string>{"c", "b", "a"}));
    ASSERT_TRUE(model.sortBy(JobColumn::Url));
    EXPECT_EQ(names(), (std::vector<std::string>{"b", "c", "a"}));
    ASSERT_TRUE(model.sortBy(JobColumn::CreateTime));
    EXPECT_EQ(names(), (std::vector<std::string>{"b", "c", "a"}));
    ASSERT_TRUE(model.sortBy(JobColumn::CreateTime));
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "c", "b"}));
    // Columns without a key of their own sort by name.
    ASSERT_TRUE(model.sortBy(JobColumn::Speed));
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(model.rowOf(c), 2u);
}

TEST_F(JobListModelTest, SelectionIsKeptInRowOrderAndSurvivesARebuild)
{
    DownloadJob& a = t.add(t.download, "a");
    DownloadJob& b = t.add(t.download, "b");
    DownloadJob& c = t.add(t.download, "c");
    DownloadJob& other = t.add(t.downloaded, "other");
    model.openCategory(t.download);
    model.setSelection({&c, &other, &a, nullptr});
    EXPECT_EQ(namesOf(model.selectedJobs()), (std::vector<std::string>{"a", "c"}));
    model.invertSelection();
    EXPECT_EQ(namesOf(model.selectedJobs()), (std::vector<std::string>{"b"}));
    model.selectAll();
    EXPECT_EQ(model.selectedJobs().size(), 3u);
    model.setFocusedJob(&other);
    EXPECT_EQ(model.focusedJob(), nullptr);
    model.setFocusedJob(&b);

    // b leaves the category behind the model's back: a rebuild drops it.
    t.tree.Move(t.downloaded, &b);
    model.rebuild();
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(namesOf(model.selectedJobs()), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(model.focusedJob(), nullptr);
    EXPECT_EQ(model.rowOf(c), 1u);
}

TEST_F(JobListModelTest, InsertAndRemoveKeepRowLookupRight)
{
    DownloadJob& a = t.add(t.download, "a");
    DownloadJob& b = t.add(t.download, "b");
    DownloadJob& c = t.add(t.download, "c");
    model.openCategory(t.download);
    model.setSelection({&b});
    model.setFocusedJob(&b);
    model.setDetailJob(&b);
    flush();

    model.remove(b);
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(model.rowOf(c), 1u);
    EXPECT_FALSE(model.rowOf(b));
    EXPECT_TRUE(model.selectedJobs().empty());
    EXPECT_EQ(model.focusedJob(), nullptr);
    EXPECT_EQ(model.detailJob(), nullptr);

    DownloadJob& d = t.add(t.download, "d");
    DownloadJob& elsewhere = t.add(t.downloaded, "elsewhere");
    model.insertAtTop(d);
    model.insertAtTop(elsewhere);
    model.insertAtTop(d);
    EXPECT_EQ(names(), (std::vector<std::string>{"d", "a", "c"}));
    EXPECT_EQ(model.rowOf(a), 1u);
    EXPECT_EQ(model.rowOf(c), 2u);
}

TEST_F(JobListModelTest, ChangeFlagsReachTheirRowAndTheDetailPanes)
{
    DownloadJob& a = t.add(t.download, "a");
    DownloadJob& b = t.add(t.download, "b");
    DownloadJob& hidden = t.add(t.downloaded, "hidden");
    model.openCategory(t.download);
    model.setDetailJob(&a);
    flush();

    model.jobChanged(b, kChangeComment);
    model.jobChanged(b, kChangeUrl);
    model.jobChanged(hidden, kChangeComment);
    ASSERT_TRUE(model.deliver(m_tick));
    ASSERT_EQ(observer.batches.size(), 1u);
    const JobListChanges& first = observer.batches[0];
    ASSERT_EQ(first.rows.size(), 1u);
    EXPECT_EQ(first.rows[0].job, &b);
    EXPECT_EQ(first.rows[0].row, 1u);
    EXPECT_EQ(first.rows[0].flags, kChangeComment | kChangeUrl);
    EXPECT_FALSE(first.infoPane);
    EXPECT_FALSE(first.logPane);

    // Exactly 0x10 touches no row, only the detail job's graph.
    model.jobChanged(a, kChangeProgress);
    model.jobChanged(a, kChangeInfo);
    ASSERT_TRUE(model.deliver(m_tick + 1));
    const JobListChanges& second = observer.batches[1];
    ASSERT_EQ(second.rows.size(), 1u);
    EXPECT_EQ(second.rows[0].flags, kChangeInfo);
    EXPECT_TRUE(second.graphPane);
    EXPECT_TRUE(second.infoPane);
    EXPECT_TRUE(second.logPane);
    EXPECT_FALSE(model.deliver(m_tick + 2));  // nothing left
}

TEST_F(JobListModelTest, LogLinesAndPartsGoOnlyToTheDetailJob)
{
    DownloadJob& a = t.add(t.download, "a");
    DownloadJob& b = t.add(t.download, "b");
    JobPart part1(&a, 0);
    JobPart part2(&a, 1);
    model.openCategory(t.download);
    model.setDetailJob(&a);
    flush();

    model.partLogged(b, part1, "not shown");
    model.partsChanged(b, nullptr);
    EXPECT_FALSE(model.msUntilDue(m_tick));
    model.partLogged(a, part1, "Connecting");
    model.partLogged(a, part2, "Connected.");
    model.partsChanged(a, &part2);
    ASSERT_TRUE(model.deliver(m_tick));
    const JobListChanges& batch = observer.batches.back();
    ASSERT_EQ(batch.logLines.size(), 2u);
    EXPECT_EQ(batch.logLines[0].part, &part1);
    EXPECT_EQ(batch.logLines[0].line, "Connecting");
    EXPECT_EQ(batch.logLines[1].line, "Connected.");
    EXPECT_EQ(batch.addedParts, (std::vector<const JobPart*>{&part2}));
    EXPECT_FALSE(batch.partsRebuilt);

    model.partsChanged(a, &part1);
    model.partsChanged(a, nullptr);
    model.partsChanged(a, &part2);  // the rebuild reads it anyway
    ASSERT_TRUE(model.deliver(m_tick + 1));
    EXPECT_TRUE(observer.batches.back().partsRebuilt);
    EXPECT_TRUE(observer.batches.back().addedParts.empty());

    // A long burst keeps only as many lines as a part log holds, the newest.
    for (int i = 0; i < 250; ++i)
        model.partLogged(a, part1, "line " + std::to_string(i));
    ASSERT_TRUE(model.deliver(m_tick + 1000));
    const JobListChanges& burst = observer.batches.back();
    ASSERT_EQ(burst.logLines.size(), 200u);
    EXPECT_EQ(burst.logLines.front().line, "line 50");
    EXPECT_EQ(burst.logLines.back().line, "line 249");
}

TEST_F(JobListModelTest, OneSecondOfProgressNoticesComesInAtMostFourBatches)
{
    std::vector<DownloadJob*> running;
    for (int i = 0; i < 8; ++i)
        running.push_back(&t.add(t.download, "job" + std::to_string(i)));
    model.openCategory(t.download);
    const uint32_t start = 5000;
    ASSERT_TRUE(model.deliver(start - 1));  // the open itself
    observer.batches.clear();

    // 20 notices a second per job, each job at its own phase; the caller
    // tries to deliver after every notice.
    for (uint32_t ms = 0; ms < 1000; ++ms) {
        for (size_t j = 0; j < running.size(); ++j) {
            if ((ms + j * 7) % 50 == 0) {
                model.jobChanged(*running[j], (ms / 50) % 2 ? 0x0100 : 0x0200);
                model.deliver(start + ms);
            }
        }
    }
    EXPECT_GE(observer.batches.size(), 2u);
    EXPECT_LE(observer.batches.size(), 4u);
    for (const JobListChanges& batch : observer.batches) {
        EXPECT_FALSE(batch.rebuilt);
        for (const RowChange& change : batch.rows)
            EXPECT_EQ(change.flags & ~0x0300u, 0u);
    }
    // Each job appears once per batch, its flags merged.
    size_t rows = 0;
    for (const JobListChanges& batch : observer.batches) {
        std::set<const DownloadJob*> seen;
        for (const RowChange& change : batch.rows)
            EXPECT_TRUE(seen.insert(change.job).second);
        rows += batch.rows.size();
    }
    EXPECT_LE(rows, 4u * running.size());
}

TEST_F(JobListModelTest, ProgressWaitsItsTurnWhileOtherChangesGoAtOnce)
{
    DownloadJob& a = t.add(t.download, "a");
    DownloadJob& b = t.add(t.download, "b");
    model.openCategory(t.download);
    EXPECT_EQ(model.msUntilDue(1000), 0u);
    ASSERT_TRUE(model.deliver(1000));
    EXPECT_FALSE(model.msUntilDue(1000));

    model.jobChanged(a, 0x0300);
    ASSERT_TRUE(model.deliver(1000));  // first progress of all: at once
    model.jobChanged(a, 0x0100);
    EXPECT_EQ(model.msUntilDue(1100), 150u);
    EXPECT_FALSE(model.deliver(1100));
    EXPECT_FALSE(model.deliver(1249));
    // A state change may not wait: it goes at once and takes the progress along.
    model.jobChanged(b, kChangeState);
    EXPECT_EQ(model.msUntilDue(1150), 0u);
    ASSERT_TRUE(model.deliver(1150));
    const JobListChanges& urgent = observer.batches.back();
    ASSERT_EQ(urgent.rows.size(), 2u);
    EXPECT_EQ(urgent.rows[0].flags, 0x0100u);
    EXPECT_EQ(urgent.rows[1].flags, kChangeState);
    EXPECT_TRUE(urgent.trayTooltip);

    // A structural change right after a progress batch is not held back.
    model.jobChanged(a, 0x0200);
    EXPECT_FALSE(model.deliver(1200));
    DownloadJob& c = t.add(t.download, "c");
    model.insertAtTop(c);
    ASSERT_TRUE(model.deliver(1201));
    EXPECT_TRUE(observer.batches.back().rebuilt);
    EXPECT_TRUE(observer.batches.back().rows.empty());
    // Progress after the wrap of the tick counter still waits its 250 ms.
    model.jobChanged(a, 0x0200);
    ASSERT_TRUE(model.deliver(0xFFFFFF00u));
    model.jobChanged(a, 0x0200);
    EXPECT_FALSE(model.deliver(0xFFFFFFF0u));
    EXPECT_TRUE(model.deliver(0x0000000Au));
}

TEST_F(JobListModelTest, StatusPaneSumsTheSelectionOrTheWholeCategory)
{
    DownloadJob& a = t.add(t.downloaded, "a", 2048, 2048);
    DownloadJob& b = t.add(t.downloaded, "b", 1024, 1024);
    DownloadJob& c = t.add(t.downloaded, "c", 1073741824, 1073741824 - 3072);
    t.add(t.download, "queued", 10, 0);
    model.openCategory(t.download);
    EXPECT_EQ(model.statusPaneText(), "");
    model.openCategory(t.downloaded);
    EXPECT_EQ(model.statusPaneText(), "3 File(s)  1024.00 M");
    model.setSelection({&a});
    EXPECT_EQ(model.statusPaneText(), "1 File(s)  2.00 KB");
    model.setSelection({&a, &b});
    EXPECT_EQ(model.statusPaneText(), "2 File(s)  3.00 KB");
    // One byte beyond a whole GiB switches the unit.
    model.setSelection({});
    c.completedBytes += 1;
    EXPECT_EQ(model.statusPaneText(), "3 File(s)  1.00 GB");
}

TEST_F(JobListModelTest, TrayTooltipCountsTheQueueAndRunningJobs)
{
    EXPECT_EQ(model.trayTooltip(), "Fetchora");
    t.add(t.downloaded, "finished");
    EXPECT_EQ(model.trayTooltip(), "Fetchora");
    DownloadJob& a = t.add(t.download, "a");
    t.add(t.download, "b");
    EXPECT_EQ(model.trayTooltip(), "Fetchora - 2 file(s) in queue");
    a.state = static_cast<uint32_t>(JobState::Downloading);
    EXPECT_EQ(model.trayTooltip(), "Fetchora - 2 file(s) in queue 1 file(s) downloading");
}

}  // namespace
}  // namespace fetchora
