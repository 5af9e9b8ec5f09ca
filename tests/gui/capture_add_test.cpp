// A URL of a monitored type copied to the clipboard opens the add-download
// sheet; what the user sets there (the folder) is what the job downloads
// with, and the file arrives byte for byte from a real server on 127.0.0.1.
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <fstream>
#include <sstream>

#include "config/app_settings.h"
#include "gui/job_property_sheet.h"
#include "gui_session.h"
#include "model/job_database.h"
#include "support/real_peers.h"

namespace fetchora {
namespace {

using test::GuiSession;
using test::TempDir;

std::string readAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST(CaptureAddTest, AClipboardUrlAddedThroughTheSheetDownloadsByteForByte)
{
    test::NginxPeer nginx;
    // Large enough to be split into several parts.
    std::string bytes(600 * 1024, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7919 + i / 4096) % 256);
    nginx.writeServedFile("files/caught.bin", bytes);
    const std::string url = "http://127.0.0.1:" + std::to_string(nginx.httpPort()) + "/files/caught.bin";

    TempDir dir;
    GuiSession session(dir, StartMode::Immediately);
    ASSERT_TRUE(session.started);
    session.app.settings().SetOptionText(OptionId::MonitorType, ".ZIP;.BIN");
    session.app.settings().SetOption(OptionId::WatchClipboard, 1);
    const std::filesystem::path folder = dir / "chosen";

    QString shownUrl;
    QString shownTitle;
    test::answerModal(test::section("AddFile_Dlg"), [&](QWidget& window) {
        auto* sheet = qobject_cast<JobPropertySheet*>(&window);
        ASSERT_NE(sheet, nullptr);
        shownTitle = sheet->windowTitle();
        shownUrl = sheet->urlEdit()->text();
        // The user picks another folder, as typed into the folder box.
        sheet->folderEdit()->setText(QString::fromStdString(folder.string()));
        sheet->okButton()->click();
    });
    // The folder is new: the sheet asks before it makes it.
    QString question;
    test::answerModal([](QWidget& window) { return qobject_cast<QMessageBox*>(&window) != nullptr; },
                      [&question](QWidget& window) {
                          auto& box = static_cast<QMessageBox&>(window);
                          question = box.text();
                          box.button(QMessageBox::Yes)->click();
                      });
    QGuiApplication::clipboard()->setText(QString::fromStdString(url));

    DownloadJob* job = nullptr;
    const bool done = test::spinUntil(
        [&] {
            JobLockGuard lock(session.app.jobLock());
            for (DownloadJob* node : session.view->doc().tree().nodes())
                if (!node->IsCategory() && node->url == url)
                    job = node;
            return job != nullptr && job->IsComplete();
        },
        60000);
    EXPECT_EQ(shownTitle, QStringLiteral("Add new download"));
    EXPECT_EQ(shownUrl.toStdString(), url);
    EXPECT_TRUE(question.contains(QString::fromStdString(folder.string()))) << question.toStdString();
    ASSERT_NE(job, nullptr) << "the clipboard URL was not added";
    ASSERT_TRUE(done) << "the download did not finish";
    EXPECT_EQ(job->saveFolder, folder.string());
    const std::string got = readAll(folder / "caught.bin");
    EXPECT_EQ(got.size(), bytes.size());
    EXPECT_TRUE(got == bytes) << "the downloaded file differs from the served one";
}

}  // namespace
}  // namespace fetchora
