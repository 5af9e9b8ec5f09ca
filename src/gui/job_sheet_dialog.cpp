#include "gui/job_sheet_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

#include "model/download_job.h"

namespace fetchora {

namespace {

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string s(const QLineEdit* edit)
{
    return edit->text().trimmed().toStdString();
}

}  // namespace

JobSheetDialog::JobSheetDialog(const QString& title, DownloadJob& job, int maxSplit, QWidget* parent)
    : QDialog(parent), m_job(job), m_maxSplit(std::max(1, maxSplit))
{
    setWindowTitle(title);
    auto* form = new QFormLayout;
    m_url = new QLineEdit(q(job.url), this);
    form->addRow(tr("&URL:"), m_url);

    auto* folderRow = new QHBoxLayout;
    m_folder = new QLineEdit(q(job.saveFolder), this);
    auto* browse = new QPushButton(tr("&Browse..."), this);
    connect(browse, &QPushButton::clicked, this, &JobSheetDialog::browseFolder);
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(browse);
    form->addRow(tr("Save &to:"), folderRow);

    m_fileName = new QLineEdit(q(job.fileName.empty() ? job.defaultName : job.fileName), this);
    form->addRow(tr("&Rename:"), m_fileName);

    m_split = new QSpinBox(this);
    m_split->setRange(1, m_maxSplit);
    m_split->setValue(std::clamp(job.splitCount, 1, m_maxSplit));
    form->addRow(tr("&Split file into:"), m_split);

    m_startMode = new QComboBox(this);
    m_startMode->addItem(tr("Manual"), static_cast<int>(StartMode::Manual));
    m_startMode->addItem(tr("Immediately"), static_cast<int>(StartMode::Immediately));
    m_startMode->addItem(tr("Schedule"), static_cast<int>(StartMode::Schedule));
    m_startMode->setCurrentIndex(std::max(0, m_startMode->findData(static_cast<int>(job.startMode))));
    form->addRow(tr("S&tart:"), m_startMode);

    m_referer = new QLineEdit(q(job.referer), this);
    form->addRow(tr("R&eferer:"), m_referer);
    m_comment = new QLineEdit(q(job.comment), this);
    form->addRow(tr("&Comment:"), m_comment);
    m_user = new QLineEdit(q(job.userName), this);
    form->addRow(tr("User &name:"), m_user);
    m_password = new QLineEdit(q(job.password), this);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(tr("&Password:"), m_password);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &JobSheetDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    m_url->setMinimumWidth(fontMetrics().averageCharWidth() * 60);
}

bool JobSheetDialog::apply()
{
    const std::string url = s(m_url);
    if (url != m_job.url && !m_job.SetUrl(url))
        return false;
    m_job.SetSaveFolder(s(m_folder));
    const std::string name = s(m_fileName);
    if (name != (m_job.fileName.empty() ? m_job.defaultName : m_job.fileName))
        m_job.SetFileName(name);
    m_job.SetSplitCount(m_split->value(), m_maxSplit);
    m_job.SetStartMode(static_cast<StartMode>(m_startMode->currentData().toInt()));
    m_job.referer = s(m_referer);
    m_job.SetComment(m_comment->text().toStdString());
    // A login typed here replaces one that came with the URL.
    const std::string user = s(m_user);
    if (user != m_job.userName || m_password->text().toStdString() != m_job.password) {
        m_job.userName = user;
        m_job.password = m_password->text().toStdString();
        if (user.empty())
            m_job.optionFlags &= ~kOptUseLogin;
        else
            m_job.optionFlags |= kOptUseLogin;
    }
    return true;
}

void JobSheetDialog::accept()
{
    if (!apply()) {
        QMessageBox::warning(this, windowTitle(), tr("Invalid input."));
        m_url->setFocus();
        return;
    }
    QDialog::accept();
}

void JobSheetDialog::browseFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Save to"), m_folder->text());
    if (!folder.isEmpty())
        m_folder->setText(folder);
}

}  // namespace fetchora
