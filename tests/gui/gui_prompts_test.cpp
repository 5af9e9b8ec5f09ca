// The dialogs behind the view's questions, answered the way a user would: a
// timer finds the modal dialog once it is open and clicks or types into it.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include <functional>

#include "gui/gui_prompts.h"
#include "gui/job_property_sheet.h"
#include "model/download_job.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

// Runs `answer` on the dialog that is modal once the event loop turns.
void whenModal(std::function<void(QWidget&)> answer)
{
    QTimer::singleShot(0, [answer = std::move(answer)] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        answer(*modal);
    });
}

void setUp(DownloadJob& job, const std::string& url)
{
    EXPECT_TRUE(job.SetUrl(url));
    job.splitCount = 2;
    job.startMode = StartMode::Manual;
}

TEST(GuiPromptsTest, SelectLinksOffersAllTickedAndReturnsTheTickedInOrder)
{
    GuiPrompts prompts;
    const std::vector<LinkChoice> links{
        {"http://127.0.0.1:9/1.zip", "one"}, {"http://127.0.0.1:9/2.zip", "two"}, {"http://127.0.0.1:9/3.zip", ""}};
    int ticked = -1;
    whenModal([&ticked](QWidget& dialog) {
        auto* list = dialog.findChild<QListWidget*>();
        ASSERT_NE(list, nullptr);
        ticked = 0;
        for (int row = 0; row < list->count(); ++row)
            ticked += list->item(row)->checkState() == Qt::Checked ? 1 : 0;
        list->item(1)->setCheckState(Qt::Unchecked);
        static_cast<QDialog&>(dialog).accept();
    });
    const std::vector<LinkChoice> chosen = prompts.selectLinks(links);
    EXPECT_EQ(ticked, 3);
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen[0].url, "http://127.0.0.1:9/1.zip");
    EXPECT_EQ(chosen[1].url, "http://127.0.0.1:9/3.zip");

    whenModal([](QWidget& dialog) { static_cast<QDialog&>(dialog).reject(); });
    EXPECT_TRUE(prompts.selectLinks(links).empty());
}

// Which sheet opens is the call's, not the title's: the defaults sheet in
// another language, and a job's sheet whatever its title says.
TEST(GuiPromptsTest, TheDefaultsSheetHidesTheJobsOwnFieldsWhateverItsTitle)
{
    GuiPrompts prompts;
    DownloadJob job;
    setUp(job, "http://127.0.0.1:9/file.zip");
    struct Seen {
        QString title;
        bool urlShown = false;
        bool mirrorsShown = false;
    };
    auto look = [](Seen& seen) {
        return [&seen](QWidget& dialog) {
            auto* sheet = qobject_cast<JobPropertySheet*>(&dialog);
            ASSERT_NE(sheet, nullptr);
            seen.title = sheet->windowTitle();
            seen.urlShown = sheet->urlEdit()->isVisibleTo(sheet);
            seen.mirrorsShown = sheet->pages()->isTabVisible(2);
            sheet->reject();
        };
    };
    Seen defaults;
    whenModal(look(defaults));
    EXPECT_FALSE(prompts.editDefaults("Standardeigenschaften f\xC3\xBCr Downloads", job));
    EXPECT_EQ(defaults.title, QString::fromUtf8("Standardeigenschaften f\xC3\xBCr Downloads"));
    EXPECT_FALSE(defaults.urlShown);
    EXPECT_FALSE(defaults.mirrorsShown);

    Seen oneJob;
    whenModal(look(oneJob));
    EXPECT_FALSE(prompts.editJob("Default download properties", job));
    EXPECT_TRUE(oneJob.urlShown);
    EXPECT_TRUE(oneJob.mirrorsShown);
}

TEST(GuiPromptsTest, TheDuplicateQuestionReportsItsButtonAndItsBox)
{
    GuiPrompts prompts;
    DownloadJob existing;
    DownloadJob added;
    setUp(existing, "http://127.0.0.1:9/same.zip");
    setUp(added, "http://127.0.0.1:9/same.zip");
    struct Case {
        QString button;
        bool tick;
        DuplicateChoice expected;
    };
    const Case cases[] = {
        {QStringLiteral("&Download Again"), true, DuplicateChoice::DownloadAgain},
        {QStringLiteral("Check for &update"), false, DuplicateChoice::CheckForUpdate},
        {QStringLiteral("&Cancel"), false, DuplicateChoice::Cancel},
    };
    for (const Case& each : cases) {
        whenModal([&each](QWidget& dialog) {
            auto& box = static_cast<QMessageBox&>(dialog);
            box.checkBox()->setChecked(each.tick);
            for (QAbstractButton* button : box.buttons()) {
                if (button->text() == each.button)
                    button->click();
            }
        });
        const DuplicateAnswer answer = prompts.askDuplicateUrl(existing, added);
        EXPECT_EQ(answer.choice, each.expected) << each.button.toStdString();
        EXPECT_EQ(answer.useNewSettings, each.tick);
    }
}

TEST(GuiPromptsTest, ThePermanentDeleteBoxesStartAsRememberedAndComeBack)
{
    GuiPrompts prompts;
    whenModal([](QWidget& dialog) {
        const QList<QCheckBox*> boxes = dialog.findChildren<QCheckBox*>();
        ASSERT_EQ(boxes.size(), 2);
        EXPECT_TRUE(boxes[0]->isChecked());
        EXPECT_FALSE(boxes[1]->isChecked());
        boxes[1]->setChecked(true);
        static_cast<QDialog&>(dialog).accept();
    });
    const PermanentDeleteAnswer answer = prompts.confirmPermanentDelete(true, false);
    EXPECT_TRUE(answer.confirmed);
    EXPECT_TRUE(answer.deleteFiles);
    EXPECT_TRUE(answer.deleteUnfinished);

    whenModal([](QWidget& dialog) { static_cast<QDialog&>(dialog).reject(); });
    EXPECT_FALSE(prompts.confirmPermanentDelete(false, false).confirmed);
}

TEST(GuiPromptsTest, TheRememberBoxIsReadBackWithTheAnswer)
{
    GuiPrompts prompts;
    whenModal([](QWidget& dialog) {
        auto& box = static_cast<QMessageBox&>(dialog);
        box.checkBox()->setChecked(true);
        box.button(QMessageBox::No)->click();
    });
    bool doNotAsk = false;
    EXPECT_FALSE(prompts.askYesNoRemember("Use the same setting for other files?", doNotAsk));
    EXPECT_TRUE(doNotAsk);
}

}  // namespace
}  // namespace fetchora
