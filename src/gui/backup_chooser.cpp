#include "gui/backup_chooser.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/dialog_placement.h"
#include "gui/gui_prompts.h"
#include "gui/options_form.h"
#include "lang/string_table.h"

namespace fetchora {

namespace {

constexpr const char* kSection = "RestoreDb_Dlg";
constexpr int kPathRole = Qt::UserRole;
constexpr uint32_t kStrListColumns = kStrBackupListColumns;
// Where Name, Size and Modified sit in that string's list of labels.
constexpr int kNameLabel = 0;
constexpr int kSizeLabel = 4;
constexpr int kModifiedLabel = 5;

QString columnLabel(const QStringList& labels, int index, const char* fallback)
{
    return index < labels.size() ? labels[index] : QString::fromLatin1(fallback);
}

}  // namespace

BackupChooser::BackupChooser(const BackupChoice& choice, QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::fromLatin1(kSection));
    setWindowTitle(QString::fromStdString(choice.title));
    auto* icon = new QLabel(this);
    const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);
    auto* message = new QLabel(QString::fromStdString(choice.message), this);
    setControlId(message, 10);
    message->setWordWrap(true);

    m_list = new QTreeWidget(this);
    setControlId(m_list, 11);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    const QStringList labels = QString::fromUtf8(builtinString(kStrListColumns).data(),
                                                 static_cast<qsizetype>(builtinString(kStrListColumns).size()))
                                   .split(u',');
    m_list->setHeaderLabels({columnLabel(labels, kNameLabel, "Name"), columnLabel(labels, kSizeLabel, "Size"),
                             columnLabel(labels, kModifiedLabel, "Modified")});
    const QLocale locale;
    for (const BackupFile& backup : choice.backups) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdString(backup.name));
        item->setText(1, locale.toString(static_cast<qulonglong>(backup.size)));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(2, locale.toString(QDateTime::fromSecsSinceEpoch(backup.modified), QLocale::ShortFormat));
        item->setData(0, kPathRole, QString::fromStdString(backup.path.string()));
        item->setToolTip(0, QString::fromStdString(backup.path.string()));
    }
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->header()->setStretchLastSection(true);
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));
    auto* listLabel = new QLabel(tr("&Backups:"), this);
    listLabel->setBuddy(m_list);
    setControlId(listLabel, 11 + kLabelIdOffset);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(tr("&Restore"));
    setControlId(ok, kOkControlId);
    setControlId(buttons->button(QDialogButtonBox::Cancel), kCancelControlId);
    ok->setEnabled(m_list->currentItem() != nullptr);
    connect(m_list, &QTreeWidget::currentItemChanged, ok,
            [ok](QTreeWidgetItem* current) { ok->setEnabled(current != nullptr); });
    connect(m_list, &QTreeWidget::itemActivated, this, [this] { accept(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(message, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(listLabel);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    resize(fontMetrics().averageCharWidth() * 70, fontMetrics().height() * 16);
}

std::optional<std::filesystem::path> BackupChooser::chosen() const
{
    const QTreeWidgetItem* item = m_list->currentItem();
    if (item == nullptr)
        return std::nullopt;
    return std::filesystem::path(item->data(0, kPathRole).toString().toStdString());
}

std::optional<std::filesystem::path> chooseBackupFile(const BackupChoice& choice, QWidget* parent, Registry* registry)
{
    BackupChooser dialog(choice, parent);
    KeepDialogPlacement(dialog, registry, kSection);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosen();
}

ChooseBackup backupChooser(QWidget* parent, Registry* registry)
{
    return [parent, registry](const BackupChoice& choice) { return chooseBackupFile(choice, parent, registry); };
}

}  // namespace fetchora
