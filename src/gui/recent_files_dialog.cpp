#include "gui/recent_files_dialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/gui_string_ids.h"
#include "gui/rules_controls.h"
#include "gui/ui_text.h"
#include "platform/desktop_actions.h"
#include "shell/main_view.h"

namespace fetchora {

RecentFilesDialog::RecentFilesDialog(std::vector<RecentFile> files, DesktopActions& desktop, QWidget* parent)
    : QDialog(parent), m_files(std::move(files)), m_desktop(desktop)
{
    setObjectName(QString::fromLatin1(kSectionName));
    setWindowTitle(tr("Recently Downloaded File"));
    m_list = new QTreeWidget(this);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setHeaderLabels({tr("Name"), tr("Size"), tr("Completed"), tr("Folder")});
    for (size_t i = 0; i < m_files.size(); ++i) {
        const RecentFile& file = m_files[i];
        auto* item = new QTreeWidgetItem(
            m_list,
            QStringList{qText(file.name), qText(file.sizeText), qText(file.completeTimeText), qText(file.folder)});
        item->setData(NameColumn, Qt::UserRole, static_cast<qulonglong>(i));
        item->setToolTip(NameColumn, qText(file.path));
        item->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    }
    const int charWidth = fontMetrics().averageCharWidth();
    m_list->setColumnWidth(NameColumn, charWidth * 36);
    m_list->setColumnWidth(SizeColumn, charWidth * 12);
    m_list->setColumnWidth(CompletedColumn, charWidth * 22);
    m_list->header()->setStretchLastSection(true);
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));

    m_open = new QPushButton(tr("&Open"), this);
    m_folder = new QPushButton(tr("Open &Folder"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(m_open, QDialogButtonBox::ActionRole);
    buttons->addButton(m_folder, QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_open, &QPushButton::clicked, this, &RecentFilesDialog::openChosen);
    connect(m_folder, &QPushButton::clicked, this, &RecentFilesDialog::showChosenInFolder);
    connect(m_list, &QTreeWidget::itemActivated, this, [this] { openChosen(); });
    connect(m_list, &QTreeWidget::currentItemChanged, this, &RecentFilesDialog::updateEnabled);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    resize(charWidth * 110, fontMetrics().height() * 24);

    setControlId(m_list, 2601);
    setControlId(m_open, 2602);
    setControlId(m_folder, 2603);
    setControlId(buttons->button(QDialogButtonBox::Close), 2);
    updateEnabled();
}

const RecentFile* RecentFilesDialog::chosen() const
{
    const QTreeWidgetItem* item = m_list->currentItem();
    if (item == nullptr)
        return nullptr;
    const auto index = static_cast<size_t>(item->data(NameColumn, Qt::UserRole).toULongLong());
    return index < m_files.size() ? &m_files[index] : nullptr;
}

void RecentFilesDialog::updateEnabled()
{
    const bool any = chosen() != nullptr;
    m_open->setEnabled(any);
    m_folder->setEnabled(any);
}

bool RecentFilesDialog::openChosen()
{
    const RecentFile* file = chosen();
    if (file == nullptr)
        return false;
    if (!QFileInfo::exists(qText(file->path))) {
        QMessageBox::warning(this, windowTitle(), uiString(kStrRecentFileGone).arg(qText(file->path)));
        return false;
    }
    if (!m_desktop.open(file->path)) {
        QMessageBox::warning(this, windowTitle(), uiString(kStrNoProgramOpens).arg(qText(file->path)));
        return false;
    }
    return true;
}

bool RecentFilesDialog::showChosenInFolder()
{
    const RecentFile* file = chosen();
    if (file == nullptr)
        return false;
    // A file that is gone still has its folder to look in.
    const bool done = QFileInfo::exists(qText(file->path)) ? m_desktop.showInFolder(file->path)
        : QFileInfo(qText(file->folder)).isDir()           ? m_desktop.open(file->folder)
                                                           : false;
    if (!done)
        QMessageBox::warning(this, windowTitle(), uiString(kStrFolderNotShown).arg(qText(file->folder)));
    return done;
}

void showRecentFiles(Application& app, MainView& view, QWidget* parent)
{
    RecentFilesDialog dialog(recentlyDownloaded(app, view), view.desktop(), parent);
    dialog.exec();
}

}  // namespace fetchora
