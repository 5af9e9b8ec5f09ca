// The options sheet against a real application in a temporary profile: every
// page's controls changed, OK pressed, and the settings read back in memory
// and after a reload of the saved file.
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "config/app_settings.h"
#include "gui/options_pages.h"
#include "gui/options_sheet.h"
#include "shell/application.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using O = OptionId;
using test::TempDir;

class Profile {
public:
    Profile()
        : m_environment(mapEnvironment({{"FETCHORA_HOME", (m_dir / "profile").string()},
                                        {"TMPDIR", m_dir.path().string()},
                                        {"HOME", m_dir.path().string()},
                                        {"LANG", "en_US.UTF-8"}}))
    {
    }
    std::unique_ptr<Application> start() const
    {
        auto app = std::make_unique<Application>(m_environment);
        std::string error;
        EXPECT_TRUE(app->start(error)) << error;
        return app;
    }
    std::string settingsFile() const { return test::readFile(m_dir / "profile" / std::string(kSettingsFileName)); }

private:
    TempDir m_dir;
    Environment m_environment;
};

OptionsPage* pageNamed(const OptionsSheet& sheet, const std::string& section)
{
    for (int i = 0; i < sheet.pageCount(); ++i) {
        if (section == sheet.page(i)->sectionName())
            return sheet.page(i);
    }
    return nullptr;
}

int pageIndex(const OptionsSheet& sheet, const std::string& section)
{
    for (int i = 0; i < sheet.pageCount(); ++i) {
        if (section == sheet.page(i)->sectionName())
            return i;
    }
    return -1;
}

QObject* controlIn(QWidget* page, int id)
{
    for (QObject* child : page->findChildren<QObject*>()) {
        if (controlId(child) == id)
            return child;
    }
    return nullptr;
}

QTreeWidgetItem* treeItem(QWidget* page, int id)
{
    auto* tree = page->findChild<QTreeWidget*>();
    if (tree == nullptr)
        return nullptr;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
        if ((*it)->data(0, kItemControlIdRole).toInt() == id)
            return *it;
    }
    return nullptr;
}

// What a user does to one control: tick or untick a box (or a tree item),
// pick a choice or a colour, type a text, set a time.
struct Color {
    int32_t ref;
};
struct TreeTick {
    bool on;
};
using Action = std::variant<bool, int, QString, Color, QTime, TreeTick>;

struct Edit {
    int id;
    Action action;
};

void perform(QWidget* page, const Edit& edit)
{
    SCOPED_TRACE(testing::Message() << "control " << edit.id);
    if (const auto* tick = std::get_if<TreeTick>(&edit.action)) {
        QTreeWidgetItem* item = treeItem(page, edit.id);
        ASSERT_NE(item, nullptr);
        item->setCheckState(0, tick->on ? Qt::Checked : Qt::Unchecked);
        return;
    }
    QObject* control = controlIn(page, edit.id);
    ASSERT_NE(control, nullptr);
    if (const auto* on = std::get_if<bool>(&edit.action)) {
        auto* box = qobject_cast<QCheckBox*>(control);
        ASSERT_NE(box, nullptr);
        box->setChecked(*on);
    } else if (const auto* index = std::get_if<int>(&edit.action)) {
        auto* box = qobject_cast<QComboBox*>(control);
        ASSERT_NE(box, nullptr);
        box->setCurrentIndex(*index);
    } else if (const auto* text = std::get_if<QString>(&edit.action)) {
        auto* line = qobject_cast<QLineEdit*>(control);
        ASSERT_NE(line, nullptr);
        line->setText(*text);
    } else if (const auto* color = std::get_if<Color>(&edit.action)) {
        auto* button = dynamic_cast<ColorButton*>(control);
        ASSERT_NE(button, nullptr);
        button->setColorRef(color->ref);
    } else if (const auto* time = std::get_if<QTime>(&edit.action)) {
        auto* timeEdit = qobject_cast<QTimeEdit*>(control);
        ASSERT_NE(timeEdit, nullptr);
        timeEdit->setTime(*time);
    }
}

// One value read back from the settings, as text so that numbers and texts
// share a table.
struct Expect {
    std::string what;
    std::function<std::string(const AppSettings&)> read;
    std::string expected;
    bool changes = true;  // false: a value the sheet must keep as it was
};

Expect kept(Expect expect)
{
    expect.changes = false;
    return expect;
}

Expect option(O id, int64_t expected)
{
    return {"option " + std::to_string(static_cast<int>(id)),
            [id](const AppSettings& s) { return std::to_string(s.GetOption(id)); },
            std::to_string(static_cast<int32_t>(expected))};
}

Expect text(O id, std::string expected)
{
    return {"text option " + std::to_string(static_cast<int>(id)),
            [id](const AppSettings& s) { return s.GetOptionText(id); }, std::move(expected)};
}

Expect value(std::string what, std::function<int32_t(const AppSettings&)> read, int32_t expected)
{
    return {std::move(what), [read](const AppSettings& s) { return std::to_string(read(s)); },
            std::to_string(expected)};
}

std::string localTime(int32_t secs)
{
    return QDateTime::fromSecsSinceEpoch(secs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

Expect scheduleTime(O id, std::string expected)
{
    return {"schedule time " + std::to_string(static_cast<int>(id)),
            [id](const AppSettings& s) { return localTime(s.GetOption(id)); }, std::move(expected)};
}

struct PageCase {
    std::string section;
    std::function<void(AppSettings&)> prepare;  // stored values before the sheet opens
    std::vector<Edit> edits;
    std::vector<Expect> expects;
};

// The default start time's date at 06:30 local time.
std::string startAtHalfPastSix()
{
    const QDate date = QDateTime::fromSecsSinceEpoch(915123600).date();
    return QDateTime(date, QTime(6, 30)).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

std::vector<PageCase> pageCases()
{
    auto s = [](const char* text) { return Action(QString::fromUtf8(text)); };
    return {
        {"General_PPG",
         {},
         {{1, true},
          {3, true},
          {2, false},
          {5, s("25")},
          {4, false},
          {6, false},
          {7, true},
          {8, false},
          {9, false},
          {10, true},
          {11, true},
          {12, s("64")},
          {14, s("512")},
          {13, false}},
         {option(O::StartHidden, 0x1), option(O::SkipNonResumable, 0x2), option(O::StopOnError, 0x4),
          option(O::AutoSaveTime, 25), option(O::AutoSave, 0), option(O::FileTimeFromServer, 0),
          option(O::StartDownloadingAtLaunch, 0x200), option(O::UnfinishedExtension, 0), option(O::DailyBackup, 0),
          option(O::SeparateLogFile, 0x20000), option(O::MoveLogWithFile, 0x1000000), option(O::BlockSize, 65536),
          option(O::BufferSize, 512), option(O::WriteEveryBufferSize, 0)}},
        {"Conn_PPG",
         {},
         {{1, s("45")},
          {2, s("300")},
          {3, s("12")},
          {4, s("6")},
          {6, false},
          {5, s("250")},
          {7, false},
          {8, 10},
          {9, s("500000")},
          {10, s("300000")},
          {11, s("20000")}},
         {option(O::ConnectTimeout, 45), option(O::DataTimeout, 300), option(O::RetryDelay, 12), option(O::SimJobs, 6),
          option(O::AlwaysRetry, 0), option(O::RetryCount, 250), option(O::StopAfterFruitlessTries, 0),
          value("connection type", &AppSettings::connType, 10), value("bandwidth", &AppSettings::bandWidth, 500000),
          value("speed limit", &AppSettings::speedLimit, 300000),
          value("keep", &AppSettings::keepPerConnection, 20000)}},
        {"Protocol_PPG",
         {},
         {{1, false},
          {2, s(".txt;.nfo")},
          {3, s("ftp-user@example.org")},
          {4, false},
          {5, true},
          {6, 7},
          {7, s("TestAgent/1.0")}},
         {option(O::SendCookies, 0), text(O::AsciiModeTypes, ".txt;.nfo"),
          text(O::AnonymousEMail, "ftp-user@example.org"), option(O::ReuseFtpConnections, 0),
          option(O::NoReferer, 0x100), option(O::UserAgentChoice, 7), text(O::UserAgentText, "TestAgent/1.0")}},
        {"Monitor_PPG",
         // The "browser catching disabled" bit has no box and must survive.
         [](AppSettings& settings) { settings.SetOption(O::MonitorFlags, 0x15F | 0x800); },
         {{1, false}, {3, true}, {7, true}, {9, false}, {10, true}, {11, s(".ISO;.ZIP")}},
         {option(O::MonitorFlags, 0xAFE), text(O::MonitorType, ".ISO;.ZIP")}},
        {"Color_PPG",
         {},
         {{1, Color{0x010203}},
          {2, Color{0x040506}},
          {3, Color{0x070809}},
          {4, Color{0x0A0B0C}},
          {5, Color{0x0D0E0F}},
          {6, Color{0x101112}},
          {7, Color{0x131415}},
          {8, Color{0x161718}},
          {9, s("250")},
          {10, Color{0x191A1B}},
          {11, Color{0x1C1D1E}},
          {12, false},
          {13, s("16")},
          {14, Color{0x1F2021}}},
         {option(O::ColorState, 0x010203), option(O::ColorStateBk, 0x040506), option(O::ColorError, 0x070809),
          option(O::ColorErrorBk, 0x0A0B0C), option(O::ColorCommand, 0x0D0E0F), option(O::ColorCommandBk, 0x101112),
          option(O::ColorServer, 0x131415), option(O::ColorServerBk, 0x161718), option(O::GraphScale, 250),
          option(O::GraphFore, 0x191A1B), option(O::GraphBack, 0x1C1D1E), option(O::DropZoneGraph, 0),
          option(O::BlockMapCellSize, 16), option(O::BlockBack, 0x1F2021)}},
        {"FileMan_PPG",
         {},
         {{1, 2},
          {2, 2},
          {3, true},
          {4, s("/usr/bin/scanner")},
          {6, s("--quiet")},
          {7, s(".ZIP;.EXE")},
          {8, true},
          {9, s(".MP3")},
          {10, true},
          {11, s("7")}},
         {option(O::MoveDownloaded, 2), option(O::ExistingFileAction, 2), option(O::VirusScan, 0x80000000LL),
          text(O::VirusScanner, "/usr/bin/scanner"), text(O::VirusScannerArgs, "--quiet"),
          text(O::VirusScanTypes, ".ZIP;.EXE"), option(O::OpenWhenDone, 0x80000), text(O::OpenTypes, ".MP3"),
          option(O::PortableStorage, 0x10000), option(O::PortableDeviceIndex, 7),
          // The other bits of the word stay: the delete dialog's remembered box.
          kept(option(O::DeleteUnfinishedFile, 0x10))}},
        {"DialUp_PPG",
         [](AppSettings& settings) {
             settings.SetOptionText(O::DialUpEntry, "Provider");
             settings.SetOption(O::DialUpRetry, 3);
         },
         // Even a control changed behind the user's back is not written.
         {{1, true}, {3, s("Other provider")}, {6, s("50")}},
         {kept(option(O::Redial, 0)), kept(text(O::DialUpEntry, "Provider")), kept(option(O::DialUpRetry, 3))}},
        {"Sound_PPG",
         {},
         {{1, true},
          {3, s("/sounds/added.wav")},
          {6, true},
          {7, s("")},
          {10, true},
          {11, s("/sounds/failed.wav")},
          {14, true},
          {15, s("/sounds/all done.wav")}},
         {option(O::PlaySounds, 0x80), text(O::SoundAdded, "/sounds/added.wav"), option(O::PlayDoneSound, 0x100000),
          text(O::SoundDone, ""), option(O::PlayFailedSound, 0x200000), text(O::SoundFailed, "/sounds/failed.wav"),
          option(O::PlayAllDoneSound, 0x400000), text(O::SoundAllDone, "/sounds/all done.wav")}},
        {"Other_PPG",
         {},
         {{3, TreeTick{false}},
          {7, TreeTick{false}},
          {9, TreeTick{true}},
          {11, TreeTick{true}},
          {12, TreeTick{true}},
          {14, TreeTick{true}},
          {15, TreeTick{true}},
          {16, TreeTick{false}},
          {17, TreeTick{false}},
          {21, TreeTick{true}},
          {24, TreeTick{true}},
          {27, TreeTick{true}}},
         {option(O::ConfirmExitToolWindows, 0), kept(option(O::ConfirmExitDownloading, 0x1000)),
          option(O::ConfirmDrop, 0), option(O::SortSubCategories, 0x40000), option(O::CloseBoxExits, 1),
          option(O::SizesInBytes, 0x2000), option(O::CloseWhenDone, 0x8), option(O::RemoveWhenComplete, 0x20),
          option(O::MoveToBottomAfterRetries, 0), option(O::AllocateDiskSpace, 0), option(O::DoubleClickRunning, 2),
          option(O::DoubleClickDownloaded, 1), option(O::DoubleClickFailed, 0)}},
        {"Schedule_PPG",
         {},
         {{2, false}, {7, false}, {9, false}, {8, QTime(6, 30)}},
         {option(O::ScheduleFlags, 0xBD), scheduleTime(O::ScheduleStartTime, startAtHalfPastSix()),
          // Untouched, it keeps its seconds and its date exactly.
          kept(option(O::ScheduleStopTime, 915138000))}},
        {"Mirrors_PPG",
         {},
         {{1, false},
          {2, false},
          {3, false},
          {4, false},
          {5, false},
          {6, false},
          {7, s("http://127.0.0.1:9/s?q={filename}")},
          {8, s("20")},
          {9, s("10")},
          {10, s("fr")},
          {11, s("FR;DE")}},
         {option(O::MirrorSearch, 0), option(O::AutoAlternateUrls, 0), option(O::UrlSharingService, 0),
          option(O::ShareUrls, 0), option(O::FtpSearch, 0), option(O::AutoSelectMirror, 0),
          text(O::MirrorSearchServer, "http://127.0.0.1:9/s?q={filename}"), option(O::FtpSearchMinSize, 20),
          option(O::FtpSearchMaxHit, 10), text(O::MirrorCountryCode, "FR"), text(O::MirrorCountryList, "FR;DE")}},
    };
}

void PrintTo(const PageCase& page, std::ostream* out)
{
    *out << page.section;
}

void expectAll(const AppSettings& settings, const std::vector<Expect>& expects)
{
    for (const Expect& expect : expects)
        EXPECT_EQ(expect.read(settings), expect.expected) << expect.what;
}

class OptionsPageRoundTrip : public testing::TestWithParam<PageCase> { };

TEST_P(OptionsPageRoundTrip, OkWritesEveryControlAndASaveAndReloadKeepsIt)
{
    const PageCase& page = GetParam();
    Profile profile;
    {
        auto app = profile.start();
        if (page.prepare) {
            ASSERT_TRUE(app->changeSettings(page.prepare));
        }
        // An expected change must differ from what was stored, or it proves
        // nothing; a kept value must equal it.
        for (const Expect& expect : page.expects) {
            if (expect.changes) {
                EXPECT_NE(expect.read(app->settings()), expect.expected) << expect.what << " is already the default";
            } else {
                EXPECT_EQ(expect.read(app->settings()), expect.expected) << expect.what;
            }
        }

        OptionsSheet sheet(*app);
        addStandardPages(sheet, {});
        sheet.loadPages();
        OptionsPage* shown = pageNamed(sheet, page.section);
        ASSERT_NE(shown, nullptr);
        for (const Edit& edit : page.edits)
            perform(shown, edit);
        sheet.accept();
        EXPECT_EQ(sheet.result(), QDialog::Accepted);
        expectAll(app->settings(), page.expects);
        app->stop();
    }
    auto again = profile.start();
    expectAll(again->settings(), page.expects);
    again->stop();
}

INSTANTIATE_TEST_SUITE_P(EveryPage, OptionsPageRoundTrip, testing::ValuesIn(pageCases()),
                         [](const testing::TestParamInfo<PageCase>& info) {
                             std::string name = info.param.section;
                             std::erase(name, '_');
                             return name;
                         });

TEST(OptionsSheetTest, OkWithoutChangesLeavesEveryValueAsItWas)
{
    Profile profile;
    auto app = profile.start();
    const SettingsValues fresh = app->settings().values();
    {
        OptionsSheet sheet(*app);
        addStandardPages(sheet, {});
        sheet.loadPages();
        sheet.accept();
    }
    // The one difference: the schedule page marks the word it wrote.
    SettingsValues expected = fresh;
    expected.scheduleFlags |= static_cast<int32_t>(kScheduleWrittenBit);
    EXPECT_TRUE(app->settings().values() == expected);

    // The same with every page's changes in place: each page shows what it
    // wrote and writes it back unchanged.
    {
        OptionsSheet sheet(*app);
        addStandardPages(sheet, {});
        sheet.loadPages();
        for (const PageCase& page : pageCases()) {
            for (const Edit& edit : page.edits)
                perform(pageNamed(sheet, page.section), edit);
        }
        sheet.accept();
    }
    const SettingsValues changed = app->settings().values();
    EXPECT_FALSE(changed == fresh);
    const std::string file = profile.settingsFile();
    {
        OptionsSheet sheet(*app);
        addStandardPages(sheet, {});
        sheet.loadPages();
        sheet.accept();
    }
    EXPECT_TRUE(app->settings().values() == changed);
    EXPECT_EQ(profile.settingsFile(), file);
    app->stop();
}

struct CountingObserver final : SettingsObserver {
    void simJobsChanged() override { ++simJobs; }
    void scheduleTimesChanged() override { ++scheduleTimes; }
    int simJobs = 0;
    int scheduleTimes = 0;
};

TEST(OptionsSheetTest, OnlyAChangedScheduleTimeOrJobCountReachesTheObserver)
{
    Profile profile;
    auto app = profile.start();
    CountingObserver observer;
    app->settings().setObserver(&observer);
    for (const bool change : {false, true}) {
        OptionsSheet sheet(*app);
        addStandardPages(sheet, {});
        sheet.loadPages();
        if (change) {
            perform(pageNamed(sheet, "Schedule_PPG"), {10, QTime(23, 15)});
            perform(pageNamed(sheet, "Conn_PPG"), {4, QStringLiteral("5")});
        }
        sheet.accept();
        EXPECT_EQ(observer.scheduleTimes, change ? 1 : 0);
        EXPECT_EQ(observer.simJobs, change ? 1 : 0);
    }
    app->settings().setObserver(nullptr);
    app->stop();
}

// Runs `answer` on the dialog that is modal once the event loop turns.
void whenModal(std::function<void(QWidget&)> answer)
{
    QTimer::singleShot(0, [answer = std::move(answer)] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        answer(*modal);
    });
}

struct Refusal {
    std::string section;
    std::function<void(QWidget*)> before;  // other controls the case needs set
    int id;
    QString typed;
    QString message;
};

std::vector<Refusal> refusals()
{
    auto choose = [](int id, int index) {
        return [id, index](QWidget* page) { qobject_cast<QComboBox*>(controlIn(page, id))->setCurrentIndex(index); };
    };
    return {
        {"Conn_PPG",
         {},
         1,
         QStringLiteral("20"),
         QStringLiteral("Connect timeout (seconds) must be between 30 and 600.")},
        {"Conn_PPG",
         {},
         2,
         QStringLiteral("601"),
         QStringLiteral("Data timeout (seconds) must be between 30 and 600.")},
        {"Conn_PPG",
         {},
         3,
         QStringLiteral("0"),
         QStringLiteral("Wait before a retry (seconds) must be between 1 and 600.")},
        // The upper end is the stored "MaxSimJobs" (8).
        {"Conn_PPG", {}, 4, QStringLiteral("9"), QStringLiteral("Max. simultaneous jobs must be between 1 and 8.")},
        {"Conn_PPG", [](QWidget* page) { qobject_cast<QCheckBox*>(controlIn(page, 6))->setChecked(false); }, 5,
         QStringLiteral("10000"), QStringLiteral("Number of retries must be between 0 and 9999.")},
        // A limit above the speed of the chosen connection type.
        {"Conn_PPG", choose(8, 0), 10, QStringLiteral("5000"),
         QStringLiteral("Manual speed limit (bytes/s) must be between 400 and 1800.")},
        {"Conn_PPG", choose(8, 10), 9, QStringLiteral("1799"),
         QStringLiteral("Connection speed (bytes/s) must be between 1800 and 2147483647.")},
        {"General_PPG",
         {},
         12,
         QStringLiteral("abc"),
         QStringLiteral("Minimum part size (KB) must be between 10 and 102400.")},
        {"General_PPG",
         {},
         12,
         QStringLiteral("102401"),
         QStringLiteral("Minimum part size (KB) must be between 10 and 102400.")},
        {"General_PPG", {}, 14, QString(), QStringLiteral("Block size for writing (KB) must be between 16 and 4096.")},
        {"General_PPG",
         {},
         5,
         QStringLiteral("99999999999999"),
         QStringLiteral("Minutes between saves must be between 1 and 1440.")},
        {"Color_PPG", {}, 9, QStringLiteral("-5"), QStringLiteral("Graph scale (KB/s) must be between 1 and 1048576.")},
        {"FileMan_PPG", [](QWidget* page) { qobject_cast<QCheckBox*>(controlIn(page, 10))->setChecked(true); }, 11,
         QStringLiteral("256"), QStringLiteral("Device number must be between 0 and 255.")},
        {"Mirrors_PPG",
         {},
         8,
         QStringLiteral("9"),
         QStringLiteral("Minimum file size (KB) must be between 10 and 102400.")},
        {"Mirrors_PPG", {}, 9, QStringLiteral("101"), QStringLiteral("Maximum hits must be between 5 and 100.")},
        {"Mirrors_PPG", {}, 10, QStringLiteral("USA"), QStringLiteral("Country code must be two letters.")},
    };
}

TEST(OptionsSheetTest, AValueOutOfRangeIsRefusedWithItsMessageAndNothingIsWritten)
{
    Profile profile;
    auto app = profile.start();
    const std::string fileBefore = profile.settingsFile();
    for (const Refusal& refusal : refusals()) {
        SCOPED_TRACE(refusal.message.toStdString());
        OptionsSheet sheet(*app);
        addStandardPages(sheet, {});
        sheet.show();
        // A valid change on the first page, which must not be written either.
        qobject_cast<QCheckBox*>(controlIn(sheet.page(0), 1))->setChecked(true);
        QWidget* page = pageNamed(sheet, refusal.section);
        ASSERT_NE(page, nullptr);
        if (refusal.before)
            refusal.before(page);
        auto* field = qobject_cast<QLineEdit*>(controlIn(page, refusal.id));
        ASSERT_NE(field, nullptr);
        field->setText(refusal.typed);

        auto shown = std::make_shared<QString>();
        whenModal([shown](QWidget& modal) {
            auto* box = qobject_cast<QMessageBox*>(&modal);
            ASSERT_NE(box, nullptr);
            *shown = box->text();
            box->accept();
        });
        sheet.accept();
        EXPECT_EQ(*shown, refusal.message);
        EXPECT_TRUE(sheet.isVisible());
        EXPECT_EQ(sheet.currentIndex(), pageIndex(sheet, refusal.section));
        EXPECT_EQ(field->text(), refusal.typed);
        EXPECT_EQ(app->settings().GetOption(O::StartHidden), 0);
        EXPECT_EQ(profile.settingsFile(), fileBefore);
        sheet.reject();
    }
    app->stop();
}

TEST(OptionsSheetTest, CancelAndEscapeChangeNothing)
{
    Profile profile;
    auto app = profile.start();
    const std::string fileBefore = profile.settingsFile();
    for (const bool escape : {false, true}) {
        OptionsSheet sheet(*app);
        addStandardPages(sheet, {});
        sheet.show();
        qobject_cast<QCheckBox*>(controlIn(sheet.page(0), 1))->setChecked(true);
        qobject_cast<QLineEdit*>(controlIn(pageNamed(sheet, "Conn_PPG"), 1))->setText(QStringLiteral("200"));
        treeItem(pageNamed(sheet, "Other_PPG"), 11)->setCheckState(0, Qt::Checked);
        if (escape)
            QTest::keyClick(&sheet, Qt::Key_Escape);
        else
            sheet.reject();
        EXPECT_EQ(sheet.result(), QDialog::Rejected);
        EXPECT_FALSE(sheet.isVisible());
    }
    EXPECT_EQ(app->settings().GetOption(O::StartHidden), 0);
    EXPECT_EQ(app->settings().GetOption(O::ConnectTimeout), 90);
    EXPECT_EQ(app->settings().GetOption(O::CloseBoxExits), 0);
    EXPECT_EQ(profile.settingsFile(), fileBefore);
    app->stop();
}

TEST(OptionsSheetTest, PagesComeInOrderAndEveryControlHasAUniqueIdAndAMnemonic)
{
    Profile profile;
    auto app = profile.start();
    OptionsSheet sheet(*app);
    addStandardPages(sheet, {});
    const std::vector<std::string> sections
        = {"General_PPG", "Conn_PPG",  "Protocol_PPG", "Monitor_PPG",  "Color_PPG",  "FileMan_PPG",
           "DialUp_PPG",  "Sound_PPG", "Other_PPG",    "Schedule_PPG", "Mirrors_PPG"};
    ASSERT_EQ(sheet.pageCount(), static_cast<int>(sections.size()));
    for (int i = 0; i < sheet.pageCount(); ++i) {
        OptionsPage* page = sheet.page(i);
        SCOPED_TRACE(page->sectionName());
        EXPECT_EQ(page->sectionName(), sections[static_cast<size_t>(i)]);
        std::set<int> ids;
        std::set<QChar> mnemonics;
        auto mnemonicOf = [&mnemonics](const QString& text) {
            const qsizetype at = text.indexOf(QRegularExpression(QStringLiteral("&[^&]")));
            if (at >= 0) {
                EXPECT_TRUE(mnemonics.insert(text[at + 1].toLower()).second) << "mnemonic of " << text.toStdString();
            }
        };
        for (QWidget* child : page->findChildren<QWidget*>()) {
            const bool control = qobject_cast<QLineEdit*>(child) || qobject_cast<QCheckBox*>(child)
                || qobject_cast<QComboBox*>(child) || qobject_cast<QPushButton*>(child)
                || qobject_cast<QTimeEdit*>(child) || qobject_cast<QTreeWidget*>(child) || qobject_cast<QLabel*>(child);
            if (!control || child->parentWidget() != page)
                continue;  // the inner parts of a combo box or a tree
            const int id = controlId(child);
            EXPECT_GT(id, 0) << child->metaObject()->className();
            EXPECT_TRUE(ids.insert(id).second) << "id " << id << " twice";
            auto* label = qobject_cast<QLabel*>(child);
            if (label != nullptr && label->buddy() != nullptr) {
                EXPECT_TRUE(label->text().contains(u'&')) << label->text().toStdString();
                mnemonicOf(label->text());
                EXPECT_EQ(id, controlId(label->buddy()) + kLabelIdOffset);
            }
            if (auto* box = qobject_cast<QCheckBox*>(child)) {
                EXPECT_TRUE(box->text().contains(u'&')) << box->text().toStdString();
            }
            if (auto* button = qobject_cast<QAbstractButton*>(child)) {
                mnemonicOf(button->text());
            }
        }
    }
}

// The ids met along the focus chain from the page's first control.
std::vector<int> tabOrder(QWidget* page, int first, size_t count)
{
    std::vector<int> ids;
    QWidget* widget = qobject_cast<QWidget*>(controlIn(page, first));
    for (int steps = 0; widget != nullptr && ids.size() < count && steps < 200; ++steps) {
        if (page->isAncestorOf(widget) && controlId(widget) > 0 && widget->focusPolicy() & Qt::TabFocus)
            ids.push_back(controlId(widget));
        widget = widget->nextInFocusChain();
    }
    return ids;
}

TEST(OptionsSheetTest, TabGoesThroughTheRowsInTheOrderShown)
{
    Profile profile;
    auto app = profile.start();
    OptionsSheet sheet(*app);
    addStandardPages(sheet, {});
    const std::vector<std::pair<std::string, std::vector<int>>> orders = {
        {"Sound_PPG", {1, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        {"FileMan_PPG", {1, 2, 3, 4, 5, 6, 7, 8}},
        {"Schedule_PPG", {7, 8, 9, 10}},
    };
    for (const auto& [section, expected] : orders) {
        sheet.setCurrentIndex(pageIndex(sheet, section));
        sheet.show();
        EXPECT_EQ(tabOrder(pageNamed(sheet, section), expected.front(), expected.size()), expected) << section;
    }
}

TEST(OptionsSheetTest, TheLastPageShownIsOpenedAgainEvenWithAPageInsertedBeforeIt)
{
    Profile profile;
    auto app = profile.start();
    {
        OptionsSheet sheet(*app);
        addStandardPages(sheet, {});
        sheet.loadPages();
        sheet.setCurrentIndex(pageIndex(sheet, "Schedule_PPG"));
    }
    OptionsSheet again(*app);
    addStandardPages(again, {});
    again.insertPage(0, new DialUpPage);  // any page ahead of it
    again.show();
    EXPECT_EQ(std::string(again.page(again.currentIndex())->sectionName()), "Schedule_PPG");
    EXPECT_EQ(again.currentIndex(), 10);
}

// A page added by another part of the program, recording what the sheet asks.
class RecordingPage final : public OptionsPage {
public:
    RecordingPage(std::vector<std::string>& calls, QString refusal)
        : OptionsPage("Proxy_PPG", QStringLiteral("Proxy")), m_calls(calls), m_refusal(std::move(refusal))
    {
    }
    void load(const AppSettings& settings) override
    {
        m_calls.push_back("load " + std::to_string(settings.GetOption(O::ConnectTimeout)));
    }
    QString validate() override
    {
        m_calls.emplace_back("validate");
        return m_refusal;
    }
    void apply(AppSettings& settings) override
    {
        m_calls.emplace_back("apply");
        settings.SetOption(O::UseDefaultProxies, 1);
    }

private:
    std::vector<std::string>& m_calls;
    QString m_refusal;
};

TEST(OptionsSheetTest, AnInsertedPageIsLoadedCheckedAndAppliedWithTheOthers)
{
    Profile profile;
    auto app = profile.start();
    std::vector<std::string> calls;
    {
        OptionsSheet sheet(*app);
        addStandardPages(sheet, {});
        sheet.insertPage(kProxyPagePosition, new RecordingPage(calls, QStringLiteral("Proxy port is missing.")));
        EXPECT_EQ(sheet.page(kProxyPagePosition - 1)->sectionName(), std::string("Protocol_PPG"));
        sheet.show();
        qobject_cast<QCheckBox*>(controlIn(sheet.page(0), 1))->setChecked(true);
        auto shown = std::make_shared<QString>();
        whenModal([shown](QWidget& modal) {
            *shown = qobject_cast<QMessageBox*>(&modal)->text();
            qobject_cast<QMessageBox*>(&modal)->accept();
        });
        sheet.accept();
        EXPECT_EQ(*shown, QStringLiteral("Proxy port is missing."));
        EXPECT_EQ(sheet.currentIndex(), kProxyPagePosition);
        EXPECT_EQ(app->settings().GetOption(O::StartHidden), 0);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"load 90", "validate"}));

    calls.clear();
    OptionsSheet sheet(*app);
    addStandardPages(sheet, {});
    sheet.show();
    // Added once the sheet is open: it is loaded at once.
    sheet.addPage(new RecordingPage(calls, {}));
    qobject_cast<QCheckBox*>(controlIn(sheet.page(0), 1))->setChecked(true);
    sheet.accept();
    EXPECT_EQ(calls, (std::vector<std::string>{"load 90", "validate", "apply"}));
    EXPECT_EQ(app->settings().GetOption(O::StartHidden), 0x1);
    EXPECT_NE(app->settings().GetOption(O::UseDefaultProxies), 0);
    app->stop();
}

TEST(OptionsSheetTest, TestPlaysTheSoundInItsRowAndIsOffWithoutAFile)
{
    std::vector<std::filesystem::path> played;
    SoundsPage page([&played](const std::filesystem::path& file) { played.push_back(file); });
    auto* edit = qobject_cast<QLineEdit*>(controlIn(&page, 11));
    auto* test = qobject_cast<QPushButton*>(controlIn(&page, 13));
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(test, nullptr);
    EXPECT_FALSE(test->isEnabled());
    edit->setText(QStringLiteral("/sounds/my error.wav"));
    ASSERT_TRUE(test->isEnabled());
    test->click();
    EXPECT_EQ(played, (std::vector<std::filesystem::path>{"/sounds/my error.wav"}));
}

TEST(OptionsSheetTest, AColourButtonTakesTheColourPickedInTheDialog)
{
    GraphLogPage page;
    auto* button = dynamic_cast<ColorButton*>(controlIn(&page, 1));
    ASSERT_NE(button, nullptr);
    button->setColorRef(0x0000FF);  // red, as 0x00BBGGRR
    auto offered = std::make_shared<QColor>();
    whenModal([offered](QWidget& modal) {
        auto* dialog = qobject_cast<QColorDialog*>(&modal);
        ASSERT_NE(dialog, nullptr);
        *offered = dialog->currentColor();
        dialog->setCurrentColor(QColor(0x12, 0x34, 0x56));
        dialog->accept();
    });
    button->click();
    EXPECT_EQ(*offered, QColor(255, 0, 0));
    EXPECT_EQ(button->colorRef(), 0x563412);
}

TEST(OptionsSheetTest, StoredValuesThePageCannotShowExactlyAreKept)
{
    Profile profile;
    auto app = profile.start();
    ASSERT_TRUE(app->changeSettings([](AppSettings& s) {
        s.SetOption(O::UserAgentChoice, 200);
        s.SetOption(O::ExistingFileAction, 9);
        s.SetOption(O::BlockSize, 10500);  // shown as 10 KB
    }));
    OptionsSheet sheet(*app);
    addStandardPages(sheet, {});
    sheet.loadPages();
    auto* agent = qobject_cast<QComboBox*>(controlIn(pageNamed(sheet, "Protocol_PPG"), 6));
    EXPECT_EQ(agent->currentText(), QStringLiteral("Other (200)"));
    // The custom text is what such a choice sends, so it is editable.
    EXPECT_TRUE(qobject_cast<QLineEdit*>(controlIn(pageNamed(sheet, "Protocol_PPG"), 7))->isEnabled());
    sheet.accept();
    EXPECT_EQ(app->settings().GetOption(O::UserAgentChoice), 200);
    EXPECT_EQ(app->settings().GetOption(O::ExistingFileAction), 9);
    EXPECT_EQ(app->settings().GetOption(O::BlockSize), 10500);
    app->stop();
}

TEST(OptionsSheetTest, ADoubleClickChoiceReplacesItsSiblingAndCannotBeCleared)
{
    OtherPage page;
    QTreeWidgetItem* start = treeItem(&page, 19);
    QTreeWidgetItem* comment = treeItem(&page, 21);
    ASSERT_NE(start, nullptr);
    ASSERT_NE(comment, nullptr);
    start->setCheckState(0, Qt::Checked);
    comment->setCheckState(0, Qt::Checked);
    EXPECT_EQ(start->checkState(0), Qt::Unchecked);
    comment->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(comment->checkState(0), Qt::Checked);
    EXPECT_FALSE(comment->toolTip(0).isEmpty());
    // A plain switch is independent of the others.
    QTreeWidgetItem* first = treeItem(&page, 3);
    QTreeWidgetItem* second = treeItem(&page, 4);
    first->setCheckState(0, Qt::Checked);
    second->setCheckState(0, Qt::Checked);
    EXPECT_EQ(first->checkState(0), Qt::Checked);
}

TEST(OptionsSheetTest, OnlyTheTypeOtherMakesTheSpeedEditableAndTheStoredSpeedSurvives)
{
    Profile profile;
    auto app = profile.start();
    ASSERT_TRUE(app->changeSettings([](AppSettings& s) {
        s.setConnType(10);
        s.setBandWidth(777777);
    }));
    OptionsSheet sheet(*app);
    addStandardPages(sheet, {});
    sheet.loadPages();
    QWidget* page = pageNamed(sheet, "Conn_PPG");
    auto* type = qobject_cast<QComboBox*>(controlIn(page, 8));
    auto* speed = qobject_cast<QLineEdit*>(controlIn(page, 9));
    EXPECT_TRUE(speed->isEnabled());
    EXPECT_EQ(speed->text(), QStringLiteral("777777"));
    type->setCurrentIndex(8);  // T1
    EXPECT_FALSE(speed->isEnabled());
    EXPECT_EQ(speed->text(), QStringLiteral("187500"));
    sheet.accept();
    EXPECT_EQ(app->settings().connType(), 8);
    EXPECT_EQ(app->settings().bandWidth(), 777777);
    app->stop();
}

TEST(OptionsSheetTest, DialUpControlsAreAllDisabledWithANotice)
{
    DialUpPage page;
    int disabled = 0;
    for (QWidget* child : page.findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(child) || qobject_cast<QCheckBox*>(child)) {
            EXPECT_FALSE(child->isEnabled());
            ++disabled;
        }
    }
    EXPECT_EQ(disabled, 8);
    auto* notice = qobject_cast<QLabel*>(controlIn(&page, 9));
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->text(), QStringLiteral("Dial-up networking is not available on this system."));
}

TEST(OptionsSheetTest, FieldNamesDropTheMnemonicAndTheColon)
{
    EXPECT_EQ(fieldName(QStringLiteral("&Max. connections:")), QStringLiteral("Max. connections"));
    EXPECT_EQ(fieldName(QStringLiteral("Save && &quit:")), QStringLiteral("Save & quit"));
    EXPECT_EQ(colorFromRef(0x00563412), QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(refFromColor(QColor(0x12, 0x34, 0x56)), 0x563412);
}

}  // namespace
}  // namespace fetchora
