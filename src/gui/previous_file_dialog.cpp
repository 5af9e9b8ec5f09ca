#include "gui/previous_file_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/category_box.h"
#include "gui/gui_string_ids.h"
#include "gui/rules_controls.h"
#include "gui/ui_text.h"
#include "model/job_database.h"
#include "net/url.h"
#include "shell/application.h"
#include "shell/job_list_model.h"
#include "shell/list_commands.h"
#include "shell/main_view.h"

namespace fetchora {

namespace {

QString sizeText(int64_t bytes)
{
    const QLocale locale;
    return uiString(kStrSizeInBytes).arg(locale.formattedDataSize(bytes), locale.toString(bytes));
}

QString dateText(int32_t modified)
{
    if (modified < 0)
        return {};
    return QLocale().toString(QDateTime::fromSecsSinceEpoch(modified), QLocale::ShortFormat);
}

bool fetchable(const std::string& url)
{
    const auto entry = ParseUrl(url);
    return entry && IsTransferable(entry->service);
}

}  // namespace

PreviousFileDialog::PreviousFileDialog(PreviousFileMode mode, const DiskFile& file, DownloadJob* root,
                                       const ImportChoice& start, QWidget* parent)
    : QDialog(parent), m_mode(mode)
{
    setObjectName(QString::fromLatin1(kSectionName));
    setUiText(this, mode == PreviousFileMode::Completed ? kStrPreviousFileTitle : kStrBrokenDownloadTitle);
    m_file = new QLabel(QString::fromStdString(file.path.string()), this);
    m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_file->setWordWrap(true);
    m_date = new QLabel(dateText(file.modified), this);
    m_size = new QLabel(sizeText(file.size), this);
    m_category = new QComboBox(this);
    fillCategoryBox(m_category, root, CategoryOffer::FileInto, start.category);
    m_url = new QLineEdit(qText(start.url), this);
    m_url->setMinimumWidth(fontMetrics().averageCharWidth() * 60);
    m_referer = new QLineEdit(qText(start.referer), this);
    m_comment = new QLineEdit(qText(start.comment), this);
    m_move = new QCheckBox(tr("&Move File"), this);
    m_move->setChecked(start.moveFile);
    setUiText(m_move, kStrMoveToCategoryTip, UiTextRole::ToolTip);

    auto* form = new QFormLayout;
    form->addRow(tr("File:"), m_file);
    form->addRow(tr("Date:"), m_date);
    form->addRow(tr("Size:"), m_size);
    form->addRow(tr("&Category:"), m_category);
    form->addRow(tr("&URL:"), m_url);
    form->addRow(tr("&Referer:"), m_referer);
    form->addRow(tr("C&omment:"), m_comment);
    form->addRow(QString(), m_move);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &PreviousFileDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    int id = 2401;
    for (QObject* control :
         std::initializer_list<QObject*>{m_file, m_date, m_size, m_category, m_url, m_referer, m_comment, m_move})
        setControlId(control, id++);
    int labelId = 2451;
    for (QWidget* field :
         std::initializer_list<QWidget*>{m_file, m_date, m_size, m_category, m_url, m_referer, m_comment})
        setControlId(form->labelForField(field), labelId++);
    setControlId(buttons->button(QDialogButtonBox::Ok), 1);
    setControlId(buttons->button(QDialogButtonBox::Cancel), 2);
    m_category->setFocus();
}

ImportChoice PreviousFileDialog::choice() const
{
    ImportChoice choice;
    choice.url = m_url->text().trimmed().toStdString();
    choice.referer = m_referer->text().trimmed().toStdString();
    choice.comment = m_comment->text().toStdString();
    choice.category = chosenCategory(m_category);
    choice.moveFile = m_move->isChecked();
    return choice;
}

QString PreviousFileDialog::validate() const
{
    const std::string url = m_url->text().trimmed().toStdString();
    // A file downloaded long ago may have no known URL; a broken download
    // resumes from its URL and needs one.
    if (url.empty() && m_mode == PreviousFileMode::Completed)
        return {};
    if (!fetchable(url))
        return uiString(kStrPreviousFileNeedsUrl);
    return {};
}

void PreviousFileDialog::accept()
{
    const QString problem = validate();
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), problem);
        m_url->setFocus();
        return;
    }
    QDialog::accept();
}

DownloadJob* importChosenFile(Application& app, MainView& view, PreviousFileMode mode,
                              const std::filesystem::path& path, QWidget* parent)
{
    PreviousFileStart start;
    std::string error;
    if (!preparePreviousFile(app, path, start, error)) {
        QMessageBox::warning(parent, uiString(kStrImportTitle), QString::fromStdString(error));
        return nullptr;
    }
    if (!start.companionProblem.empty())
        QMessageBox::warning(parent, uiString(kStrImportTitle),
                             uiString(kStrCompanionNotUsed).arg(QString::fromStdString(start.companionProblem)));
    DownloadJob* root = nullptr;
    {
        JobLockGuard lock(app.jobLock());
        root = view.doc().root();
        start.choice.category = view.list().openCategory();
    }
    PreviousFileDialog dialog(mode, start.file, root, start.choice, parent);
    if (dialog.exec() != QDialog::Accepted)
        return nullptr;
    const ImportChoice choice = dialog.choice();
    const DiskFile file = start.file;
    const ImportResult result = mode == PreviousFileMode::Completed
        ? importPreviousFile(app, view, std::move(start), choice)
        : importBrokenDownload(app, view, file, choice);
    if (!result.job) {
        QMessageBox::warning(parent, dialog.windowTitle(), QString::fromStdString(result.error));
        return nullptr;
    }
    if (!result.warning.empty())
        QMessageBox::warning(parent, dialog.windowTitle(), QString::fromStdString(result.warning));
    return result.job;
}

void showImportPreviousFile(Application& app, MainView& view, QWidget* parent)
{
    const QString file = QFileDialog::getOpenFileName(parent, uiString(kStrAddPreviousFile));
    if (!file.isEmpty())
        importChosenFile(app, view, PreviousFileMode::Completed, file.toStdString(), parent);
}

void showImportBrokenDownload(Application& app, MainView& view, QWidget* parent)
{
    const QString file
        = QFileDialog::getOpenFileName(parent, uiString(kStrRecoverBrokenDownload));
    if (!file.isEmpty())
        importChosenFile(app, view, PreviousFileMode::Broken, file.toStdString(), parent);
}

}  // namespace fetchora
