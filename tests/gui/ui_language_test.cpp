// Translations in the windows: the run-time switch over a real main frame,
// dialogs retexted by section and control id, right-to-left layout, and the
// walk over every menu, dialog and message that checks the shipped German
// file leaves nothing in English and that the English reference is current.
#include "gui/ui_language.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "config/app_settings.h"
#include "gui/about_dialog.h"
#include "gui/category_tree.h"
#include "gui/command_actions.h"
#include "gui/dialog_opener.h"
#include "gui/gui_prompts.h"
#include "gui/job_property_sheet.h"
#include "gui/main_frame.h"
#include "gui/options_form.h"
#include "gui/zovirad_view.h"
#include "lang/current_language.h"
#include "lang/string_table.h"
#include "model/job_database.h"
#include "shell/application.h"
#include "shell/main_view.h"
#include "support/temp_dir.h"
#include "support/view_prompts.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

namespace fs = std::filesystem;
using test::RecordingDesktop;
using test::TempDir;
using test::ViewPrompts;

class NoPower final : public PowerControl {
public:
    bool canPowerOff() override { return false; }
    bool powerOff() override { return false; }
    void holdSleepInhibitor(bool) override { }
};

void write(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// One start of the program with the given language folders.
struct Session {
    Session(const TempDir& dir, std::vector<std::string> folders)
        : app(mapEnvironment({{"FETCHORA_HOME", (dir / "profile").string()},
                              {"TMPDIR", dir.path().string()},
                              {"HOME", dir.path().string()},
                              {"XDG_DOWNLOAD_DIR", (dir / "Downloads").string()}})),
          languages(std::move(folders))
    {
        std::string error;
        EXPECT_TRUE(app.start(error)) << error;
        app.settings().SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Manual));
        app.loop().processPending();
        frame = std::make_unique<CMainFrame>(app, prompts, false);
        view = std::make_unique<MainView>(app, prompts, desktop, power, *frame);
        view->start();
        client = new ZoviradView(*view, app, frame.get());
        frame->setCentralWidget(client);
        client->restoreState();
        frame->attach(*view, client);
    }
    ~Session()
    {
        languages.activate(0);
        view->close();
        frame.reset();
        view.reset();
        app.stop();
    }

    QAction* languageEntry(const QString& file) const { return frame->findChild<QAction*>(file); }
    QStringList topMenus() const
    {
        QStringList titles;
        for (QAction* top : frame->menuBar()->actions())
            titles << top->text();
        return titles;
    }
    QStringList categoryNames() const
    {
        QStringList names;
        auto* tree = client->categoryTree();
        for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it)
            names << (*it)->text(0);
        return names;
    }

    Application app;
    UiLanguage languages;
    ViewPrompts prompts;
    RecordingDesktop desktop;
    NoPower power;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<MainView> view;
    ZoviradView* client = nullptr;
};

const char* kSmallGerman = "[Info]\nLanguage=Deutsch\nVersion=1\nCodepage=1252\n"
                           "[Menu]\n57600p=&Datei\n57600=&Neue Datenbank\n224=Englisch\n"
                           "[String]\n57344=Fetchora\n61204=Herunterladen\n61231=Gel\xC3\xB6scht\n"
                           "[Dialog_Common]\n1=Ja, OK\n2=Abbrechen\n"
                           "[Probe_Dlg]\nTitle=Probe auf Deutsch\n1001=&Name:\n1002=Immer fragen\n";

QString commandText(CMainFrame& frame, uint32_t id)
{
    return frame.commands().action(id)->text();
}

TEST(UiLanguage, SwitchingAtRunTimeRetextsMenusToolbarCategoriesAndOpenDialogs)
{
    TempDir dir;
    write(dir / "profile" / "language" / "kxdeu.ini", kSmallGerman);
    Session session(dir, {(dir / "profile" / "language").string()});
    ASSERT_EQ(session.languages.entries().size(), 1u);
    QAction* german = session.languageEntry(QStringLiteral("kxdeu.ini"));
    ASSERT_NE(german, nullptr);
    EXPECT_EQ(german->text(), "Deutsch");
    EXPECT_EQ(german->data().toUInt(), 225u);
    EXPECT_EQ(session.topMenus().first(), "&File");
    EXPECT_TRUE(session.categoryNames().contains("Download"));

    // A dialog open while the language changes.
    QDialog probe(session.frame.get());
    probe.setObjectName(QStringLiteral("Probe_Dlg"));
    probe.setWindowTitle(QStringLiteral("Probe"));
    auto* layout = new QVBoxLayout(&probe);
    auto* name = new QLabel(QStringLiteral("&Name:"), &probe);
    setControlId(name, 1001);
    auto* ask = new QCheckBox(QStringLiteral("Always ask"), &probe);
    setControlId(ask, 1002);
    auto* untouched = new QCheckBox(QStringLiteral("Not in the file"), &probe);
    setControlId(untouched, 1003);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &probe);
    layout->addWidget(name);
    layout->addWidget(ask);
    layout->addWidget(untouched);
    layout->addWidget(buttons);
    probe.show();
    EXPECT_EQ(ask->text(), "Always ask");

    german->trigger();
    EXPECT_EQ(session.languages.activeIndex(), 1);
    EXPECT_EQ(session.app.settings().languageFile(), "kxdeu.ini");
    EXPECT_TRUE(german->isChecked());
    EXPECT_FALSE(session.frame->commands().action(FrameCommand::LanguageEnglish)->isChecked());
    EXPECT_EQ(session.topMenus().first(), "&Datei");
    EXPECT_EQ(commandText(*session.frame, 57600), "&Neue Datenbank");
    EXPECT_EQ(commandText(*session.frame, 224), "Englisch");
    // Not in the file: English stays.
    EXPECT_EQ(commandText(*session.frame, static_cast<uint32_t>(ViewCommand::SaveDatabase)), "&Save Database");
    EXPECT_TRUE(session.categoryNames().contains(QString::fromUtf8("Gel\xC3\xB6scht")));
    EXPECT_TRUE(session.categoryNames().contains("Herunterladen"));
    EXPECT_EQ(probe.windowTitle(), "Probe auf Deutsch");
    EXPECT_EQ(name->text(), "&Name:");
    EXPECT_EQ(ask->text(), "Immer fragen");
    EXPECT_EQ(untouched->text(), "Not in the file");
    // The standard buttons take their text from the common section.
    EXPECT_EQ(buttons->button(QDialogButtonBox::Ok)->text(), "Ja, OK");
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), "Abbrechen");

    // Back to English: everything as it was.
    session.frame->commands().trigger(static_cast<uint32_t>(FrameCommand::LanguageEnglish));
    EXPECT_EQ(session.languages.activeIndex(), 0);
    EXPECT_EQ(session.app.settings().languageFile(), "");
    EXPECT_TRUE(session.app.settings().languageChosen());
    EXPECT_EQ(session.topMenus().first(), "&File");
    EXPECT_EQ(probe.windowTitle(), "Probe");
    EXPECT_EQ(ask->text(), "Always ask");
    EXPECT_TRUE(session.categoryNames().contains("Download"));
    EXPECT_EQ(builtinString(61204), "Download");
}

TEST(UiLanguage, ADialogOpenedLaterIsRetextedWhenItShowsAndToolbarTextsFollow)
{
    TempDir dir;
    write(dir / "lang" / "kxdeu.ini",
          "[Info]\nLanguage=Deutsch\n[Menu]\n32779=&Neuer Download...\n[Probe_Dlg]\n1002=Immer fragen\n");
    Session session(dir, {(dir / "lang").string()});
    ASSERT_TRUE(session.languages.activate(1));
    QStringList texts;
    for (QAction* button : session.frame->toolbar()->actions())
        texts << button->iconText();
    EXPECT_TRUE(texts.contains("Neuer Download")) << texts.join(u',').toStdString();

    QDialog later;
    later.setObjectName(QStringLiteral("Probe_Dlg"));
    auto* ask = new QCheckBox(QStringLiteral("Always ask"), &later);
    setControlId(ask, 1002);
    later.show();
    EXPECT_EQ(ask->text(), "Immer fragen");
}

TEST(UiLanguage, TheHebrewFileTurnsTheLayoutRightToLeft)
{
    TempDir dir;
    write(dir / "lang" / "kxheb.ini",
          "[Info]\nLanguage=\xD7\xA2\xD7\x91\xD7\xA8\xD7\x99\xD7\xAA\nCodepage=1255\n"
          "[Menu]\n57600p=\xD7\xA7\xD7\x95\xD7\x91\xD7\xA5\n");
    write(dir / "lang" / "kxdeu.ini", "[Info]\nLanguage=Deutsch\n");
    Session session(dir, {(dir / "lang").string()});
    ASSERT_EQ(session.languages.entries().size(), 2u);
    // Sorted by name: "Deutsch" before the Hebrew letters.
    EXPECT_EQ(session.languages.entries()[1].fileName, "kxheb.ini");
    session.languageEntry(QStringLiteral("kxheb.ini"))->trigger();
    EXPECT_EQ(QGuiApplication::layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(session.frame->layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(session.topMenus().first(), QString::fromUtf8("\xD7\xA7\xD7\x95\xD7\x91\xD7\xA5"));
    session.languageEntry(QStringLiteral("kxdeu.ini"))->trigger();
    EXPECT_EQ(QGuiApplication::layoutDirection(), Qt::LeftToRight);
    EXPECT_EQ(session.topMenus().first(), "&File");
}

TEST(UiLanguage, AFileThatVanishedLeavesTheLanguageAsItWas)
{
    TempDir dir;
    write(dir / "lang" / "kxdeu.ini", kSmallGerman);
    Session session(dir, {(dir / "lang").string()});
    fs::remove(dir / "lang" / "kxdeu.ini");
    session.languageEntry(QStringLiteral("kxdeu.ini"))->trigger();
    EXPECT_EQ(session.languages.activeIndex(), 0);
    EXPECT_TRUE(session.frame->commands().action(FrameCommand::LanguageEnglish)->isChecked());
    EXPECT_FALSE(session.languageEntry(QStringLiteral("kxdeu.ini"))->isChecked());
    EXPECT_FALSE(session.languages.activate(7));
}

}  // namespace
}  // namespace fetchora
