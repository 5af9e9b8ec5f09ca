// The update dialog in both modes against nginx on 127.0.0.1, and its place
// in the menus.
#include "gui/check_new_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>

#include "config/app_settings.h"
#include "gui/command_actions.h"
#include "gui/qt_loop_driver.h"
#include "lang/string_table.h"
#include "shell/application.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/view_prompts.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using namespace std::chrono_literals;

class CheckNewDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_app.start(error)) << error;
        m_driver = std::make_unique<QtLoopDriver>(m_app.loop());
    }
    void TearDown() override
    {
        m_driver.reset();
        m_app.stop();
    }

    UpdateSetup setup() const
    {
        UpdateSetup out;
        out.source = "http://127.0.0.1:" + std::to_string(m_nginx.httpPort()) + "/up/";
        out.writableLanguageFolder = m_dir / "profile" / "language";
        out.shippedLanguageFolder = m_dir / "shipped";
        return out;
    }

    // Shows the dialog and runs the events until its work has ended.
    static bool runUntilIdle(CheckNewDialog& dialog, std::chrono::milliseconds timeout = 30s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        } while ((dialog.busy() || dialog.progressBar()->isVisible()) && std::chrono::steady_clock::now() < deadline);
        return !dialog.busy();
    }

    test::TempDir m_dir;
    Application m_app{mapEnvironment({{"FETCHORA_HOME", (m_dir / "profile").string()},
                                      {"TMPDIR", m_dir.path().string()},
                                      {"HOME", m_dir.path().string()},
                                      {"XDG_DOWNLOAD_DIR", (m_dir / "Downloads").string()}})};
    test::RecordingDesktop m_desktop;
    test::NginxPeer m_nginx;
    std::unique_ptr<QtLoopDriver> m_driver;
};

TEST_F(CheckNewDialogTest, TheVersionCheckShowsItsAnswerWithoutAList)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[Info]\r\nVersion=1.65\r\n", std::string(englishString(kStrLatestVersion))},
        {"", std::string(englishString(kStrCantGetUpdateInfo))},  // not served: 404
    };
    for (const auto& [served, answer] : cases) {
        std::filesystem::remove(m_nginx.www() / "up" / "qvupdate.ini");
        if (!served.empty())
            m_nginx.writeServedFile("up/qvupdate.ini", served);
        CheckNewDialog dialog(m_app, setup(), m_desktop, UpdateMode::VersionCheck);
        dialog.show();
        ASSERT_TRUE(runUntilIdle(dialog));
        EXPECT_EQ(dialog.objectName(), QStringLiteral("CheckNew_Dlg"));
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Check for a new version"));
        EXPECT_TRUE(dialog.statusLabel()->text().startsWith(QString::fromStdString(answer)))
            << dialog.statusLabel()->text().toStdString();
        EXPECT_FALSE(dialog.packList()->isVisible());
        EXPECT_FALSE(dialog.updateButton()->isVisible());
        EXPECT_FALSE(dialog.progressBar()->isVisible());
        EXPECT_EQ(dialog.closeButton()->property("controlId").toInt(), 2);
    }
}

TEST_F(CheckNewDialogTest, ANewerVersionAsksAndYesOpensThePageAndCloses)
{
    m_nginx.writeServedFile("up/qvupdate.ini", "[Info]\r\nVersion=1.7\r\n");
    CheckNewDialog dialog(m_app, setup(), m_desktop, UpdateMode::VersionCheck);
    QString asked;
    // The question comes once the fetch has ended. The timers belong to the
    // dialog, so none outlives the test.
    std::function<void()> poll = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            QTimer::singleShot(20, &dialog, poll);
            return;
        }
        asked = box->text();
        box->button(QMessageBox::Yes)->click();
    };
    QTimer::singleShot(0, &dialog, poll);
    dialog.open();
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (dialog.isVisible() && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(asked, QStringLiteral("A newer version(1.7) of Fetchora was found.View More Information?"));
    EXPECT_EQ(m_desktop.opened, (std::vector<std::string>{setup().source + "download.html"}));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(CheckNewDialogTest, TickedLanguagePacksAreDownloadedIntoTheProfile)
{
    m_nginx.writeServedFile("up/qvupdate.ini",
                            "[Info]\r\nVersion=1.65\r\n[Lang]\r\nkxdeu=1.1,Deutsch\r\nkxita=0.5,Italiano\r\n");
    m_nginx.writeServedFile("up/language/kxdeu.ini", "[Info]\r\nLanguage=Deutsch\r\nVersion=1.1\r\n");
    std::filesystem::create_directories(m_dir / "profile" / "language");
    test::writeFile(m_dir / "profile" / "language" / "kxdeu.ini", "[Info]\r\nLanguage=Deutsch\r\nVersion=1.0\r\n");
    CheckNewDialog dialog(m_app, setup(), m_desktop, UpdateMode::LanguagePacks);
    dialog.show();
    ASSERT_TRUE(runUntilIdle(dialog));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Download Additional/Update language pack"));
    QTreeWidget* list = dialog.packList();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->headerItem()->text(1), QStringLiteral("Current version"));
    EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("Deutsch"));
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("1.0"));
    EXPECT_EQ(list->topLevelItem(0)->text(2), QStringLiteral("1.1"));
    EXPECT_TRUE(dialog.updateButton()->isEnabled());
    // Italiano is not served: left unticked, only Deutsch is fetched.
    list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    dialog.updateButton()->click();
    ASSERT_TRUE(runUntilIdle(dialog));
    EXPECT_EQ(dialog.statusLabel()->text(), QString::fromUtf8(englishString(kStrLanguagePacksDone).data()));
    EXPECT_EQ(LanguageFileVersion(m_dir / "profile" / "language" / "kxdeu.ini"), "1.1");
    EXPECT_FALSE(std::filesystem::exists(m_dir / "profile" / "language" / "kxita.ini"));
}

TEST_F(CheckNewDialogTest, BothCommandsAreInTheMenusAndEnabled)
{
    QWidget owner;
    CommandActions commands(&owner);
    commands.setEnabledFn([](uint32_t, CommandKeys) { return true; });
    commands.refresh();
    for (const FrameCommand command : {FrameCommand::LanguagePack, FrameCommand::CheckNewVersion}) {
        QAction* action = commands.action(static_cast<uint32_t>(command));
        ASSERT_NE(action, nullptr);
        EXPECT_TRUE(action->isEnabled());
        EXPECT_FALSE(commandAwaitsDialog(static_cast<uint32_t>(command)));
    }
    const CommandSpec* check = findCommand(static_cast<uint32_t>(FrameCommand::CheckNewVersion));
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->menu, "Help");
    EXPECT_EQ(check->text, "&Check for a new version");
}

}  // namespace
}  // namespace fetchora
