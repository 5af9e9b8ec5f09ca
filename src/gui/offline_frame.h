#pragma once
// The site explorer and offline browser window (COfflineFrame): the address
// bar with its history, the node tree, the entry list with its seven
// columns and view styles, the log pane, the filter and, in the site
// explorer, the favourites. Every decision is the session's
// (shell/explorer_session.h) or the explorer layer's; the window draws what
// they answer and hands picked entries to the main view (message 1231,
// source 2).
//
// Thread: the GUI thread, which runs the program's loop. The window is a
// top-level window owned by its parent (the main window) and deletes itself
// when closed; several may be open. Owns its session; borrows the
// application and the main view, which outlive every explorer window.
#include <QMainWindow>

#include <map>
#include <utility>
#include <memory>
#include <vector>

#include "explorer/explorer_entries.h"
#include "explorer/explorer_history.h"
#include "explorer/explorer_list_state.h"
#include "explorer/favorites_file.h"
#include "shell/explorer_session.h"
#include "shell/view_command.h"

class QAbstractItemModel;
class QAction;
class QComboBox;
class QListView;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QStackedWidget;
class QTimer;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace fetchora {

class Application;
class ExplorerEntryModel;
class MainView;

enum class ExplorerKind { SiteExplorer, OfflineBrowser };

// Command ids of the window (its menus and the controls' "controlId").
enum class ExplorerCommand : uint32_t {
    Go = 1,
    OpenInBrowser = 32826,
    NewWindow = 32881,
    Download = 32882,
    Filter = 32891,
    ClearLog = 32886,
    ClearHistory = 32898,
    Stop = 32879,
    Refresh = 32880,
    AddFavorite = 32894,
    OrganizeFavorites = 32895,
    CopyUrl = 32803,
    SaveLog = 32824,
    SelectAll = 32794,
    InvertSelection = 32795,
};

class COfflineFrame final : public QMainWindow, private ExplorerListener {
    Q_OBJECT
public:
    // Puts the cursor in the address bar (a window opened without an address).
    void focusAddress();
    COfflineFrame(Application& app, MainView& view, ExplorerKind kind, QWidget* parent = nullptr);
    ~COfflineFrame() override;

    ExplorerKind kind() const { return m_kind; }
    // Puts the address in the address bar and browses it ("Go").
    void browse(const QString& address);
    void go();
    // Hands the selected entries to the main view; returns how many.
    size_t downloadSelected();
    void refreshSelected();
    void stopFetch();
    void setViewStyle(ExplorerViewStyle style);
    void sortBy(EntryColumn column);
    void setFilter(const ExplorerFilter& filter);
    const ExplorerFilter& filter() const { return m_filter; }
    // "New Window": another window of the same kind.
    COfflineFrame* newWindow();
    // "Add to Favourites" without its dialog; false with the reason shown
    // in the log pane when refused.
    bool addFavorite(const QString& name, const QString& url);

    // What the tests look at.
    QComboBox* addressBar() const { return m_address; }
    QTreeWidget* nodeTree() const { return m_tree; }
    QTreeView* entryTable() const { return m_table; }
    QListView* entryIcons() const { return m_icons; }
    QAbstractItemModel* entryModel() const;
    // Whether the entry list is still being filled.
    bool filling() const;
    QPlainTextEdit* logPane() const { return m_log; }
    QMenu* favoritesMenu() const { return m_favoritesMenu; }
    ExplorerSession& session() { return *m_session; }
    FavoritesTree& favorites() { return m_favorites; }
    const ExplorerNode* shownNode() const { return m_shown; }
    bool busy() const { return m_session->busy(); }

    // Runs a command of the window by its id, as its menu entry or key would;
    // false when the window has no such command or it is disabled.
    bool runCommand(uint32_t id);
    QAction* commandAction(uint32_t id) const
    {
        const auto it = m_commands.find(id);
        return it == m_commands.end() ? nullptr : it->second;
    }
    QSplitter* listSplitter() const { return m_split; }
    QSplitter* logSplitter() const { return m_rightSplit; }

    // The favourites were changed elsewhere (the organise dialog): write
    // them and rebuild the menu.
    void favoritesChanged();

signals:
    void busyStateChanged(bool busy);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // ExplorerListener
    void nodeFetched(ExplorerNode& node) override;
    void logLine(const std::string& line) override;
    void busyChanged(bool busy) override;

    void buildWidgets();
    void buildMenus();
    // textId: the entry's text in the string table.
    QAction* command(ExplorerCommand id, uint32_t textId, const QKeySequence& keys = {});
    void buildToolsMenu();
    void buildHelpMenu();
    // An entry or key that runs the main view's command, named as the main
    // window's menu names it.
    QAction* forwarded(ViewCommand command, const QKeySequence& keys = {});
    // The status line's message (m_status) in the current language.
    void showStatus();
    // Enabled states and check marks from the main view and the settings.
    void updateCommands();
    void editOptions();
    void syncFilterCheck();
    void syncTree();
    void addTreeItems(ExplorerNode& node, QTreeWidgetItem* parentItem);
    QTreeWidgetItem* itemOf(const ExplorerNode* node) const;
    void showNode(ExplorerNode* node);
    void fillEntries();
    void fillSome();
    std::vector<EntryRow> selectedRows() const;
    void entryActivated(int row);
    void treeSelectionChanged();
    void chooseFilter();
    void addFavoriteDialog();
    void organizeFavoritesDialog();
    void rebuildFavoritesMenu();
    void copyUrls();
    void openInBrowser();
    void saveLog();
    void saveState();
    void restoreState();

    Application& m_app;
    MainView& m_view;
    ExplorerKind m_kind;
    std::unique_ptr<ExplorerSession> m_session;
    ExplorerHistory m_addressHistory;
    ExplorerHistory m_filterHistory;
    ExplorerFilter m_filter;
    FavoritesFile m_favoritesFile;
    FavoritesTree m_favorites;
    ExplorerViewStyle m_style = ExplorerViewStyle::Details;
    ExplorerNode* m_shown = nullptr;
    std::map<const ExplorerNode*, QTreeWidgetItem*> m_items;
    std::map<uint32_t, QAction*> m_commands;
    // The status line's message id and its number (-1: none); 0: none shown.
    std::pair<uint32_t, int> m_status{0, -1};

    QComboBox* m_address = nullptr;
    QTreeWidget* m_tree = nullptr;
    ExplorerEntryModel* m_model = nullptr;
    QTimer* m_fillTimer = nullptr;
    QTreeView* m_table = nullptr;
    QListView* m_icons = nullptr;
    QStackedWidget* m_entryStack = nullptr;
    QPlainTextEdit* m_log = nullptr;
    QSplitter* m_split = nullptr;
    QSplitter* m_rightSplit = nullptr;
    QMenu* m_favoritesMenu = nullptr;
};

// Opens a new explorer window over the main window (parent) and shows it;
// a non-empty address is browsed at once.
COfflineFrame* openExplorerWindow(Application& app, MainView& view, ExplorerKind kind, const std::string& address,
                                  QWidget* parent);

}  // namespace fetchora
