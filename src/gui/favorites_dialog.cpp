#include "gui/favorites_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>

#include "explorer/favorites_file.h"
#include "gui/ui_text.h"

namespace fetchora {

namespace {

constexpr int kIdRole = Qt::UserRole + 1;

// The dialog's texts in the string table.
constexpr uint32_t kTitleId = 40675;
constexpr uint32_t kHeadersId = 40676;  // "Name,URL"
constexpr uint32_t kNewFolderButtonId = 40677;  // then Edit, Delete, Move To
constexpr uint32_t kNewFolderId = 40681;
constexpr uint32_t kEditTitleId = 40682;
constexpr uint32_t kMoveTitleId = 40683;
constexpr uint32_t kFolderLabelId = 40684;
constexpr uint32_t kIntoItselfId = 40685;
constexpr uint32_t kNameLabelId = 40658;
constexpr uint32_t kUrlLabelId = 40659;
constexpr uint32_t kUrlKnownId = 40664;
constexpr uint32_t kFavoritesId = 61404;

QString qText(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

FavoritesDialog::FavoritesDialog(FavoritesTree& tree, QWidget* parent) : QDialog(parent), m_favorites(tree)
{
    setWindowTitle(uiString(kTitleId));
    setObjectName(QStringLiteral("OrganizeFavorites_Dlg"));
    m_tree = new QTreeWidget(this);
    m_tree->setColumnCount(2);
    m_tree->setHeaderLabels({uiListItem(kHeadersId, 0), uiListItem(kHeadersId, 1)});
    m_tree->setProperty("controlId", 1001);
    auto* newFolderButton = new QPushButton(uiString(kNewFolderButtonId), this);
    auto* editButton = new QPushButton(uiString(kNewFolderButtonId + 1), this);
    auto* deleteButton = new QPushButton(uiString(kNewFolderButtonId + 2), this);
    auto* moveButton = new QPushButton(uiString(kNewFolderButtonId + 3), this);
    int id = 1002;
    for (QPushButton* button : {newFolderButton, editButton, deleteButton, moveButton}) {
        button->setAutoDefault(false);
        button->setProperty("controlId", id++);
    }
    connect(newFolderButton, &QPushButton::clicked, this, [this] { newFolder(); });
    connect(editButton, &QPushButton::clicked, this, &FavoritesDialog::editDialog);
    connect(deleteButton, &QPushButton::clicked, this, [this] { deleteCurrent(); });
    connect(moveButton, &QPushButton::clicked, this, &FavoritesDialog::moveDialog);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* side = new QVBoxLayout;
    side->addWidget(newFolderButton);
    side->addWidget(editButton);
    side->addWidget(deleteButton);
    side->addWidget(moveButton);
    side->addStretch();
    auto* row = new QHBoxLayout;
    row->addWidget(m_tree, 1);
    row->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    rebuild();
}

void FavoritesDialog::rebuild()
{
    const int32_t current = currentId();
    m_tree->clear();
    auto* root = new QTreeWidgetItem(m_tree, {uiString(kFavoritesId)});
    root->setData(0, kIdRole, 0);
    root->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    std::function<void(QTreeWidgetItem*, int32_t)> fill = [&](QTreeWidgetItem* parent, int32_t parentId) {
        for (const Favorite* record : m_favorites.children(parentId)) {
            auto* item = new QTreeWidgetItem(parent, {qText(record->name), qText(record->url)});
            item->setData(0, kIdRole, record->id);
            item->setIcon(0, style()->standardIcon(record->isFolder() ? QStyle::SP_DirIcon : QStyle::SP_FileLinkIcon));
            if (record->isFolder())
                fill(item, record->id);
        }
    };
    fill(root, 0);
    m_tree->expandAll();
    selectId(current);
}

int32_t FavoritesDialog::currentId() const
{
    const QTreeWidgetItem* item = m_tree->currentItem();
    return item != nullptr ? item->data(0, kIdRole).toInt() : 0;
}

void FavoritesDialog::selectId(int32_t id)
{
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        if ((*it)->data(0, kIdRole).toInt() == id) {
            m_tree->setCurrentItem(*it);
            return;
        }
    }
}

bool FavoritesDialog::newFolder()
{
    // A new folder goes into the current folder, or beside the current address.
    int32_t parentId = currentId();
    if (const Favorite* current = m_favorites.find(parentId); current != nullptr && !current->isFolder())
        parentId = current->parentId;
    const int32_t id = m_favorites.addFolder(uiString(kNewFolderId).toStdString(), parentId);
    if (id == 0)
        return false;
    rebuild();
    selectId(id);
    emit changed();
    return true;
}

bool FavoritesDialog::editCurrent(const QString& name, const QString& url)
{
    const int32_t id = currentId();
    const Favorite* record = m_favorites.find(id);
    if (record == nullptr || name.trimmed().isEmpty())
        return false;
    if (!record->isFolder() && url.trimmed().toStdString() != record->url
        && !m_favorites.setUrl(id, url.trimmed().toStdString())) {
        QMessageBox::warning(this, windowTitle(), uiString(kUrlKnownId));
        return false;
    }
    m_favorites.rename(id, name.trimmed().toStdString());
    rebuild();
    emit changed();
    return true;
}

bool FavoritesDialog::deleteCurrent()
{
    if (!m_favorites.remove(currentId()))
        return false;
    rebuild();
    emit changed();
    return true;
}

bool FavoritesDialog::moveCurrent(int32_t folderId)
{
    const int32_t id = currentId();
    if (!m_favorites.move(id, folderId))
        return false;
    rebuild();
    selectId(id);
    emit changed();
    return true;
}

void FavoritesDialog::editDialog()
{
    const Favorite* record = m_favorites.find(currentId());
    if (record == nullptr)
        return;
    QDialog dialog(this);
    dialog.setWindowTitle(uiString(kEditTitleId));
    auto* name = new QLineEdit(qText(record->name), &dialog);
    auto* url = new QLineEdit(qText(record->url), &dialog);
    url->setEnabled(!record->isFolder());
    name->setProperty("controlId", 1001);
    url->setProperty("controlId", 1002);
    auto* form = new QFormLayout(&dialog);
    form->addRow(uiString(kNameLabelId), name);
    form->addRow(uiString(kUrlLabelId), url);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() == QDialog::Accepted)
        editCurrent(name->text(), url->text());
}

void FavoritesDialog::moveDialog()
{
    if (currentId() == 0)
        return;
    QStringList names{uiString(kFavoritesId)};
    std::vector<int32_t> ids{0};
    for (const Favorite& record : m_favorites.records()) {
        if (record.isFolder() && record.id != currentId()) {
            names << qText(record.name);
            ids.push_back(record.id);
        }
    }
    bool ok = false;
    const QString chosen = QInputDialog::getItem(this, uiString(kMoveTitleId), uiString(kFolderLabelId), names, 0, false, &ok);
    const qsizetype index = names.indexOf(chosen);
    if (ok && index >= 0 && !moveCurrent(ids[static_cast<size_t>(index)]))
        QMessageBox::warning(this, windowTitle(), uiString(kIntoItselfId));
}

}  // namespace fetchora
