#pragma once
// "Organize Favourites": the favourites tree with New Folder, Edit (rename,
// and the URL of an address), Delete and Move. Every change is made on the
// tree at once and announced by changed(), which writes the file.
//
// Thread: the GUI thread. Borrows the tree, which outlives the dialog.
#include <QDialog>

class QTreeWidget;
class QTreeWidgetItem;

namespace fetchora {

class FavoritesTree;

class FavoritesDialog final : public QDialog {
    Q_OBJECT
public:
    FavoritesDialog(FavoritesTree& tree, QWidget* parent = nullptr);

    QTreeWidget* treeWidget() const { return m_tree; }
    // The commands, for the buttons and the tests; each acts on the current
    // item (the root when there is none) and answers whether it changed the tree.
    bool newFolder();
    bool editCurrent(const QString& name, const QString& url);
    bool deleteCurrent();
    bool moveCurrent(int32_t folderId);
    // The id of the item, 0 for none.
    int32_t currentId() const;
    void selectId(int32_t id);

signals:
    void changed();

private:
    void rebuild();
    void editDialog();
    void moveDialog();

    FavoritesTree& m_favorites;
    QTreeWidget* m_tree = nullptr;
};

}  // namespace fetchora
