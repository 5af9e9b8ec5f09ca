#include "gui/job_table_model.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>

#include <cstdio>
#include <map>

#include "config/app_settings.h"
#include "gui/progress_delegate.h"
#include "platform/registry.h"
#include "shell/job_list_fixture.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

// Counts the model tester's complaints (it reports them as warnings).
struct TesterFailures {
    TesterFailures()
    {
        s_count = 0;
        m_previous = qInstallMessageHandler(&TesterFailures::handle);
    }
    ~TesterFailures() { qInstallMessageHandler(m_previous); }
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        if (type != QtDebugMsg && text.contains(QLatin1String("FAIL")))
            ++s_count;
    }
    static inline int s_count = 0;
    QtMessageHandler m_previous = nullptr;
};

class ForwardingObserver final : public JobListObserver {
public:
    void jobListChanged(const JobListChanges& changes) override
    {
        if (table)
            table->apply(changes);
    }
    JobTableModel* table = nullptr;
};

class JobTableModelTest : public ::testing::Test {
protected:
    JobTableModelTest() { list.setObserver(&observer); }

    void flush() { list.deliver(m_tick += 1000); }
    QString cell(int row, JobColumn column) const
    {
        return table.data(table.index(row, static_cast<int>(columnIndex(column)))).toString();
    }

    test::JobListTree t;
    Registry registry;
    AppSettings settings{registry,
                         SettingsEnvironment{"/usr/bin/fetchora", "/usr/share/fetchora", "/tmp/dl", "/tmp/t", "C"}};
    std::map<const DownloadJob*, JobRunFigures> figures;
    JobListModel list{t.tree, settings, {}, [this](const DownloadJob& job) {
                          auto found = figures.find(&job);
                          return found != figures.end() ? found->second : JobRunFigures{};
                      }};
    ForwardingObserver observer;
    JobTableModel table{list};
    uint32_t m_tick = 100000;

    void SetUp() override { observer.table = &table; }
};

TEST_F(JobTableModelTest, StaysConsistentThroughAddsRemovalsSortsAndCategorySwitches)
{
    TesterFailures failures;
    QAbstractItemModelTester tester(&table, QAbstractItemModelTester::FailureReportingMode::Warning);
    DownloadJob& a = t.add(t.download, "a.bin", 1000, 500);
    t.add(t.download, "b.bin", 2000, 0);
    t.add(t.downloaded, "zeta.zip", 10, 10);
    t.add(t.downloaded, "alpha.zip", 20, 20);
    t.add(t.downloaded, "mid.zip", 30, 30);

    list.openCategory(t.download);
    flush();
    ASSERT_EQ(table.rowCount(), 2);
    EXPECT_EQ(table.columnCount(), 15);
    EXPECT_EQ(cell(0, JobColumn::Name), "a.bin");
    EXPECT_EQ(cell(0, JobColumn::Percent), "50%");

    DownloadJob& c = t.add(t.download, "c.bin");
    list.insertAtTop(c);
    flush();
    ASSERT_EQ(table.rowCount(), 3);
    EXPECT_EQ(cell(0, JobColumn::Name), "c.bin");

    list.remove(a);
    t.tree.Remove(&a);
    flush();
    ASSERT_EQ(table.rowCount(), 2);
    EXPECT_EQ(cell(1, JobColumn::Name), "b.bin");

    // The queue keeps its order: no sort in "Download".
    EXPECT_FALSE(list.sortBy(JobColumn::Name));

    list.openCategory(t.downloaded);
    flush();
    ASSERT_EQ(table.rowCount(), 3);
    ASSERT_TRUE(list.sortBy(JobColumn::Name));
    flush();
    EXPECT_EQ(cell(0, JobColumn::Name), "alpha.zip");
    EXPECT_EQ(cell(2, JobColumn::Name), "zeta.zip");
    ASSERT_TRUE(list.sortBy(JobColumn::Name));
    flush();
    EXPECT_EQ(cell(0, JobColumn::Name), "zeta.zip");
    EXPECT_EQ(table.data(table.index(0, 3), JobTableModel::SortRole).toLongLong(), 10);

    list.openCategory(nullptr);
    flush();
    EXPECT_EQ(table.rowCount(), 0);
    EXPECT_EQ(TesterFailures::s_count, 0);
}

TEST_F(JobTableModelTest, ProgressOfEightJobsGivesOneDataChangedPerRunOfRows)
{
    std::vector<DownloadJob*> jobs;
    for (int i = 0; i < 12; ++i)
        jobs.push_back(&t.add(t.download, "j" + std::to_string(i) + ".bin", 1000, 0));
    list.openCategory(t.download);
    flush();
    QSignalSpy resets(&table, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&table, &QAbstractItemModel::dataChanged);

    // Rows 0-2, 5-6 and 9-11: three runs.
    for (int row : {0, 1, 2, 5, 6, 9, 10, 11}) {
        jobs[static_cast<size_t>(row)]->completedBytes = 100 * row;
        list.jobChanged(*jobs[static_cast<size_t>(row)], 0x0100);
    }
    flush();
    EXPECT_EQ(resets.count(), 0);
    ASSERT_EQ(changes.count(), 3);
    const std::vector<std::pair<int, int>> runs = {{0, 2}, {5, 6}, {9, 11}};
    for (int i = 0; i < 3; ++i) {
        const QModelIndex topLeft = changes.at(i).at(0).value<QModelIndex>();
        const QModelIndex bottomRight = changes.at(i).at(1).value<QModelIndex>();
        EXPECT_EQ(topLeft.row(), runs[static_cast<size_t>(i)].first);
        EXPECT_EQ(bottomRight.row(), runs[static_cast<size_t>(i)].second);
        // Completed is the first column 0x0100 redraws.
        EXPECT_EQ(topLeft.column(), static_cast<int>(columnIndex(JobColumn::Completed)));
        EXPECT_GE(bottomRight.column(), static_cast<int>(columnIndex(JobColumn::Elapsed)));
    }
    EXPECT_EQ(cell(10, JobColumn::Percent), "100%");

    // A detail-only notice redraws nothing in the list.
    changes.clear();
    list.jobChanged(*jobs[3], 0x0010);
    flush();
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(JobTableModelTest, StatusAndResumeColumnsShowImagesNotText)
{
    DownloadJob& done = t.add(t.download, "done.bin", 10, 10);
    done.state = static_cast<uint32_t>(JobState::Completed);
    done.optionFlags |= kOptResumeKnown | kOptResumable;
    DownloadJob& single = t.add(t.download, "single.bin", 10, 0);
    single.state = static_cast<uint32_t>(JobState::Failed);
    single.optionFlags |= kOptRecheck;
    list.openCategory(t.download);
    flush();
    const QModelIndex status0 = table.index(0, 0);
    EXPECT_EQ(table.data(status0).toString(), "");
    EXPECT_EQ(table.data(status0, JobTableModel::StatusIconRole).toInt(), 6);
    EXPECT_FALSE(table.data(status0, Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_FALSE(table.data(table.index(0, 1), Qt::DecorationRole).value<QIcon>().isNull());
    // Failed in the page-behind variant; no overlay while resume is unknown.
    EXPECT_EQ(table.data(table.index(1, 0), JobTableModel::StatusIconRole).toInt(), 13);
    EXPECT_FALSE(table.data(table.index(1, 0), Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_FALSE(table.data(table.index(1, 1), Qt::DecorationRole).isValid());
    // Every index of the strip has its own picture; out of range has none.
    for (int index = 4; index <= 15; ++index)
        EXPECT_FALSE(JobTableModel::statusIcon(index).pixmap(16).isNull()) << index;
    EXPECT_TRUE(JobTableModel::statusIcon(3).isNull());
    EXPECT_TRUE(JobTableModel::statusIcon(16).isNull());
    EXPECT_EQ(table.headerData(2, Qt::Horizontal).toString(), "Name");
    EXPECT_EQ(table.headerData(0, Qt::Horizontal).toString(), "");
    EXPECT_EQ(table.headerData(0, Qt::Horizontal, Qt::ToolTipRole).toString(), "Status");
}

// The failure counter itself: a model whose row count changes behind the
// tester's back is reported.
class SilentlyGrowingModel final : public QAbstractListModel {
public:
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : rows; }
    QVariant data(const QModelIndex&, int) const override { return {}; }
    void growSilently()
    {
        // Announces one row and adds three.
        beginInsertRows({}, 0, 0);
        rows += 3;
        endInsertRows();
    }
    int rows = 1;
};

TEST(TesterFailures, AnInconsistentModelIsCounted)
{
    TesterFailures failures;
    SilentlyGrowingModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
    model.growSilently();
    EXPECT_GT(TesterFailures::s_count, 0);
}

TEST(ProgressDelegate, ReadsTheBarValueFromThePercentText)
{
    const std::vector<std::pair<QString, int>> cases = {
        {"42%", 42}, {"0%", 0}, {"100%", 100}, {"", -1}, {"%", -1}, {"abc%", -1}, {"150%", 100}, {"12", -1},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ProgressDelegate::percentOf(text), expected) << text.toStdString();
}

TEST(JobTableModelLarge, AHundredThousandJobsOpenAndScrollWithoutFreezing)
{
    // Loaded in one go, as a database is: one insert per job would be quadratic.
    CComPtrTree tree;
    std::vector<std::unique_ptr<DownloadJob>> records;
    std::vector<size_t> parents;
    for (auto [name, kind] : {std::pair{"Fetchora", CategoryKind::Root}, {"Downloaded", CategoryKind::Downloaded}}) {
        auto node = std::make_unique<DownloadJob>();
        node->name = name;
        node->kind = static_cast<uint32_t>(kind);
        node->nodeFlags = kNodeCategory;
        node->id = static_cast<int32_t>(records.size()) + 1;
        parents.push_back(records.empty() ? CComPtrTree::kLoadTopLevel : 0);
        records.push_back(std::move(node));
    }
    for (int i = 0; i < 100000; ++i) {
        auto job = std::make_unique<DownloadJob>();
        job->fileName = "file" + std::to_string(i) + ".bin";
        job->url = "http://127.0.0.1/" + job->fileName;
        job->fileSize = 1000 + i;
        job->optionFlags |= kOptSizeKnown;
        job->completedBytes = 1000 + i;
        job->id = i + 10;
        parents.push_back(1);
        records.push_back(std::move(job));
    }
    tree.AdoptLoaded(std::move(records), parents);
    Registry registry;
    AppSettings settings{registry,
                         SettingsEnvironment{"/usr/bin/fetchora", "/usr/share/fetchora", "/tmp/dl", "/tmp/t", "C"}};
    JobListModel list{tree, settings, {}, [](const DownloadJob&) { return JobRunFigures{}; }};
    JobTableModel table{list};
    ForwardingObserver observer;
    observer.table = &table;
    list.setObserver(&observer);

    QElapsedTimer clock;
    clock.start();
    list.openCategory(tree.FindCategory(CategoryKind::Downloaded));
    list.deliver(1000);
    QTableView view;
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.setItemDelegate(new ProgressDelegate(&view));
    view.setModel(&table);
    view.resize(800, 600);
    view.show();
    QCoreApplication::processEvents();
    const qint64 openMs = clock.elapsed();
    ASSERT_EQ(table.rowCount(), 100000);
    clock.restart();
    for (int row : {0, 25000, 50000, 75000, 99999}) {
        const QModelIndex target = table.index(row, 2);
        view.scrollTo(target);
        QCoreApplication::processEvents();
        EXPECT_TRUE(view.viewport()->rect().intersects(view.visualRect(target))) << row;
    }
    std::printf("[ timing ] 100000 jobs: open and show %lld ms, five scroll steps %lld ms\n",
                static_cast<long long>(openMs), static_cast<long long>(clock.elapsed()));
    EXPECT_EQ(view.indexAt(view.visualRect(table.index(99999, 2)).center()).row(), 99999);
}

}  // namespace
}  // namespace fetchora
