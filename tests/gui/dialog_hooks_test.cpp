// Translation hooks of every window: each dialog, property page and
// top-level window has its section name, and each control that shows a
// text (labels, buttons, check boxes, group boxes, tab widgets) carries a
// "controlId" unique in its section, by which a language file replaces the
// text. Walks the dialogs the opener opens, the prompts' dialogs and
// message boxes, the explorer windows and the main frame.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

#include <map>
#include <set>

#include "gui/offline_frame.h"
#include "gui/options_form.h"
#include "gui/options_page.h"
#include "gui/zovirad_view.h"
#include "gui_session.h"
#include "model/job_database.h"
#include "shell/view_command.h"

namespace fetchora {
namespace {

using test::GuiSession;
using test::TempDir;

bool qtInternal(const QObject* object)
{
    return object->objectName().startsWith(QLatin1String("qt_"));
}

// Where a widget's ids must be unique: its page or its window.
QWidget* sectionOf(QWidget* widget)
{
    for (QWidget* at = widget; at != nullptr; at = at->parentWidget()) {
        if (at->isWindow() || qobject_cast<OptionsPage*>(at) != nullptr
            || at->objectName().endsWith(QLatin1String("_PPG")))
            return at;
    }
    return nullptr;
}

QString sectionName(const QWidget* section)
{
    if (const auto* page = qobject_cast<const OptionsPage*>(section))
        return QString::fromLatin1(page->sectionName());
    return section->objectName();
}

// A tool button of a command: the command's number identifies its text.
bool commandButton(const QWidget* widget)
{
    const auto* tool = qobject_cast<const QToolButton*>(widget);
    return tool != nullptr && tool->defaultAction() != nullptr && tool->defaultAction()->data().isValid();
}

bool showsText(const QWidget* widget)
{
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return !label->text().isEmpty();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return !button->text().isEmpty();
    if (const auto* group = qobject_cast<const QGroupBox*>(widget))
        return !group->title().isEmpty();
    if (const auto* tabs = qobject_cast<const QTabBar*>(widget))
        return tabs->count() > 0;
    return qobject_cast<const QTabWidget*>(widget) != nullptr;
}

// Whether a widget is a piece of a Qt compound control (the tab widget's
// bar, a scroll area's buttons): those go with their owner.
bool insideQtPart(const QWidget* widget, const QWidget* window)
{
    for (const QWidget* at = widget; at != nullptr && at != window; at = at->parentWidget())
        if (qtInternal(at))
            return true;
    return false;
}

// The problems found in one window, as text ("Find_Dlg: QLabel 'x' without an id").
std::vector<std::string> problemsOf(QWidget& window)
{
    std::vector<std::string> problems;
    std::map<QWidget*, std::map<int, std::string>> seen;  // section -> id -> first holder
    auto describe = [](const QWidget* widget) {
        QString text;
        if (const auto* label = qobject_cast<const QLabel*>(widget))
            text = label->text();
        else if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
            text = button->text();
        else if (const auto* group = qobject_cast<const QGroupBox*>(widget))
            text = group->title();
        return std::string(widget->metaObject()->className()) + " '" + text.left(40).toStdString() + "'";
    };
    QList<QWidget*> widgets = window.findChildren<QWidget*>();
    widgets.prepend(&window);
    for (QWidget* widget : widgets) {
        if (widget->isWindow() && widget != &window)
            continue;  // another window, walked on its own
        QWidget* section = sectionOf(widget);
        if (section == nullptr || (section != &window && !window.isAncestorOf(section)))
            continue;
        const std::string where = sectionName(section).toStdString();
        if (widget == section) {
            if (where.empty() || qtInternal(section))
                problems.push_back(std::string(widget->metaObject()->className()) + " without a section name");
            continue;
        }
        if (insideQtPart(widget, section) || commandButton(widget))
            continue;
        const int id = controlId(widget);
        if (id < 0) {
            if (showsText(widget))
                problems.push_back(where + ": " + describe(widget) + " without an id");
            continue;
        }
        auto [at, added] = seen[section].emplace(id, describe(widget));
        if (!added)
            problems.push_back(where + ": id " + std::to_string(id) + " on " + describe(widget) + " and " + at->second);
    }
    return problems;
}

// Runs `open`; every modal window that comes up meanwhile is checked and
// closed, a file chooser answered with `file`. The sections seen are added
// to `sections`, the problems to `problems`.
class ModalWalker {
public:
    ModalWalker(std::vector<std::string>& problems, std::set<std::string>& sections)
        : m_problems(problems), m_sections(sections)
    {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, [this] { step(); });
    }

    // True when at least `atLeast` windows were checked.
    bool walk(const std::function<void()>& open, const std::filesystem::path& file = {}, int atLeast = 1)
    {
        m_file = file;
        m_checked = 0;
        m_poll.start();
        open();
        m_poll.stop();
        return m_checked >= atLeast;
    }

private:
    void step()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            return;
        if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
            if (m_file.empty()) {
                chooser->reject();
            } else {
                chooser->selectFile(QString::fromStdString(m_file.string()));
                static_cast<QDialog*>(chooser)->accept();
            }
            return;
        }
        check(*modal, m_problems, m_sections);
        ++m_checked;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }

public:
    static void check(QWidget& window, std::vector<std::string>& problems, std::set<std::string>& sections)
    {
        for (std::string& problem : problemsOf(window))
            problems.push_back(std::move(problem));
        sections.insert(window.objectName().toStdString());
        for (QWidget* child : window.findChildren<QWidget*>())
            if (qobject_cast<OptionsPage*>(child) != nullptr || child->objectName().endsWith(QLatin1String("_PPG")))
                sections.insert(sectionName(child).toStdString());
    }

private:
    std::vector<std::string>& m_problems;
    std::set<std::string>& m_sections;
    std::filesystem::path m_file;
    QTimer m_poll;
    int m_checked = 0;
};

std::string joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

class DialogHooksTest : public testing::Test {
protected:
    std::string command(ViewCommand id) { return std::to_string(static_cast<uint32_t>(id)); }

    TempDir m_dir;
    std::vector<std::string> m_problems;
    std::set<std::string> m_sections;
};

TEST_F(DialogHooksTest, EveryDialogTheOpenerOpensHasItsSectionAndIds)
{
    GuiSession session(m_dir);
    ASSERT_TRUE(session.started);
    AddDownloadRequest add;
    add.text = "http://127.0.0.1:9/page.html";
    DownloadJob* job = session.view->addDownload(add).job;
    ASSERT_NE(job, nullptr);
    session.view->list().refreshIfDirty();
    session.view->list().setSelection({job});
    session.view->list().setFocusedJob(job);
    const std::filesystem::path page = m_dir / "saved.html";
    test::writeFile(page, "<a href=\"http://127.0.0.1:9/a.zip\">a</a>");

    ModalWalker walker(m_problems, m_sections);
    for (ViewCommand each : {ViewCommand::Options, ViewCommand::DownloadRules, ViewCommand::Schedule,
                             ViewCommand::SiteProperties, ViewCommand::BatchDownload, ViewCommand::ExportInformation,
                             ViewCommand::ImportPreviousBatch, ViewCommand::RecentlyDownloaded}) {
        EXPECT_TRUE(walker.walk([&] { EXPECT_TRUE(session.opener->open(command(each))); }))
            << "no dialog for " << command(each);
    }
    // These ask for a file first.
    for (ViewCommand each :
         {ViewCommand::ProcessWebPage, ViewCommand::ImportPreviousFile, ViewCommand::ImportBrokenDownloads}) {
        EXPECT_TRUE(walker.walk([&] { session.opener->open(command(each)); }, page))
            << "no dialog for " << command(each);
    }
    EXPECT_TRUE(m_problems.empty()) << joined(m_problems);
    // The options sheet brings its pages, the proxy list and the login rules;
    // a broken download is imported through the dialog of an earlier file.
    const std::set<std::string> expected{"Options_Dlg",     "General_PPG",  "Conn_PPG",          "Protocol_PPG",
                                         "Proxy_PPG",       "Monitor_PPG",  "Color_PPG",         "FileMan_PPG",
                                         "DialUp_PPG",      "Sound_PPG",    "Other_PPG",         "Schedule_PPG",
                                         "Mirrors_PPG",     "Login_PPG",    "DownloadRules_Dlg", "Schedule_Dlg",
                                         "Site_Dlg",        "Batch_Dlg",    "ExportInfo_Dlg",    "AddPreviousBatch_Dlg",
                                         "RecentFiles_Dlg", "EnterUrl_Dlg", "AddPrevious_Dlg"};
    EXPECT_EQ(m_sections, expected);
}

TEST_F(DialogHooksTest, EveryQuestionOfThePromptsHasItsSectionAndIds)
{
    GuiSession session(m_dir);
    GuiPrompts& prompts = session.prompts;
    DownloadJob job;
    ASSERT_TRUE(job.SetUrl("http://127.0.0.1:9/same.zip"));
    ModalWalker walker(m_problems, m_sections);
    const std::vector<std::function<void()>> questions{
        [&] { prompts.message("Doesn't include valid URL(s)!", MessageIcon::Warning); },
        [&] { prompts.askYesNo("Some jobs are running, Exit anyway?", MessageIcon::Question); },
        [&] { prompts.askOkCancel("Delete?", MessageIcon::Warning); },
        [&] {
            bool remember = false;
            prompts.askYesNoRemember("Use the same setting for other files?", remember);
        },
        [&] { prompts.editJob("Add new download", job); },
        [&] { prompts.editJobs("Properties", job, 3); },
        [&] { prompts.askDuplicateUrl(job, job); },
        [&] { prompts.confirmPermanentDelete(false, false); },
        [&] { prompts.askFind({}); },
        [&] { prompts.chooseCategory("Move", "Move the item(s) to the selected Category:"); },
        [&] {
            prompts.editCategory("Create new Category", {"New", "", session.view->doc().downloading()});
        },
        [&] { prompts.askFolderChange(); },
        [&] { prompts.askText("Rename", "old.zip"); },
        [&] {
            prompts.selectLinks({{"http://127.0.0.1:9/a.zip", "a"}, {"http://127.0.0.1:9/b.exe", ""}});
        },
        [&] {
            std::unordered_set<const DownloadJob*> ticked;
            prompts.chooseMergeCategories(*session.view->doc().root(), ticked);
        },
        [&] {
            prompts.backupChooser()({"Restore download database", "damaged", {}});
        },
        [&] { session.frame->commands().trigger(static_cast<uint32_t>(FrameCommand::About)); },
        [&] { session.frame->commands().trigger(static_cast<uint32_t>(FrameCommand::Buttons)); },
    };
    for (size_t i = 0; i < questions.size(); ++i)
        EXPECT_TRUE(walker.walk(questions[i])) << "question " << i << " opened no window";
    EXPECT_TRUE(m_problems.empty()) << joined(m_problems);
    for (const char* expected : {"AddFile_Dlg", "JobGeneral_PPG", "SelectLinks_Dlg", "MergeDatabase_Dlg"})
        EXPECT_TRUE(m_sections.count(expected)) << expected;
}

TEST_F(DialogHooksTest, TheMainFrameAndTheExplorerWindowsHaveTheirSectionsAndIds)
{
    GuiSession session(m_dir);
    auto* client = new ZoviradView(*session.view, session.app, session.frame.get());
    session.frame->setCentralWidget(client);
    session.frame->attach(*session.view, client);
    client->setDetailVisible(true);
    ModalWalker::check(*session.frame, m_problems, m_sections);
    // The end of work's countdown lives beside the frame, shown when needed.
    auto* countdown = session.frame->findChild<QDialog*>(QStringLiteral("Countdown_Dlg"));
    ASSERT_NE(countdown, nullptr);
    ModalWalker::check(*countdown, m_problems, m_sections);

    for (ViewCommand each : {ViewCommand::SiteExplorer, ViewCommand::OfflineBrowser}) {
        ASSERT_TRUE(session.opener->open(std::to_string(static_cast<uint32_t>(each))));
        COfflineFrame* explorer = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* frame = qobject_cast<COfflineFrame*>(top); frame != nullptr && frame->isVisible())
                explorer = frame;
        ASSERT_NE(explorer, nullptr);
        ModalWalker::check(*explorer, m_problems, m_sections);
        explorer->close();
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(m_problems.empty()) << joined(m_problems);
    EXPECT_EQ(m_sections, (std::set<std::string>{"MainFrame", "Countdown_Dlg", "SiteExplorer", "OfflineBrowser"}));
}

}  // namespace
}  // namespace fetchora
