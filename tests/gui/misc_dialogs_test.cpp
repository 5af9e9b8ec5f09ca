// The schedule dialog and its check mark, the about box, the stored dialog
// placements, what "Find" remembers, the translation ids of the view's
// dialogs and the backup chooser, driven the way a user would: a timer
// finds the modal dialog once it is open and clicks or types into it.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <set>

#include "config/app_settings.h"
#include "config/settings_key.h"
#include "gui/about_dialog.h"
#include "gui/backup_chooser.h"
#include "gui/command_actions.h"
#include "gui/dialog_opener.h"
#include "gui/dialog_placement.h"
#include "gui/gui_prompts.h"
#include "gui/main_frame.h"
#include "gui/options_form.h"
#include "gui/schedule_dialog.h"
#include "model/download_job.h"
#include "model/job_database.h"
#include "platform/registry.h"
#include "shell/application.h"
#include "shell/find_memory.h"
#include "shell/job_list_model.h"
#include "support/temp_dir.h"
#include "support/view_prompts.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using test::RecordingDesktop;
using test::TempDir;
using test::ViewPrompts;

void whenModal(std::function<void(QWidget&)> answer)
{
    QTimer::singleShot(0, [answer = std::move(answer)] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        answer(*modal);
    });
}

template <typename Widget> Widget* withControlId(QWidget& dialog, int id)
{
    for (Widget* each : dialog.findChildren<Widget*>()) {
        if (controlId(each) == id)
            return each;
    }
    return nullptr;
}

class NoPower final : public PowerControl {
public:
    bool canPowerOff() override { return false; }
    bool powerOff() override { return false; }
    void holdSleepInhibitor(bool) override { }
};

struct Session {
    explicit Session(const TempDir& dir)
        : app(mapEnvironment({{"FETCHORA_HOME", (dir / "profile").string()},
                              {"TMPDIR", dir.path().string()},
                              {"HOME", dir.path().string()},
                              {"XDG_DOWNLOAD_DIR", (dir / "Downloads").string()}}))
    {
        std::string error;
        EXPECT_TRUE(app.start(error)) << error;
        app.settings().SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Manual));
        app.loop().processPending();
        frame = std::make_unique<CMainFrame>(app, prompts, false);
        view = std::make_unique<MainView>(app, prompts, desktop, power, *frame);
        view->start();
        frame->attach(*view);
        frame->commands().setKeysFn([] { return CommandKeys{}; });
    }
    ~Session()
    {
        view->close();
        frame.reset();
        view.reset();
        app.stop();
    }

    DownloadJob* add(const std::string& url)
    {
        AddDownloadRequest request;
        request.text = url;
        DownloadJob* job = view->addDownload(request).job;
        view->list().refreshIfDirty();
        return job;
    }
    bool scheduleChecked()
    {
        QAction* action = frame->commands().action(ViewCommand::Schedule);
        frame->commands().refresh();
        return action->isChecked();
    }
    void openSchedule(std::function<void(ScheduleDialog&)> answer)
    {
        whenModal([answer = std::move(answer)](QWidget& modal) {
            auto* dialog = qobject_cast<ScheduleDialog*>(&modal);
            ASSERT_NE(dialog, nullptr);
            answer(*dialog);
        });
        DialogOpener opener(app, *view, frame.get());
        EXPECT_TRUE(opener.open(std::to_string(static_cast<uint32_t>(ViewCommand::Schedule))));
    }

    Application app;
    ViewPrompts prompts;
    RecordingDesktop desktop;
    NoPower power;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<MainView> view;
};

struct StoredSchedule {
    int32_t flags;
    int32_t start;
    int32_t stop;
    bool operator==(const StoredSchedule&) const = default;
};

StoredSchedule storedSchedule(const AppSettings& settings)
{
    return {settings.GetOption(OptionId::ScheduleFlags), settings.GetOption(OptionId::ScheduleStartTime),
            settings.GetOption(OptionId::ScheduleStopTime)};
}

// Untick Monday, start at 06:30 and tick the jobs box: what both the OK and
// the Cancel case type.
void editSchedule(ScheduleDialog& dialog, bool jobsBySchedule)
{
    auto* monday = withControlId<QCheckBox>(dialog, 1);
    auto* start = withControlId<QTimeEdit>(dialog, 8);
    ASSERT_NE(monday, nullptr);
    ASSERT_NE(start, nullptr);
    monday->setChecked(false);
    start->setTime(QTime(6, 30));
    ASSERT_TRUE(dialog.jobsBox().isEnabled());
    dialog.jobsBox().setChecked(jobsBySchedule);
}

class MiscDialogsTest : public testing::Test {
protected:
    TempDir m_dir;
};

TEST_F(MiscDialogsTest, ScheduleOkWritesTheScheduleAndArmsItForTheSelectedJobs)
{
    Session session(m_dir);
    DownloadJob* chosen = session.add("http://127.0.0.1:9/chosen.bin");
    DownloadJob* other = session.add("http://127.0.0.1:9/other.bin");
    ASSERT_NE(chosen, nullptr);
    ASSERT_NE(other, nullptr);
    session.view->list().setSelection({chosen});
    EXPECT_TRUE(session.frame->commands().action(ViewCommand::Schedule)->isEnabled());
    EXPECT_FALSE(session.scheduleChecked());
    const StoredSchedule before = storedSchedule(session.app.settings());
    ASSERT_TRUE(before.flags & 0x1);

    session.openSchedule([](ScheduleDialog& dialog) {
        EXPECT_FALSE(dialog.jobsBox().isChecked());
        editSchedule(dialog, true);
        dialog.accept();
    });
    const StoredSchedule after = storedSchedule(session.app.settings());
    EXPECT_EQ(after.flags, (before.flags & ~0x1) | static_cast<int32_t>(kScheduleWrittenBit));
    EXPECT_EQ(QDateTime::fromSecsSinceEpoch(after.start).time(), QTime(6, 30));
    EXPECT_EQ(after.stop, before.stop);
    EXPECT_EQ(chosen->startMode, StartMode::Schedule);
    EXPECT_EQ(other->startMode, StartMode::Manual);
    EXPECT_TRUE(session.scheduleChecked());

    // A mixed selection is shown half ticked and left as it is.
    session.view->list().setSelection({chosen, other});
    session.openSchedule([](ScheduleDialog& dialog) {
        EXPECT_EQ(dialog.jobsBox().checkState(), Qt::PartiallyChecked);
        dialog.accept();
    });
    EXPECT_EQ(chosen->startMode, StartMode::Schedule);
    EXPECT_EQ(other->startMode, StartMode::Manual);
    session.view->list().setSelection({chosen});

    // Opened again, the box shows the job is under the schedule; unticking
    // takes it off and the check mark goes.
    session.openSchedule([](ScheduleDialog& dialog) {
        EXPECT_TRUE(dialog.jobsBox().isChecked());
        dialog.jobsBox().setChecked(false);
        dialog.accept();
    });
    EXPECT_EQ(chosen->startMode, StartMode::Manual);
    EXPECT_FALSE(session.scheduleChecked());
    EXPECT_EQ(storedSchedule(session.app.settings()), after);
}

TEST_F(MiscDialogsTest, ScheduleCancelChangesNothing)
{
    Session session(m_dir);
    DownloadJob* job = session.add("http://127.0.0.1:9/kept.bin");
    ASSERT_NE(job, nullptr);
    session.view->list().setSelection({job});
    const StoredSchedule before = storedSchedule(session.app.settings());
    session.openSchedule([](ScheduleDialog& dialog) {
        editSchedule(dialog, true);
        dialog.reject();
    });
    EXPECT_EQ(storedSchedule(session.app.settings()), before);
    EXPECT_EQ(job->startMode, StartMode::Manual);
    EXPECT_FALSE(session.scheduleChecked());
}

TEST_F(MiscDialogsTest, TheCheckMarkFollowsJobsScheduledElsewhereAndIgnoresFinishedOnes)
{
    Session session(m_dir);
    DownloadJob* job = session.add("http://127.0.0.1:9/elsewhere.bin");
    ASSERT_NE(job, nullptr);
    job->SetStartMode(StartMode::Schedule);
    EXPECT_TRUE(session.scheduleChecked());
    job->SetState(JobState::Completed, false);
    EXPECT_FALSE(session.scheduleChecked());

    // With nothing the schedule could take selected, the jobs box is off.
    session.view->list().setSelection({job});
    session.openSchedule([](ScheduleDialog& dialog) {
        EXPECT_FALSE(dialog.jobsBox().isEnabled());
        dialog.accept();
    });
    EXPECT_EQ(job->startMode, StartMode::Schedule);
}

TEST_F(MiscDialogsTest, AboutShowsTheBuildVersion)
{
    Session session(m_dir);
    QStringList texts;
    whenModal([&texts](QWidget& modal) {
        ASSERT_NE(qobject_cast<AboutDialog*>(&modal), nullptr);
        for (const QLabel* label : modal.findChildren<QLabel*>())
            texts << label->text();
        static_cast<QDialog&>(modal).reject();
    });
    session.frame->commands().trigger(static_cast<uint32_t>(FrameCommand::About));
    ASSERT_FALSE(programVersion().isEmpty());
    EXPECT_TRUE(texts.contains(QStringLiteral("Version ") + programVersion())) << texts.join(u'|').toStdString();
}

// ---- placement ---------------------------------------------------------------------

TEST(DialogPlacementTest, AStoredPlacementComesBackAndABadOneFallsBack)
{
    Registry registry;
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect placed(screen.x() + 40, screen.y() + 30, screen.width() / 3, screen.height() / 3);
    {
        QDialog dialog;
        dialog.setGeometry(placed);
        SaveDialogPlacement(dialog, registry, "Delete_Dlg");
    }
    const auto bytes = registry.readBinary(Hive::CurrentUser, settingsKey("Delete_Dlg"), kPlacementValue);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(bytes->size(), 24u);
    {
        QDialog dialog;
        EXPECT_TRUE(RestoreDialogPlacement(dialog, registry, "Delete_Dlg"));
        EXPECT_EQ(dialog.geometry(), placed);
        // Another dialog's section has nothing.
        QDialog other;
        const QRect untouched = other.geometry();
        EXPECT_FALSE(RestoreDialogPlacement(other, registry, "Find_Dlg"));
        EXPECT_EQ(other.geometry(), untouched);
    }

    std::vector<uint8_t> wrongMagic = *bytes;
    wrongMagic[0] = 'X';
    std::vector<uint8_t> wrongVersion = *bytes;
    wrongVersion[4] = 2;
    std::vector<uint8_t> truncated(bytes->begin(), bytes->end() - 1);
    const std::vector<std::vector<uint8_t>> bad{
        EncodePlacement(QRect(screen.right() + 500, screen.bottom() + 500, 200, 100)),  // off every screen
        EncodePlacement(QRect(screen.x(), screen.y(), screen.width() + 1, 100)),  // wider than the screen
        EncodePlacement(QRect(screen.x() + 10, screen.y() + 10, 0, 100)),
        wrongMagic,
        wrongVersion,
        truncated,
        {},
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        registry.writeBinary(Hive::CurrentUser, settingsKey("Delete_Dlg"), kPlacementValue, bad[i]);
        QDialog dialog;
        const QRect untouched = dialog.geometry();
        EXPECT_FALSE(RestoreDialogPlacement(dialog, registry, "Delete_Dlg")) << i;
        EXPECT_EQ(dialog.geometry(), untouched) << i;
    }
    // A text value where the binary one belongs is ignored too.
    registry.writeString(Hive::CurrentUser, settingsKey("Delete_Dlg"), kPlacementValue, "0100 0100 0300 0300");
    QDialog dialog;
    EXPECT_FALSE(RestoreDialogPlacement(dialog, registry, "Delete_Dlg"));
}

TEST_F(MiscDialogsTest, TheViewsDialogsKeepTheirPlaceBetweenRuns)
{
    Session session(m_dir);
    GuiPrompts prompts;
    prompts.setApplication(&session.app);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect placed(screen.x() + 60, screen.y() + 50, screen.width() / 2, screen.height() / 2);
    whenModal([placed](QWidget& dialog) {
        EXPECT_EQ(dialog.objectName(), QStringLiteral("Delete_Dlg"));
        dialog.setGeometry(placed);
        static_cast<QDialog&>(dialog).reject();
    });
    prompts.confirmPermanentDelete(false, false);
    const auto bytes = session.app.registry().readBinary(Hive::CurrentUser, settingsKey("Delete_Dlg"), kPlacementValue);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(DecodePlacement(*bytes), placed);

    QRect shown;
    whenModal([&shown](QWidget& dialog) {
        shown = dialog.geometry();
        static_cast<QDialog&>(dialog).reject();
    });
    prompts.confirmPermanentDelete(false, false);
    EXPECT_EQ(shown, placed);
}

// ---- Find's memory -----------------------------------------------------------------

struct FindAnswer {
    QString text;
    bool name;
    bool url;
    bool comment;
};

TEST_F(MiscDialogsTest, FindRemembersItsFieldsAndItsTextsNewestFirst)
{
    Session session(m_dir);
    Registry& registry = session.app.registry();
    // A bit this version has no use for survives the dialog's writes.
    registry.writeDword(Hive::CurrentUser, settingsKey(kFindSection), "Flags", 0x100 | kFindByUrl);
    GuiPrompts prompts;
    prompts.setApplication(&session.app);
    auto search = [&prompts](const FindAnswer& answer, const FindRequest& last = {}) {
        whenModal([answer](QWidget& dialog) {
            EXPECT_EQ(dialog.objectName(), QStringLiteral("Find_Dlg"));
            withControlId<QComboBox>(dialog, 10)->setCurrentText(answer.text);
            withControlId<QCheckBox>(dialog, 12)->setChecked(answer.name);
            withControlId<QCheckBox>(dialog, 13)->setChecked(answer.url);
            withControlId<QCheckBox>(dialog, 14)->setChecked(answer.comment);
            static_cast<QDialog&>(dialog).accept();
        });
        return prompts.askFind(last);
    };

    // The first dialog of a run shows the stored fields.
    bool urlShown = false;
    bool nameShown = true;
    whenModal([&](QWidget& dialog) {
        nameShown = withControlId<QCheckBox>(dialog, 12)->isChecked();
        urlShown = withControlId<QCheckBox>(dialog, 13)->isChecked();
        static_cast<QDialog&>(dialog).reject();
    });
    EXPECT_FALSE(prompts.askFind({}).has_value());
    EXPECT_FALSE(nameShown);
    EXPECT_TRUE(urlShown);

    const std::optional<FindRequest> first = search({"alpha", true, false, true});
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->text, "alpha");
    EXPECT_TRUE(first->comment);
    EXPECT_EQ(ReadFindFlags(registry), 0x100u | kFindByName | kFindByComment);
    search({"beta", false, true, false});
    search({"alpha", true, false, false});
    EXPECT_EQ(ReadFindHistory(registry), (std::vector<std::string>{"alpha", "beta"}));
    EXPECT_EQ(ReadFindFlags(registry), 0x100u | kFindByName);

    // A cancelled dialog writes nothing; the history shows newest first.
    QStringList offered;
    whenModal([&offered](QWidget& dialog) {
        auto* text = withControlId<QComboBox>(dialog, 10);
        for (int i = 0; i < text->count(); ++i)
            offered << text->itemText(i);
        withControlId<QCheckBox>(dialog, 14)->setChecked(true);
        static_cast<QDialog&>(dialog).reject();
    });
    EXPECT_FALSE(prompts.askFind({"alpha", true, false, false}).has_value());
    EXPECT_EQ(offered, (QStringList{"alpha", "beta"}));
    EXPECT_EQ(ReadFindFlags(registry), 0x100u | kFindByName);

    // The history keeps the newest kFindHistory.size texts.
    for (size_t i = 0; i < kFindHistory.size + 3; ++i)
        search({QStringLiteral("text%1").arg(i), true, false, false});
    const std::vector<std::string> history = ReadFindHistory(registry);
    ASSERT_EQ(history.size(), kFindHistory.size);
    EXPECT_EQ(history.front(), "text" + std::to_string(kFindHistory.size + 2));
    EXPECT_EQ(history.back(), "text3");
}

// ---- translation ids ---------------------------------------------------------------

// Every control a user works carries an id unique in its dialog, a label
// of a field carries the field's id + 500, and the dialog has its section.
void expectTranslatable(QWidget& dialog)
{
    const std::string name = dialog.objectName().toStdString();
    EXPECT_TRUE(name.size() > 4 && name.ends_with("_Dlg")) << "section '" << name << "'";
    std::set<int> seen;
    for (QWidget* widget : dialog.findChildren<QWidget*>()) {
        const int id = controlId(widget);
        const bool control = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget)
            || qobject_cast<QComboBox*>(widget) || qobject_cast<QAbstractItemView*>(widget);
        // Parts of a compound control (the combo box's own edit and list) go with it.
        const bool inner = widget->parentWidget() != nullptr && widget->parentWidget() != &dialog
            && controlId(widget->parentWidget()) >= 0 && !qobject_cast<QGroupBox*>(widget->parentWidget());
        if (control && !inner && widget->isVisibleTo(&dialog)) {
            EXPECT_GE(id, 0) << name << ": " << widget->metaObject()->className() << " without an id";
        }
        if (id < 0)
            continue;
        EXPECT_TRUE(seen.insert(id).second) << name << ": id " << id << " twice";
        if (const auto* label = qobject_cast<QLabel*>(widget); label != nullptr && label->buddy() != nullptr) {
            EXPECT_EQ(id, controlId(label->buddy()) + kLabelIdOffset) << name;
        }
    }
    EXPECT_FALSE(seen.empty()) << name;
}

TEST_F(MiscDialogsTest, EveryDialogOfTheViewIsTranslatable)
{
    Session session(m_dir);
    GuiPrompts prompts;
    prompts.setApplication(&session.app);
    prompts.setCategoryRoot([&session] { return session.view->doc().root(); });
    DownloadJob job;
    ASSERT_TRUE(job.SetUrl("http://127.0.0.1:9/same.zip"));
    std::set<std::string> sections;
    auto check = [&sections](std::function<void()> open) {
        whenModal([&sections](QWidget& dialog) {
            expectTranslatable(dialog);
            sections.insert(dialog.objectName().toStdString());
            if (auto* asDialog = qobject_cast<QDialog*>(&dialog))
                asDialog->reject();
        });
        open();
    };
    check([&] { prompts.askDuplicateUrl(job, job); });
    check([&] { prompts.confirmPermanentDelete(false, false); });
    check([&] { prompts.askFind({}); });
    check([&] { prompts.chooseCategory("Move", "Move the item(s) to the selected Category:"); });
    check([&] { prompts.editCategory("Create new Category", {"New", "", session.view->doc().downloading()}); });
    check([&] { prompts.askFolderChange(); });
    check([&] { prompts.askText("Rename", "old.zip"); });
    check([&] { prompts.askText("Comment", ""); });
    check([&] { prompts.selectLinks({{"http://127.0.0.1:9/a.zip", "a"}}); });
    // Each has a section of its own.
    EXPECT_EQ(sections.size(), 9u);

    check([&] { DialogOpener(session.app, *session.view, session.frame.get()).open("32809"); });
    check([&] { session.frame->commands().trigger(static_cast<uint32_t>(FrameCommand::About)); });
    check([&] { chooseBackupFile({"Restore download database", "damaged", {}}, nullptr); });
    EXPECT_EQ(sections.size(), 12u);
}

// ---- backups -----------------------------------------------------------------------

TEST(BackupChooserTest, ReturnsTheChosenBackupAndNothingForCancel)
{
    const BackupChoice choice{"Restore download database",
                              "Download database '/tmp/x.kxd' is corrupted, please select one backup database and "
                              "restore it.",
                              {{"/tmp/x.kxd.bak", "x.kxd.bak", 4096, 1700000300},
                               {"/tmp/x.bk1", "x.bk1", 2048, 1700000200},
                               {"/tmp/x.bk2", "x.bk2", 1024, 1700000100}}};
    QString title;
    int rows = 0;
    QString firstRow;
    ChooseBackup choose = backupChooser(nullptr);
    whenModal([&](QWidget& modal) {
        auto* dialog = qobject_cast<BackupChooser*>(&modal);
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        rows = dialog->list().topLevelItemCount();
        firstRow = dialog->list().currentItem()->text(0);
        dialog->list().setCurrentItem(dialog->list().topLevelItem(1));
        dialog->accept();
    });
    EXPECT_EQ(choose(choice), std::optional<std::filesystem::path>("/tmp/x.bk1"));
    EXPECT_EQ(title, QStringLiteral("Restore download database"));
    EXPECT_EQ(rows, 3);
    // The newest is offered first.
    EXPECT_EQ(firstRow, QStringLiteral("x.kxd.bak"));

    whenModal([](QWidget& modal) { static_cast<QDialog&>(modal).reject(); });
    EXPECT_EQ(choose(choice), std::nullopt);

    // Nothing to choose: OK cannot be pressed.
    bool okEnabled = true;
    whenModal([&okEnabled](QWidget& modal) {
        okEnabled = withControlId<QAbstractButton>(modal, kOkControlId)->isEnabled();
        static_cast<QDialog&>(modal).reject();
    });
    EXPECT_EQ(chooseBackupFile({"t", "m", {}}, nullptr), std::nullopt);
    EXPECT_FALSE(okEnabled);
}

}  // namespace
}  // namespace fetchora
