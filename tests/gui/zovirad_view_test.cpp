#include "gui/zovirad_view.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMimeData>
#include <QSignalSpy>
#include <QStyle>
#include <QTreeWidget>

#include <QPlainTextEdit>

#include <algorithm>
#include <fstream>
#include <memory>

#include "config/app_settings.h"
#include "gui/category_tree.h"
#include "gui/detail_panes.h"
#include "gui/job_table_model.h"
#include "gui/qt_loop_driver.h"
#include "model/download_job.h"
#include "model/job_database.h"
#include "shell/application.h"
#include "shell/column_sets.h"
#include "shell/job_list_model.h"
#include "shell/main_view.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/view_prompts.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

class NoPower final : public PowerControl {
public:
    bool canPowerOff() override { return false; }
    bool powerOff() override { return false; }
    void holdSleepInhibitor(bool) override { }
};

class HeldCountdown final : public Countdown {
public:
    void start(const CountdownRequest&, std::function<void(bool)>) override { }
};

class QuietHost final : public MainViewHost {
public:
    void bringToFront() override { }
    void requestExit() override { }
    std::string clipboardText() override { return {}; }
    void setClipboardText(const std::string&) override { }
    Countdown& countdown() override { return m_countdown; }

private:
    HeldCountdown m_countdown;
};

bool spinUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

void spinFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The job of that URL anywhere in the tree, or none.
DownloadJob* jobWithUrl(const CComPtrTree& tree, const std::string& url)
{
    for (DownloadJob* node : tree.nodes())
        if (!node->IsCategory() && node->url == url)
            return node;
    return nullptr;
}

void dropOn(QWidget* target, const QPoint& at, QMimeData* mime)
{
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

// The desktop program's view over a fresh profile, its loop run by Qt.
class ZoviradViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_app.start(error)) << error;
        m_app.settings().SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Immediately));
        m_driver = std::make_unique<QtLoopDriver>(m_app.loop());
        m_view = std::make_unique<MainView>(m_app, m_prompts, m_desktop, m_power, m_host);
        m_view->start();
        m_zovirad = std::make_unique<ZoviradView>(*m_view, m_app);
        m_zovirad->restoreState();
        m_zovirad->resize(900, 600);
        m_zovirad->show();
        QCoreApplication::processEvents();
    }

    void TearDown() override
    {
        if (m_view)
            m_view->close();
        m_zovirad.reset();
        if (m_view)
            m_view->joinThreads();
        m_view.reset();
        m_driver.reset();
        m_app.stop();
    }

    JobListModel& list() { return m_view->list(); }
    JobTableModel& table() { return *m_zovirad->tableModel(); }
    QString cell(const DownloadJob& job, JobColumn column)
    {
        const std::optional<size_t> row = list().rowOf(job);
        if (!row)
            return QStringLiteral("<no row>");
        return table().data(table().index(static_cast<int>(*row), static_cast<int>(columnIndex(column)))).toString();
    }
    void openCategory(DownloadJob* category)
    {
        CategoryTree& tree = *m_zovirad->categoryTree();
        QTreeWidgetItem* item = tree.itemOf(category);
        ASSERT_NE(item, nullptr);
        tree.setCurrentItem(item);
        QCoreApplication::processEvents();
    }
    DownloadJob* addJob(const std::string& url)
    {
        AddDownloadRequest request;
        request.text = url;
        return m_view->addDownload(request).job;
    }

    test::TempDir m_dir;
    Application m_app{mapEnvironment({{"FETCHORA_HOME", (m_dir / "profile").string()},
                                      {"TMPDIR", m_dir.path().string()},
                                      {"HOME", m_dir.path().string()},
                                      {"XDG_DOWNLOAD_DIR", (m_dir / "Downloads").string()}})};
    test::ViewPrompts m_prompts;
    test::RecordingDesktop m_desktop;
    NoPower m_power;
    QuietHost m_host;
    std::unique_ptr<QtLoopDriver> m_driver;
    std::unique_ptr<MainView> m_view;
    std::unique_ptr<ZoviradView> m_zovirad;
};

TEST_F(ZoviradViewTest, TreeListsTheCategoriesAndOpensOneWhenChosen)
{
    CategoryTree& tree = *m_zovirad->categoryTree();
    CZoviradDoc& doc = m_view->doc();
    ASSERT_NE(tree.itemOf(doc.downloading()), nullptr);
    DownloadJob* deleted = doc.tree().FindCategory(CategoryKind::Deleted);
    ASSERT_NE(tree.itemOf(deleted), nullptr);
    EXPECT_EQ(list().openCategory(), doc.downloading());
    EXPECT_EQ(list().columnSet(), 1);
    openCategory(deleted);
    EXPECT_EQ(list().openCategory(), deleted);
    EXPECT_EQ(list().columnSet(), 2);
    // Set 2 hides the run columns, set 1 shows them.
    QHeaderView* header = m_zovirad->jobList()->horizontalHeader();
    EXPECT_TRUE(header->isSectionHidden(static_cast<int>(columnIndex(JobColumn::Speed))));
    openCategory(doc.downloading());
    EXPECT_FALSE(header->isSectionHidden(static_cast<int>(columnIndex(JobColumn::Speed))));
}

TEST_F(ZoviradViewTest, EveryColumnTitleFitsItsWidthAlsoWhenDrawnBold)
{
    // A selected row highlights every header section, which the style draws
    // in bold: the title must fit in that font too, in both sets.
    QHeaderView* header = m_zovirad->jobList()->horizontalHeader();
    QFont bold = header->font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    DownloadJob* deleted = m_view->doc().tree().FindCategory(CategoryKind::Deleted);
    for (DownloadJob* category : {m_view->doc().downloading(), deleted, m_view->doc().downloading()}) {
        openCategory(category);
        for (int logical = 0; logical < header->count(); ++logical) {
            const QString title = table().headerData(logical, Qt::Horizontal, Qt::DisplayRole).toString();
            if (header->isSectionHidden(logical) || title.isEmpty())
                continue;
            EXPECT_GE(header->sectionSize(logical), metrics.horizontalAdvance(title) + 2 * margin)
                << title.toStdString() << " in set " << list().columnSet();
        }
    }
}

TEST_F(ZoviradViewTest, HeaderClickSortsOtherCategoriesButNeverTheQueue)
{
    m_app.settings().SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Manual));
    DownloadJob* b = addJob("http://127.0.0.1:9/b.zip");
    DownloadJob* a = addJob("http://127.0.0.1:9/a.zip");
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(spinUntil([&] { return list().rowOf(*a) && list().rowOf(*b); }, 3000));
    QHeaderView* header = m_zovirad->jobList()->horizontalHeader();
    const int name = static_cast<int>(columnIndex(JobColumn::Name));
    const std::optional<size_t> before = list().rowOf(*b);
    emit header->sectionClicked(name);
    EXPECT_FALSE(header->isSortIndicatorShown());
    EXPECT_FALSE(list().sortColumn().has_value());
    QCoreApplication::processEvents();
    EXPECT_EQ(list().rowOf(*b), before);
    EXPECT_EQ(table().data(table().index(static_cast<int>(*before), 2)).toString(), "b.zip");

    DownloadJob* downloaded = m_view->doc().tree().FindCategory(CategoryKind::Downloaded);
    openCategory(downloaded);
    emit header->sectionClicked(name);
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(list().sortColumn(), JobColumn::Name);
}

TEST_F(ZoviradViewTest, ColumnSetAndLayoutFlagsSurviveSaveAndRestore)
{
    QHeaderView* header = m_zovirad->jobList()->horizontalHeader();
    const int retry = static_cast<int>(columnIndex(JobColumn::Retry));
    const int url = static_cast<int>(columnIndex(JobColumn::Url));
    header->setSectionHidden(retry, true);
    header->resizeSection(url, 333);
    header->moveSection(header->visualIndex(url), 2);
    m_zovirad->setDetailVisible(false);
    m_zovirad->saveState();

    const ColumnSet stored = loadColumnSet(m_app.registry(), 1);
    EXPECT_EQ(stored.widths[columnIndex(JobColumn::Retry)], 0u);
    EXPECT_EQ(stored.widths[columnIndex(JobColumn::Url)], 333u);
    EXPECT_EQ(stored.positions[columnIndex(JobColumn::Url)], 2);
    EXPECT_FALSE(loadViewLayoutFlags(m_app.registry()).detailVisible());

    ZoviradView second(*m_view, m_app);
    second.restoreState();
    QHeaderView* again = second.jobList()->horizontalHeader();
    EXPECT_TRUE(again->isSectionHidden(retry));
    EXPECT_EQ(again->sectionSize(url), 333);
    EXPECT_EQ(again->visualIndex(url), 2);
    EXPECT_FALSE(second.detailVisible());
}

TEST_F(ZoviradViewTest, StatusPaneFollowsASelectionOneSecondLater)
{
    m_app.settings().SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Manual));
    DownloadJob* job = addJob("http://127.0.0.1:9/c.zip");
    ASSERT_NE(job, nullptr);
    DownloadJob* downloaded = m_view->doc().tree().FindCategory(CategoryKind::Downloaded);
    {
        // Moved by hand so that the job shows in a category with a status text.
        std::vector<DownloadJob*> jobs{job};
        ASSERT_TRUE(spinUntil([&] { return list().rowOf(*job).has_value(); }, 3000));
        list().setSelection(jobs);
        ASSERT_EQ(list().selectedJobs().size(), 1u);
        m_view->moveSelectedJobs(*downloaded);
    }
    ASSERT_EQ(job->parent(), downloaded) << m_prompts.asked.size();
    openCategory(downloaded);
    ASSERT_TRUE(list().rowOf(*job).has_value());
    QSignalSpy status(m_zovirad.get(), &ZoviradView::statusTextChanged);
    status.clear();
    m_zovirad->jobList()->selectRow(static_cast<int>(*list().rowOf(*job)));
    EXPECT_EQ(list().selectedJobs(), std::vector<DownloadJob*>{job});
    EXPECT_EQ(list().focusedJob(), job);
    spinFor(300);
    EXPECT_EQ(status.count(), 0);
    ASSERT_TRUE(spinUntil([&] { return status.count() > 0; }, 3000));
    EXPECT_FALSE(status.last().at(0).toString().isEmpty());
}

TEST_F(ZoviradViewTest, DroppedTextAndHtmlBecomeJobsAndDraggedJobsMoveToTheCategoryBelow)
{
    m_app.settings().SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Manual));
    const CComPtrTree& tree = m_view->doc().tree();
    QWidget* listArea = m_zovirad->jobList()->viewport();
    auto* text = new QMimeData;
    text->setText(QStringLiteral("http://127.0.0.1:9/dropped.zip\n"));
    dropOn(listArea, listArea->rect().center(), text);
    ASSERT_TRUE(spinUntil([&] { return jobWithUrl(tree, "http://127.0.0.1:9/dropped.zip") != nullptr; }, 3000));
    delete text;

    auto* html = new QMimeData;
    html->setHtml(QStringLiteral("<a href=\"http://127.0.0.1:9/one.zip\">1</a> <a href=\"two.zip\">2</a>"));
    html->setUrls({QUrl(QStringLiteral("http://127.0.0.1:9/dir/page.html"))});
    dropOn(listArea, listArea->rect().center(), html);
    ASSERT_TRUE(spinUntil([&] { return jobWithUrl(tree, "http://127.0.0.1:9/dir/two.zip") != nullptr; }, 3000));
    EXPECT_NE(jobWithUrl(tree, "http://127.0.0.1:9/one.zip"), nullptr);
    delete html;

    // A drag of the selected job dropped on "Deleted" moves it there.
    DownloadJob* job = jobWithUrl(tree, "http://127.0.0.1:9/dropped.zip");
    ASSERT_TRUE(spinUntil([&] { return list().rowOf(*job).has_value(); }, 3000));
    m_zovirad->jobList()->selectRow(static_cast<int>(*list().rowOf(*job)));
    ASSERT_EQ(list().selectedJobs(), std::vector<DownloadJob*>{job});
    DownloadJob* deleted = tree.FindCategory(CategoryKind::Deleted);
    CategoryTree& categories = *m_zovirad->categoryTree();
    const QIcon emptyBin = categories.itemOf(deleted)->icon(0);
    QMimeData* jobs = m_zovirad->tableModel()->mimeData({m_zovirad->jobList()->currentIndex()});
    ASSERT_NE(jobs, nullptr);
    const QRect target = categories.visualItemRect(categories.itemOf(deleted));
    dropOn(categories.viewport(), target.center(), jobs);
    delete jobs;
    EXPECT_EQ(job->parent(), deleted);
    EXPECT_FALSE(list().rowOf(*job).has_value());
    // The bin shows that it holds something.
    QCoreApplication::processEvents();
    EXPECT_NE(categories.itemOf(deleted)->icon(0).pixmap(16).toImage(), emptyBin.pixmap(16).toImage());
}

TEST_F(ZoviradViewTest, ColumnChooserStoresTheSetAndKeepsOneColumn)
{
    QHeaderView* header = m_zovirad->jobList()->horizontalHeader();
    ASSERT_TRUE(m_zovirad->setColumnShown(JobColumn::Comment, true));
    EXPECT_FALSE(header->isSectionHidden(static_cast<int>(columnIndex(JobColumn::Comment))));
    EXPECT_GT(loadColumnSet(m_app.registry(), 1).widths[columnIndex(JobColumn::Comment)], 0u);
    // Set 2 is stored apart and untouched.
    EXPECT_EQ(loadColumnSet(m_app.registry(), 2), defaultColumnSet(2));

    ASSERT_TRUE(m_zovirad->setColumnShown(JobColumn::CompleteTime, true));
    for (size_t c = 0; c + 1 < kJobColumnCount; ++c)
        EXPECT_TRUE(m_zovirad->setColumnShown(static_cast<JobColumn>(c), false)) << c;
    EXPECT_FALSE(m_zovirad->setColumnShown(JobColumn::CompleteTime, false));
    EXPECT_FALSE(header->isSectionHidden(static_cast<int>(columnIndex(JobColumn::CompleteTime))));
    const ColumnSet stored = loadColumnSet(m_app.registry(), 1);
    EXPECT_TRUE(stored.visible(JobColumn::CompleteTime));
    EXPECT_FALSE(stored.visible(JobColumn::Name));
}

TEST_F(ZoviradViewTest, GridLinesFollowTheSetting)
{
    m_app.settings().SetOption(OptionId::GridLines, 1);
    m_zovirad->applySettings();
    EXPECT_TRUE(m_zovirad->jobList()->showGrid());
    m_app.settings().SetOption(OptionId::GridLines, 0);
    m_zovirad->applySettings();
    EXPECT_FALSE(m_zovirad->jobList()->showGrid());
}

class ZoviradDownloadTest : public ZoviradViewTest {
protected:
    test::NginxPeer m_nginx{{"DNS:localhost", "IP:127.0.0.1"},
                            "location /slow/ { alias $WWW/files/; limit_rate 32k; }\n"};
};

TEST_F(ZoviradDownloadTest, ARealDownloadShowsItsProgressThenItsFinishedRowInItsCategory)
{
    // Long enough for the ten-second speed window to give a figure.
    std::string bytes(1024 * 1024, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 131 + 7) % 251);
    m_nginx.writeServedFile("files/run.bin", bytes);
    const std::string url = "http://127.0.0.1:" + std::to_string(m_nginx.httpPort()) + "/slow/run.bin";
    DownloadJob* job = addJob(url);
    ASSERT_NE(job, nullptr);
    m_zovirad->setDetailVisible(true);
    ASSERT_TRUE(spinUntil([&] { return list().rowOf(*job).has_value(); }, 3000));
    m_zovirad->jobList()->selectRow(static_cast<int>(*list().rowOf(*job)));
    ASSERT_EQ(list().detailJob(), job);
    DetailPanes& detail = *m_zovirad->detailPanes();
    // Status lines take the status colours of the settings.
    const QColor stateBack = colorFromColorRef(m_app.settings().GetOption(OptionId::ColorStateBk));
    bool sawParts = false;
    bool sawColouredLog = false;
    bool sawBlocks = false;
    bool sawInfo = false;
    bool sawSamples = false;

    bool sawRunning = false;
    QString runningPercent;
    const bool finished = spinUntil(
        [&] {
            if (job->GetState() == JobState::Downloading && list().rowOf(*job)) {
                const QString percent = cell(*job, JobColumn::Percent);
                const QString speed = cell(*job, JobColumn::Speed);
                if (!speed.isEmpty() && !percent.isEmpty()) {
                    sawRunning = true;
                    runningPercent = percent;
                }
                sawParts = sawParts || detail.partsTree()->topLevelItemCount() > 0;
                for (int i = 0; i < detail.logPane()->topLevelItemCount(); ++i) {
                    const QTreeWidgetItem* line = detail.logPane()->topLevelItem(i);
                    if (line->data(1, Qt::UserRole).toInt() == 0 && line->background(1).color() == stateBack)
                        sawColouredLog = true;
                }
                const auto& cells = detail.blockCells();
                sawBlocks = sawBlocks || std::count(cells.begin(), cells.end(), BlockState::Done) > 0;
                sawInfo = sawInfo || detail.infoPane()->toPlainText().contains(QStringLiteral("run.bin"));
                sawSamples = sawSamples || !detail.speedHistory().samples().empty();
            }
            return job->IsComplete();
        },
        60000);
    ASSERT_TRUE(finished);
    ASSERT_TRUE(sawRunning);
    runningPercent.chop(1);
    EXPECT_LT(runningPercent.toInt(), 100);
    EXPECT_TRUE(sawParts);
    EXPECT_TRUE(sawColouredLog);
    EXPECT_TRUE(sawBlocks);
    EXPECT_TRUE(sawInfo);
    EXPECT_TRUE(sawSamples);

    // The finished job left the queue for its category.
    spinFor(200);
    DownloadJob* category = job->parent();
    ASSERT_NE(category, nullptr);
    EXPECT_NE(category, m_view->doc().downloading());
    EXPECT_FALSE(list().rowOf(*job).has_value());
    openCategory(category);
    ASSERT_TRUE(list().rowOf(*job).has_value());
    EXPECT_EQ(cell(*job, JobColumn::Size), "1,024KB");
    EXPECT_EQ(cell(*job, JobColumn::Completed), "1024KB");
    EXPECT_FALSE(cell(*job, JobColumn::CompleteTime).isEmpty());
    const int row = static_cast<int>(*list().rowOf(*job));
    EXPECT_EQ(table().data(table().index(row, 0), JobTableModel::StatusIconRole).toInt(), 6);
    // A double click on a finished job opens its file (the default choice).
    emit m_zovirad->jobList()->doubleClicked(table().index(row, 2));
    ASSERT_FALSE(m_desktop.opened.empty());
    EXPECT_EQ(m_desktop.opened.back(), job->GetLocalPath());

    std::ifstream file(job->GetLocalPath(), std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got == bytes, true);
}

}  // namespace
}  // namespace fetchora
