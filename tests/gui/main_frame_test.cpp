// The main window over a real main view on a fresh profile. Jobs start
// Manually, so nothing here opens a connection; the loop's messages are run
// by hand (processPending), as the main view's own tests do.
#include "gui/dialog_opener.h"
#include "gui/main_frame.h"
#include "gui/options_page.h"
#include "gui/options_sheet.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSignalSpy>
#include <QToolBar>

#include "config/app_settings.h"
#include "config/settings_key.h"
#include "gui/check_new_dialog.h"
#include "gui/command_actions.h"
#include "gui/drop_zone.h"
#include "lang/string_table.h"
#include "model/job_database.h"
#include "platform/registry.h"
#include "shell/application.h"
#include "shell/frame_placement.h"
#include "shell/job_list_model.h"
#include "support/temp_dir.h"
#include "support/view_prompts.h"

#include <gtest/gtest.h>

#include <QTimer>

namespace fetchora {
namespace {

using test::RecordingDesktop;
using test::TempDir;
using test::ViewPrompts;

class NoPower final : public PowerControl {
public:
    bool canPowerOff() override { return false; }
    bool powerOff() override { return false; }
    void holdSleepInhibitor(bool) override { }
};

// One start of the program: the application, the frame and the view.
struct Session {
    explicit Session(const TempDir& dir)
        : app(mapEnvironment({{"FETCHORA_HOME", (dir / "profile").string()},
                              {"TMPDIR", dir.path().string()},
                              {"HOME", dir.path().string()},
                              {"XDG_DOWNLOAD_DIR", (dir / "Downloads").string()}}))
    {
        std::string error;
        started = app.start(error);
        EXPECT_TRUE(started) << error;
        app.settings().SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Manual));
        app.loop().processPending();
        frame = std::make_unique<CMainFrame>(app, prompts, false);
        view = std::make_unique<MainView>(app, prompts, desktop, power, *frame);
        view->start();
        frame->restorePlacement();
        frame->attach(*view);
        // Held keys are the test's, not the machine's.
        frame->commands().setKeysFn([this] { return keys; });
        prompts.asked.clear();
    }
    ~Session()
    {
        view->close();
        frame.reset();
        view.reset();
        app.stop();
    }

    std::vector<DownloadJob*> queue() const
    {
        std::vector<DownloadJob*> jobs;
        for (DownloadJob* job = view->doc().downloading()->firstChild(); job; job = job->nextSibling()) {
            if (!job->IsCategory())
                jobs.push_back(job);
        }
        return jobs;
    }
    std::vector<std::string> queueUrls() const
    {
        std::vector<std::string> urls;
        for (const DownloadJob* job : queue())
            urls.push_back(job->url);
        return urls;
    }

    Application app;
    bool started = false;
    ViewPrompts prompts;
    RecordingDesktop desktop;
    NoPower power;
    CommandKeys keys;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<MainView> view;
};

class MainFrameTest : public testing::Test {
protected:
    TempDir m_dir;
};

TEST_F(MainFrameTest, ThePlacementSurvivesARestartAndABadOneFallsBack)
{
    {
        Session first(m_dir);
        first.frame->setGeometry(130, 140, 520, 410);
        first.frame->commands().trigger(static_cast<uint32_t>(FrameCommand::ShowText));
        ASSERT_TRUE(first.frame->toolbarText());
        first.frame->savePlacement();
    }
    {
        Session second(m_dir);
        EXPECT_EQ(second.frame->geometry(), QRect(130, 140, 520, 410));
        EXPECT_TRUE(second.frame->toolbarText());
        // A top of -900 lies outside what a window may have.
        second.app.registry().writeString(Hive::CurrentUser, settingsKey(kMainFrameSection), "Frame",
                                          "0100 -900 0715 0500    0    0");
        second.app.registry().flush();
    }
    Session third(m_dir);
    EXPECT_EQ(third.frame->geometry(), QRect(100, 100, 615, 400));
}

TEST_F(MainFrameTest, AFirstStartWithoutAStoredPlacementOpensAUsefulWindow)
{
    Session session(m_dir);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(session.frame->size(), QSize(area.width() * 3 / 4, area.height() * 3 / 4));
    EXPECT_TRUE(area.contains(session.frame->geometry()));
}

TEST_F(MainFrameTest, ToolbarButtonsTakenOffStayOffUntilTheToolbarIsReset)
{
    const auto buttons = [](const Session& session) {
        std::vector<uint32_t> shown;
        for (QAction* action : session.frame->toolbar()->actions())
            if (!action->isSeparator() && action->data().isValid())
                shown.push_back(action->data().toUInt());
        return shown;
    };
    const auto find = static_cast<uint32_t>(ViewCommand::Find);
    const auto remove = static_cast<uint32_t>(ViewCommand::Delete);
    std::vector<uint32_t> all;
    {
        Session first(m_dir);
        all = buttons(first);
        ASSERT_NE(std::find(all.begin(), all.end(), find), all.end());
        // Taken off through the toolbar's own menu.
        std::unique_ptr<QMenu> menu = first.frame->toolbarMenu();
        for (QAction* entry : menu->actions())
            if (entry->text() == first.frame->commands().action(ViewCommand::Find)->iconText())
                entry->setChecked(false);
        first.frame->setToolbarButtonShown(remove, false);
        std::vector<uint32_t> expected = all;
        std::erase(expected, find);
        std::erase(expected, remove);
        EXPECT_EQ(buttons(first), expected);
    }
    Session second(m_dir);
    std::vector<uint32_t> expected = all;
    std::erase(expected, find);
    std::erase(expected, remove);
    EXPECT_EQ(buttons(second), expected);
    // The commands themselves stay in the menus.
    EXPECT_TRUE(second.frame->commands().action(ViewCommand::Find)->isVisible());
    std::unique_ptr<QMenu> menu = second.frame->toolbarMenu();
    menu->actions().last()->trigger();
    EXPECT_EQ(buttons(second), all);
}

TEST_F(MainFrameTest, AMonitoredUrlOnTheClipboardIsOfferedAndAdded)
{
    Session session(m_dir);
    session.app.settings().SetOptionText(OptionId::MonitorType, ".EXE;.ZIP");
    session.app.settings().SetOption(OptionId::WatchClipboard, 1);
    QClipboard* clipboard = QGuiApplication::clipboard();
    // The frame watches the clipboard's own signal.
    QSignalSpy changes(clipboard, &QClipboard::dataChanged);

    // Not a monitored type, and two URLs at once: nothing.
    clipboard->setText(QStringLiteral("http://127.0.0.1:9/notes.txt"));
    clipboard->setText(QStringLiteral("http://127.0.0.1:9/a.zip\r\nhttp://127.0.0.1:9/b.zip"));
    session.app.loop().processPending();
    ASSERT_EQ(changes.count(), 2);
    EXPECT_TRUE(session.queue().empty());
    EXPECT_TRUE(session.prompts.asked.empty());

    clipboard->setText(QStringLiteral("http://127.0.0.1:9/files/setup.zip"));
    session.app.loop().processPending();
    EXPECT_EQ(session.queueUrls(), std::vector<std::string>{"http://127.0.0.1:9/files/setup.zip"});
    // The default monitor flags ask before a clipboard URL is added.
    EXPECT_EQ(session.prompts.texts("editJob"), std::vector<std::string>{"Add new download"});

    // The same URL again is in the list already: not offered a second time.
    session.prompts.asked.clear();
    clipboard->setText(QStringLiteral("http://127.0.0.1:9/files/setup.zip"));
    session.app.loop().processPending();
    EXPECT_EQ(changes.count(), 4);
    EXPECT_EQ(session.queue().size(), 1u);
    EXPECT_TRUE(session.prompts.asked.empty());

    // What the window copies itself is not caught either.
    session.frame->setClipboardText("http://127.0.0.1:9/files/other.zip");
    session.app.loop().processPending();
    EXPECT_EQ(session.queue().size(), 1u);
}

TEST_F(MainFrameTest, DroppedHtmlWithThreeLinksReachesSelectLinksWithThoseThree)
{
    Session session(m_dir);
    QMimeData mime;
    mime.setHtml(QStringLiteral("<p>Files: <a href=\"http://127.0.0.1:9/one.zip\">one</a>, "
                                "<a href=\"http://127.0.0.1:9/two.zip\">two</a> and "
                                "<a href=\"three.zip\">three</a></p>"));
    mime.setText(QStringLiteral("Files: one, two and three"));
    // Browsers name the page in UTF-16: the base of the relative link.
    const QString source = QStringLiteral("http://127.0.0.1:9/dir/page.html\nThe page");
    mime.setData(QStringLiteral("text/x-moz-url"),
                 QByteArray(reinterpret_cast<const char*>(source.utf16()), source.size() * 2));
    ASSERT_TRUE(session.frame->dropData(mime));
    session.app.loop().processPending();

    EXPECT_EQ(session.prompts.texts("selectLinks"), std::vector<std::string>{"3"});
    std::vector<std::string> urls = session.queueUrls();
    std::sort(urls.begin(), urls.end());
    EXPECT_EQ(urls,
              (std::vector<std::string>{"http://127.0.0.1:9/dir/three.zip", "http://127.0.0.1:9/one.zip",
                                        "http://127.0.0.1:9/two.zip"}));
}

TEST_F(MainFrameTest, DropsOfTextAddOneUrlAndJunkIsRefused)
{
    Session session(m_dir);
    QMimeData text;
    text.setText(QStringLiteral("http://127.0.0.1:9/dropped.iso\n"));
    ASSERT_TRUE(session.frame->dropData(text));
    session.app.loop().processPending();
    EXPECT_EQ(session.queueUrls(), std::vector<std::string>{"http://127.0.0.1:9/dropped.iso"});

    QMimeData junk;
    junk.setData(QStringLiteral("text/plain"), QByteArray("http://127.0.0.1:9/x\0\x01\x02", 23));
    EXPECT_FALSE(session.frame->dropData(junk));
    QMimeData image;
    image.setData(QStringLiteral("image/png"), QByteArray("\x89PNG\r\n", 6));
    EXPECT_FALSE(session.frame->dropData(image));
    session.app.loop().processPending();
    EXPECT_EQ(session.queue().size(), 1u);
}

TEST_F(MainFrameTest, TheViewsEnableRulesReachTheActions)
{
    Session session(m_dir);
    CommandActions& commands = session.frame->commands();
    QAction* remove = commands.action(ViewCommand::Delete);
    QAction* start = commands.action(ViewCommand::Start);
    QAction* pause = commands.action(ViewCommand::Pause);
    QAction* languagePacks = commands.action(FrameCommand::CustomBackground);
    commands.refresh();
    EXPECT_FALSE(remove->isEnabled());
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(commands.action(ViewCommand::StartAll)->isEnabled());
    // A dialog not built yet: never enabled.
    EXPECT_FALSE(languagePacks->isEnabled());
    // Its dialog exists: enabled as the view says.
    EXPECT_TRUE(commands.action(ViewCommand::Options)->isEnabled());

    AddDownloadRequest add;
    add.text = "http://127.0.0.1:9/job.bin";
    DownloadJob* job = session.view->addDownload(add).job;
    ASSERT_NE(job, nullptr);
    // The view's timer brings the new row in.
    session.view->list().refreshIfDirty();
    session.view->list().setSelection({job});
    session.view->list().setFocusedJob(job);
    commands.refresh();
    EXPECT_TRUE(remove->isEnabled());
    EXPECT_TRUE(start->isEnabled());
    EXPECT_FALSE(pause->isEnabled());
    EXPECT_TRUE(commands.action(ViewCommand::Properties)->isEnabled());

    // The band's widgets share the toolbar with the commands; the refresh leaves them alone.
    session.frame->refreshReadouts();
    for (QAction* each : session.frame->findChild<QToolBar*>()->actions()) {
        if (each->data().isNull() && !each->isSeparator()) {
            EXPECT_TRUE(each->isEnabled());
        }
    }

    // The action runs the view's command: the job moves to "Deleted".
    remove->trigger();
    session.app.loop().processPending();
    EXPECT_EQ(job->parent(), session.view->doc().deleted());
    EXPECT_TRUE(session.queue().empty());
    commands.refresh();
    EXPECT_FALSE(remove->isEnabled());
}

TEST_F(MainFrameTest, ChecksFollowTheSettingsTheCommandsChange)
{
    Session session(m_dir);
    CommandActions& commands = session.frame->commands();
    QAction* shutDown = commands.action(ViewCommand::ShutDownWhenDone);
    QAction* manual = commands.action(ViewCommand::SpeedManual);
    QAction* unlimited = commands.action(ViewCommand::SpeedUnlimited);
    commands.refresh();
    const bool before = shutDown->isChecked();
    shutDown->trigger();
    EXPECT_NE(shutDown->isChecked(), before);
    EXPECT_EQ(session.app.settings().GetOption(OptionId::ShutDownWhenDone) > 0, shutDown->isChecked());

    manual->trigger();
    EXPECT_EQ(session.app.limiter().mode(), SpeedMode::Manual);
    commands.refresh();
    EXPECT_TRUE(manual->isChecked());
    EXPECT_FALSE(unlimited->isChecked());
    unlimited->trigger();
    commands.refresh();
    EXPECT_EQ(session.app.limiter().mode(), SpeedMode::Unlimited);
    EXPECT_TRUE(unlimited->isChecked());
    EXPECT_FALSE(manual->isChecked());
}

TEST_F(MainFrameTest, ClosingWithoutATrayEndsTheProgramAndAsksWhileJobsRun)
{
    Session session(m_dir);
    ASSERT_FALSE(session.frame->trayVisible());
    QSignalSpy exits(session.frame.get(), &CMainFrame::exitConfirmed);
    AddDownloadRequest add;
    add.text = "http://127.0.0.1:9/running.bin";
    DownloadJob* job = session.view->addDownload(add).job;
    ASSERT_NE(job, nullptr);
    // As if it ran: the close must ask first.
    job->SetState(JobState::Downloading, false);
    session.prompts.yesNo = {false};
    EXPECT_FALSE(session.frame->close());
    EXPECT_EQ(session.prompts.texts("yesno"), std::vector<std::string>{"Some jobs are running, Exit anyway?"});
    EXPECT_EQ(exits.count(), 0);

    job->SetState(JobState::Ready, false);
    session.prompts.asked.clear();
    ASSERT_TRUE(session.frame->dropZone().isVisible());
    // The close box hides nothing when there is no tray to come back from.
    EXPECT_TRUE(session.frame->close());
    EXPECT_TRUE(session.prompts.asked.empty());
    EXPECT_EQ(exits.count(), 1);
    // The drop zone went away with the window, but it showed, and that is kept.
    EXPECT_FALSE(session.frame->dropZone().isVisible());
    EXPECT_TRUE(session.app.settings().dropZone(1000).show);
    // Later closes (the application closing its windows) pass quietly.
    session.frame->prepareExit();
    EXPECT_TRUE(session.frame->close());
    EXPECT_EQ(exits.count(), 1);
}

TEST_F(MainFrameTest, TheSpeedReadoutsFillTheirPanes)
{
    Session session(m_dir);
    SpeedReadoutStep step;
    session.frame->showSpeed(step.step(4096, std::nullopt));
    EXPECT_EQ(session.frame->paneText(3), QStringLiteral("2.00KB/s"));
    EXPECT_TRUE(session.frame->paneText(2).isEmpty());
    session.frame->showSpeed(step.step(0, 2048));
    EXPECT_EQ(session.frame->paneText(3), QStringLiteral("0.00KB/s"));
    EXPECT_EQ(session.frame->paneText(2), QStringLiteral("2.0KB/s"));
}

// The commands' dialogs open from the view's request: the options sheet
// with every page in its place, the proxy list after Protocol and the login
// rules last.
TEST_F(MainFrameTest, OptionsOpenWithEveryPageInItsPlace)
{
    Session session(m_dir);
    DialogOpener opener(session.app, *session.view, session.frame.get());
    QStringList titles;
    QTimer::singleShot(0, [&titles] {
        auto* sheet = qobject_cast<OptionsSheet*>(QApplication::activeModalWidget());
        ASSERT_NE(sheet, nullptr);
        for (int i = 0; i < sheet->pageCount(); ++i)
            titles << sheet->page(i)->title();
        sheet->reject();
    });
    EXPECT_TRUE(opener.open(std::to_string(static_cast<uint32_t>(ViewCommand::Options))));
    EXPECT_EQ(titles,
              (QStringList{"General", "Connection", "Protocol", "Proxy", "Monitor", "Graph/Log", "File Manager",
                           "Dial-Up Networking", "Sounds", "Other", "Schedule", "Mirrors", "Login"}));
    EXPECT_FALSE(opener.open(std::to_string(static_cast<uint32_t>(FrameCommand::CustomBackground))));
}

TEST_F(MainFrameTest, TheViewMenuChoosesButtonsAndGridAndShowsTheSkinAndLanguageChoices)
{
    Session session(m_dir);
    CommandActions& commands = session.frame->commands();
    // Grid lines: a setting, checked as it is.
    const int grid = session.app.settings().GetOption(OptionId::GridLines);
    commands.trigger(static_cast<uint32_t>(FrameCommand::Grid));
    EXPECT_NE(session.app.settings().GetOption(OptionId::GridLines) != 0, grid != 0);
    commands.refresh();
    EXPECT_EQ(commands.action(FrameCommand::Grid)->isChecked(),
              session.app.settings().GetOption(OptionId::GridLines) != 0);

    // "Buttons...": untick the first button, OK.
    const QString first = session.frame->toolbar()->actions().first()->iconText();
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* list = dialog->findChild<QListWidget*>();
        ASSERT_NE(list, nullptr);
        list->item(0)->setCheckState(Qt::Unchecked);
        dialog->accept();
    });
    commands.trigger(static_cast<uint32_t>(FrameCommand::Buttons));
    for (QAction* action : session.frame->toolbar()->actions())
        EXPECT_NE(action->iconText(), first);

    // The skin and language submenus hold the one choice there is, chosen;
    // the picture and the language packs wait for their dialogs.
    QMenu* view = nullptr;
    for (QAction* top : session.frame->menuBar()->actions())
        if (top->text() == "&View")
            view = top->menu();
    ASSERT_NE(view, nullptr);
    QStringList submenus;
    for (QAction* entry : view->actions())
        if (entry->menu() != nullptr)
            submenus << entry->text();
    EXPECT_EQ(submenus, (QStringList{"&Skin", "&Language"}));
    commands.refresh();
    EXPECT_TRUE(commands.action(FrameCommand::SkinNone)->isChecked());
    EXPECT_TRUE(commands.action(FrameCommand::LanguageEnglish)->isChecked());
    EXPECT_FALSE(commands.action(FrameCommand::CustomBackground)->isEnabled());
    EXPECT_TRUE(commands.action(FrameCommand::LanguagePack)->isEnabled());
}

TEST_F(MainFrameTest, TheUpdateCommandsOpenTheUpdateDialogInTheirModes)
{
    Session session(m_dir);
    CommandActions& commands = session.frame->commands();
    commands.trigger(static_cast<uint32_t>(FrameCommand::LanguagePack));
    commands.trigger(static_cast<uint32_t>(FrameCommand::CheckNewVersion));
    EXPECT_EQ(session.prompts.texts("dialog:32912").size(), 1u);
    EXPECT_EQ(session.prompts.texts("dialog:32858").size(), 1u);

    DialogOpener opener(session.app, *session.view, session.frame.get());
    for (const FrameCommand command : {FrameCommand::LanguagePack, FrameCommand::CheckNewVersion}) {
        std::optional<UpdateMode> mode;
        QString status;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<CheckNewDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            mode = dialog->mode();
            // Let the dialog start: without an update source it says so at once.
            QTimer::singleShot(50, [dialog, &status] {
                status = dialog->statusLabel()->text();
                dialog->reject();
            });
        });
        EXPECT_TRUE(opener.open(std::to_string(static_cast<uint32_t>(command))));
        EXPECT_EQ(mode, command == FrameCommand::LanguagePack ? UpdateMode::LanguagePacks : UpdateMode::VersionCheck);
        EXPECT_EQ(status, QString::fromUtf8(englishString(kStrNoUpdateSource).data()));
    }
}

}  // namespace
}  // namespace fetchora
