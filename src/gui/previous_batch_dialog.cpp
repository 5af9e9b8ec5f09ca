#include "gui/previous_batch_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/category_box.h"
#include "gui/gui_string_ids.h"
#include "gui/rules_controls.h"
#include "gui/ui_text.h"
#include "model/job_database.h"
#include "shell/application.h"
#include "shell/job_list_model.h"
#include "shell/list_commands.h"
#include "shell/main_view.h"

namespace fetchora {

namespace {

constexpr uint32_t kStrNoSuchFolder = 41808;
constexpr uint32_t kStrAndMore = 41809;  // "%1" the problems not shown

}  // namespace

PreviousBatchDialog::PreviousBatchDialog(DownloadJob* root, const DownloadJob* current, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QString::fromLatin1(kSectionName));
    setWindowTitle(tr("Add Previously Downloaded Batch File"));
    m_folder = new QLineEdit(this);
    m_folder->setMinimumWidth(fontMetrics().averageCharWidth() * 50);
    m_browse = new QPushButton(tr("&Browse..."), this);
    connect(m_browse, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getExistingDirectory(this, uiString(kStrPreviousFilesFolder),
                                                                 m_folder->text());
        if (!chosen.isEmpty())
            m_folder->setText(chosen);
    });
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(m_browse);
    m_subFolders = new QCheckBox(tr("&Include Sub-Directory"), this);
    m_category = new QComboBox(this);
    fillCategoryBox(m_category, root, CategoryOffer::FileInto, current);
    m_autoCategory = new QCheckBox(tr("&Auto Create Category"), this);
    setUiText(m_autoCategory, kStrAutoCategoryTip, UiTextRole::ToolTip);

    auto* form = new QFormLayout;
    form->addRow(tr("&Directory:"), folderRow);
    form->addRow(QString(), m_subFolders);
    form->addRow(tr("&Category:"), m_category);
    form->addRow(QString(), m_autoCategory);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &PreviousBatchDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    int id = 2501;
    for (QObject* control :
         std::initializer_list<QObject*>{m_folder, m_browse, m_subFolders, m_category, m_autoCategory})
        setControlId(control, id++);
    setControlId(form->labelForField(folderRow), 2551);
    setControlId(form->labelForField(m_category), 2552);
    setControlId(buttons->button(QDialogButtonBox::Ok), 1);
    setControlId(buttons->button(QDialogButtonBox::Cancel), 2);
}

FolderImportOptions PreviousBatchDialog::options() const
{
    FolderImportOptions options;
    options.folder = m_folder->text().trimmed().toStdString();
    options.includeSubFolders = m_subFolders->isChecked();
    options.category = chosenCategory(m_category);
    options.autoCreateCategory = m_autoCategory->isChecked();
    return options;
}

QString PreviousBatchDialog::validate() const
{
    const QString folder = m_folder->text().trimmed();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return uiString(kStrNoSuchFolder);
    return {};
}

void PreviousBatchDialog::accept()
{
    const QString problem = validate();
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), problem);
        return;
    }
    QDialog::accept();
}

int showImportPreviousBatch(Application& app, MainView& view, QWidget* parent)
{
    DownloadJob* root = nullptr;
    const DownloadJob* current = nullptr;
    {
        JobLockGuard lock(app.jobLock());
        root = view.doc().root();
        current = view.list().openCategory();
    }
    PreviousBatchDialog dialog(root, current, parent);
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    const FolderImportResult result = importPreviousFolder(app, view, dialog.options());
    QString text = QString::fromStdString(result.message);
    // A folder of unreadable files must not make a box taller than the screen.
    constexpr std::size_t kProblemsShown = 20;
    for (std::size_t i = 0; i < result.problems.size() && i < kProblemsShown; ++i)
        text += u'\n' + QString::fromStdString(result.problems[i]);
    if (result.problems.size() > kProblemsShown)
        text += u'\n' + uiString(kStrAndMore).arg(result.problems.size() - kProblemsShown);
    QMessageBox box(result.problems.empty() ? QMessageBox::Information : QMessageBox::Warning, dialog.windowTitle(),
                    text, QMessageBox::Ok, parent);
    box.exec();
    return result.added;
}

}  // namespace fetchora
