#pragma once
// The links pane of the detail area: the links of the detail job's page as
// a table (Type, Title, URL) over a LinksPane, with its pop-up menu: "Add to
// job list", "Open in browser", the Encoding and the Sort by choices. It
// decides nothing: the rows come from the LinksPane, and what the two
// commands do is the caller's (the main view's).
//
// Thread: GUI thread. Owns its LinksPane, its model and its menu. The
// encoding and sort choices last as long as the widget (they are not stored).
#include <QTreeView>

#include <functional>
#include <string>
#include <vector>

#include "shell/links_pane.h"

class QAction;
class QActionGroup;
class QMenu;

namespace fetchora {

class LinksTableModel;

class LinksView final : public QTreeView {
    Q_OBJECT
public:
    using AddFn = std::function<void(std::vector<LinkChoice>)>;
    using OpenFn = std::function<void(const std::string& url)>;

    explicit LinksView(QWidget* parent = nullptr);
    ~LinksView() override;

    // What "Add to job list" and "Open in browser" do with the chosen links.
    void setLinkActions(AddFn add, OpenFn open);
    // Shows the page's links; the file is read only when it changed. Call
    // without the job lock.
    void showSource(const LinkPageSource& source);
    const LinksPane& pane() const { return m_pane; }

    // The selected rows, in row order, as links for the job list.
    std::vector<LinkChoice> selectedLinks() const;
    // "Add to job list" with the selection; "Open in browser" with the
    // current row (else the first selected one). Nothing without a selection.
    void addSelected();
    void openSelected();
    void chooseEncoding(size_t index);
    void chooseSortKey(LinkSortKey key);

    // The pop-up menu and its entries, for tests.
    QMenu* popupMenu() const { return m_menu; }
    QAction* addToListAction() const { return m_add; }
    QAction* openInBrowserAction() const { return m_open; }
    QAction* encodingAction(size_t index) const;
    QAction* sortAction(LinkSortKey key) const;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void buildMenu();
    void retextMenu();
    void refreshActions();
    // Runs a change of the pane's rows, keeping the selected URLs selected.
    template <typename Change> void changeRows(Change change);

    LinksPane m_pane;
    LinksTableModel* m_model = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_add = nullptr;
    QAction* m_open = nullptr;
    QActionGroup* m_encodings = nullptr;
    QActionGroup* m_sortKeys = nullptr;
    AddFn m_addFn;
    OpenFn m_openFn;
};

}  // namespace fetchora
