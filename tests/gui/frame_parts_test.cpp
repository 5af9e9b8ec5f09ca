// The frame's pieces on their own: the command table, the countdown, the
// drop zone's place, file-dialog filters and what a drop may carry.
#include <QAction>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QSet>
#include <QWidget>

#include "config/app_settings.h"
#include "gui/command_actions.h"
#include "gui/countdown_dialog.h"
#include "gui/drop_data.h"
#include "gui/drop_zone.h"
#include "gui/gui_prompts.h"
#include "shell/application.h"
#include "shell/html_format.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

// ---- commands -----------------------------------------------------------------------------

TEST(CommandTableTest, EveryViewCommandHasOneActionAndNoShortcutIsShared)
{
    const ViewCommand all[] = {
        ViewCommand::NewDatabase,
        ViewCommand::OpenDatabase,
        ViewCommand::SaveDatabase,
        ViewCommand::SaveDatabaseAs,
        ViewCommand::MergeDatabase,
        ViewCommand::ImportPreviousFile,
        ViewCommand::ImportPreviousBatch,
        ViewCommand::ExportInformation,
        ViewCommand::ExportFiles,
        ViewCommand::ImportBrokenDownloads,
        ViewCommand::ImportList,
        ViewCommand::ExportList,
        ViewCommand::ProcessWebPage,
        ViewCommand::RecentlyDownloaded,
        ViewCommand::NewCategory,
        ViewCommand::MoveCategory,
        ViewCommand::DeleteCategory,
        ViewCommand::CategoryProperties,
        ViewCommand::OpenCategory,
        ViewCommand::PasteUrl,
        ViewCommand::SelectAll,
        ViewCommand::InvertSelection,
        ViewCommand::Find,
        ViewCommand::FindNext,
        ViewCommand::NewDownload,
        ViewCommand::BatchDownload,
        ViewCommand::Start,
        ViewCommand::Pause,
        ViewCommand::StartAll,
        ViewCommand::PauseAll,
        ViewCommand::Schedule,
        ViewCommand::MoveJobs,
        ViewCommand::Delete,
        ViewCommand::DeleteAll,
        ViewCommand::Rename,
        ViewCommand::CommentAsFileName,
        ViewCommand::Properties,
        ViewCommand::SiteProperties,
        ViewCommand::Comment,
        ViewCommand::BrowseReferrer,
        ViewCommand::BrowseWithSiteExplorer,
        ViewCommand::CopyUrls,
        ViewCommand::MoveUp,
        ViewCommand::MoveDown,
        ViewCommand::MoveToTop,
        ViewCommand::MoveToBottom,
        ViewCommand::CheckForUpdate,
        ViewCommand::DownloadAgain,
        ViewCommand::FixZip,
        ViewCommand::VirusScan,
        ViewCommand::OpenFile,
        ViewCommand::OpenFolder,
        ViewCommand::SiteExplorer,
        ViewCommand::OfflineBrowser,
        ViewCommand::ShutDownWhenDone,
        ViewCommand::HangUpWhenDone,
        ViewCommand::RedialIfDisconnected,
        ViewCommand::SpeedUnlimited,
        ViewCommand::SpeedManual,
        ViewCommand::SpeedAutomatic,
        ViewCommand::RememberSpeedMode,
        ViewCommand::DownloadRules,
        ViewCommand::SaveAsDefault,
        ViewCommand::DefaultProperties,
        ViewCommand::Options,
        ViewCommand::DetailStart,
        ViewCommand::DetailStop,
        ViewCommand::DetailRestart,
        ViewCommand::IncreaseParts,
        ViewCommand::DecreaseParts,
        ViewCommand::AddLinks,
        ViewCommand::OpenLink,
    };
    QWidget owner;
    CommandActions commands(&owner);
    for (const ViewCommand command : all) {
        const CommandSpec* spec = findCommand(static_cast<uint32_t>(command));
        ASSERT_NE(spec, nullptr) << static_cast<uint32_t>(command);
        EXPECT_FALSE(spec->frame);
        ASSERT_NE(commands.action(command), nullptr);
    }
    // Qt fires neither of two actions that share a key.
    QSet<QString> seen;
    for (const CommandSpec& spec : commandTable()) {
        for (const QKeySequence& keys : commands.action(spec.id)->shortcuts()) {
            EXPECT_FALSE(seen.contains(keys.toString())) << keys.toString().toStdString();
            seen.insert(keys.toString());
        }
    }
    EXPECT_EQ(commands.action(ViewCommand::FindNext)->shortcuts().size(), 2);
    EXPECT_EQ(commands.action(ViewCommand::Start)->shortcuts().value(1), QKeySequence(QStringLiteral("Ctrl+F5")));
    EXPECT_EQ(commands.action(ViewCommand::MoveToTop)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+Up")));
}

TEST(CommandActionsTest, TriggersCarryTheHeldKeysAndDisabledCommandsNeverRun)
{
    QWidget owner;
    CommandActions commands(&owner);
    std::vector<std::pair<uint32_t, bool>> ran;
    CommandKeys held;
    commands.setKeysFn([&held] { return held; });
    // Start only with Ctrl, as when every selected job is already active.
    commands.setEnabledFn([](uint32_t, CommandKeys keys) { return keys.ctrl; });
    commands.setTriggerFn([&ran](uint32_t id, CommandKeys keys) { ran.emplace_back(id, keys.ctrl); });
    QAction* start = commands.action(ViewCommand::Start);
    commands.refresh();
    EXPECT_FALSE(start->isEnabled());
    commands.trigger(static_cast<uint32_t>(ViewCommand::Start));
    EXPECT_TRUE(ran.empty());

    held.ctrl = true;
    commands.refresh();
    EXPECT_TRUE(start->isEnabled());
    start->trigger();
    EXPECT_EQ(ran, (std::vector<std::pair<uint32_t, bool>>{{static_cast<uint32_t>(ViewCommand::Start), true}}));

    // Not built yet: disabled whatever the view says.
    commands.refresh();
    EXPECT_FALSE(commands.action(FrameCommand::CustomBackground)->isEnabled());
    commands.trigger(static_cast<uint32_t>(FrameCommand::CustomBackground));
    EXPECT_EQ(ran.size(), 1u);
}

// ---- countdown ------------------------------------------------------------------------------

TEST(CountdownDialogTest, OkCancelAndTheEndOfTheCountEachCompleteOnce)
{
    CountdownDialog dialog;
    std::vector<bool> results;
    auto record = [&results](bool ok) { results.push_back(ok); };

    dialog.start({"Shut down", "Shutting down in %d seconds", 3}, record);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.text(), QStringLiteral("Shutting down in 3 seconds"));
    dialog.tick();
    EXPECT_EQ(dialog.text(), QStringLiteral("Shutting down in 2 seconds"));
    dialog.accept();
    EXPECT_EQ(results, std::vector<bool>{true});
    EXPECT_FALSE(dialog.isVisible());
    dialog.reject();  // after the end: nothing more
    EXPECT_EQ(results.size(), 1u);

    dialog.start({"Close", "Closing in %d seconds", 5}, record);
    dialog.reject();
    EXPECT_EQ(results, (std::vector<bool>{true, false}));

    dialog.start({"Close", "Closing in %d seconds", 2}, record);
    dialog.tick();
    EXPECT_EQ(results.size(), 2u);
    dialog.tick();
    EXPECT_EQ(results, (std::vector<bool>{true, false, true}));

    // A new countdown replaces one still showing, which ends as cancelled.
    dialog.start({"A", "%d", 9}, record);
    dialog.start({"B", "%d", 9}, record);
    EXPECT_EQ(results, (std::vector<bool>{true, false, true, false}));
    EXPECT_TRUE(dialog.running());
}

TEST(CountdownDialogTest, ADialogDestroyedFirstNeverCompletes)
{
    bool called = false;
    {
        CountdownDialog dialog;
        dialog.start({"Close", "%d", 10}, [&called](bool) { called = true; });
    }
    EXPECT_FALSE(called);
}

// ---- drop zone ------------------------------------------------------------------------------

TEST(DropZonePositionTest, StoredCornersOffTheScreenFallBackToTheDefault)
{
    const QRect screen(0, 0, 1280, 800);
    const QSize size(48, 48);
    struct Case {
        std::optional<QPoint> stored;
        QPoint expected;
    };
    const Case cases[] = {
        {QPoint(200, 300), QPoint(200, 300)},  {QPoint(1232, 752), QPoint(1232, 752)},  // just fits
        {QPoint(1233, 300), QPoint(1180, 30)},  // one pixel over the right edge
        {QPoint(-5000, 30), QPoint(1180, 30)}, {QPoint(10, 99999), QPoint(1180, 30)},  {std::nullopt, QPoint(1180, 30)},
    };
    for (const Case& each : cases)
        EXPECT_EQ(DropZonePosition(each.stored, screen, size), each.expected);
    // A screen with an offset, and a window wider than the default's room.
    EXPECT_EQ(DropZonePosition(QPoint(-1, 0), QRect(1920, 0, 1024, 768), size), QPoint(2844, 30));
    EXPECT_EQ(DropZonePosition(std::nullopt, screen, QSize(160, 48)), QPoint(1120, 30));
}

TEST(DropZoneTest, BadStoredValuesFallBackAndTheZoneStoresWhereItIs)
{
    test::TempDir dir;
    Application app(mapEnvironment({{"FETCHORA_HOME", (dir / "profile").string()},
                                    {"TMPDIR", dir.path().string()},
                                    {"HOME", dir.path().string()}}));
    std::string error;
    ASSERT_TRUE(app.start(error)) << error;
    DropZoneSettings bad;
    bad.x = -7000;
    bad.y = 123456;
    bad.show = false;
    bad.opacity = 64;
    app.settings().setDropZone(bad);

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    {
        DropZone zone(app.settings());
        EXPECT_EQ(zone.pos(), DropZonePosition(std::nullopt, screen, zone.size()));
        EXPECT_NEAR(zone.windowOpacity(), 64 / 255.0, 0.01);
        zone.restore();
        EXPECT_FALSE(zone.isVisible());
        zone.move(screen.left() + 40, screen.top() + 50);
        zone.setShown(true);
    }
    const DropZoneSettings stored = app.settings().dropZone(screen.width());
    EXPECT_TRUE(stored.show);
    EXPECT_EQ(stored.x, screen.left() + 40);
    EXPECT_EQ(stored.y, screen.top() + 50);
    DropZone again(app.settings());
    EXPECT_EQ(again.pos(), QPoint(screen.left() + 40, screen.top() + 50));
    app.stop();
}

// ---- filters and drops ---------------------------------------------------------------------

TEST(QtFileFilterTest, TheProgramsFiltersBecomeQtFilters)
{
    EXPECT_EQ(QtFileFilter("Fetchora Download Database (*.kxd)|*.kxd|All Files (*.*)|*.*||"),
              QStringLiteral("Fetchora Download Database (*.kxd);;All Files (*)"));
    EXPECT_EQ(QtFileFilter("Archives|*.zip;*.rar|"), QStringLiteral("Archives (*.zip *.rar)"));
    EXPECT_EQ(QtFileFilter("Lists (*.txt)|*.txt"), QStringLiteral("Lists (*.txt)"));
    EXPECT_EQ(QtFileFilter(""), QString());
}

TEST(DropDataTest, HtmlBecomesAnHtmlFormatBlockTheViewCanRead)
{
    QMimeData mime;
    mime.setHtml(QStringLiteral("<a href=\"a.zip\">A</a> <a href=\"http://127.0.0.1:9/b.zip\">B</a>"));
    mime.setData(QStringLiteral("text/x-moz-url"), QByteArray("http://127.0.0.1:9/dir/\nTitle"));
    const std::optional<DropPayload> payload = ReadDrop(mime);
    ASSERT_TRUE(payload);
    ASSERT_EQ(payload->kind, DropPayload::Kind::HtmlFormat);
    const HtmlFormatLinks links = ReadHtmlFormat(payload->data);
    EXPECT_EQ(links.baseUrl, "http://127.0.0.1:9/dir/");
    ASSERT_EQ(links.links.size(), 2u);
}

TEST(DropDataTest, TheBlocksOffsetsFrameExactlyTheDroppedHtml)
{
    const std::string html = "<a href=\"x.zip\">x</a>";
    for (const std::string_view source : {std::string_view(), std::string_view("http://127.0.0.1:9/p/"),
                                          std::string_view("http://127.0.0.1:9/p/\r\nStartHTML:0")}) {
        const std::string block = HtmlFormatBlock(html, source);
        // The fragment's offsets frame exactly the dropped HTML; the HTML's
        // offsets frame the page that wraps it, up to the end of the block.
        const int64_t start = HtmlFormatField(block, "StartFragment:");
        const int64_t end = HtmlFormatField(block, "EndFragment:");
        ASSERT_GE(start, 0);
        EXPECT_EQ(block.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)), html);
        EXPECT_LT(HtmlFormatField(block, "StartHTML:"), start);
        EXPECT_EQ(static_cast<size_t>(HtmlFormatField(block, "EndHTML:")), block.size());
        // A line break in the source URL adds no header field of its own.
        EXPECT_EQ(block.find("StartHTML:"), block.rfind("StartHTML:"));
    }
}

TEST(DropDataTest, TextIsTrimmedCappedAndJunkRefused)
{
    QMimeData url;
    url.setText(QStringLiteral("http://127.0.0.1:9/a.iso\r\n"));
    const std::optional<DropPayload> text = ReadDrop(url);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->kind, DropPayload::Kind::Text);
    EXPECT_EQ(text->data, "http://127.0.0.1:9/a.iso");

    QMimeData huge;
    huge.setText(QString(static_cast<qsizetype>(kMaxDropTextBytes + 100), u'x'));
    const std::optional<DropPayload> capped = ReadDrop(huge);
    ASSERT_TRUE(capped);
    EXPECT_EQ(capped->data.size(), kMaxDropTextBytes);

    EXPECT_FALSE(LooksLikeText(std::string("abc\0def", 7)));
    EXPECT_FALSE(LooksLikeText("\xff\xfe"));
    EXPECT_TRUE(LooksLikeText("Gr\xc3\xbc\xc3\x9f"
                              "e\tline\r\n"));
    QMimeData empty;
    EXPECT_FALSE(ReadDrop(empty));
}

}  // namespace
}  // namespace fetchora
