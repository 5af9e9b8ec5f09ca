// The detail area's links pane: its table and pop-up menu over a page file,
// and a downloaded page whose picked links become jobs referred by the page.
#include "gui/links_view.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMenu>
#include <QTreeWidget>

#include <memory>

#include "config/app_settings.h"
#include "gui/category_tree.h"
#include "gui/detail_panes.h"
#include "gui/qt_loop_driver.h"
#include "gui/zovirad_view.h"
#include "model/download_job.h"
#include "model/job_database.h"
#include "platform/registry.h"
#include "shell/application.h"
#include "shell/job_list_fixture.h"
#include "shell/job_list_model.h"
#include "shell/main_view.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/view_prompts.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

bool spinUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

QString cell(const LinksView& view, int row, int column)
{
    return view.model()->index(row, column).data().toString();
}

void selectRows(LinksView& view, std::initializer_list<int> rows)
{
    QItemSelection selection;
    for (int row : rows)
        selection.select(view.model()->index(row, 0), view.model()->index(row, 2));
    view.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    view.selectionModel()->setCurrentIndex(view.model()->index(*rows.begin(), 0), QItemSelectionModel::NoUpdate);
}

QStringList menuTexts(const QMenu& menu)
{
    QStringList texts;
    for (const QAction* action : menu.actions())
        if (!action->isSeparator())
            texts << action->text();
    return texts;
}

const QMenu* submenu(const QMenu& menu, const QString& text)
{
    for (const QAction* action : menu.actions())
        if (action->text() == text)
            return action->menu();
    return nullptr;
}

TEST(LinksView, MenuEntriesFollowTheSelectionAndTheRadioChoices)
{
    test::TempDir dir;
    const std::filesystem::path file = dir / "index.html";
    test::writeFile(file,
                    "<a href=\"b.zip\">Bee</a><a href=\"a.iso\">\xCF\xF0\xE8\xE2\xE5\xF2</a>"
                    "<a href=\"c.exe\">cee</a>");
    LinksView view;
    std::vector<std::vector<LinkChoice>> added;
    std::vector<std::string> opened;
    view.setLinkActions([&](std::vector<LinkChoice> links) { added.push_back(std::move(links)); },
                        [&](const std::string& url) { opened.push_back(url); });
    view.showSource({"http://host/d/index.html", file});
    ASSERT_EQ(view.model()->rowCount(), 3);
    EXPECT_EQ(view.model()->headerData(1, Qt::Horizontal).toString(), "Title");
    EXPECT_EQ(cell(view, 0, 0), "zip");
    EXPECT_EQ(cell(view, 0, 1), "Bee");
    EXPECT_EQ(cell(view, 0, 2), "http://host/d/b.zip");

    QMenu& menu = *view.popupMenu();
    EXPECT_EQ(menuTexts(menu), (QStringList{"&Add to job list", "Open in &browser", "&Encoding", "&Sort by"}));
    const QMenu* encodings = submenu(menu, "&Encoding");
    ASSERT_NE(encodings, nullptr);
    const QStringList names = menuTexts(*encodings);
    ASSERT_EQ(names.size(), 13);
    EXPECT_EQ(names.front(), "&Default");
    EXPECT_EQ(names[6], "Russian");
    EXPECT_EQ(names.back(), "Thai");
    EXPECT_TRUE(view.encodingAction(0)->isChecked());
    const QMenu* sortKeys = submenu(menu, "&Sort by");
    ASSERT_NE(sortKeys, nullptr);
    EXPECT_EQ(menuTexts(*sortKeys), (QStringList{"&Type", "Tit&le", "&URL"}));

    // Without a selection both commands are off and do nothing.
    EXPECT_FALSE(view.addToListAction()->isEnabled());
    EXPECT_FALSE(view.openInBrowserAction()->isEnabled());
    view.addSelected();
    view.openSelected();
    EXPECT_TRUE(added.empty());
    EXPECT_TRUE(opened.empty());

    selectRows(view, {2, 1});
    EXPECT_TRUE(view.addToListAction()->isEnabled());
    EXPECT_TRUE(view.openInBrowserAction()->isEnabled());
    view.openInBrowserAction()->trigger();
    EXPECT_EQ(opened, std::vector<std::string>{"http://host/d/c.exe"});

    // Russian decodes the second title; sorting by title keeps the two selected.
    view.encodingAction(6)->trigger();
    EXPECT_TRUE(view.encodingAction(6)->isChecked());
    EXPECT_FALSE(view.encodingAction(0)->isChecked());
    EXPECT_EQ(cell(view, 1, 1), QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"));
    view.sortAction(LinkSortKey::Title)->trigger();
    EXPECT_TRUE(view.sortAction(LinkSortKey::Title)->isChecked());
    EXPECT_EQ(cell(view, 0, 1), "Bee");
    EXPECT_EQ(cell(view, 1, 1), "cee");
    view.addToListAction()->trigger();
    ASSERT_EQ(added.size(), 1u);
    ASSERT_EQ(added[0].size(), 2u);
    EXPECT_EQ(added[0][0].url, "http://host/d/c.exe");
    EXPECT_EQ(added[0][0].text, "cee");
    EXPECT_EQ(added[0][1].url, "http://host/d/a.iso");
    EXPECT_EQ(added[0][1].text, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");

    // A header click sorts as the menu does.
    view.sortAction(LinkSortKey::Url)->trigger();
    EXPECT_EQ(cell(view, 0, 2), "http://host/d/a.iso");
    emit view.header()->sectionClicked(0);
    EXPECT_TRUE(view.sortAction(LinkSortKey::Type)->isChecked());
    EXPECT_EQ(cell(view, 0, 0), "exe");

    // The same page again keeps the selection; no page clears the table.
    view.showSource({"http://host/d/index.html", file});
    EXPECT_EQ(view.selectionModel()->selectedRows().size(), 2);
    view.showSource({});
    EXPECT_EQ(view.model()->rowCount(), 0);
    EXPECT_FALSE(view.addToListAction()->isEnabled());
}

// Hands each batch of the list model to the detail area, as the view does.
class ToDetail final : public JobListObserver {
public:
    explicit ToDetail(DetailPanes& panes) : m_panes(panes) { }
    void jobListChanged(const JobListChanges& changes) override { m_panes.apply(changes); }

private:
    DetailPanes& m_panes;
};

TEST(DetailPanesLinks, TheDetailJobsLinksAppearWhenItCompletesAndGoWhenItIsFetchedAgain)
{
    test::TempDir dir;
    test::JobListTree t;
    Registry registry;
    AppSettings settings{
        registry,
        SettingsEnvironment{"/usr/bin/fetchora", "/usr/share/fetchora", dir.path().string(), dir.path().string(), "C"}};
    JobLock lock;
    JobListModel model{t.tree, settings, {}, [](const DownloadJob&) { return JobRunFigures{}; }};
    DetailPanes panes(model, settings, lock);
    ToDetail forward(panes);
    model.setObserver(&forward);
    uint32_t tick = 100000;

    DownloadJob& job = t.add(t.downloaded, "page.html");
    job.url = "http://host/d/page.html";
    job.saveFolder = dir.path().string();
    model.openCategory(t.downloaded);
    model.setDetailJob(&job);
    model.deliver(tick += 1000);
    const LinksView& links = *panes.linksPane();
    EXPECT_EQ(links.model()->rowCount(), 0);

    // The file is there before the job says it is complete: still nothing.
    test::writeFile(job.GetLocalPath(), "<a href=\"a.zip\">A</a><a href=\"b.zip\">B</a>");
    model.jobChanged(job, kChangeProgress | kChangeParts);
    model.deliver(tick += 1000);
    EXPECT_EQ(links.model()->rowCount(), 0);

    job.state = static_cast<uint32_t>(JobState::Completed);
    model.jobChanged(job, kChangeState);
    model.deliver(tick += 1000);
    ASSERT_EQ(links.model()->rowCount(), 2);
    EXPECT_EQ(cell(links, 1, 2), "http://host/d/b.zip");

    // Downloading it again empties the pane; another detail job shows its own page.
    job.state = static_cast<uint32_t>(JobState::Ready);
    model.jobChanged(job, kChangeState);
    model.deliver(tick += 1000);
    EXPECT_EQ(links.model()->rowCount(), 0);
    DownloadJob& other = t.add(t.downloaded, "other.htm");
    other.url = "http://host/o/other.htm";
    other.saveFolder = dir.path().string();
    other.state = static_cast<uint32_t>(JobState::Completed);
    test::writeFile(other.GetLocalPath(), "<a href=\"c.zip\">C</a>");
    model.setDetailJob(&other);
    model.deliver(tick += 1000);
    ASSERT_EQ(links.model()->rowCount(), 1);
    EXPECT_EQ(cell(links, 0, 2), "http://host/o/c.zip");
    model.setObserver(nullptr);
}

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

DownloadJob* jobWithUrl(const CComPtrTree& tree, const std::string& url)
{
    for (DownloadJob* node : tree.nodes())
        if (!node->IsCategory() && node->url == url)
            return node;
    return nullptr;
}

// The desktop program's view over a fresh profile and a real web server.
class LinksPaneDownloadTest : public ::testing::Test {
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

    test::TempDir m_dir;
    Application m_app{mapEnvironment({{"FETCHORA_HOME", (m_dir / "profile").string()},
                                      {"TMPDIR", m_dir.path().string()},
                                      {"HOME", m_dir.path().string()},
                                      {"XDG_DOWNLOAD_DIR", (m_dir / "Downloads").string()}})};
    test::ViewPrompts m_prompts;
    test::RecordingDesktop m_desktop;
    NoPower m_power;
    QuietHost m_host;
    test::NginxPeer m_nginx;
    std::unique_ptr<QtLoopDriver> m_driver;
    std::unique_ptr<MainView> m_view;
    std::unique_ptr<ZoviradView> m_zovirad;
};

TEST_F(LinksPaneDownloadTest, AFinishedPageListsItsLinksAndTwoPickedBecomeJobsReferredByThePage)
{
    m_nginx.writeServedFile("site/index.html",
                            "<html><body><a href=\"one.zip\">First file</a>\n"
                            "<a href=\"/other/two.zip\">Second file</a>\n"
                            "<a href=\"http://127.0.0.1:9/three.iso\">Third</a></body></html>\n");
    const std::string root = "http://127.0.0.1:" + std::to_string(m_nginx.httpPort());
    const std::string pageUrl = root + "/site/index.html";
    AddDownloadRequest request;
    request.text = pageUrl;
    DownloadJob* page = m_view->addDownload(request).job;
    ASSERT_NE(page, nullptr);
    // Finished, and moved out of the queue into its category.
    ASSERT_TRUE(spinUntil([&] { return page->IsComplete() && page->parent() != m_view->doc().downloading(); }, 30000));
    m_app.settings().SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Manual));

    // The finished job, chosen in its category, fills the pane.
    m_zovirad->setDetailVisible(true);
    CategoryTree& categories = *m_zovirad->categoryTree();
    QTreeWidgetItem* category = categories.itemOf(page->parent());
    ASSERT_NE(category, nullptr);
    categories.setCurrentItem(category);
    QCoreApplication::processEvents();
    ASSERT_TRUE(spinUntil([&] { return list().rowOf(*page).has_value(); }, 3000));
    m_zovirad->jobList()->selectRow(static_cast<int>(*list().rowOf(*page)));
    ASSERT_EQ(list().detailJob(), page);
    LinksView& links = *m_zovirad->detailPanes()->linksPane();
    ASSERT_TRUE(spinUntil([&] { return links.model()->rowCount() == 3; }, 3000)) << links.model()->rowCount();
    EXPECT_EQ(cell(links, 0, 2).toStdString(), root + "/site/one.zip");
    EXPECT_EQ(cell(links, 1, 2).toStdString(), root + "/other/two.zip");
    EXPECT_EQ(cell(links, 1, 1), "Second file");

    selectRows(links, {0, 1});
    links.addToListAction()->trigger();
    const CComPtrTree& tree = m_view->doc().tree();
    DownloadJob* one = jobWithUrl(tree, root + "/site/one.zip");
    DownloadJob* two = jobWithUrl(tree, root + "/other/two.zip");
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(one->referer, pageUrl);
    EXPECT_EQ(two->referer, pageUrl);
    EXPECT_EQ(one->comment(), "First file");
    EXPECT_EQ(jobWithUrl(tree, "http://127.0.0.1:9/three.iso"), nullptr);

    links.openInBrowserAction()->trigger();
    ASSERT_FALSE(m_desktop.opened.empty());
    EXPECT_EQ(m_desktop.opened.back(), root + "/site/one.zip");
}

}  // namespace
}  // namespace fetchora
