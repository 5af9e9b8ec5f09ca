#include "gui/export_info_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "gui/category_box.h"
#include "gui/gui_prompts.h"
#include "gui/gui_string_ids.h"
#include "gui/rules_controls.h"
#include "gui/ui_text.h"
#include "lists/export_template.h"
#include "model/job_database.h"
#include "shell/application.h"
#include "shell/file_filters.h"
#include "shell/job_list_model.h"
#include "shell/list_commands.h"
#include "shell/main_view.h"

namespace fetchora {

namespace {

constexpr uint32_t kStrNoExportStyle = 41810;  // "%1" the style folder
constexpr uint32_t kStrFilesNotWritten = 41811;  // the error, the failed and all files

}  // namespace

ExportInfoDialog::ExportInfoDialog(Application& app, MainView& view, QWidget* parent)
    : QDialog(parent), m_app(app), m_mainView(view)
{
    setObjectName(QString::fromLatin1(kSectionName));
    setWindowTitle(tr("Export Downloaded information"));

    m_category = new QComboBox(this);
    {
        JobLockGuard lock(app.jobLock());
        fillCategoryBox(m_category, view.doc().root(), CategoryOffer::Every, view.list().openCategory());
    }
    m_subCategories = new QCheckBox(tr("&Include Sub-Category"), this);

    auto* type = new QGroupBox(tr("Export Type"), this);
    m_html = new QRadioButton(tr("&HTML"), type);
    m_log = new QRadioButton(tr("Individual &Log"), type);
    m_html->setChecked(true);
    auto* typeLayout = new QVBoxLayout(type);
    typeLayout->addWidget(m_html);
    typeLayout->addWidget(m_log);

    m_style = new QComboBox(this);
    const std::filesystem::path styles = exportStyleFolder(app);
    for (const std::string& style : ListExportStyles(styles))
        m_style->addItem(qText(style));
    m_noStyle
        = new QLabel(uiString(kStrNoExportStyle).arg(QString::fromStdString(styles.string())), this);
    m_noStyle->setWordWrap(true);
    m_noStyle->setVisible(m_style->count() == 0);
    m_view = new QCheckBox(tr("&View Export HTML file"), this);

    auto* form = new QFormLayout;
    form->addRow(tr("&Category:"), m_category);
    form->addRow(QString(), m_subCategories);
    form->addRow(type);
    form->addRow(tr("&Style:"), m_style);
    form->addRow(m_noStyle);
    form->addRow(QString(), m_view);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ExportInfoDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    int id = 2201;
    for (QObject* control :
         std::initializer_list<QObject*>{m_category, m_subCategories, type, m_html, m_log, m_style, m_noStyle, m_view})
        setControlId(control, id++);
    setControlId(form->labelForField(m_category), 2251);
    setControlId(form->labelForField(m_style), 2252);
    setControlId(buttons->button(QDialogButtonBox::Ok), 1);
    setControlId(buttons->button(QDialogButtonBox::Cancel), 2);

    connect(m_html, &QRadioButton::toggled, this, &ExportInfoDialog::updateEnabled);
    updateEnabled();
}

void ExportInfoDialog::updateEnabled()
{
    const bool html = m_html->isChecked();
    m_style->setEnabled(html && m_style->count() > 0);
    m_view->setEnabled(html);
}

InformationExportRequest ExportInfoDialog::request(const std::filesystem::path& output) const
{
    InformationExportRequest request;
    request.category = chosenCategory(m_category);
    request.includeSubCategories = m_subCategories->isChecked();
    request.type = m_html->isChecked() ? InformationExportType::Html : InformationExportType::IndividualLog;
    request.style = m_style->currentText().toStdString();
    request.output = output;
    request.viewAfter = m_view->isChecked();
    return request;
}

QString ExportInfoDialog::exportTo(const std::filesystem::path& output)
{
    const ExportResult result = runInformationExport(m_app, m_mainView, request(output));
    if (result.ok)
        return {};
    QString text = QString::fromStdString(result.error);
    if (result.filesFailed > 1)
        // One pass over the pattern: the error text may hold a "%".
        text = uiString(kStrFilesNotWritten)
                   .arg(text, QString::number(result.filesFailed),
                        QString::number(result.filesFailed + result.filesWritten));
    QMessageBox::warning(this, windowTitle(), text);
    return text;
}

void ExportInfoDialog::accept()
{
    std::filesystem::path output;
    if (m_html->isChecked()) {
        if (m_style->count() == 0) {
            QMessageBox::warning(this, windowTitle(), m_noStyle->text());
            return;
        }
        // The chooser adds ".htm" to a bare name and asks before replacing a file.
        QFileDialog chooser(this, uiString(kStrExportToHtml), {}, QtFileFilter(htmlFileFilter()));
        chooser.setAcceptMode(QFileDialog::AcceptSave);
        chooser.setDefaultSuffix(QStringLiteral("htm"));
        if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
            return;
        const QString file = chooser.selectedFiles().front();
        output = file.toStdString();
    }
    if (exportTo(output).isEmpty())
        QDialog::accept();
}

void showExportInfoDialog(Application& app, MainView& view, QWidget* parent)
{
    ExportInfoDialog dialog(app, view, parent);
    dialog.exec();
}

}  // namespace fetchora
