// The list dialogs of the main window over a real main view on a fresh
// profile. Dialogs run modally as in the program; a driver acts on each
// modal window as it comes up.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>

#include <deque>
#include <functional>

#include <algorithm>

#include "gui/batch_dialog.h"
#include "gui/category_box.h"
#include "gui/dialog_opener.h"
#include "gui/export_info_dialog.h"
#include "gui/previous_batch_dialog.h"
#include "gui/previous_file_dialog.h"
#include "gui/recent_files_dialog.h"
#include "gui/web_page_dialog.h"
#include "lists/companion_file.h"
#include "shell/job_list_model.h"
#include "shell/view_command.h"
#include "support/view_session.h"

namespace fetchora {
namespace {

using test::readFile;
using test::TempDir;
using test::ViewSession;
using test::writeFileIn;

// Runs one step for each modal window that becomes the active one, in
// order. Steps must not block: a step that opens another modal window posts
// the call instead (queued), so that the driver sees that window too.
class ModalDriver {
public:
    using Step = std::function<void(QWidget*)>;
    explicit ModalDriver(std::deque<Step> steps) : m_steps(std::move(steps))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(5);
    }
    bool done() const { return m_steps.empty(); }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == m_last || m_steps.empty())
            return;
        m_last = modal;
        Step step = std::move(m_steps.front());
        m_steps.pop_front();
        step(modal);
    }

    std::deque<Step> m_steps;
    QTimer m_timer;
    QPointer<QWidget> m_last;
};

void acceptLater(QWidget* dialog)
{
    QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
}

std::string openName(ViewCommand command)
{
    return std::to_string(static_cast<uint32_t>(command));
}

class ListDialogsTest : public testing::Test {
protected:
    std::vector<std::string> urlsOf(DownloadJob* category)
    {
        std::vector<std::string> urls;
        for (DownloadJob* job : ViewSession::jobsOf(category))
            urls.push_back(job->url);
        return urls;
    }

    TempDir m_dir;
    ViewSession m_session{m_dir};
};

// ---- batch ----------------------------------------------------------------------------------

TEST_F(ListDialogsTest, TheBatchPreviewShowsTheFirstAndTheLastUrlOfTheSeries)
{
    BatchDialog dialog;
    EXPECT_EQ(dialog.previewText(), QString());
    dialog.urlEdit()->setText(QStringLiteral("http://127.0.0.1:9/file(*).zip"));
    dialog.fromEdit()->setText(QStringLiteral("10"));
    dialog.toEdit()->setText(QStringLiteral("8"));
    dialog.widthBox()->setValue(3);
    EXPECT_EQ(dialog.previewText(),
              QStringLiteral("http://127.0.0.1:9/file010.zip\n...\nhttp://127.0.0.1:9/file008.zip"));
    EXPECT_EQ(dialog.countText(), QStringLiteral("3 URL(s)"));

    dialog.lettersButton()->setChecked(true);
    dialog.urlEdit()->setText(QStringLiteral("http://127.0.0.1:9/(*)/(*).txt"));
    dialog.firstLetterEdit()->setText(QStringLiteral("z"));
    dialog.lastLetterEdit()->setText(QStringLiteral("x"));
    EXPECT_EQ(dialog.previewText(), QStringLiteral("http://127.0.0.1:9/z/z.txt\n...\nhttp://127.0.0.1:9/x/x.txt"));
    EXPECT_FALSE(dialog.fromEdit()->isEnabled());
    EXPECT_TRUE(dialog.firstLetterEdit()->isEnabled());

    // Empty letters are "a" to "z".
    dialog.firstLetterEdit()->clear();
    dialog.lastLetterEdit()->clear();
    EXPECT_EQ(dialog.previewText(), QStringLiteral("http://127.0.0.1:9/a/a.txt\n...\nhttp://127.0.0.1:9/z/z.txt"));

    dialog.urlEdit()->setText(QStringLiteral("http://127.0.0.1:9/plain.txt"));
    EXPECT_EQ(dialog.previewText(), QString());
}

TEST_F(ListDialogsTest, ASeriesOverTheLimitOrWithoutMarkerIsRefusedAndTheTextStays)
{
    BatchDialog dialog;
    const QString typed = QStringLiteral("http://127.0.0.1:9/f(*).bin");
    dialog.urlEdit()->setText(typed);
    dialog.fromEdit()->setText(QStringLiteral("0"));
    dialog.toEdit()->setText(QString::number(kMaxBatchUrls));
    EXPECT_TRUE(dialog.validate().contains(QString::number(kMaxBatchUrls + 1))) << dialog.validate().toStdString();

    QString said;
    ModalDriver driver({[&](QWidget* modal) { acceptLater(modal); },
                        [&](QWidget* modal) {
                            auto* box = qobject_cast<QMessageBox*>(modal);
                            ASSERT_NE(box, nullptr);
                            said = box->text();
                            box->accept();
                        },
                        [&](QWidget* modal) {
                            EXPECT_EQ(modal, &dialog);
                            EXPECT_EQ(dialog.urlEdit()->text(), typed);
                            EXPECT_EQ(dialog.toEdit()->text(), QString::number(kMaxBatchUrls));
                            dialog.reject();
                        }});
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(said, dialog.validate());
    EXPECT_FALSE(said.isEmpty());

    dialog.urlEdit()->setText(QStringLiteral("http://127.0.0.1:9/no-marker.bin"));
    dialog.toEdit()->setText(QStringLiteral("5"));
    EXPECT_EQ(dialog.validate(), QStringLiteral("Must include parenthesis in URL."));
    dialog.toEdit()->setText(QStringLiteral("99999999999999999999"));
    dialog.urlEdit()->setText(typed);
    EXPECT_TRUE(dialog.validate().contains(QStringLiteral("\"To\""))) << dialog.validate().toStdString();
}

TEST_F(ListDialogsTest, OkInTheBatchDialogAddsTheSeriesAsJobs)
{
    DialogOpener opener(m_session.app, *m_session.view, nullptr);
    ModalDriver driver({[&](QWidget* modal) {
        auto* dialog = qobject_cast<BatchDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->objectName(), QString::fromLatin1(BatchDialog::kSectionName));
        dialog->urlEdit()->setText(QStringLiteral("ftp://127.0.0.1:9/disk(*).img"));
        dialog->fromEdit()->setText(QStringLiteral("1"));
        dialog->toEdit()->setText(QStringLiteral("3"));
        dialog->widthBox()->setValue(2);
        acceptLater(dialog);
    }});
    EXPECT_TRUE(opener.open(openName(ViewCommand::BatchDownload)));
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(urlsOf(m_session.doc().downloading()),
              (std::vector<std::string>{"ftp://127.0.0.1:9/disk01.img", "ftp://127.0.0.1:9/disk02.img",
                                        "ftp://127.0.0.1:9/disk03.img"}));
    // Only the first URL was shown in the add-download dialog.
    EXPECT_EQ(m_session.prompts.texts("editJob").size(), 1u);
}

// ---- export information --------------------------------------------------------------------------

TEST_F(ListDialogsTest, ExportInformationWritesThePageOfTheChosenCategoryAndStyle)
{
    const auto program = m_dir / "program";
    writeFileIn(program / "A.kxs", "[Format]\nITEM=A:{F_NAME}\n");
    writeFileIn(program / "B.kxs", "[Format]\nF_START=<b>\nITEM=B:{F_NAME}|{F_URL}\nF_END=</b>\n");
    m_session.app.settings().SetOptionText(OptionId::ProgramFolder, program.string());
    DownloadJob* category
        = m_session.doc().AddCategory("Games", (m_dir / "games").string(), m_session.doc().downloaded());
    writeFileIn(m_dir / "games" / "g.bin", "game");
    PreviousFileStart start;
    std::string error;
    ASSERT_TRUE(preparePreviousFile(m_session.app, m_dir / "games" / "g.bin", start, error)) << error;
    ImportChoice choice;
    choice.url = "http://127.0.0.1:9/g.bin";
    choice.category = category;
    ASSERT_NE(importPreviousFile(m_session.app, *m_session.view, std::move(start), choice).job, nullptr);
    m_session.view->list().openCategory(category);

    ExportInfoDialog dialog(m_session.app, *m_session.view);
    EXPECT_EQ(chosenCategory(dialog.categoryBox()), category);
    ASSERT_EQ(dialog.styleBox()->count(), 2);
    EXPECT_EQ(dialog.styleBox()->currentText(), QStringLiteral("A"));
    dialog.styleBox()->setCurrentIndex(1);
    const auto output = m_dir / "games.htm";
    EXPECT_EQ(dialog.exportTo(output), QString());
    EXPECT_EQ(readFile(output), "<b>\r\nB:g.bin|http://127.0.0.1:9/g.bin\r\n\r\n</b>");

    // The log export writes the job's information file beside its file.
    dialog.logButton()->setChecked(true);
    EXPECT_FALSE(dialog.styleBox()->isEnabled());
    EXPECT_EQ(dialog.exportTo({}), QString());
    EXPECT_NE(readFile(m_dir / "games" / "g.bin.log").find("http://127.0.0.1:9/g.bin"), std::string::npos);
}

TEST_F(ListDialogsTest, AnExportThatCannotWriteSaysSoAndTheDialogStays)
{
    const auto program = m_dir / "program";
    writeFileIn(program / "A.kxs", "[Format]\nITEM={F_NAME}\n");
    m_session.app.settings().SetOptionText(OptionId::ProgramFolder, program.string());
    ExportInfoDialog dialog(m_session.app, *m_session.view);
    QString said;
    ModalDriver driver({[&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        said = box->text();
        box->accept();
    }});
    const QString problem = dialog.exportTo(m_dir / "no-such-folder" / "out.htm");
    EXPECT_FALSE(problem.isEmpty());
    EXPECT_EQ(said, problem);
    EXPECT_TRUE(said.contains(QStringLiteral("out.htm"))) << said.toStdString();
}

// ---- a saved page ------------------------------------------------------------------------------------

TEST_F(ListDialogsTest, ASavedPagesLinksGoThroughSelectLinksWithTheUrlTyped)
{
    const auto page = m_dir / "saved.html";
    writeFileIn(page, "<html><a href=\"a.zip\">A</a> <a href=\"sub/b.zip\">B</a> <a href=\"mailto:x@y\">m</a></html>");
    ModalDriver driver({[&](QWidget* modal) {
        auto* ask = qobject_cast<EnterUrlDialog*>(modal);
        ASSERT_NE(ask, nullptr);
        ask->urlBox()->setEditText(QStringLiteral("http://127.0.0.1:9/site/index.html"));
        ask->accept();
    }});
    EXPECT_TRUE(processSavedPage(m_session.app, *m_session.view, page, nullptr));
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(m_session.prompts.texts("selectLinks"), std::vector<std::string>{"2"});
    EXPECT_EQ(urlsOf(m_session.doc().downloading()),
              (std::vector<std::string>{"http://127.0.0.1:9/site/a.zip", "http://127.0.0.1:9/site/sub/b.zip"}));

    // The next time the box offers the URL typed before.
    ModalDriver again({[&](QWidget* modal) {
        auto* ask = qobject_cast<EnterUrlDialog*>(modal);
        ASSERT_NE(ask, nullptr);
        ASSERT_EQ(ask->urlBox()->count(), 1);
        EXPECT_EQ(ask->urlBox()->itemText(0), QStringLiteral("http://127.0.0.1:9/site/index.html"));
        ask->reject();
    }});
    EXPECT_FALSE(processSavedPage(m_session.app, *m_session.view, page, nullptr));
    EXPECT_TRUE(again.done());
}

// ---- imports ------------------------------------------------------------------------------------------

TEST_F(ListDialogsTest, AnEarlierFileIsImportedAsACompletedJobWithTheDialogsFields)
{
    const auto file = m_dir / "earlier.iso";
    writeFileIn(file, std::string(5000, 'e'));
    DownloadJob described;
    ASSERT_TRUE(described.SetUrl("http://127.0.0.1:9/earlier.iso"));
    described.editTexts().comment = "from the companion";
    ASSERT_TRUE(WriteCompanionFile(file, described));
    ModalDriver driver({[&](QWidget* modal) {
        auto* dialog = qobject_cast<PreviousFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->urlEdit()->text(), QStringLiteral("http://127.0.0.1:9/earlier.iso"));
        EXPECT_EQ(dialog->commentEdit()->text(), QStringLiteral("from the companion"));
        EXPECT_EQ(dialog->fileLabel()->text(), QString::fromStdString(file.string()));
        dialog->refererEdit()->setText(QStringLiteral("http://127.0.0.1:9/"));
        dialog->accept();
    }});
    DownloadJob* job = importChosenFile(m_session.app, *m_session.view, PreviousFileMode::Completed, file, nullptr);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->GetState(), JobState::Completed);
    EXPECT_EQ(job->parent(), m_session.doc().downloaded());
    EXPECT_EQ(job->referer, "http://127.0.0.1:9/");
    EXPECT_EQ(job->comment(), "from the companion");
}

TEST_F(ListDialogsTest, ABrokenDownloadNeedsAUrlAndWaitsReadyInTheQueue)
{
    const auto file = m_dir / "broken.bin";
    writeFileIn(file, std::string(700, 'b'));
    QString said;
    ModalDriver driver({[&](QWidget* modal) {
                            auto* dialog = qobject_cast<PreviousFileDialog*>(modal);
                            ASSERT_NE(dialog, nullptr);
                            acceptLater(dialog);  // without a URL
                        },
                        [&](QWidget* modal) {
                            auto* box = qobject_cast<QMessageBox*>(modal);
                            ASSERT_NE(box, nullptr);
                            said = box->text();
                            box->accept();
                        },
                        [&](QWidget* modal) {
                            auto* dialog = qobject_cast<PreviousFileDialog*>(modal);
                            ASSERT_NE(dialog, nullptr);
                            dialog->urlEdit()->setText(QStringLiteral("http://127.0.0.1:9/broken.bin"));
                            dialog->accept();
                        }});
    DownloadJob* job = importChosenFile(m_session.app, *m_session.view, PreviousFileMode::Broken, file, nullptr);
    EXPECT_TRUE(driver.done());
    EXPECT_FALSE(said.isEmpty());
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->parent(), m_session.doc().downloading());
    EXPECT_EQ(job->GetState(), JobState::Ready);
    EXPECT_EQ(job->startMode, StartMode::Manual);
    EXPECT_EQ(job->completedBytes, 700);
}

TEST_F(ListDialogsTest, AFolderImportAddsItsFilesAndSaysHowMany)
{
    const auto folder = m_dir / "old";
    writeFileIn(folder / "one.txt", "1");
    writeFileIn(folder / "two.txt", "22");
    writeFileIn(folder / "deeper" / "three.txt", "333");
    QString said;
    ModalDriver driver({[&](QWidget* modal) {
                            auto* dialog = qobject_cast<PreviousBatchDialog*>(modal);
                            ASSERT_NE(dialog, nullptr);
                            dialog->folderEdit()->setText(QString::fromStdString(folder.string()));
                            dialog->subFoldersBox()->setChecked(true);
                            dialog->accept();
                        },
                        [&](QWidget* modal) {
                            auto* box = qobject_cast<QMessageBox*>(modal);
                            ASSERT_NE(box, nullptr);
                            said = box->text();
                            box->accept();
                        }});
    EXPECT_TRUE(DialogOpener(m_session.app, *m_session.view, nullptr).open(openName(ViewCommand::ImportPreviousBatch)));
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(said, QStringLiteral("Total add 3 files."));
    std::vector<std::string> names;
    for (DownloadJob* job : ViewSession::jobsOf(m_session.doc().downloaded())) {
        EXPECT_EQ(job->GetState(), JobState::Completed);
        names.push_back(job->GetDisplayName());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"one.txt", "three.txt", "two.txt"}));
}

// ---- recently downloaded -----------------------------------------------------------------------------

TEST_F(ListDialogsTest, RecentlyDownloadedListsCompletedFilesNewestFirstAndOpensThem)
{
    std::vector<DownloadJob*> jobs;
    for (const std::string name : {"first.bin", "second.bin", "third.bin"}) {
        writeFileIn(m_dir / name, name);
        PreviousFileStart start;
        std::string error;
        ASSERT_TRUE(preparePreviousFile(m_session.app, m_dir / name, start, error)) << error;
        jobs.push_back(importPreviousFile(m_session.app, *m_session.view, std::move(start), {}).job);
        ASSERT_NE(jobs.back(), nullptr);
    }
    jobs[0]->completeTime = 2000;
    jobs[1]->completeTime = 1000;
    jobs[2]->completeTime = 3000;
    QStringList rows;
    QStringList folders;
    ModalDriver driver({[&](QWidget* modal) {
        auto* dialog = qobject_cast<RecentFilesDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        QTreeWidget* list = dialog->list();
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            rows << list->topLevelItem(row)->text(RecentFilesDialog::NameColumn);
            folders << list->topLevelItem(row)->text(RecentFilesDialog::FolderColumn);
        }
        list->setCurrentItem(list->topLevelItem(1));
        dialog->openButton()->click();
        dialog->folderButton()->click();
        dialog->reject();
    }});
    EXPECT_TRUE(DialogOpener(m_session.app, *m_session.view, nullptr).open(openName(ViewCommand::RecentlyDownloaded)));
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(rows, (QStringList{"third.bin", "first.bin", "second.bin"}));
    EXPECT_EQ(folders.value(0), QString::fromStdString(m_dir.path().string()));
    EXPECT_EQ(m_session.desktop.opened, std::vector<std::string>{(m_dir / "first.bin").string()});
    EXPECT_EQ(m_session.desktop.shown, std::vector<std::string>{(m_dir / "first.bin").string()});
}

}  // namespace
}  // namespace fetchora
