#include "gui/offline_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSaveFile>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <array>
#include <functional>
#include <tuple>

#include "config/app_settings.h"
#include "config/option_id.h"
#include "config/settings_key.h"
#include "gui/about_dialog.h"
#include "gui/command_actions.h"
#include "gui/dialog_placement.h"
#include "gui/explorer_entry_model.h"
#include "gui/explorer_options_dialog.h"
#include "gui/favorites_dialog.h"
#include "gui/ui_text.h"
#include "lang/string_table.h"
#include "platform/desktop_actions.h"
#include "platform/registry.h"
#include "shell/application.h"
#include "shell/explorer_commands.h"
#include "shell/frame_placement.h"
#include "shell/main_view.h"
#include "shell/splitter_sizes.h"

namespace fetchora {

namespace {

constexpr int kNodeRole = Qt::UserRole + 1;
constexpr int kLogLines = 2000;
// The entry list fills in batches of this many rows, as many per turn of the
// loop as fit in the time below, so that the window keeps answering.
constexpr size_t kFillBatch = 200;
constexpr qint64 kFillSliceMs = 8;

// The window's texts in the string table (the two captions are 211 and 212).
namespace ids {
constexpr uint32_t AddressBar = 40601;
constexpr uint32_t Address = 40602;
constexpr uint32_t Go = 40603;
constexpr uint32_t FileMenu = 40604;
constexpr uint32_t NewWindow = 40605;
constexpr uint32_t Download = 40606;
constexpr uint32_t OpenInBrowser = 40607;
constexpr uint32_t CopyUrl = 40608;
constexpr uint32_t SaveLog = 40609;
constexpr uint32_t Exit = 40610;
constexpr uint32_t EditMenu = 40611;
constexpr uint32_t SelectAll = 40612;
constexpr uint32_t InvertSelection = 40613;
constexpr uint32_t Filter = 40614;
constexpr uint32_t ClearLog = 40615;
constexpr uint32_t ClearHistory = 40616;
constexpr uint32_t ViewMenu = 40617;
constexpr uint32_t SmallIcons = 40618;
constexpr uint32_t LargeIcons = 40619;
constexpr uint32_t List = 40620;
constexpr uint32_t Details = 40621;
constexpr uint32_t ArrangeIcons = 40622;
constexpr uint32_t ByName = 40623;  // then by type, title, size, URL, date, referer
constexpr uint32_t Stop = 40630;
constexpr uint32_t Refresh = 40631;
constexpr uint32_t FavoritesMenu = 40632;
constexpr uint32_t CommandsBar = 40633;
constexpr uint32_t ToolsMenu = 40634;
constexpr uint32_t ConnectDisconnect = 40635;
constexpr uint32_t NoDialUp = 40636;
constexpr uint32_t ExplorerOptions = 40640;
constexpr uint32_t FindPrevious = 40644;
constexpr uint32_t HelpMenu = 40645;
constexpr uint32_t About = 40646;
constexpr uint32_t AddFavorite = 40647;
constexpr uint32_t OrganizeFavorites = 40648;
constexpr uint32_t Listing = 40649;
constexpr uint32_t Entries = 40650;
constexpr uint32_t Fetching = 40651;
constexpr uint32_t Done = 40652;
constexpr uint32_t FilterTitle = 40653;
constexpr uint32_t ShowOnly = 40654;
constexpr uint32_t ShowAllExcept = 40655;
constexpr uint32_t FileTypes = 40656;
constexpr uint32_t AddFavoriteTitle = 40657;
constexpr uint32_t Name = 40658;
constexpr uint32_t Url = 40659;
constexpr uint32_t UserName = 40660;
constexpr uint32_t Password = 40661;
constexpr uint32_t TextFiles = 40662;
constexpr uint32_t FavoritesDamaged = 40663;
constexpr uint32_t FavoriteKnown = 40664;
constexpr uint32_t FavoriteNotAdded = 40665;
constexpr uint32_t FavoritesNotWritten = 40666;
constexpr uint32_t LogNotSaved = 40667;
constexpr uint32_t SiteExplorerCaption = 212;
constexpr uint32_t OfflineBrowserCaption = 211;
}  // namespace ids

QString qText(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string message(uint32_t id, std::string_view argument)
{
    return builtinText(id, {argument});
}

QMenu* addMenu(QMenuBar* bar, uint32_t textId)
{
    QMenu* menu = bar->addMenu(QString());
    setUiText(menu, textId);
    return menu;
}

QLabel* makeLabel(uint32_t textId, QWidget* parent)
{
    auto* label = new QLabel(parent);
    setUiText(label, textId);
    return label;
}

std::string uText(const QString& text)
{
    return text.toUtf8().toStdString();
}

std::string_view frameSection(ExplorerKind kind)
{
    return kind == ExplorerKind::SiteExplorer ? "Explore Frame" : "Offline Frame";
}

std::string_view listSection(ExplorerKind kind)
{
    return kind == ExplorerKind::SiteExplorer ? kExploreListSection : kOfflineListSection;
}

bool isFolderLike(const ExplorerNode& node)
{
    return node.kind != ExplorerNodeKind::File;
}

QIcon iconFor(const QWidget& widget, const EntryRow& row)
{
    if (row.node != nullptr && isFolderLike(*row.node))
        return widget.style()->standardIcon(row.node->kind == ExplorerNodeKind::Page ? QStyle::SP_FileLinkIcon
                                                                                     : QStyle::SP_DirIcon);
    // One look-up per file type: a page may list tens of thousands of files.
    static QMimeDatabase mimes;
    static QHash<QString, QIcon> byType;
    const QString type = qText(EntryCellText(row, EntryColumn::Type, true)).toLower();
    const auto known = byType.constFind(type);
    if (known != byType.constEnd())
        return *known;
    const QMimeType mime = mimes.mimeTypeForFile(QStringLiteral("x.") + type, QMimeDatabase::MatchExtension);
    const QIcon icon = QIcon::fromTheme(mime.iconName(), widget.style()->standardIcon(QStyle::SP_FileIcon));
    byType.insert(type, icon);
    return icon;
}

// The window's panes as the "Splitter" value keeps them: the tree and the
// list side by side above the log pane.
Pane paneLayout(const QSplitter& list, const QSplitter& log)
{
    const QList<int> across = list.sizes();
    const QList<int> along = log.sizes();
    auto at = [](const QList<int>& sizes, int i) { return i < sizes.size() ? sizes[i] : 0; };
    Pane top = Pane::divided(PaneSplit::Across, Pane::leaf("tree", at(across, 0)), Pane::leaf("list", at(across, 1)),
                             at(along, 0));
    return Pane::divided(PaneSplit::Along, std::move(top), Pane::leaf("log", at(along, 1)), 0);
}

// A user name and password typed for a favourite go into its URL, the only
// place the favourites file has for them.
QString urlWithLogin(const QString& url, const QString& user, const QString& password)
{
    if (user.isEmpty())
        return url;
    const qsizetype schemeEnd = url.indexOf(QStringLiteral("://"));
    if (schemeEnd < 0)
        return url;
    QString login = QString::fromUtf8(QUrl::toPercentEncoding(user));
    if (!password.isEmpty())
        login += u':' + QString::fromUtf8(QUrl::toPercentEncoding(password));
    return url.left(schemeEnd + 3) + login + u'@' + url.mid(schemeEnd + 3);
}

}  // namespace

COfflineFrame::COfflineFrame(Application& app, MainView& view, ExplorerKind kind, QWidget* parent)
    : QMainWindow(parent),
      m_app(app),
      m_view(view),
      m_kind(kind),
      m_addressHistory(std::string(kExploreHistorySection)),
      m_filterHistory(std::string(kExplorerFilterSection), std::string(kDefaultExplorerFilter)),
      m_favoritesFile(app.profileFolder() / std::string(kFavoritesFileName))
{
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(kind == ExplorerKind::SiteExplorer ? QStringLiteral("SiteExplorer")
                                                     : QStringLiteral("OfflineBrowser"));
    setUiText(this, kind == ExplorerKind::SiteExplorer ? ids::SiteExplorerCaption : ids::OfflineBrowserCaption);
    m_session = std::make_unique<ExplorerSession>(app, static_cast<ExplorerListener&>(*this));
    m_addressHistory.load(app.registry());
    m_filterHistory.load(app.registry());
    const bool damaged
        = kind == ExplorerKind::SiteExplorer && m_favoritesFile.load(m_favorites) == FavoritesLoad::Damaged;
    buildWidgets();
    buildMenus();
    restoreState();
    syncFilterCheck();
    if (damaged)
        logLine(message(ids::FavoritesDamaged, m_favoritesFile.damagedPath().string()));
    onLanguageChanged(this, [this] {
        retextByStringIds(this);
        for (const auto& [id, action] : m_commands)
            if (const std::optional<ViewCommand> forwardedCommand = ExplorerForwardedCommand(id))
                action->setText(commandMenuText(static_cast<uint32_t>(*forwardedCommand)));
        m_model->retext();
        showStatus();
    });
}

COfflineFrame::~COfflineFrame()
{
    // The session calls back into the window until it is gone.
    m_session.reset();
}

QAction* COfflineFrame::command(ExplorerCommand id, uint32_t textId, const QKeySequence& keys)
{
    auto* action = new QAction(this);
    setUiText(action, textId);
    action->setData(static_cast<uint32_t>(id));
    if (!keys.isEmpty())
        action->setShortcut(keys);
    m_commands[static_cast<uint32_t>(id)] = action;
    return action;
}

void COfflineFrame::buildWidgets()
{
    auto* bar = addToolBar(QString());
    setUiText(bar, ids::AddressBar);
    bar->setObjectName(QStringLiteral("AddressBar"));
    auto* label = makeLabel(ids::Address, bar);
    label->setProperty("controlId", 1501);  // its field's 1001 + 500
    m_address = new QComboBox(bar);
    m_address->setEditable(true);
    m_address->setInsertPolicy(QComboBox::NoInsert);
    m_address->setMaxCount(static_cast<int>(kExplorerHistorySize));
    m_address->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Room for a whole address, whatever the window's width.
    m_address->setMinimumContentsLength(48);
    m_address->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_address->setProperty("controlId", 1001);
    for (const std::string& entry : m_addressHistory.entries())
        m_address->addItem(qText(entry));
    m_address->setCurrentIndex(-1);
    label->setBuddy(m_address);
    bar->addWidget(label);
    bar->addWidget(m_address);
    QAction* goAction = command(ExplorerCommand::Go, ids::Go);
    connect(goAction, &QAction::triggered, this, &COfflineFrame::go);
    connect(m_address->lineEdit(), &QLineEdit::returnPressed, this, &COfflineFrame::go);
    bar->addAction(goAction);

    m_tree = new QTreeWidget(this);
    m_tree->setHeaderHidden(true);
    m_tree->setProperty("controlId", 100);
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &COfflineFrame::treeSelectionChanged);

    m_model = new ExplorerEntryModel([this](const EntryRow& row) { return iconFor(*this, row); }, this);
    m_fillTimer = new QTimer(this);
    m_fillTimer->setInterval(0);
    connect(m_fillTimer, &QTimer::timeout, this, &COfflineFrame::fillSome);
    m_table = new QTreeView(this);
    m_table->setModel(m_model);
    m_table->setRootIsDecorated(false);
    m_table->setUniformRowHeights(true);
    m_table->setAllColumnsShowFocus(true);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Entries come in page order until the user picks a sort key.
    m_table->header()->setSortIndicator(-1, Qt::AscendingOrder);
    m_table->setSortingEnabled(true);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setProperty("controlId", 101);
    m_icons = new QListView(this);
    m_icons->setModel(m_model);
    m_icons->setSelectionModel(m_table->selectionModel());
    m_icons->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_icons->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_icons->setResizeMode(QListView::Adjust);
    m_icons->setProperty("controlId", 102);
    m_entryStack = new QStackedWidget(this);
    m_entryStack->addWidget(m_table);
    m_entryStack->addWidget(m_icons);
    const auto activated = [this](const QModelIndex& index) { entryActivated(index.row()); };
    connect(m_table, &QAbstractItemView::doubleClicked, this, activated);
    connect(m_icons, &QAbstractItemView::doubleClicked, this, activated);

    m_log = new QPlainTextEdit(this);
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(kLogLines);
    m_log->setProperty("controlId", 103);

    m_rightSplit = new QSplitter(Qt::Vertical, this);
    m_split = new QSplitter(Qt::Horizontal, this);
    m_split->addWidget(m_tree);
    m_split->addWidget(m_entryStack);
    m_split->setStretchFactor(1, 3);
    m_rightSplit->addWidget(m_split);
    m_rightSplit->addWidget(m_log);
    m_rightSplit->setStretchFactor(0, 3);
    setCentralWidget(m_rightSplit);
    statusBar();
}

void COfflineFrame::buildMenus()
{
    QMenu* file = addMenu(menuBar(), ids::FileMenu);
    QAction* newWindowAction = command(ExplorerCommand::NewWindow, ids::NewWindow, QKeySequence(QStringLiteral("Ctrl+N")));
    connect(newWindowAction, &QAction::triggered, this, [this] { newWindow(); });
    file->addAction(newWindowAction);
    QAction* download = command(ExplorerCommand::Download, ids::Download);
    QAction* browser = command(ExplorerCommand::OpenInBrowser, ids::OpenInBrowser);
    QAction* copy = command(ExplorerCommand::CopyUrl, ids::CopyUrl, QKeySequence::Copy);
    QAction* saveLogAction = command(ExplorerCommand::SaveLog, ids::SaveLog);
    connect(download, &QAction::triggered, this, [this] { downloadSelected(); });
    connect(browser, &QAction::triggered, this, &COfflineFrame::openInBrowser);
    connect(copy, &QAction::triggered, this, &COfflineFrame::copyUrls);
    connect(saveLogAction, &QAction::triggered, this, &COfflineFrame::saveLog);
    if (m_kind == ExplorerKind::SiteExplorer) {
        file->addAction(download);
        file->addAction(browser);
        file->addAction(saveLogAction);
    }
    file->addSeparator();
    setUiText(file->addAction(QString(), this, &QWidget::close), ids::Exit);
    if (m_kind == ExplorerKind::OfflineBrowser) {
        buildHelpMenu();
        return;
    }

    QMenu* edit = addMenu(menuBar(), ids::EditMenu);
    edit->addAction(copy);
    QAction* all = command(ExplorerCommand::SelectAll, ids::SelectAll, QKeySequence::SelectAll);
    connect(all, &QAction::triggered, m_table, &QAbstractItemView::selectAll);
    edit->addAction(all);
    QAction* invert = command(ExplorerCommand::InvertSelection, ids::InvertSelection);
    connect(invert, &QAction::triggered, this, [this] {
        QItemSelection everything(m_model->index(0, 0), m_model->index(m_model->rowCount() - 1, kExplorerColumns - 1));
        m_table->selectionModel()->select(everything, QItemSelectionModel::Toggle);
    });
    edit->addAction(invert);
    edit->addSeparator();
    QAction* filterAction = command(ExplorerCommand::Filter, ids::Filter);
    // Checked while a filter is on; choosing it then removes the filter.
    filterAction->setCheckable(true);
    connect(filterAction, &QAction::triggered, this, &COfflineFrame::chooseFilter);
    edit->addAction(filterAction);
    QAction* clearLog = command(ExplorerCommand::ClearLog, ids::ClearLog);
    connect(clearLog, &QAction::triggered, m_log, &QPlainTextEdit::clear);
    edit->addAction(clearLog);
    QAction* clearHistory = command(ExplorerCommand::ClearHistory, ids::ClearHistory);
    connect(clearHistory, &QAction::triggered, this, [this] {
        m_addressHistory.clear();
        m_addressHistory.save(m_app.registry());
        m_app.registry().flush();
        const QString text = m_address->currentText();
        m_address->clear();
        m_address->setEditText(text);
    });
    edit->addAction(clearHistory);

    QMenu* viewMenu = addMenu(menuBar(), ids::ViewMenu);
    auto* styles = new QActionGroup(this);
    const std::pair<ExplorerViewStyle, uint32_t> styleItems[] = {
        {ExplorerViewStyle::SmallIcons, ids::SmallIcons},
        {ExplorerViewStyle::LargeIcons, ids::LargeIcons},
        {ExplorerViewStyle::List, ids::List},
        {ExplorerViewStyle::Details, ids::Details},
    };
    for (const auto& [style, textId] : styleItems) {
        QAction* action = viewMenu->addAction(QString());
        setUiText(action, textId);
        action->setCheckable(true);
        action->setChecked(style == m_style);
        action->setData(static_cast<int>(style));
        styles->addAction(action);
        connect(action, &QAction::triggered, this, [this, style = style] { setViewStyle(style); });
    }
    viewMenu->addSeparator();
    const EntryColumn sortItems[] = {
        EntryColumn::Name, EntryColumn::Type,     EntryColumn::Title, EntryColumn::Size,
        EntryColumn::Url,  EntryColumn::Modified, EntryColumn::From,
    };
    QMenu* arrange = viewMenu->addMenu(QString());
    setUiText(arrange, ids::ArrangeIcons);
    for (size_t i = 0; i < std::size(sortItems); ++i)
        setUiText(arrange->addAction(QString(), this, [this, column = sortItems[i]] { sortBy(column); }),
                  ids::ByName + static_cast<uint32_t>(i));
    viewMenu->addSeparator();
    QAction* stop = command(ExplorerCommand::Stop, ids::Stop, QKeySequence(Qt::Key_Escape));
    connect(stop, &QAction::triggered, this, &COfflineFrame::stopFetch);
    stop->setEnabled(false);
    viewMenu->addAction(stop);
    QAction* refresh = command(ExplorerCommand::Refresh, ids::Refresh, QKeySequence(Qt::Key_F5));
    connect(refresh, &QAction::triggered, this, &COfflineFrame::refreshSelected);
    viewMenu->addAction(refresh);

    m_favoritesMenu = addMenu(menuBar(), ids::FavoritesMenu);
    rebuildFavoritesMenu();
    buildToolsMenu();
    buildHelpMenu();

    QToolBar* tools = addToolBar(QString());
    setUiText(tools, ids::CommandsBar);
    tools->setObjectName(QStringLiteral("Commands"));
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // The commands above, the address bar on a row of its own below them:
    // a whole address stays visible however many commands there are.
    if (auto* addressBar = findChild<QToolBar*>(QStringLiteral("AddressBar"))) {
        insertToolBar(addressBar, tools);
        insertToolBarBreak(addressBar);
    }
    stop->setIcon(QIcon::fromTheme(QStringLiteral("process-stop"), style()->standardIcon(QStyle::SP_BrowserStop)));
    refresh->setIcon(QIcon::fromTheme(QStringLiteral("view-refresh"), style()->standardIcon(QStyle::SP_BrowserReload)));
    download->setIcon(QIcon::fromTheme(QStringLiteral("document-save"), style()->standardIcon(QStyle::SP_ArrowDown)));
    filterAction->setIcon(
        QIcon::fromTheme(QStringLiteral("view-filter"), style()->standardIcon(QStyle::SP_FileDialogContentsView)));
    tools->addAction(stop);
    tools->addAction(refresh);
    tools->addAction(download);
    tools->addAction(filterAction);

    for (QWidget* list : {static_cast<QWidget*>(m_table), static_cast<QWidget*>(m_icons)}) {
        list->setContextMenuPolicy(Qt::ActionsContextMenu);
        list->addAction(download);
        list->addAction(browser);
        list->addAction(copy);
    }
    m_table->header()->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_table->header()->addActions(styles->actions());
}

void COfflineFrame::buildToolsMenu()
{
    QMenu* tools = addMenu(menuBar(), ids::ToolsMenu);
    QAction* connectAction = tools->addAction(QString());
    setUiText(connectAction, ids::ConnectDisconnect);
    connectAction->setData(kExplorerConnectCommand);
    connectAction->setEnabled(ExplorerCommandAvailable(kExplorerConnectCommand));
    setUiText(connectAction, ids::NoDialUp, UiTextRole::ToolTip);
    m_commands[kExplorerConnectCommand] = connectAction;
    const std::pair<ViewCommand, QKeySequence> switches[] = {
        {ViewCommand::ShutDownWhenDone, {}},
        {ViewCommand::HangUpWhenDone, QKeySequence(QStringLiteral("Alt+H"))},
        {ViewCommand::RedialIfDisconnected, {}},
    };
    for (const auto& [command, keys] : switches) {
        QAction* action = forwarded(command, keys);
        action->setCheckable(true);
        tools->addAction(action);
    }
    tools->addSeparator();
    QAction* explorerOptions = tools->addAction(QString());
    setUiText(explorerOptions, ids::ExplorerOptions);
    explorerOptions->setData(kExplorerOptionsCommand);
    m_commands[kExplorerOptionsCommand] = explorerOptions;
    connect(explorerOptions, &QAction::triggered, this, &COfflineFrame::editOptions);
    tools->addAction(forwarded(ViewCommand::Options, QKeySequence(QStringLiteral("Alt+O"))));
    connect(tools, &QMenu::aboutToShow, this, &COfflineFrame::updateCommands);

    // Keys the window binds without a menu entry of its own; they run the
    // main window's commands.
    addAction(forwarded(ViewCommand::SiteExplorer, QKeySequence(Qt::Key_F2)));
    addAction(forwarded(ViewCommand::Find, QKeySequence::Find));
    QAction* findNext = forwarded(ViewCommand::FindNext, QKeySequence(Qt::Key_F3));
    addAction(findNext);
    QAction* findPrevious = new QAction(this);
    setUiText(findPrevious, ids::FindPrevious);
    findPrevious->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    connect(findPrevious, &QAction::triggered, this, [this] { m_view.run(ViewCommand::FindNext, {false, true}); });
    addAction(findPrevious);
}

void COfflineFrame::buildHelpMenu()
{
    QMenu* help = addMenu(menuBar(), ids::HelpMenu);
    QAction* about = help->addAction(QString());
    setUiText(about, ids::About);
    about->setData(kExplorerAboutCommand);
    m_commands[kExplorerAboutCommand] = about;
    connect(about, &QAction::triggered, this, [this] { showAboutDialog(this, &m_app.registry()); });
}

QAction* COfflineFrame::forwarded(ViewCommand command, const QKeySequence& keys)
{
    const auto id = static_cast<uint32_t>(command);
    // The main window's menu text of the command, in its language.
    auto* action = new QAction(commandMenuText(id), this);
    action->setData(id);
    if (!keys.isEmpty())
        action->setShortcut(keys);
    // The key works while the focus is anywhere in this window.
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, [this, command] {
        m_view.run(command);
        updateCommands();
    });
    m_commands[id] = action;
    return action;
}

bool COfflineFrame::runCommand(uint32_t id)
{
    const auto it = m_commands.find(id);
    if (it == m_commands.end())
        return false;
    updateCommands();
    if (!it->second->isEnabled())
        return false;
    it->second->trigger();
    return true;
}

void COfflineFrame::updateCommands()
{
    for (const auto& [id, action] : m_commands) {
        if (!ExplorerCommandAvailable(id)) {
            action->setEnabled(false);
            continue;
        }
        if (const std::optional<ViewCommand> command = ExplorerForwardedCommand(id))
            action->setEnabled(m_view.isEnabled(*command));
        if (const std::optional<bool> checked = ExplorerCommandChecked(m_app.settings(), id))
            action->setChecked(*checked);
    }
}

void COfflineFrame::editOptions()
{
    if (editExplorerOptions(m_app, this))
        m_session->store().setPageTypes(m_app.settings().GetOptionText(OptionId::ExploreTypes));
}

void COfflineFrame::rebuildFavoritesMenu()
{
    if (m_favoritesMenu == nullptr)
        return;
    m_favoritesMenu->clear();
    QAction* add = command(ExplorerCommand::AddFavorite, ids::AddFavorite);
    connect(add, &QAction::triggered, this, &COfflineFrame::addFavoriteDialog);
    QAction* organize = command(ExplorerCommand::OrganizeFavorites, ids::OrganizeFavorites);
    connect(organize, &QAction::triggered, this, &COfflineFrame::organizeFavoritesDialog);
    m_favoritesMenu->addAction(add);
    m_favoritesMenu->addAction(organize);
    m_favoritesMenu->addSeparator();
    // Folders become sub-menus; a record under a missing folder cannot
    // happen (the tree refuses it), so the walk reaches every record.
    std::function<void(QMenu*, int32_t)> fill = [&](QMenu* menu, int32_t parentId) {
        for (const Favorite* record : m_favorites.children(parentId)) {
            if (record->isFolder()) {
                fill(menu->addMenu(qText(record->name)), record->id);
                continue;
            }
            QAction* item = menu->addAction(qText(record->name.empty() ? record->url : record->name));
            item->setData(3585 + record->id);
            item->setToolTip(qText(record->url));
            const QString url = qText(record->url);
            connect(item, &QAction::triggered, this, [this, url] { browse(url); });
        }
    };
    fill(m_favoritesMenu, 0);
}

void COfflineFrame::browse(const QString& address)
{
    m_address->setEditText(address);
    go();
}

void COfflineFrame::go()
{
    const std::string text = uText(m_address->currentText());
    ExplorerNode* node = m_session->browse(text);
    if (node == nullptr)
        return;
    m_addressHistory.add(text);
    m_addressHistory.save(m_app.registry());
    m_app.registry().flush();
    const QString current = m_address->currentText();
    m_address->clear();
    for (const std::string& entry : m_addressHistory.entries())
        m_address->addItem(qText(entry));
    m_address->setEditText(current);
    syncTree();
    showNode(node);
}

void COfflineFrame::syncTree()
{
    for (ExplorerNode* root : m_session->store().roots())
        addTreeItems(*root, nullptr);
}

void COfflineFrame::addTreeItems(ExplorerNode& node, QTreeWidgetItem* parentItem)
{
    if (!node.isTreeItem())
        return;
    QTreeWidgetItem* item = itemOf(&node);
    if (item == nullptr) {
        item = parentItem != nullptr ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(m_tree);
        item->setText(0, qText(node.displayName));
        item->setToolTip(0, qText(node.url));
        item->setData(0, kNodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(&node)));
        item->setIcon(0,
                      style()->standardIcon(node.kind == ExplorerNodeKind::Page           ? QStyle::SP_FileLinkIcon
                                                : node.kind == ExplorerNodeKind::SiteRoot ? QStyle::SP_DriveNetIcon
                                                                                          : QStyle::SP_DirIcon));
        m_items[&node] = item;
    }
    for (ExplorerNode* child : node.children)
        addTreeItems(*child, item);
}

QTreeWidgetItem* COfflineFrame::itemOf(const ExplorerNode* node) const
{
    const auto it = m_items.find(node);
    return it == m_items.end() ? nullptr : it->second;
}

void COfflineFrame::showNode(ExplorerNode* node)
{
    m_shown = node;
    if (QTreeWidgetItem* item = itemOf(node)) {
        const QSignalBlocker quiet(m_tree);
        m_tree->setCurrentItem(item);
        m_tree->scrollToItem(item);
    }
    fillEntries();
}

void COfflineFrame::treeSelectionChanged()
{
    QTreeWidgetItem* item = m_tree->currentItem();
    if (item == nullptr)
        return;
    auto* node = reinterpret_cast<ExplorerNode*>(item->data(0, kNodeRole).value<quintptr>());
    showNode(node);
    if (!node->fetched)
        m_session->fetch(*node);
}

void COfflineFrame::fillEntries()
{
    std::unique_ptr<EntryRowsBuilder> rows;
    if (m_shown != nullptr)
        rows = std::make_unique<EntryRowsBuilder>(m_session->store(), *m_shown, m_filter);
    m_model->reset(std::move(rows), m_app.settings().GetOption(OptionId::SizesInBytes) != 0);
    // The first batch at once, so that a small folder shows without a turn.
    fillSome();
}

void COfflineFrame::fillSome()
{
    QElapsedTimer slice;
    slice.start();
    bool more = m_model->filling();
    while (more && slice.elapsed() < kFillSliceMs)
        more = m_model->appendBatch(kFillBatch);
    if (more) {
        if (!m_fillTimer->isActive())
            m_fillTimer->start();
        m_status = {ids::Listing, m_model->rowCount()};
        showStatus();
        return;
    }
    m_fillTimer->stop();
    m_status = {ids::Entries, m_model->rowCount()};
    showStatus();
}

QAbstractItemModel* COfflineFrame::entryModel() const
{
    return m_model;
}

bool COfflineFrame::filling() const
{
    return m_model->filling();
}

std::vector<EntryRow> COfflineFrame::selectedRows() const
{
    std::vector<EntryRow> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows(0))
        rows.push_back(m_model->rowAt(index.row()));
    return rows;
}

void COfflineFrame::entryActivated(int modelRow)
{
    if (modelRow < 0 || modelRow >= m_model->rowCount())
        return;
    const EntryRow row = m_model->rowAt(modelRow);
    ExplorerNode* node = row.node != nullptr ? m_session->store().find(row.node->url) : nullptr;
    if (node == nullptr || !isFolderLike(*node)) {
        // A file: the double click downloads it.
        m_view.postLinks(ExplorerDownloadRequest({row}));
        return;
    }
    m_address->setEditText(qText(node->url));
    syncTree();
    showNode(node);
    if (!node->fetched)
        m_session->fetch(*node);
}

size_t COfflineFrame::downloadSelected()
{
    LinkListRequest request = ExplorerDownloadRequest(selectedRows());
    const size_t count = request.links.size();
    if (count != 0)
        m_view.postLinks(std::move(request));
    return count;
}

void COfflineFrame::refreshSelected()
{
    if (m_shown != nullptr)
        m_session->refresh(*m_shown);
}

void COfflineFrame::stopFetch()
{
    m_session->stop();
}

void COfflineFrame::setViewStyle(ExplorerViewStyle style)
{
    m_style = style;
    if (style == ExplorerViewStyle::Details) {
        m_entryStack->setCurrentWidget(m_table);
        return;
    }
    const int iconSize = style == ExplorerViewStyle::LargeIcons
        ? QApplication::style()->pixelMetric(QStyle::PM_LargeIconSize)
        : QApplication::style()->pixelMetric(QStyle::PM_SmallIconSize);
    m_icons->setViewMode(style == ExplorerViewStyle::LargeIcons ? QListView::IconMode : QListView::ListMode);
    m_icons->setFlow(style == ExplorerViewStyle::SmallIcons || style == ExplorerViewStyle::LargeIcons
                         ? QListView::LeftToRight
                         : QListView::TopToBottom);
    m_icons->setWrapping(true);
    m_icons->setIconSize(QSize(iconSize, iconSize));
    m_entryStack->setCurrentWidget(m_icons);
}

void COfflineFrame::sortBy(EntryColumn column)
{
    m_table->sortByColumn(static_cast<int>(column), Qt::AscendingOrder);
}

void COfflineFrame::setFilter(const ExplorerFilter& filter)
{
    m_filter = filter;
    syncFilterCheck();
    if (m_kind == ExplorerKind::SiteExplorer) {
        SaveExplorerFilterMode(m_app.registry(), m_filter.mode);
        m_app.registry().flush();
    }
    fillEntries();
}

void COfflineFrame::syncFilterCheck()
{
    if (QAction* action = commandAction(static_cast<uint32_t>(ExplorerCommand::Filter)))
        action->setChecked(m_filter.mode != ExplorerFilterMode::None);
}

void COfflineFrame::chooseFilter()
{
    // Choosing the command again while a filter is active removes it.
    if (m_filter.mode != ExplorerFilterMode::None) {
        setFilter({});
        return;
    }
    QDialog dialog(this);
    setUiText(&dialog, ids::FilterTitle);
    // Its section: language files translate it, and keys only count there.
    dialog.setObjectName(QStringLiteral("Filter_Dlg"));
    auto* only = new QRadioButton(&dialog);
    setUiText(only, ids::ShowOnly);
    auto* except = new QRadioButton(&dialog);
    setUiText(except, ids::ShowAllExcept);
    only->setChecked(true);
    only->setProperty("controlId", 1002);
    except->setProperty("controlId", 1003);
    auto* patterns = new QComboBox(&dialog);
    patterns->setEditable(true);
    patterns->setProperty("controlId", 1004);
    for (const std::string& entry : m_filterHistory.entries())
        patterns->addItem(qText(entry));
    const std::string last = m_app.settings().GetOptionText(OptionId::ExploreFilter);
    if (!last.empty())
        patterns->setEditText(qText(last));
    auto* typesLabel = makeLabel(ids::FileTypes, &dialog);
    typesLabel->setBuddy(patterns);
    typesLabel->setProperty("controlId", 1504);  // its field's 1004 + 500
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(only);
    layout->addWidget(except);
    layout->addWidget(typesLabel);
    layout->addWidget(patterns);
    layout->addWidget(buttons);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    syncFilterCheck();
    if (!accepted)
        return;
    const std::string text = uText(patterns->currentText().trimmed());
    if (text.empty())
        return;
    m_filterHistory.add(text);
    m_filterHistory.save(m_app.registry());
    m_app.registry().flush();
    m_app.settings().SetOptionText(OptionId::ExploreFilter, text);
    setFilter({only->isChecked() ? ExplorerFilterMode::ShowOnly : ExplorerFilterMode::ShowAllExcept, text});
}

COfflineFrame* COfflineFrame::newWindow()
{
    return openExplorerWindow(m_app, m_view, m_kind, {}, parentWidget());
}

bool COfflineFrame::addFavorite(const QString& name, const QString& url)
{
    if (m_favorites.findUrl(uText(url)) != nullptr) {
        logLine(std::string(builtinString(ids::FavoriteKnown)));
        return false;
    }
    if (m_favorites.addUrl(uText(name), uText(url)) == 0) {
        logLine(std::string(builtinString(ids::FavoriteNotAdded)));
        return false;
    }
    favoritesChanged();
    return true;
}

void COfflineFrame::favoritesChanged()
{
    if (!m_favoritesFile.save(m_favorites))
        logLine(message(ids::FavoritesNotWritten, m_favoritesFile.path().string()));
    rebuildFavoritesMenu();
}

void COfflineFrame::addFavoriteDialog()
{
    QDialog dialog(this);
    setUiText(&dialog, ids::AddFavoriteTitle);
    dialog.setObjectName(QStringLiteral("AddFavorite_Dlg"));
    auto* name = new QLineEdit(&dialog);
    auto* url = new QLineEdit(m_shown != nullptr ? qText(m_shown->url) : m_address->currentText(), &dialog);
    name->setText(m_shown != nullptr ? qText(m_shown->displayName) : QString());
    auto* user = new QLineEdit(&dialog);
    auto* password = new QLineEdit(&dialog);
    password->setEchoMode(QLineEdit::Password);
    int id = 1001;
    for (QLineEdit* field : {name, url, user, password})
        field->setProperty("controlId", id++);
    auto* form = new QFormLayout(&dialog);
    const std::pair<uint32_t, QLineEdit*> rows[] = {
        {ids::Name, name}, {ids::Url, url}, {ids::UserName, user}, {ids::Password, password}};
    for (const auto& [textId, field] : rows) {
        QLabel* label = makeLabel(textId, &dialog);
        label->setBuddy(field);
        form->addRow(label, field);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    addFavorite(name->text(), urlWithLogin(url->text().trimmed(), user->text(), password->text()));
}

void COfflineFrame::organizeFavoritesDialog()
{
    FavoritesDialog dialog(m_favorites, this);
    connect(&dialog, &FavoritesDialog::changed, this, &COfflineFrame::favoritesChanged);
    dialog.exec();
}

void COfflineFrame::copyUrls()
{
    QStringList urls;
    for (const EntryRow& row : selectedRows())
        urls << qText(EntryCellText(row, EntryColumn::Url, true));
    if (!urls.isEmpty())
        QApplication::clipboard()->setText(urls.join(u'\n'));
}

void COfflineFrame::openInBrowser()
{
    for (const EntryRow& row : selectedRows()) {
        if (const std::optional<PickedDownload> picked = PickedDownloadOf(row)) {
            m_view.desktop().open(picked->url);
            return;
        }
    }
}

void COfflineFrame::saveLog()
{
    const QString file = QFileDialog::getSaveFileName(this, uiString(ids::SaveLog), {}, uiString(ids::TextFiles));
    if (file.isEmpty())
        return;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(m_log->toPlainText().toUtf8()) < 0 || !out.commit())
        logLine(message(ids::LogNotSaved, uText(file)));
}

void COfflineFrame::nodeFetched(ExplorerNode& node)
{
    syncTree();
    if (QTreeWidgetItem* item = itemOf(&node)) {
        item->setExpanded(true);
        m_tree->scrollToItem(item);
    }
    showNode(&node);
}

void COfflineFrame::logLine(const std::string& line)
{
    if (m_log != nullptr)
        m_log->appendPlainText(qText(line));
}

void COfflineFrame::busyChanged(bool busy)
{
    if (const auto it = m_commands.find(static_cast<uint32_t>(ExplorerCommand::Stop)); it != m_commands.end())
        it->second->setEnabled(busy);
    m_status = {busy ? ids::Fetching : ids::Done, -1};
    showStatus();
    emit busyStateChanged(busy);
}

void COfflineFrame::showStatus()
{
    if (m_status.first == 0)
        return;
    QString shown = uiString(m_status.first);
    if (m_status.second >= 0)
        shown = shown.arg(m_status.second);
    statusBar()->showMessage(shown);
}

void COfflineFrame::focusAddress()
{
    activateWindow();
    m_address->setFocus();
}

void COfflineFrame::restoreState()
{
    const FramePlacement placement = readFramePlacement(m_app.registry(), frameSection(m_kind));
    const bool stored
        = m_app.registry().readString(Hive::CurrentUser, settingsKey(frameSection(m_kind)), "Frame").has_value();
    if (const QScreen* screen = QGuiApplication::primaryScreen(); !stored && screen != nullptr) {
        // A first window: a useful size in the middle of the screen.
        const QRect area = screen->availableGeometry();
        const QSize size(area.width() * 2 / 3, area.height() * 2 / 3);
        setGeometry(QRect(area.center() - QPoint(size.width() / 2, size.height() / 2), size));
    } else {
        const QRect stored(placement.left, placement.top,
                           std::max(placement.right - placement.left, fontMetrics().averageCharWidth() * 60),
                           std::max(placement.bottom - placement.top, fontMetrics().height() * 20));
        // A place on a screen that is gone keeps only its size.
        if (PlacementFitsScreens(stored))
            setGeometry(stored);
        else
            resize(stored.size());
        if (placement.maximized)
            setWindowState(windowState() | Qt::WindowMaximized);
    }
    // A first window: a log pane of a few lines and a narrow tree.
    const int line = fontMetrics().lineSpacing();
    m_rightSplit->setSizes({height() - line * 8, line * 7});
    m_split->setSizes({width() / 4, width() - width() / 4});
    Pane panes = paneLayout(*m_split, *m_rightSplit);
    if (readSplitterSizes(m_app.registry(), frameSection(m_kind), panes) && panes.children.size() == 2
        && panes.children[0].children.size() == 2) {
        const Pane& top = panes.children[0];
        m_rightSplit->setSizes({top.size, panes.children[1].size});
        m_split->setSizes({top.children[0].size, top.children[1].size});
    }
    if (m_kind == ExplorerKind::SiteExplorer) {
        // The filter that was on when the last window closed is on again.
        const ExplorerFilterMode mode = LoadExplorerFilterMode(m_app.registry());
        const std::string patterns = m_app.settings().GetOptionText(OptionId::ExploreFilter);
        if (mode != ExplorerFilterMode::None && !patterns.empty())
            m_filter = {mode, patterns};
    }
    const ExplorerListState state = readExplorerListState(m_app.registry(), listSection(m_kind));
    // Widths for a first window that show whole names and most of a URL.
    const std::array<int, kExplorerColumns> chars{22, 7, 18, 34, 10, 18, 32};
    for (int c = 0; c < kExplorerColumns; ++c)
        m_table->setColumnWidth(c, fontMetrics().averageCharWidth() * chars[static_cast<size_t>(c)]);
    if (state.widths) {
        for (int c = 0; c < kExplorerColumns; ++c) {
            if ((*state.widths)[static_cast<size_t>(c)] > 0)
                m_table->setColumnWidth(c, (*state.widths)[static_cast<size_t>(c)]);
        }
    }
    if (state.order) {
        for (int visual = 0; visual < kExplorerColumns; ++visual) {
            const int logical = (*state.order)[static_cast<size_t>(visual)];
            m_table->header()->moveSection(m_table->header()->visualIndex(logical), visual);
        }
    }
    setViewStyle(m_kind == ExplorerKind::SiteExplorer ? state.style : ExplorerViewStyle::Details);
}

void COfflineFrame::saveState()
{
    FramePlacement placement;
    const QRect normal = normalGeometry();
    placement.left = normal.left();
    placement.top = normal.top();
    placement.right = normal.right() + 1;
    placement.bottom = normal.bottom() + 1;
    placement.maximized = isMaximized();
    writeFramePlacement(m_app.registry(), frameSection(m_kind), placement);
    writeSplitterSizes(m_app.registry(), frameSection(m_kind), paneLayout(*m_split, *m_rightSplit));
    if (m_kind == ExplorerKind::SiteExplorer)
        SaveExplorerFilterMode(m_app.registry(), m_filter.mode);
    ExplorerListState state;
    state.style = m_style;
    std::array<int32_t, kExplorerColumns> widths{};
    std::array<int32_t, kExplorerColumns> order{};
    for (int c = 0; c < kExplorerColumns; ++c) {
        widths[static_cast<size_t>(c)] = m_table->columnWidth(c);
        order[static_cast<size_t>(c)] = m_table->header()->logicalIndex(c);
    }
    state.widths = widths;
    state.order = order;
    writeExplorerListState(m_app.registry(), listSection(m_kind), state);
    m_app.registry().flush();
}

void COfflineFrame::closeEvent(QCloseEvent* event)
{
    m_fillTimer->stop();
    m_model->cancel();
    m_session->stop();
    saveState();
    QMainWindow::closeEvent(event);
}

COfflineFrame* openExplorerWindow(Application& app, MainView& view, ExplorerKind kind, const std::string& address,
                                  QWidget* parent)
{
    auto* frame = new COfflineFrame(app, view, kind, parent);
    frame->show();
    if (!address.empty())
        frame->browse(qText(address));
    else
        frame->focusAddress();
    return frame;
}

}  // namespace fetchora
