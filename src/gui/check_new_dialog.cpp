#include "gui/check_new_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/rules_controls.h"
#include "gui/ui_text.h"
#include "shell/application.h"

namespace fetchora {

CheckNewDialog::CheckNewDialog(Application& app, UpdateSetup setup, DesktopActions& desktop, UpdateMode mode,
                               QWidget* parent)
    : QDialog(parent), m_mode(mode)
{
    setObjectName(QString::fromLatin1(kSectionName));
    const bool packs = mode == UpdateMode::LanguagePacks;
    setWindowTitle(uiString(packs ? kStrLanguagePackTitle : kStrVersionCheckTitle));

    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_status->setMinimumWidth(fontMetrics().averageCharWidth() * 50);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_progress = new QProgressBar(this);
    // A fetch gives no useful percentage for a file this small: a busy bar.
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->hide();

    m_list = new QTreeWidget(this);
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels(uiString(kStrLanguagePackColumns).split(u','));
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->setMinimumHeight(m_list->fontMetrics().lineSpacing() * 8);

    auto* buttons = new QDialogButtonBox(this);
    m_update = buttons->addButton(tr("&Update"), QDialogButtonBox::ActionRole);
    m_update->setEnabled(false);
    m_close = buttons->addButton(tr("&Close"), QDialogButtonBox::RejectRole);
    connect(m_update, &QPushButton::clicked, this, &CheckNewDialog::startUpdate);
    connect(buttons, &QDialogButtonBox::rejected, this, &CheckNewDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_progress);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    if (!packs) {
        // The version check has no list and nothing to update.
        m_list->hide();
        m_update->hide();
    }
    setTabOrder(m_list, m_update);
    setTabOrder(m_update, m_close);

    setControlId(m_status, 1001);
    setControlId(m_list, 1002);
    setControlId(m_progress, 1003);
    setControlId(m_update, 1004);
    setControlId(m_close, 2);

    m_session = std::make_unique<UpdateSession>(app, std::move(setup), desktop, static_cast<UpdateListener&>(*this));
}

CheckNewDialog::~CheckNewDialog() = default;

void CheckNewDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    // After the window is up, so that a quick answer never comes before it.
    QTimer::singleShot(0, this, [this] {
        setBusy(true);
        m_session->start(m_mode);
        if (!m_session->busy())
            setBusy(false);
    });
}

void CheckNewDialog::reject()
{
    m_session->cancel();
    QDialog::reject();
}

void CheckNewDialog::setBusy(bool busy)
{
    m_progress->setVisible(busy);
    if (busy)
        m_update->setEnabled(false);
}

void CheckNewDialog::startUpdate()
{
    std::vector<LanguagePackRow> ticked;
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        if (m_list->topLevelItem(row)->checkState(0) == Qt::Checked)
            ticked.push_back(m_rows[static_cast<size_t>(row)]);
    }
    if (ticked.empty())
        return;
    setBusy(true);
    m_session->downloadPacks(ticked);
}

void CheckNewDialog::statusChanged(const std::string& text)
{
    m_status->setText(qText(text));
    setBusy(true);
}

void CheckNewDialog::packsListed(const std::vector<LanguagePackRow>& rows)
{
    setBusy(false);
    m_status->clear();
    m_rows = rows;
    m_list->clear();
    for (const LanguagePackRow& row : rows) {
        auto* item = new QTreeWidgetItem(
            m_list, {qText(row.displayName), qText(row.installedVersion), qText(row.latestVersion)});
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Checked);
    }
    m_update->setEnabled(!rows.empty());
}

bool CheckNewDialog::askOpenDownloadPage(const std::string& question)
{
    setBusy(false);
    return QMessageBox::question(this, windowTitle(), qText(question), QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes)
        == QMessageBox::Yes;
}

void CheckNewDialog::ended(const std::string& text)
{
    setBusy(false);
    m_list->clear();
    m_rows.clear();
    if (text.empty()) {
        // The download page was opened: nothing more to say.
        QTimer::singleShot(0, this, &QDialog::accept);
        return;
    }
    m_status->setText(qText(text));
    m_close->setFocus();
}

void showCheckNewDialog(Application& app, DesktopActions& desktop, UpdateMode mode, QWidget* parent)
{
    CheckNewDialog dialog(app, UpdateSetupFor(app), desktop, mode, parent);
    dialog.exec();
}

}  // namespace fetchora
