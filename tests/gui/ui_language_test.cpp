// Translations in the windows: the run-time switch over a real main frame,
// dialogs retexted by section and control id, right-to-left layout, and the
// walk over every menu, dialog and message that checks the shipped German
// file leaves nothing in English and that the English reference is current.
#include "gui/ui_language.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <unordered_set>

#include "config/app_settings.h"
#include "gui/about_dialog.h"
#include "gui/category_box.h"
#include "gui/category_tree.h"
#include "gui/check_new_dialog.h"
#include "gui/command_actions.h"
#include "gui/detail_panes.h"
#include "gui/dialog_opener.h"
#include "gui/download_rules_dialog.h"
#include "gui/gui_prompts.h"
#include "gui/job_property_sheet.h"
#include "gui/job_table_model.h"
#include "gui/links_view.h"
#include "gui/main_frame.h"
#include "gui/offline_frame.h"
#include "gui/options_form.h"
#include "gui/options_pages.h"
#include "gui/options_sheet.h"
#include "gui/previous_batch_dialog.h"
#include "gui/previous_file_dialog.h"
#include "gui/proxy_entry_dialog.h"
#include "gui/proxy_page.h"
#include "gui/qt_loop_driver.h"
#include "gui/schedule_dialog.h"
#include "gui/site_rule_dialog.h"
#include "gui/start_prompts.h"
#include "gui/web_page_dialog.h"
#include "gui/zovirad_view.h"
#include "lang/current_language.h"
#include "lang/language_file.h"
#include "lang/string_table.h"
#include "model/database_file.h"
#include "model/job_database.h"
#include "shell/add_download.h"
#include "shell/application.h"
#include "shell/download_defaults.h"
#include "shell/end_of_work.h"
#include "shell/explorer_commands.h"
#include "shell/explorer_session.h"
#include "shell/job_list_model.h"
#include "shell/main_view.h"
#include "shell/shell_texts.h"
#include "shell/speed_timer.h"
#include "shell/zip_check.h"
#include "support/loopback_sockets.h"
#include "support/real_peers.h"
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
    // The completed job the shell's file messages are driven with.
    DownloadJob* shellJob = nullptr;
    ViewPrompts prompts;
    RecordingDesktop desktop;
    NoPower power;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<MainView> view;
    ZoviradView* client = nullptr;
};

const char* kSmallGerman = "[Info]\nLanguage=Deutsch\nVersion=1\nCodepage=1252\n"
                           "[Menu]\n57600p=&Datei\n57600=&Neue Datenbank\n224=Englisch\n32786=&Optionen...\n"
                           "[String]\n57344=Fetchora\n61204=Herunterladen\n61231=Gel\xC3\xB6scht\n"
                           "61206=Heruntergeladene Dateien aller Art\n"
                           "212=Site-Explorer\n40604=&Datei\n40602=&Adresse:\n40636=Keine W\xC3\xA4hlverbindung\n"
                           "61374=Name,Typ,Titel\n"
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
    // An explorer window open while the language changes.
    COfflineFrame* explorer
        = openExplorerWindow(session.app, *session.view, ExplorerKind::SiteExplorer, {}, session.frame.get());
    auto* address = explorer->findChild<QToolBar*>(QStringLiteral("AddressBar"))->findChild<QLabel*>();
    ASSERT_NE(address, nullptr);
    QAction* options = explorer->commandAction(static_cast<uint32_t>(ViewCommand::Options));
    QAction* dialUp = explorer->commandAction(kExplorerConnectCommand);
    ASSERT_NE(options, nullptr);
    ASSERT_NE(dialUp, nullptr);
    const auto explorerHeader = [explorer](int column) {
        return explorer->entryModel()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    };
    EXPECT_EQ(explorer->windowTitle(), "Fetchora Site Explorer");
    EXPECT_EQ(address->text(), "&Address:");
    session.frame->resize(session.frame->fontMetrics().averageCharWidth() * 140,
                          session.frame->fontMetrics().height() * 40);
    session.frame->show();
    CategoryTree* tree = session.client->categoryTree();
    const int longName = tree->fontMetrics().horizontalAdvance(QStringLiteral("Heruntergeladene Dateien aller Art"));
    EXPECT_LT(tree->width(), longName);
    // An idle line shows its figure once; the switch must not blank it.
    SpeedReadoutStep speed;
    session.frame->showSpeed(speed.step(4096, std::nullopt));
    ASSERT_EQ(session.frame->paneText(3), "2.00KB/s");

    german->trigger();
    EXPECT_EQ(session.frame->paneText(3), "2.00KB/s");
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
    // The tree pane widened so that the longer name shows whole.
    EXPECT_GT(tree->width(), longName);
    EXPECT_EQ(probe.windowTitle(), "Probe auf Deutsch");
    EXPECT_EQ(name->text(), "&Name:");
    EXPECT_EQ(ask->text(), "Immer fragen");
    EXPECT_EQ(untouched->text(), "Not in the file");
    // The standard buttons take their text from the common section.
    EXPECT_EQ(buttons->button(QDialogButtonBox::Ok)->text(), "Ja, OK");
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), "Abbrechen");
    // The explorer: caption, menus, the address bar's label, the list's
    // headers (a short list leaves the rest English), tool tips, and the main
    // window's commands under the main window's names.
    EXPECT_EQ(explorer->windowTitle(), "Site-Explorer");
    EXPECT_EQ(explorer->menuBar()->actions().first()->text(), "&Datei");
    EXPECT_EQ(address->text(), "&Adresse:");
    EXPECT_EQ(explorerHeader(1), "Typ");
    EXPECT_EQ(explorerHeader(4), "Size");
    EXPECT_EQ(options->text(), "&Optionen...");
    EXPECT_EQ(dialUp->toolTip(), QString::fromUtf8("Keine W\xC3\xA4hlverbindung"));
    // Shown again later, the window keeps the language's texts.
    explorer->hide();
    explorer->show();
    EXPECT_EQ(address->text(), "&Adresse:");

    // Qt's own texts follow where the system has Qt's German translation.
    if (QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_de.qm"))) {
        QDialogButtonBox later(QDialogButtonBox::Apply);
        EXPECT_EQ(later.button(QDialogButtonBox::Apply)->text().remove(u'&'), "Anwenden");
    }

    // Back to English: everything as it was.
    session.frame->commands().trigger(static_cast<uint32_t>(FrameCommand::LanguageEnglish));
    EXPECT_EQ(session.languages.activeIndex(), 0);
    EXPECT_EQ(session.app.settings().languageFile(), "");
    EXPECT_TRUE(session.app.settings().languageChosen());
    EXPECT_EQ(session.topMenus().first(), "&File");
    EXPECT_EQ(probe.windowTitle(), "Probe");
    EXPECT_EQ(ask->text(), "Always ask");
    EXPECT_TRUE(session.categoryNames().contains("Download"));
    EXPECT_EQ(explorer->windowTitle(), "Fetchora Site Explorer");
    EXPECT_EQ(explorer->menuBar()->actions().first()->text(), "&File");
    EXPECT_EQ(address->text(), "&Address:");
    EXPECT_EQ(explorerHeader(1), "Type");
    EXPECT_EQ(options->text(), "&Options...");
    explorer->close();
    EXPECT_EQ(builtinString(61204), "Download");
}

TEST(UiLanguage, ADialogOpenedLaterIsRetextedWhenItShowsAndToolbarTextsFollow)
{
    TempDir dir;
    write(dir / "lang" / "kxdeu.ini",
          "[Info]\nLanguage=Deutsch\n[Menu]\n32779=&Neuer Download...\n32773=&Starten jetzt\n[Probe_Dlg]\n1002=Immer "
          "fragen\n");
    Session session(dir, {(dir / "lang").string()});
    session.frame->commands().trigger(static_cast<uint32_t>(FrameCommand::ShowText));
    session.frame->show();
    session.frame->resize(session.frame->minimumSizeHint().width(), session.frame->height());
    QApplication::processEvents();
    const int before = session.frame->width();
    ASSERT_TRUE(session.languages.activate(1));
    QApplication::processEvents();
    // The longer text widens the window rather than push buttons off the toolbar.
    EXPECT_GT(session.frame->width(), before);
    EXPECT_LE(session.frame->width(), session.frame->screen()->availableGeometry().width());
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

TEST(UiLanguage, ChoicesOfOpenDialogsFollowASwitchAndKeepWhatIsChosen)
{
    TempDir dir;
    write(dir / "lang" / "kxdeu.ini",
          "[Info]\nLanguage=Deutsch\n[String]\n40020=Manuell,Sofort,Zeitplan\n61206=Heruntergeladen\n"
          "61296=Programme,Spiele,Treiber,Musik\n40901=14.4K-Modem,28.8K-Modem\n40902=Keiner\n");
    Session session(dir, {(dir / "lang").string()});
    DownloadJob* root = session.view->doc().root();
    DownloadJob* downloaded = session.view->doc().downloaded();
    DownloadJob* game = downloaded->firstChild()->nextSibling();
    ASSERT_EQ(game->name, "Game");

    DownloadJob job;
    job.url = "http://127.0.0.1/file.zip";
    job.startMode = StartMode::Schedule;
    job.categoryId = game->id;
    JobSheetContext context;
    context.categoryRoot = root;
    JobPropertySheet sheet(QStringLiteral("Properties"), job, JobSheetMode::OneJob, context);
    sheet.show();
    QComboBox* modes = sheet.startModeBox();
    QComboBox* categories = sheet.categoryBox();
    ASSERT_EQ(modes->currentText(), "Schedule");
    ASSERT_EQ(categories->currentText().trimmed(), "Game");
    const int categoryCount = categories->count();
    // A box filled by the shared helper, as the move and batch dialogs have it.
    QComboBox moveTo;
    fillCategoryBox(&moveTo, root, CategoryOffer::FileInto, downloaded);

    // The options pages' fixed choices.
    session.app.settings().setConnType(1);
    session.app.settings().SetOption(OptionId::UserAgentChoice, 0);
    ConnectionPage connection;
    ProtocolPage protocol;
    connection.load(session.app.settings());
    protocol.load(session.app.settings());
    const auto choiceBox = [](QWidget& page, int id) {
        for (QComboBox* box : page.findChildren<QComboBox*>())
            if (controlId(box) == id)
                return box;
        return static_cast<QComboBox*>(nullptr);
    };
    QComboBox* type = choiceBox(connection, 8);
    QComboBox* agent = choiceBox(protocol, 6);
    ASSERT_NE(type, nullptr);
    ASSERT_NE(agent, nullptr);
    const int typeCount = type->count();
    ASSERT_EQ(type->currentText(), "28.8K Modem");
    ASSERT_EQ(agent->currentText(), "None");

    ASSERT_TRUE(session.languages.activate(1));
    // A short list keeps the English of the items it lacks.
    EXPECT_EQ(type->itemText(0), "14.4K-Modem");
    EXPECT_EQ(type->currentText(), "28.8K-Modem");
    EXPECT_EQ(type->itemText(2), "33.6K Modem");
    EXPECT_EQ(type->count(), typeCount);
    EXPECT_EQ(agent->currentText(), "Keiner");
    EXPECT_EQ(agent->itemText(1), "Fetchora");
    EXPECT_EQ(modes->currentText(), "Zeitplan");
    EXPECT_EQ(modes->itemText(0), "Manuell");
    EXPECT_EQ(modes->currentData().toInt(), static_cast<int>(StartMode::Schedule));
    EXPECT_EQ(categories->currentText(), QStringLiteral("  Spiele"));
    EXPECT_EQ(categories->currentData().toInt(), game->id);
    EXPECT_EQ(categories->count(), categoryCount);
    EXPECT_EQ(moveTo.currentText(), "Heruntergeladen");
    EXPECT_NE(moveTo.findText(QStringLiteral("    Treiber")), -1);

    ASSERT_TRUE(session.languages.activate(0));
    EXPECT_EQ(type->currentText(), "28.8K Modem");
    EXPECT_EQ(agent->currentText(), "None");
    EXPECT_EQ(modes->currentText(), "Schedule");
    EXPECT_EQ(categories->currentText(), QStringLiteral("  Game"));
    EXPECT_EQ(moveTo.currentText(), "Downloaded");
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

// ---- the walk over every text ----------------------------------------------------------

// section -> key -> text
using TextMap = std::map<std::string, std::map<std::string, std::string>>;

void add(TextMap& texts, const QString& section, const QString& key, const QString& text)
{
    if (!text.isEmpty())
        texts[section.toStdString()].emplace(key.toStdString(), text.toStdString());
}

void addWindow(TextMap& texts, QWidget* window)
{
    for (const WindowText& each : windowTexts(window))
        add(texts, each.section, each.key, each.text);
}

// Sections starting with "~" hold texts that show where no file key names
// them (headers, tabs, pop-ups, message texts), keyed by where they show;
// they are compared but never written to the reference.
bool shownOnly(const std::string& section)
{
    return !section.empty() && section[0] == '~';
}

void addMenu(TextMap& texts, const QString& section, QMenu* menu, const QString& prefix = {})
{
    add(texts, section, prefix + QStringLiteral("title"), menu->title());
    const QList<QAction*> actions = menu->actions();
    for (qsizetype i = 0; i < actions.size(); ++i) {
        if (actions[i]->isSeparator())
            continue;
        const QString key = prefix + QString::number(i);
        add(texts, section, key, actions[i]->text());
        if (actions[i]->menu() != nullptr)
            addMenu(texts, section, actions[i]->menu(), key + QStringLiteral("."));
    }
}

void addHeaders(TextMap& texts, const QString& section, const QAbstractItemModel& model, int role = Qt::DisplayRole)
{
    const QString kind = role == Qt::DisplayRole ? QStringLiteral("header") : QStringLiteral("tip");
    for (int c = 0; c < model.columnCount(); ++c)
        add(texts, section, kind + QString::number(c), model.headerData(c, Qt::Horizontal, role).toString());
}

// Every text a window shows, whether or not a file key names it: captions,
// labels, buttons, group boxes, tool tips, list and tree items, headers, the
// status line, menus and actions, keyed by class and place in section "~" +
// name. A text a window makes without the string table shows up here.
void addEveryText(TextMap& texts, const QString& name, QWidget* window)
{
    const QString section = QStringLiteral("~") + name;
    add(texts, section, QStringLiteral("title"), window->windowTitle());
    int place = 0;
    for (QObject* object : window->findChildren<QObject*>()) {
        const QString key = QString::fromLatin1(object->metaObject()->className()) + QString::number(place++);
        if (auto* action = qobject_cast<QAction*>(object)) {
            if (!action->isSeparator()) {
                add(texts, section, key, action->text());
                add(texts, section, key + QStringLiteral("tip"), action->toolTip());
            }
            continue;
        }
        auto* widget = qobject_cast<QWidget*>(object);
        if (widget == nullptr)
            continue;
        add(texts, section, key + QStringLiteral("tip"), widget->toolTip());
        if (auto* menu = qobject_cast<QMenu*>(widget))
            add(texts, section, key, menu->title());
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            add(texts, section, key, button->text());
        else if (auto* label = qobject_cast<QLabel*>(widget))
            add(texts, section, key, label->text());
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            add(texts, section, key, group->title());
        else if (auto* bar = qobject_cast<QToolBar*>(widget))
            add(texts, section, key, bar->windowTitle());
        else if (auto* status = qobject_cast<QStatusBar*>(widget))
            add(texts, section, key, status->currentMessage());
        if (auto* list = qobject_cast<QListWidget*>(widget))
            for (int i = 0; i < list->count(); ++i)
                add(texts, section, key + QStringLiteral(".") + QString::number(i), list->item(i)->text());
        if (auto* tree = qobject_cast<QTreeWidget*>(widget))
            for (int i = 0; i < tree->topLevelItemCount(); ++i)
                add(texts, section, key + QStringLiteral(".") + QString::number(i), tree->topLevelItem(i)->text(0));
        if (auto* view = qobject_cast<QTreeView*>(widget);
            view != nullptr && view->model() != nullptr && !view->isHeaderHidden())
            addHeaders(texts, section + QStringLiteral(".") + key, *view->model());
    }
}

// The main window's texts that have no file key of their own.
void addFrameTexts(TextMap& texts, Session& session)
{
    const QAbstractItemModel& table = *session.client->tableModel();
    addHeaders(texts, QStringLiteral("~JobList"), table);
    addHeaders(texts, QStringLiteral("~JobList"), table, Qt::ToolTipRole);
    DetailPanes* panes = session.client->detailPanes();
    const QString detail = QStringLiteral("~Detail");
    for (QTabWidget* tabs : panes->findChildren<QTabWidget*>())
        for (int i = 0; i < tabs->count(); ++i)
            add(texts, detail, QStringLiteral("tab") + QString::number(i), tabs->tabText(i));
    addHeaders(texts, QStringLiteral("~Parts"), *panes->partsTree()->model());
    addHeaders(texts, QStringLiteral("~Log"), *panes->logPane()->model());
    addHeaders(texts, QStringLiteral("~Links"), *panes->linksPane()->model());
    for (QMenu* menu : panes->linksPane()->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly))
        addMenu(texts, QStringLiteral("~LinksMenu"), menu);
    addMenu(texts, QStringLiteral("~Tray"), session.frame->trayMenu());
    const std::unique_ptr<QMenu> toolbarMenu = session.frame->toolbarMenu();
    addMenu(texts, QStringLiteral("~ToolbarMenu"), toolbarMenu.get());
    auto* toolbar = session.frame->findChild<QToolBar*>(QStringLiteral("toolbar"));
    const QString bar = QStringLiteral("~Toolbar");
    add(texts, bar, QStringLiteral("title"), toolbar->windowTitle());
    for (QWidget* widget : toolbar->findChildren<QWidget*>()) {
        const QString name = QString::fromLatin1(widget->metaObject()->className()) + widget->objectName();
        if (auto* button = qobject_cast<QToolButton*>(widget); button != nullptr && button->menu() != nullptr)
            add(texts, bar, name, button->text());
        if (qobject_cast<QLabel*>(widget) != nullptr || qobject_cast<QSlider*>(widget) != nullptr)
            add(texts, bar, name + QStringLiteral("tip"), widget->toolTip());
    }
}

class LoggedLines final : public ExplorerListener {
public:
    void nodeFetched(ExplorerNode&) override { }
    void logLine(const std::string& line) override { lines.push_back(line); }
    void busyChanged(bool) override { }
    std::vector<std::string> lines;
};

// The texts the shell builds for questions, messages and log lines, taken
// through the test prompts while the shell's own code paths run.
void addShellTexts(TextMap& texts, Session& session)
{
    MainView& view = *session.view;
    if (session.shellJob == nullptr) {
        AddDownloadRequest request;
        request.text = "http://127.0.0.1:9/setup.zip";
        session.shellJob = view.addDownload(request).job;
        ASSERT_NE(session.shellJob, nullptr);
        DownloadJob& job = *session.shellJob;
        fs::create_directories(job.saveFolder.str());
        std::ofstream(job.GetLocalPath()) << "this is no archive";
        std::ofstream(fs::path(job.saveFolder.str()) / "taken.zip") << "another file";
        job.SetCompleted(18);
        job.hasData = true;
        job.SetState(JobState::Completed, false);
    }
    view.list().rebuild();
    view.list().setSelection({session.shellJob});
    view.list().setFocusedJob(session.shellJob);
    ViewPrompts& prompts = session.prompts;
    prompts.asked.clear();
    prompts.text = "taken.zip";
    EXPECT_TRUE(view.run(ViewCommand::FixZip));
    EXPECT_TRUE(view.run(ViewCommand::Rename));
    prompts.text.reset();
    EXPECT_TRUE(view.run(ViewCommand::Comment));
    const QString shell = QStringLiteral("~Shell");
    int n = 0;
    for (const ViewPrompts::Asked& asked : prompts.asked)
        add(texts, shell, QString::fromStdString(asked.kind) + QString::number(++n),
            QString::fromStdString(asked.text));
    EXPECT_EQ(n, 4) << "the zip check's message, the rename's title and refusal, the comment's title";

    // Results the test files cannot bring about here.
    for (ZipCheckKind kind : {ZipCheckKind::Encrypted, ZipCheckKind::Clean, ZipCheckKind::MemoryError})
        add(texts, shell, QStringLiteral("zip") + QString::number(static_cast<int>(kind)),
            QString::fromStdString(zipCheckMessage(kind)));
    const std::vector<FileSpan> damaged{{0, 9}};
    add(texts, shell, QStringLiteral("zipAgain"), QString::fromStdString(zipRedownloadQuestion(damaged, 100)));
    for (ShutDownResult result : {ShutDownResult::PoweredOff, ShutDownResult::NotPermitted, ShutDownResult::Refused})
        add(texts, shell, QStringLiteral("powerOff") + QString::number(static_cast<int>(result)),
            QString::fromStdString(describe(result)));

    LoggedLines log;
    {
        ExplorerSession explorer(session.app, log);
        EXPECT_EQ(explorer.browse("mailto:someone"), nullptr);
    }
    ASSERT_EQ(log.lines.size(), 1u);
    add(texts, shell, QStringLiteral("explorerLog"), QString::fromStdString(log.lines.front()));
}

// The items of the options pages' drop-downs, by page and control id.
void addChoices(TextMap& texts, QWidget* window)
{
    for (OptionsPage* page : window->findChildren<OptionsPage*>()) {
        const QString where = QString::fromLatin1(page->sectionName()) + QStringLiteral(".");
        for (QComboBox* box : page->findChildren<QComboBox*>()) {
            if (controlId(box) < 0)
                continue;
            for (int i = 0; i < box->count(); ++i)
                add(texts, QStringLiteral("~Choices"), where + QString::number(controlId(box)) + u'.' + QString::number(i),
                    box->itemText(i));
        }
    }
}

// The tool tips of the Other page's switches and choices.
void addItemTips(TextMap& texts, QWidget* window)
{
    for (OptionsPage* page : window->findChildren<OptionsPage*>())
        for (QTreeWidget* tree : page->findChildren<QTreeWidget*>())
            for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it)
                add(texts, QStringLiteral("~ItemTips"),
                    QString::fromLatin1(page->sectionName()) + u'.'
                        + QString::number((*it)->data(0, kItemControlIdRole).toInt()),
                    (*it)->toolTip(0));
}

// The buttons of the options pages that open a file chooser.
const std::vector<std::pair<const char*, int>> kChooserButtons = {
    {"FileMan_PPG", 5}, {"Sound_PPG", 4}, {"Proxy_PPG", 1005}, {"Proxy_PPG", 1006}};

// Opens each chooser of the options pages and takes its title and filters
// (Qt's own dialog: no platform dialog runs on the test platform).
void addChoosers(TextMap& texts, QWidget* window)
{
    const QString section = QStringLiteral("~Choosers");
    for (const auto& [pageName, id] : kChooserButtons) {
        QPushButton* button = nullptr;
        for (OptionsPage* page : window->findChildren<OptionsPage*>())
            if (QString::fromLatin1(page->sectionName()) == QLatin1String(pageName))
                for (QPushButton* each : page->findChildren<QPushButton*>())
                    if (controlId(each) == id)
                        button = each;
        ASSERT_NE(button, nullptr) << pageName << " " << id;
        const QString key = QString::fromLatin1(pageName) + u'.' + QString::number(id);
        bool seen = false;
        // Gone with this scope, so that it never fires after a click that
        // opened nothing.
        QTimer reader;
        reader.setSingleShot(true);
        reader.callOnTimeout([&] {
            auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (chooser == nullptr)
                return;
            seen = true;
            add(texts, section, key + QStringLiteral(".title"), chooser->windowTitle());
            const QStringList filters = chooser->nameFilters();
            for (qsizetype i = 0; i < filters.size(); ++i)
                add(texts, section, key + QStringLiteral(".filter") + QString::number(i), filters[i]);
            chooser->reject();
        });
        reader.start(50);
        button->setEnabled(true);
        button->click();
        EXPECT_TRUE(seen) << "no chooser opened for " << key.toStdString();
    }
}

// The filters of the main view's file choosers, as the shell builds them.
void addShellFilters(TextMap& texts, Session& session)
{
    MainView& view = *session.view;
    ViewPrompts& prompts = session.prompts;
    prompts.filters.clear();
    prompts.openFile.reset();
    prompts.saveFile.reset();
    for (ViewCommand command : {ViewCommand::OpenDatabase, ViewCommand::SaveDatabaseAs, ViewCommand::MergeDatabase,
                                ViewCommand::ImportList, ViewCommand::ExportList})
        view.run(command);
    // A finished job whose file is gone: the chooser to find it offers its type.
    view.list().setSelection({session.shellJob});
    view.list().setFocusedJob(session.shellJob);
    fs::remove(session.shellJob->GetLocalPath());
    prompts.yesNo = {true};
    view.run(ViewCommand::OpenFile);
    std::ofstream(session.shellJob->GetLocalPath()) << "this is no archive";
    int n = 0;
    for (const std::string& filter : prompts.filters)
        add(texts, QStringLiteral("~Filters"), QString::number(++n), QString::fromStdString(filter));
    EXPECT_EQ(n, 6) << "open, save as, merge, import and export of lists, the missing file";
}

// ---- windows that show only on a failure ---------------------------------------------

// Runs open(), which brings up one modal window (or a box on top of the
// window `under`), takes every text of it under section "~" + name and
// closes it. False when nothing came up.
enum class Taken { EveryText, TitleAndButtons };

bool takeModal(TextMap& texts, const QString& name, const std::function<void()>& open, QWidget* under = nullptr,
               Taken taken = Taken::EveryText)
{
    bool seen = false;
    QTimer reader;
    reader.setInterval(20);
    reader.callOnTimeout([&] {
        QWidget* top = QApplication::activeModalWidget();
        if (top == nullptr || top == under)
            return;
        if (!seen && taken == Taken::TitleAndButtons) {
            seen = true;
            add(texts, QStringLiteral("~") + name, QStringLiteral("title"), top->windowTitle());
            int place = 0;
            for (QDialogButtonBox* box : top->findChildren<QDialogButtonBox*>())
                for (QAbstractButton* button : box->buttons())
                    add(texts, QStringLiteral("~") + name, QStringLiteral("button") + QString::number(++place),
                        button->text());
        } else if (!seen) {
            seen = true;
            addWindow(texts, top);
            addEveryText(texts, name, top);
        }
        if (auto* dialog = qobject_cast<QDialog*>(top))
            dialog->reject();
        else
            top->close();
    });
    reader.start();
    open();
    return seen;
}

// The shell's messages on failures, brought about by its own code paths
// with the test prompts, then shown as the window shows them.
std::vector<ViewPrompts::Asked> shellFailures(Session& session, const fs::path& dir)
{
    MainView& view = *session.view;
    ViewPrompts& prompts = session.prompts;
    prompts.asked.clear();
    const fs::path nowhere = dir / "no such folder";
    const fs::path noUrls = dir / "no-urls.txt";
    std::ofstream(noUrls) << "nothing to fetch here\n";
    // Saving the database or a list into a folder that is not there; a list
    // without a URL.
    prompts.saveFile = nowhere / "saved.kxd";
    view.run(ViewCommand::SaveDatabaseAs);
    prompts.saveFile = nowhere / "list.lst";
    view.run(ViewCommand::ExportList);
    prompts.openFile = noUrls;
    view.run(ViewCommand::ImportList);
    // A list file that is not there; a database to merge that is none, and
    // one cut short inside its count of records.
    prompts.openFile = dir / "missing.lst";
    view.run(ViewCommand::ImportList);
    const fs::path notADatabase = dir / "not-a-database.kxd";
    std::ofstream(notADatabase) << "this is no database";
    prompts.openFile = notADatabase;
    view.run(ViewCommand::MergeDatabase);
    const fs::path cutShort = dir / "cut-short.kxd";
    std::ofstream(cutShort, std::ios::binary) << "H\x01\x02";
    prompts.openFile = cutShort;
    view.run(ViewCommand::MergeDatabase);
    prompts.saveFile.reset();
    prompts.openFile.reset();
    // A category cannot move into itself.
    DownloadJob* open = view.list().openCategory();
    DownloadJob* category = view.doc().downloaded()->firstChild();
    view.list().openCategory(category);
    prompts.category = category;
    view.run(ViewCommand::MoveCategory);
    prompts.category = nullptr;
    view.list().openCategory(open);
    // A URL that is none, and a new URL whose file name a listed job has.
    UrlRequest invalid;
    invalid.url = "no address at all";
    view.handleUrl(invalid);
    UrlRequest sameName;
    sameName.url = "http://127.0.0.1:9/elsewhere/setup.zip";
    prompts.yesNo = {false};
    prompts.editAnswers = {false};
    view.handleUrl(sameName);
    prompts.yesNo.clear();
    prompts.editAnswers.clear();
    std::vector<ViewPrompts::Asked> boxes;
    for (const ViewPrompts::Asked& asked : prompts.asked)
        if (asked.kind == "message" || asked.kind == "yesno" || asked.kind == "okcancel")
            boxes.push_back(asked);
    return boxes;
}

void addFailureTexts(TextMap& texts, Session& session)
{
    // The same folder in every walk, as the messages name it.
    ASSERT_NE(session.shellJob, nullptr);
    const fs::path dir = fs::path(session.shellJob->saveFolder.str()) / "failures";
    fs::create_directories(dir);
    GuiPrompts prompts(session.frame.get());
    int n = 0;
    const std::vector<ViewPrompts::Asked> boxes = shellFailures(session, dir);
    for (const ViewPrompts::Asked& box : boxes) {
        const QString name = QStringLiteral("Failure") + QString::number(++n);
        EXPECT_TRUE(takeModal(texts, name, [&] {
            if (box.kind == "message")
                prompts.message(box.text, box.icon);
            else if (box.kind == "yesno")
                prompts.askYesNo(box.text, box.icon);
            else
                prompts.askOkCancel(box.text, box.icon);
        })) << box.text;
    }
    std::string shown;
    for (const ViewPrompts::Asked& box : boxes)
        shown += "\n" + box.kind + ": " + box.text;
    EXPECT_EQ(n, 9) << "the database and the list not saved, a list without URLs, a list not there, a database "
                       "to merge that is none and one cut short, a category moved into itself, an invalid URL, a "
                       "file name already listed; shown:"
                    << shown;

    // The file chooser and the folder chooser: Qt's own dialogs.
    EXPECT_TRUE(takeModal(texts, QStringLiteral("OpenChooser"),
                          [&] { prompts.chooseOpenFile(builtinText(kStrTitleImportList), "Text (*.txt)|*.txt||"); }));
    EXPECT_TRUE(takeModal(texts, QStringLiteral("FolderChooser"),
                          [&] { prompts.chooseFolder(builtinText(kStrTitleExport), dir); }));

    // The update check that cannot reach its server.
    {
        UpdateSetup setup;
        setup.source = "http://127.0.0.1:" + std::to_string(test::refusedPort()) + "/up/";
        setup.writableLanguageFolder = dir / "language";
        setup.shippedLanguageFolder = dir / "shipped";
        // The fetch runs as a job of the engine, whose messages come through
        // Qt's loop here.
        QtLoopDriver driver(session.app.loop());
        CheckNewDialog check(session.app, setup, session.desktop, UpdateMode::VersionCheck, session.frame.get());
        check.show();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        do
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        while ((check.busy() || check.progressBar()->isVisible()) && std::chrono::steady_clock::now() < deadline);
        EXPECT_FALSE(check.busy());
        add(texts, QStringLiteral("~CheckNew"), QStringLiteral("failure"), check.statusLabel()->text());
        check.close();
    }

    // The proxy dialog and its two refusals: no server, a port out of range.
    {
        ProxyEntry entry;
        entry.type = kProxyHttpGet;
        ProxyEntryDialog dialog(entry, false, session.frame.get());
        EXPECT_TRUE(takeModal(texts, QStringLiteral("ProxyEntry"), [&] { dialog.exec(); }));
        dialog.show();
        EXPECT_TRUE(takeModal(
            texts, QStringLiteral("ProxyNoServer"), [&] { dialog.accept(); }, &dialog));
        dialog.serverEdit()->setText(QStringLiteral("127.0.0.1"));
        dialog.portEdit()->setText(QStringLiteral("0"));
        EXPECT_TRUE(takeModal(
            texts, QStringLiteral("ProxyBadPort"), [&] { dialog.accept(); }, &dialog));
        dialog.reject();
    }

    // The job sheet refusing a URL it cannot fetch.
    {
        DownloadJob job;
        job.url = "http://127.0.0.1/file.zip";
        JobPropertySheet sheet(QString::fromStdString(builtinText(kStrTitleProperties)), job, JobSheetMode::OneJob,
                               JobSheetContext{});
        sheet.show();
        // Each refusal in the order the sheet checks its fields.
        const std::vector<std::function<void()>> faults = {
            [&] { sheet.urlEdit()->clear(); },
            [&] { sheet.urlEdit()->setText(QStringLiteral("no address at all")); },
            [&] {
                sheet.urlEdit()->setText(QStringLiteral("http://127.0.0.1/file.zip"));
                sheet.folderBox()->setEditText(QString());
            },
            [&] { sheet.folderBox()->setEditText(QStringLiteral("relative/folder")); },
            [&] {
                sheet.folderBox()->setEditText(QString::fromStdString(dir.string()));
                sheet.splitBox()->setEditText(QStringLiteral("0"));
            },
        };
        int refusal = 0;
        for (const std::function<void()>& fault : faults) {
            fault();
            const QString name = QStringLiteral("SheetRefusal") + QString::number(++refusal);
            EXPECT_TRUE(takeModal(
                texts, name, [&] { sheet.okButton()->click(); }, &sheet))
                << name.toStdString();
        }
        add(texts, QStringLiteral("~SheetMirror"), QStringLiteral("invalid"), sheet.addMirror(QStringLiteral("none")));
        EXPECT_TRUE(sheet.addMirror(QStringLiteral("http://127.0.0.1/mirror.zip")).isEmpty());
        add(texts, QStringLiteral("~SheetMirror"), QStringLiteral("listed"),
            sheet.addMirror(QStringLiteral("http://127.0.0.1/mirror.zip")));
        sheet.reject();
    }

    // The proxy list's import and export that fail, as their boxes say it.
    {
        const fs::path notAList = dir / "not-a-list.txt";
        std::ofstream(notAList) << "this line is no proxy\n";
        ProxyPage page(session.app.jobLock());
        const QString section = QStringLiteral("~ProxyFiles");
        add(texts, section, QStringLiteral("notAList"), page.importFrom(QString::fromStdString(notAList.string())));
        add(texts, section, QStringLiteral("missing"),
            page.importFrom(QString::fromStdString((dir / "missing.txt").string())));
        add(texts, section, QStringLiteral("nothingToExport"),
            page.exportTo(QString::fromStdString((dir / "proxies.txt").string())));
        ProxyEntry entry;
        entry.type = kProxyHttpGet;
        entry.server = "127.0.0.1";
        entry.port = 3128;
        page.addEntry(entry);
        add(texts, section, QStringLiteral("nowhere"),
            page.exportTo(QString::fromStdString((dir / "no such folder" / "proxies.txt").string())));
        EXPECT_EQ(texts[section.toStdString()].size(), 4u);
    }

    // The colour picker of the log colours, named after its field: its title
    // and Qt's buttons (its other labels are Qt's own, some spelt the same
    // in German).
    {
        GraphLogPage page;
        page.show();
        ColorButton* button = nullptr;
        for (ColorButton* each : page.findChildren<ColorButton*>())
            if (controlId(each) == 1)
                button = each;
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(takeModal(
            texts, QStringLiteral("ColorPicker"), [&] { button->click(); }, nullptr, Taken::TitleAndButtons));
    }
}

// Takes out of a window's every text those that are data, not wording (a
// file's name), which read the same in every language.
void dropData(TextMap& texts, const QString& name, const std::set<std::string>& data)
{
    auto& shown = texts[(QStringLiteral("~") + name).toStdString()];
    std::erase_if(shown, [&data](const auto& each) { return data.count(each.second) != 0; });
}

// Dialogs the window brings up through its own prompts on a file or a job:
// the backup chooser of a damaged database, the imports of files downloaded
// before, a site's properties, the address of a saved web page.
void addFileDialogs(TextMap& texts, Session& session)
{
    ASSERT_NE(session.shellJob, nullptr);
    const fs::path dir = fs::path(session.shellJob->saveFolder.str()) / "files";
    fs::create_directories(dir);
    GuiPrompts prompts(session.frame.get());
    prompts.setApplication(&session.app);

    // A database that is none, with a backup beside it.
    {
        const fs::path damaged = dir / "damaged.kxd";
        std::ofstream(damaged, std::ios::binary) << "this is no database";
        std::ofstream(BakPathFor(damaged), std::ios::binary) << "nor is this";
        CZoviradDoc doc(session.app.jobLock(), [](uint32_t id) { return std::string(builtinString(id)); });
        DatabaseOpenOptions open;
        open.chooseBackup = prompts.backupChooser();
        EXPECT_TRUE(takeModal(texts, QStringLiteral("RestoreDb"), [&] { OpenDatabase(doc, damaged, open); }));
        dropData(texts, QStringLiteral("RestoreDb"), {BakPathFor(damaged).filename().string()});
        // The chooser says which database it is about.
        const auto& shown = texts["~RestoreDb"];
        EXPECT_TRUE(std::any_of(shown.begin(), shown.end(),
                                [](const auto& each) { return each.second.find("damaged.kxd'") != std::string::npos; }));
    }

    // The batch of files downloaded before, through the view's command, and
    // its refusal of a folder that is not there.
    DialogOpener opener(session.app, *session.view, session.frame.get());
    EXPECT_TRUE(takeModal(texts, QStringLiteral("AddPreviousBatch"), [&] {
        opener.open(std::to_string(static_cast<uint32_t>(ViewCommand::ImportPreviousBatch)));
    }));
    {
        PreviousBatchDialog batch(session.view->doc().root(), nullptr, session.frame.get());
        batch.show();
        batch.folderEdit()->setText(QString::fromStdString((dir / "no such folder").string()));
        EXPECT_TRUE(takeModal(
            texts, QStringLiteral("AddPreviousBatchRefusal"), [&] { batch.accept(); }, &batch));
        EXPECT_TRUE(batch.isVisible());
        batch.reject();
    }

    // One file downloaded before, in both modes, and the refusal of a broken
    // download without a URL to resume from.
    const fs::path previous = dir / "previous.bin";
    std::ofstream(previous, std::ios::binary) << "downloaded before";
    std::set<std::string> fileData{previous.string()};
    for (const auto& [name, mode] : {std::pair{QStringLiteral("AddPrevious"), PreviousFileMode::Completed},
                                     std::pair{QStringLiteral("AddBroken"), PreviousFileMode::Broken}}) {
        EXPECT_TRUE(takeModal(texts, name, [&, mode = mode] {
            importChosenFile(session.app, *session.view, mode, previous, session.frame.get());
        }));
        // The file's time is shown as the locale writes it.
        if (const auto date = texts["AddPrevious_Dlg"].find("2402"); date != texts["AddPrevious_Dlg"].end())
            fileData.insert(date->second);
        dropData(texts, name, fileData);
    }
    // One section, two captions: neither mode may take the other's.
    EXPECT_NE(texts["~AddPrevious"]["title"], texts["~AddBroken"]["title"]);
    {
        DiskFile file;
        file.path = previous;
        file.size = 17;
        PreviousFileDialog broken(PreviousFileMode::Broken, file, session.view->doc().root(), ImportChoice{},
                                  session.frame.get());
        broken.show();
        EXPECT_TRUE(takeModal(
            texts, QStringLiteral("AddBrokenRefusal"), [&] { broken.accept(); }, &broken));
        EXPECT_TRUE(broken.isVisible());
        broken.reject();
    }

    // The site of the focused job, and a rule the dialog refuses that names
    // a proxy the list no longer has.
    session.view->list().setSelection({session.shellJob});
    session.view->list().setFocusedJob(session.shellJob);
    EXPECT_TRUE(takeModal(texts, QStringLiteral("Site"), [&] {
        opener.open(std::to_string(static_cast<uint32_t>(ViewCommand::SiteProperties)));
    }));
    {
        SiteRule rule = newSiteRule(session.app.settings().proxies());
        rule.urlMask = "no address at all";
        rule.proxy = packSiteProxies(7, 7, 7);
        SiteRuleDialog site(rule, {}, session.frame.get());
        site.show();
        add(texts, QStringLiteral("~SiteProxy"), QStringLiteral("lost"), site.httpProxyBox()->currentText());
        EXPECT_TRUE(takeModal(
            texts, QStringLiteral("SiteRefusal"), [&] { site.accept(); }, &site));
        EXPECT_TRUE(site.isVisible());
        site.reject();
    }

    // The address a saved web page came from.
    const fs::path page = dir / "saved.html";
    std::ofstream(page) << "<html><body><a href=\"a.zip\">a</a></body></html>\n";
    EXPECT_TRUE(takeModal(texts, QStringLiteral("EnterUrl"), [&] {
        EXPECT_FALSE(processSavedPage(session.app, *session.view, page, session.frame.get()));
    }));
}

// Every text the program shows that a language file translates, as shown
// with the current language.
TextMap walkEverything(Session& session)
{
    TextMap texts;
    for (const BuiltinString& entry : builtinStringTable())
        add(texts, "String", QString::number(entry.id),
            QString::fromUtf8(builtinString(entry.id).data(), static_cast<qsizetype>(builtinString(entry.id).size())));
    for (const CommandSpec& spec : commandTable()) {
        // Language names are each in their own language.
        if (spec.id == static_cast<uint32_t>(FrameCommand::LanguageEnglish) + 1)
            continue;
        add(texts, "Menu", QString::number(spec.id), commandText(*session.frame, spec.id));
    }
    for (QAction* top : session.frame->menuBar()->actions()) {
        QMenu* menu = top->menu();
        if (menu == nullptr)
            continue;
        std::function<void(QMenu*)> popups = [&](QMenu* each) {
            for (QAction* item : each->actions()) {
                if (item->menu() != nullptr && !item->menu()->actions().isEmpty()) {
                    const uint32_t first = item->menu()->actions().first()->data().toUInt();
                    add(texts, "Menu", QString::number(first) + "p", item->menu()->title());
                    popups(item->menu());
                }
            }
        };
        add(texts, "Menu", QString::number(menu->actions().first()->data().toUInt()) + "p", menu->title());
        popups(menu);
    }

    DialogOpener opener(session.app, *session.view, session.frame.get());
    QTimer closer;
    closer.setInterval(30);
    int boxes = 0;
    // Set while the windows below run whose every text is compared.
    QString everyTextOf;
    QObject::connect(&closer, &QTimer::timeout, [&texts, &boxes, &everyTextOf] {
        QWidget* open = QApplication::activeModalWidget();
        if (open == nullptr)
            return;
        addWindow(texts, open);
        if (qobject_cast<OptionsSheet*>(open) != nullptr) {
            addEveryText(texts, QStringLiteral("Options"), open);
            addChoices(texts, open);
            addItemTips(texts, open);
            addChoosers(texts, open);
        }
        if (auto* sheet = qobject_cast<JobPropertySheet*>(open))
            add(texts, QStringLiteral("~JobSheet"), QStringLiteral("title") + QString::number(++boxes),
                sheet->windowTitle());
        if (!everyTextOf.isEmpty())
            addEveryText(texts, everyTextOf + QString::number(++boxes), open);
        if (auto* box = qobject_cast<QMessageBox*>(open)) {
            const QString key = QString::number(++boxes);
            add(texts, QStringLiteral("~MessageBox"), key, box->text());
            add(texts, QStringLiteral("~MessageBox"), key + QStringLiteral("title"), box->windowTitle());
        }
        if (auto* dialog = qobject_cast<QDialog*>(open))
            dialog->reject();
        else
            open->close();
    });
    closer.start();
    for (ViewCommand command :
         {ViewCommand::Options, ViewCommand::DownloadRules, ViewCommand::Schedule, ViewCommand::BatchDownload,
          ViewCommand::ExportInformation, ViewCommand::RecentlyDownloaded})
        opener.open(std::to_string(static_cast<uint32_t>(command)));
    showAboutDialog(session.frame.get(), &session.app.registry());
    GuiPrompts prompts(session.frame.get());
    prompts.setCategoryRoot([&session] { return session.view->doc().root(); });
    DownloadJob sample;
    sample.url = "http://127.0.0.1/file.zip";
    prompts.askDuplicateUrl(sample, sample);
    prompts.confirmPermanentDelete(true, false);
    prompts.askFind(FindRequest{});
    prompts.chooseCategory("Move To", "Move to:");
    prompts.editCategory("Category", CategoryAnswer{"Music", "/tmp", session.view->doc().root()});
    prompts.askFolderChange();
    {
        // The choice of categories a merge takes jobs from.
        std::unordered_set<const DownloadJob*> ticked;
        prompts.chooseMergeCategories(*session.view->doc().root(), ticked);
    }
    // The shell names the question in the current language.
    prompts.askText(builtinText(kStrTitleRename), "file.zip");
    prompts.selectLinks({{"http://127.0.0.1/a.zip", "a"}});
    bool remember = false;
    prompts.askYesNoRemember(std::string(builtinString(61225)), remember);
    {
        DownloadJob defaults;
        prompts.editDefaults(builtinText(kStrTitleDefaultProperties), defaults);
    }
    prompts.openDialog("1");
    {
        UpdateSetup setup;
        CheckNewDialog packs(session.app, setup, session.desktop, UpdateMode::LanguagePacks, session.frame.get());
        packs.exec();
        CheckNewDialog check(session.app, setup, session.desktop, UpdateMode::VersionCheck, session.frame.get());
        check.exec();
        add(texts, QStringLiteral("~CheckNew"), QStringLiteral("status"), check.statusLabel()->text());
    }

    // The two choosers of the main window.
    everyTextOf = QStringLiteral("Chooser");
    session.frame->commands().trigger(static_cast<uint32_t>(FrameCommand::Columns));
    session.frame->commands().trigger(static_cast<uint32_t>(FrameCommand::Buttons));

    // The messages of a start beside another instance.
    everyTextOf = QStringLiteral("Start");
    askTakeOverFromDaemon(session.frame.get());
    for (StartFailure failure : {StartFailure::DaemonStillRunning, StartFailure::DaemonRefused,
                                 StartFailure::UrlRefused, StartFailure::NoAnswer})
        showStartError(startFailureText(failure, {}), session.frame.get());
    {
        QProgressDialog wait(session.frame.get());
        setUpTakeOverWait(wait);
        addEveryText(texts, QStringLiteral("StartWait"), &wait);
    }

    // The explorer windows and their dialogs.
    for (ExplorerKind kind : {ExplorerKind::SiteExplorer, ExplorerKind::OfflineBrowser}) {
        const QString name = kind == ExplorerKind::SiteExplorer ? QStringLiteral("SiteExplorer")
                                                                : QStringLiteral("OfflineBrowser");
        COfflineFrame* explorer = openExplorerWindow(session.app, *session.view, kind, {}, session.frame.get());
        addEveryText(texts, name, explorer);
        everyTextOf = name;
        for (uint32_t command : {static_cast<uint32_t>(ExplorerCommand::Filter),
                                 static_cast<uint32_t>(ExplorerCommand::AddFavorite),
                                 static_cast<uint32_t>(ExplorerCommand::OrganizeFavorites), kExplorerOptionsCommand})
            explorer->runCommand(command);
        explorer->close();
    }
    QApplication::processEvents();
    closer.stop();
    addFrameTexts(texts, session);
    addShellTexts(texts, session);
    addShellFilters(texts, session);
    addFailureTexts(texts, session);
    addFileDialogs(texts, session);

    DownloadJob job;
    job.url = "http://127.0.0.1/file.zip";
    JobPropertySheet sheet(QString::fromStdString(builtinText(kStrTitleProperties)), job, JobSheetMode::OneJob,
                           JobSheetContext{});
    sheet.show();
    for (QWidget* window : {static_cast<QWidget*>(&sheet)})
        addWindow(texts, window);
    for (int i = 0; i < sheet.startModeBox()->count(); ++i)
        add(texts, QStringLiteral("~JobSheet"), QStringLiteral("start") + QString::number(i),
            sheet.startModeBox()->itemText(i));
    // The alternate URL's box, adding one and editing the one added.
    EXPECT_TRUE(takeModal(
        texts, QStringLiteral("SheetAddMirror"), [&] { sheet.addMirrorButton()->click(); }, &sheet));
    EXPECT_TRUE(sheet.addMirror(QStringLiteral("http://127.0.0.1/mirror.zip")).isEmpty());
    sheet.mirrorList()->setCurrentRow(0);
    EXPECT_TRUE(takeModal(
        texts, QStringLiteral("SheetEditMirror"), [&] { sheet.editMirrorButton()->click(); }, &sheet));
    sheet.reject();

    // Several jobs at once: the folder's hint; a job filed in a category
    // the list no longer holds keeps it by number.
    DownloadJob several;
    JobPropertySheet severalSheet(QString::fromStdString(builtinText(kStrTitleProperties)), several,
                                  JobSheetMode::SeveralJobs, JobSheetContext{});
    add(texts, QStringLiteral("~JobSheet"), QStringLiteral("severalFolder"),
        severalSheet.folderEdit()->placeholderText());
    DownloadJob filed;
    filed.url = "http://127.0.0.1/file.zip";
    filed.categoryId = 9999;
    JobPropertySheet filedSheet(QString::fromStdString(builtinText(kStrTitleProperties)), filed, JobSheetMode::OneJob,
                                JobSheetContext{});
    add(texts, QStringLiteral("~JobSheet"), QStringLiteral("lostCategory"), filedSheet.categoryBox()->currentText());
    return texts;
}

// Texts the window composes at run time (the version, a folder); no file
// translates them as they stand.
const std::set<std::pair<std::string, std::string>> kComposed = {
    {"About_Dlg", "11"},
    {"About_Dlg", "12"},
    {"About_Dlg", "14"},
    // The update dialog's status comes from the string table.
    {"CheckNew_Dlg", "1001"},
    {"ExportInfo_Dlg", "2207"},
    // The job sheet's caption is its opener's, from the string table.
    {"AddFile_Dlg", "Title"},
    // The backup chooser's caption and message come from the database's
    // opening, the message with the database's path.
    {"RestoreDb_Dlg", "Title"},
    {"RestoreDb_Dlg", "10"},
    // The file imported before: its path, time and size, and a caption
    // from the string table for each of the dialog's two modes.
    {"AddPrevious_Dlg", "2401"},
    {"AddPrevious_Dlg", "2402"},
    {"AddPrevious_Dlg", "2403"},
    {"AddPrevious_Dlg", "Title"},
};

bool composed(const std::string& section, const std::string& key)
{
    return kComposed.count({section, key}) != 0;
}

std::string referenceText(const TextMap& texts)
{
    std::ostringstream out;
    out << "; The built-in English texts by section and id: the template for a\n"
           "; translation. Written by the window tests (FETCHORA_WRITE_ENGLISH=1).\n"
           "[Info]\nLanguage=English\nVersion=1.65\nCodepage=1252\n";
    for (const auto& [section, keys] : texts) {
        if (shownOnly(section))
            continue;
        // A window without a section name: no lookup could find these keys.
        if (section.empty()) {
            ADD_FAILURE() << "controls with ids in a window without a section name, first " << keys.begin()->first
                          << "=" << keys.begin()->second;
            continue;
        }
        out << "\n[" << section << "]\n";
        for (const auto& [key, text] : keys) {
            if (composed(section, key))
                continue;
            QString value = QString::fromStdString(text);
            value.replace(QStringLiteral("\r\n"), QStringLiteral("\\r\\n")).replace(u'\n', QStringLiteral("\\n"));
            const bool quoted = value.startsWith(u' ') || value.endsWith(u' ');
            out << key << "=" << (quoted ? "\"" + value.toStdString() + "\"" : value.toStdString()) << "\n";
        }
    }
    return out.str();
}

// The section/key pairs of a file's text, without "Info".
std::set<std::string> keysOf(const std::string& text)
{
    std::set<std::string> keys;
    std::istringstream in(text);
    std::string section;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
        } else if (section != "Info" && line.find('=') != std::string::npos) {
            keys.insert("[" + section + "] " + line.substr(0, line.find('=')));
        }
    }
    return keys;
}

// Texts that are written the same in German, each with its reason.
const std::map<std::string, std::string> kSameInGerman = {
    {"Fetchora", "the program's name"},
    {"OK", "German buttons say OK too"},
    {"&Name:", "the German word is the same"},
    {"&Pause", "the German word is the same"},
    {"Pause", "the German word is the same"},
    {"&HTML", "the name of a file format"},
    {"&URL", "the technical term is used in German as it is"},
    {"&URL:", "the technical term is used in German as it is"},
    {"Proxy", "the technical term is used in German as it is"},
    {"Name", "the German word is the same"},
    {"Status", "the German word is the same"},
    {"Information", "the German word is the same"},
    {"URL", "the technical term is used in German as it is"},
    {"Name,URL", "the German words are the same"},
    {"Filter", "the German word is the same"},
    {"&Filter...", "the German word is the same"},
    {"Downloads", "the word is used in German as it is"},
    {"Server", "the technical term is used in German as it is"},
    {"Site", "the technical term is used in German as it is"},
    {"Multi-Proxy", "the technical term is used in German as it is"},
    {"HTTP <Get>", "the name of a protocol's command"},
    {"HTTP <Connect>", "the name of a protocol's command"},
    // A failure's cause as a server answered: the protocol's name, the code
    // and the server's own words for it, which are shown as they came.
    {"HTTP %1 %2", "the protocol's name, the server's code and its own words"},
    {"SOCKS5", "the name of a protocol"},
    {"SOCKS4", "the name of a protocol"},
    {"T1", "the name of a line type"},
    {"LAN 10M", "the name of a line type"},
};

// A user agent is sent as it stands, in every language; a colour button's
// tip is the colour's code.
bool untranslatable(const std::string& section, const std::string& text)
{
    const bool colour = text.size() == 7 && text[0] == '#'
        && text.find_first_not_of("0123456789abcdef", 1) == std::string::npos;
    return colour || (section == "~Choices" && text.rfind("Mozilla/", 0) == 0);
}

TEST(UiLanguage, TheGermanFileLeavesNoTextInEnglishAndTheReferenceIsCurrent)
{
    TempDir dir;
    Session session(dir, {FETCHORA_LANGUAGE_DIR});
    ASSERT_EQ(session.languages.activeIndex(), 0);
    const TextMap english = walkEverything(session);

    const std::string reference = referenceText(english);
    const fs::path referenceFile = fs::path(FETCHORA_LANGUAGE_DIR) / "kxeng.ini";
    if (qEnvironmentVariableIsSet("FETCHORA_WRITE_ENGLISH"))
        write(referenceFile, reference);
    std::ifstream shipped(referenceFile, std::ios::binary);
    const std::string stored((std::istreambuf_iterator<char>(shipped)), std::istreambuf_iterator<char>());
    // The ids, not the texts: a text may name this machine's Qt version.
    EXPECT_EQ(keysOf(stored), keysOf(reference)) << "the English reference is out of date: run this test with "
                                                    "FETCHORA_WRITE_ENGLISH=1";

    QAction* entry = session.languageEntry(QStringLiteral("kxdeu.ini"));
    ASSERT_NE(entry, nullptr);
    entry->trigger();
    ASSERT_EQ(session.languages.activeFileName(), "kxdeu.ini");
    const TextMap german = walkEverything(session);

    std::vector<std::string> leftovers;
    for (const auto& [section, keys] : english) {
        for (const auto& [key, text] : keys) {
            const auto shownSection = german.find(section);
            const std::string shown = shownSection == german.end() || shownSection->second.count(key) == 0
                ? text
                : shownSection->second.at(key);
            if (shown == text && kSameInGerman.count(text) == 0 && !composed(section, key)
                && !untranslatable(section, text))
                leftovers.push_back("[" + section + "] " + key + "=" + text);
        }
    }
    std::string list;
    for (const std::string& each : leftovers)
        list += each + "\n";
    EXPECT_TRUE(leftovers.empty()) << leftovers.size() << " texts stayed English:\n" << list;

    // Back to English: every text is the English one again.
    session.frame->commands().trigger(static_cast<uint32_t>(FrameCommand::LanguageEnglish));
    ASSERT_EQ(session.languages.activeIndex(), 0);
    const TextMap again = walkEverything(session);
    std::vector<std::string> changed;
    for (const auto& [section, keys] : english)
        for (const auto& [key, text] : keys)
            if (!composed(section, key)
                && (again.count(section) == 0 || again.at(section).count(key) == 0
                    || again.at(section).at(key) != text))
                changed.push_back("[" + section + "] " + key + "=" + text);
    EXPECT_TRUE(changed.empty()) << changed.size() << " texts did not come back in English, first: "
                                 << (changed.empty() ? std::string() : changed.front());
}

// What assistive technology reads and what hovering shows: the accessible
// name and tool tip of each widget and action of root's own window (not of
// the dialogs above it), keyed by the object, which a switch keeps.
std::map<std::string, std::string> namesAndTips(QWidget* root, const std::string& where)
{
    std::map<std::string, std::string> found;
    for (QObject* object : root->findChildren<QObject*>()) {
        bool own = true;
        for (QObject* up = object->parent(); up != nullptr && up != root && own; up = up->parent())
            own = !(up->isWidgetType() && static_cast<QWidget*>(up)->isWindow());
        // A language is named in its own words; a tab bar's scroll buttons
        // are Qt's own, named by Qt's translation.
        if (!own || object->objectName().endsWith(QLatin1String(".ini"))
            || qobject_cast<QTabBar*>(object->parent()) != nullptr)
            continue;
        std::ostringstream key;
        key << where << "/" << object->metaObject()->className() << "@" << static_cast<const void*>(object);
        QString name;
        QString tip;
        if (auto* action = qobject_cast<QAction*>(object)) {
            // An action without a tip of its own shows its text.
            if (!action->isSeparator() && !action->text().isEmpty())
                tip = action->toolTip();
        } else if (auto* widget = qobject_cast<QWidget*>(object)) {
            name = widget->accessibleName();
            tip = widget->toolTip();
        }
        if (!name.isEmpty())
            found[key.str() + " name"] = name.toStdString();
        if (!tip.isEmpty())
            found[key.str() + " tip"] = tip.toStdString();
    }
    return found;
}

TEST(UiLanguage, AccessibleNamesAndToolTipsFollowASwitchBothWays)
{
    TempDir dir;
    Session session(dir, {FETCHORA_LANGUAGE_DIR});
    ASSERT_EQ(session.languages.activeIndex(), 0);
    session.frame->show();
    auto* toolbar = session.frame->findChild<QToolBar*>(QStringLiteral("toolbar"));
    ASSERT_NE(toolbar, nullptr);
    // Dialogs open while the language changes: the options (names after
    // their labels), the schedule without a job to take (its tip), and the
    // download rules (the value's tip).
    OptionsSheet options(session.app, session.frame.get());
    addStandardPages(options, {});
    options.show();
    ScheduleDialog schedule(session.app.settings(), 0, 0, 0, session.frame.get());
    schedule.show();
    DownloadRulesDialog rules(session.app.settings().downloadRules(), session.view->doc().root(), session.frame.get());
    rules.show();
    const auto everything = [&] {
        std::map<std::string, std::string> all = namesAndTips(session.frame.get(), "frame");
        all.merge(namesAndTips(&options, "options"));
        all.merge(namesAndTips(&schedule, "schedule"));
        all.merge(namesAndTips(&rules, "rules"));
        return all;
    };
    const auto count = [](const std::map<std::string, std::string>& texts, const std::string& prefix,
                          const std::string& kind) {
        return std::count_if(texts.begin(), texts.end(), [&](const auto& each) {
            return each.first.rfind(prefix, 0) == 0 && each.first.ends_with(kind);
        });
    };
    const std::map<std::string, std::string> english = everything();
    // Enough of each kind that a switch leaving them alone shows.
    EXPECT_GE(count(english, "options", " name"), 40);
    EXPECT_GE(count(english, "frame", " tip"), 21);
    EXPECT_EQ(count(english, "schedule", " tip"), 1);
    EXPECT_GE(count(english, "rules", " tip"), 1);
    QWidget* firstNamed = nullptr;
    for (QWidget* widget : options.findChildren<QWidget*>())
        if (firstNamed == nullptr && !widget->accessibleName().isEmpty())
            firstNamed = widget;
    ASSERT_NE(firstNamed, nullptr);
    const QString firstName = firstNamed->accessibleName();
    EXPECT_FALSE(firstName.contains(u'&') || firstName.endsWith(u':')) << firstName.toStdString();

    session.languageEntry(QStringLiteral("kxdeu.ini"))->trigger();
    ASSERT_EQ(session.languages.activeFileName(), "kxdeu.ini");
    const std::map<std::string, std::string> german = everything();
    std::string leftovers;
    for (const auto& [key, text] : english) {
        const auto shown = german.find(key);
        // Menus a switch builds again are new objects; their texts are walked
        // elsewhere.
        if (shown != german.end() && shown->second == text && kSameInGerman.count(text) == 0 && !untranslatable("", text))
            leftovers += key + "=" + text + "\n";
    }
    EXPECT_TRUE(leftovers.empty()) << "stayed English:\n" << leftovers;
    // A name is its label as shown, without the accelerator and colon.
    EXPECT_NE(firstNamed->accessibleName(), firstName);
    EXPECT_FALSE(firstNamed->accessibleName().contains(u'&'));
    EXPECT_EQ(schedule.jobsBox().toolTip(),
              QString::fromUtf8("W\xC3\xA4hlen Sie zuerst unfertige Auftr\xC3\xA4ge der Downloadliste aus."));

    session.frame->commands().trigger(static_cast<uint32_t>(FrameCommand::LanguageEnglish));
    ASSERT_EQ(session.languages.activeIndex(), 0);
    const std::map<std::string, std::string> again = everything();
    std::string changed;
    std::size_t kept = 0;
    for (const auto& [key, text] : english) {
        const auto shown = again.find(key);
        if (shown == again.end())
            continue;
        ++kept;
        if (shown->second != text)
            changed += key + "=" + shown->second + " (was " + text + ")\n";
    }
    EXPECT_TRUE(changed.empty()) << changed;
    EXPECT_GE(kept, english.size() * 3 / 4);
    rules.close();
    schedule.close();
    options.close();
}

// The refusal to move or delete a special category stands behind commands
// that are never enabled for one (the tree takes only dragged jobs, and
// neither command has a key): no way the window offers brings it up.
TEST(UiLanguage, NoCommandReachesTheSpecialCategoryRefusal)
{
    TempDir dir;
    Session session(dir, {FETCHORA_LANGUAGE_DIR});
    session.languageEntry(QStringLiteral("kxdeu.ini"))->trigger();
    MainView& view = *session.view;
    CZoviradDoc& doc = view.doc();
    session.prompts.asked.clear();
    session.prompts.yesNo = {true};
    for (DownloadJob* special : {doc.root(), doc.downloading(), doc.downloaded(), doc.deleted()}) {
        ASSERT_NE(special, nullptr);
        view.list().openCategory(special);
        for (ViewCommand command : {ViewCommand::MoveCategory, ViewCommand::DeleteCategory}) {
            EXPECT_FALSE(view.isEnabled(command)) << special->name;
            EXPECT_FALSE(view.run(command)) << special->name;
        }
        EXPECT_TRUE(doc.tree().Contains(special));
    }
    EXPECT_TRUE(session.prompts.asked.empty()) << session.prompts.asked.front().text;
    // An ordinary category offers both.
    DownloadJob* ordinary = doc.downloaded()->firstChild();
    ASSERT_NE(ordinary, nullptr);
    ASSERT_FALSE(ordinary->IsSpecialCategory());
    view.list().openCategory(ordinary);
    EXPECT_TRUE(view.isEnabled(ViewCommand::MoveCategory));
    EXPECT_TRUE(view.isEnabled(ViewCommand::DeleteCategory));
    session.prompts.yesNo.clear();
}

// The schedule's counts: the German file's texts for its two controls name
// no count, so a count shown must not take them ("no job starts" while
// three do), and a switch keeps the count.
TEST(UiLanguage, TheScheduleKeepsItsCountsThroughASwitch)
{
    TempDir dir;
    Session session(dir, {FETCHORA_LANGUAGE_DIR});
    ScheduleDialog schedule(session.app.settings(), 2, 0, 3, session.frame.get());
    schedule.show();
    const auto countLine = [&schedule] {
        QStringList lines;
        for (QLabel* label : schedule.findChildren<QLabel*>())
            if (label->text().contains(u'3'))
                lines << label->text();
        return lines;
    };
    EXPECT_EQ(schedule.jobsBox().text(), "Start the 2 selected job(s) b&y this schedule");
    EXPECT_EQ(countLine(), QStringList{"3 job(s) of the download list start by schedule."});
    session.languageEntry(QStringLiteral("kxdeu.ini"))->trigger();
    EXPECT_EQ(schedule.jobsBox().text(), QString::fromUtf8("Die gew\xC3\xA4hlten Auftr\xC3\xA4ge (2) &nach diesem Zeitplan starten"));
    EXPECT_EQ(countLine(), QStringList{QString::fromUtf8("Auftr\xC3\xA4ge der Downloadliste, die nach Zeitplan starten: 3")});
    // Opened in German, the same.
    ScheduleDialog later(session.app.settings(), 2, 0, 3, session.frame.get());
    later.show();
    EXPECT_EQ(later.jobsBox().text(), schedule.jobsBox().text());
    session.frame->commands().trigger(static_cast<uint32_t>(FrameCommand::LanguageEnglish));
    EXPECT_EQ(schedule.jobsBox().text(), "Start the 2 selected job(s) b&y this schedule");
    EXPECT_EQ(countLine(), QStringList{"3 job(s) of the download list start by schedule."});
}

// Qt's own dialogs take their buttons from Qt's German translation
// (qt6-translations-l10n, which scripts/install-deps.sh installs); a message
// box from the common section of the file.
TEST(UiLanguage, QtsOwnDialogsShowGermanButtonsWithTheGermanFile)
{
    ASSERT_TRUE(QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_de.qm")))
        << "Qt's German translation is missing: install qt6-translations-l10n";
    TempDir dir;
    Session session(dir, {FETCHORA_LANGUAGE_DIR});
    session.languageEntry(QStringLiteral("kxdeu.ini"))->trigger();
    ASSERT_EQ(session.languages.activeFileName(), "kxdeu.ini");
    GuiPrompts prompts(session.frame.get());
    const auto buttonsOf = [](const std::function<void()>& open) {
        QStringList texts;
        QTimer reader;
        reader.setInterval(20);
        reader.callOnTimeout([&texts] {
            auto* top = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (top == nullptr)
                return;
            for (QAbstractButton* button : top->findChildren<QAbstractButton*>())
                if (qobject_cast<QPushButton*>(button) != nullptr)
                    texts << button->text().remove(u'&');
            top->reject();
        });
        reader.start();
        open();
        return texts;
    };
    const QStringList chooser = buttonsOf([&] { prompts.chooseOpenFile("Import", "Text (*.txt)|*.txt||"); });
    EXPECT_TRUE(chooser.contains(QString::fromUtf8("\xC3\x96"
                                                   "ffnen")))
        << chooser.join(u',').toStdString();
    EXPECT_TRUE(chooser.contains(QStringLiteral("Abbrechen"))) << chooser.join(u',').toStdString();
    const QStringList box = buttonsOf([&] { prompts.askOkCancel("?", MessageIcon::Warning); });
    EXPECT_TRUE(box.contains(QStringLiteral("Abbrechen"))) << box.join(u',').toStdString();
    const QStringList question = buttonsOf([&] { prompts.askYesNo("?", MessageIcon::Question); });
    EXPECT_TRUE(question.contains(QStringLiteral("Ja")) && question.contains(QStringLiteral("Nein")))
        << question.join(u',').toStdString();
}

// A key before the first section or under a blank section name is read by
// no lookup: the shipped files hold none (a translator would lose it).
TEST(UiLanguage, TheShippedFilesKeepEveryKeyInANamedSection)
{
    int files = 0;
    for (const fs::directory_entry& each : fs::directory_iterator(FETCHORA_LANGUAGE_DIR)) {
        if (each.path().extension() != ".ini")
            continue;
        ++files;
        std::ifstream in(each.path(), std::ios::binary);
        std::string section;
        bool inSection = false;
        int number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty() || line[0] == ';')
                continue;
            if (line[0] == '[') {
                section = line.substr(1, line.find(']') - 1);
                inSection = section.find_first_not_of(" \t") != std::string::npos;
                EXPECT_TRUE(inSection) << each.path().filename() << ":" << number << ": a section without a name";
                continue;
            }
            EXPECT_TRUE(inSection) << each.path().filename() << ":" << number << ": " << line
                                   << " is in no named section";
        }
    }
    EXPECT_GE(files, 2);
}

// ---- the failures the lower layers put into words -------------------------------------

// What the window shows of the connection layers', the list files', the
// database's and the platform's failures: the site explorer's log of an
// untrusted certificate and of a refused port, the messages of an import
// from a damaged list and of a save the database's place refuses, and the
// start error of a profile every user may write.
std::vector<std::string> lowerLayerTexts(const TempDir& dir, const fs::path& languageFolder)
{
    std::vector<std::string> shown;
    const test::NginxPeer nginx;
    {
        Session session(dir, {languageFolder.string()});
        QAction* entry = session.languageEntry(QStringLiteral("kxdeu.ini"));
        EXPECT_NE(entry, nullptr);
        if (entry == nullptr)
            return shown;
        entry->trigger();
        // A refused port fails at once, without retries.
        for (OptionId id : {OptionId::ExploreRetry, OptionId::RetryCount, OptionId::AlwaysRetry})
            session.app.settings().SetOption(id, 0);
        LoggedLines log;
        {
            ExplorerSession explorer(session.app, log);
            for (const std::string& url :
                 {"https://127.0.0.1:" + std::to_string(nginx.httpsPort()) + "/files/small.txt",
                  "http://127.0.0.1:" + std::to_string(test::refusedPort()) + "/r.html"}) {
                EXPECT_NE(explorer.browse(url), nullptr) << url;
                EXPECT_TRUE(session.app.loop().runUntil([&] { return !explorer.busy(); }, std::chrono::seconds(30)))
                    << url;
            }
        }
        shown.insert(shown.end(), log.lines.begin(), log.lines.end());

        ViewPrompts& prompts = session.prompts;
        prompts.asked.clear();
        write(dir / "huge.lst", "http://127.0.0.1/a.bin\n");
        fs::resize_file(dir / "huge.lst", 65u * 1024 * 1024);
        prompts.openFile = dir / "huge.lst";
        session.view->run(ViewCommand::ImportList);
        // A folder where the database is renamed to: no save can replace it.
        const fs::path database = session.app.defaultDatabasePath();
        fs::remove(database);
        fs::create_directories(database / "inside");
        session.view->run(ViewCommand::SaveDatabase);
        for (const ViewPrompts::Asked& asked : prompts.asked)
            if (asked.kind == "message")
                shown.push_back(asked.text);
        fs::remove_all(database);

        // Another start while the language is active finds a profile open to everyone.
        fs::create_directories(dir / "open");
        fs::permissions(dir / "open", fs::perms::all);
        Application again(mapEnvironment(
            {{"FETCHORA_HOME", (dir / "open").string()}, {"TMPDIR", dir.path().string()}, {"HOME", dir.path().string()}}));
        std::string error;
        EXPECT_FALSE(again.start(error));
        shown.push_back(error);
    }
    return shown;
}

// The shown texts that hold the English of a lower layer's text whose German
// differs, each with the id it holds.
std::vector<std::string> englishOfLowerLayers(const std::vector<std::string>& shown, const std::string& germanFile)
{
    std::ifstream in(fs::path(FETCHORA_LANGUAGE_DIR) / "kxeng.ini", std::ios::binary);
    const LanguageFile english
        = LanguageFile::parse(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    const LanguageFile german = LanguageFile::parse(germanFile);
    std::vector<std::string> leftovers;
    // The blocks of ids: 41301-41499 and 41601-41799.
    for (uint32_t id = 41301; id < 41800; ++id) {
        if (id >= 41500 && id < 41601)
            continue;
        const auto text = english.string(id);
        if (!text || german.string(id) == text)
            continue;
        // The fixed words between the placeholders, each of which must show.
        std::vector<std::string> pieces;
        std::string piece;
        for (size_t i = 0; i < text->size(); ++i) {
            if ((*text)[i] == '%' && i + 1 < text->size() && (*text)[i + 1] >= '1' && (*text)[i + 1] <= '9') {
                pieces.push_back(piece);
                piece.clear();
                ++i;
            } else {
                piece += (*text)[i];
            }
        }
        pieces.push_back(piece);
        size_t letters = 0;
        for (const std::string& each : pieces)
            letters += each.size();
        if (letters < 12)
            continue;
        for (const std::string& line : shown) {
            size_t at = 0;
            bool all = true;
            for (const std::string& each : pieces) {
                at = line.find(each, at);
                if (at == std::string::npos) {
                    all = false;
                    break;
                }
                at += each.size();
            }
            if (all)
                leftovers.push_back(std::to_string(id) + ": " + line);
        }
    }
    return leftovers;
}

std::string shippedGerman()
{
    std::ifstream in(fs::path(FETCHORA_LANGUAGE_DIR) / "kxdeu.ini", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(UiLanguage, TheLowerLayersFailuresShowInGermanWithTheGermanFile)
{
    TempDir dir;
    const std::vector<std::string> shown = lowerLayerTexts(dir, FETCHORA_LANGUAGE_DIR);
    std::string all;
    for (const std::string& line : shown)
        all += line + "\n";
    // Each failure was reached, in German.
    for (const char* words : {"dem Zertifikat von 127.0.0.1 wird nicht vertraut", "huge.lst: größer als 67108864 Bytes",
                              "Default.kxd lässt sich nicht schreiben: ", "darf von jedem Benutzer beschrieben werden",
                              "Verbindung abgelehnt", "Herunterladen fehlgeschlagen: http://127.0.0.1:"})
        EXPECT_NE(all.find(words), std::string::npos) << words << " not among:\n" << all;
    const std::vector<std::string> leftovers = englishOfLowerLayers(shown, shippedGerman());
    std::string list;
    for (const std::string& each : leftovers)
        list += each + "\n";
    EXPECT_TRUE(leftovers.empty()) << leftovers.size() << " texts stayed English:\n" << list;
}

// The same walk finds the texts a German file lacks.
TEST(UiLanguage, ALowerLayerTextTheGermanFileLacksIsFound)
{
    TempDir dir;
    std::istringstream shipped(shippedGerman());
    std::string german;
    for (std::string line; std::getline(shipped, line);) {
        const std::string key = line.substr(0, line.find('='));
        if (key != "41323" && key != "41451" && key != "41471" && key != "41439")
            german += line + "\n";
    }
    write(dir / "language" / "kxdeu.ini", german);
    const std::vector<std::string> leftovers = englishOfLowerLayers(lowerLayerTexts(dir, dir / "language"), german);
    std::string list;
    for (const std::string& each : leftovers)
        list += each + "\n";
    for (const char* id : {"41323: ", "41451: ", "41471: ", "41439: "})
        EXPECT_NE(list.find(id), std::string::npos) << id << " not listed:\n" << list;
}

}  // namespace
}  // namespace fetchora
