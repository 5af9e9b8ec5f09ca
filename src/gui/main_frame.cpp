#include "gui/main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <mutex>

#include "config/app_settings.h"
#include "config/settings_key.h"
#include "gui/about_dialog.h"
#include "gui/category_tree.h"
#include "gui/check_list_dialog.h"
#include "gui/command_actions.h"
#include "gui/countdown_dialog.h"
#include "gui/drop_data.h"
#include "gui/drop_zone.h"
#include "gui/ui_language.h"
#include "gui/ui_text.h"
#include "gui/zovirad_view.h"
#include "model/job_database.h"
#include "net/speed_limiter.h"
#include "platform/job_lock.h"
#include "platform/registry.h"
#include "shell/application.h"
#include "shell/frame_placement.h"
#include "shell/job_list_model.h"
#include "shell/schedule_jobs.h"

// The icons live in the static library: its resources are registered by hand.
static void initFrameResources()
{
    Q_INIT_RESOURCE(app);
}

namespace fetchora {

namespace {

constexpr std::string_view kToolbarSection = "Toolbar";

// The frame's own texts in the string table.
constexpr uint32_t kToolbarTitleId = 40101;
constexpr uint32_t kSpeedButtonId = 40102;
constexpr uint32_t kSpeedMeterTipId = 40103;
constexpr uint32_t kSpeedLimitTipId = 40104;
constexpr uint32_t kResetToolbarId = 40105;
constexpr uint32_t kToolbarButtonsId = 40106;
constexpr uint32_t kToolbarButtonsLabelId = 40107;
constexpr int kRefreshMs = 250;

QIcon themedIcon(const char* themeName, const char* fallback)
{
    return QIcon::fromTheme(QString::fromLatin1(themeName),
                            QIcon(QStringLiteral(":/icons/") + QString::fromLatin1(fallback) + QStringLiteral(".svg")));
}

constexpr uint32_t cmd(ViewCommand command)
{
    return static_cast<uint32_t>(command);
}
constexpr uint32_t cmd(FrameCommand command)
{
    return static_cast<uint32_t>(command);
}

}  // namespace

CMainFrame::CMainFrame(Application& app, UserPrompts& prompts, bool trayWanted, QWidget* parent)
    : QMainWindow(parent), m_app(app), m_prompts(prompts), m_trayWanted(trayWanted)
{
    static std::once_flag resources;
    std::call_once(resources, initFrameResources);
    // The window's name for translations; its controls carry ids from 2001.
    setObjectName(QStringLiteral("MainFrame"));
    setWindowTitle(QStringLiteral("Fetchora"));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("fetchora"), QIcon(QStringLiteral(":/icons/fetchora.svg"))));
    setAcceptDrops(true);
    m_countdown = new CountdownDialog(this);
    m_commands = new CommandActions(this);
    m_commands->setEnabledFn([this](uint32_t id, CommandKeys keys) { return commandEnabled(id, keys); });
    m_commands->setCheckedFn([this](uint32_t id) { return commandChecked(id); });
    m_commands->setTriggerFn([this](uint32_t id, CommandKeys keys) { runCommand(id, keys); });

    m_dropZone = new DropZone(m_app.settings(), this);
    m_dropZone->setDoubleClickAction([this] { toggleShown(); });
    m_dropZone->setDropAction([this](const DropPayload& payload) { handleDrop(payload); });

    m_toolbarText
        = m_app.registry().readDword(Hive::CurrentUser, settingsKey(kToolbarSection), "State").value_or(0) == 1;
    m_commands->fillMenuBar(*menuBar());
    buildToolbar();
    buildStatusBar();
    buildTray();
    buildLanguageMenu();

    m_enableTimer.setInterval(kRefreshMs);
    m_enableTimer.setTimerType(Qt::CoarseTimer);
    connect(&m_enableTimer, &QTimer::timeout, this, &CMainFrame::refreshReadouts);
    m_speedTimer.setInterval(static_cast<int>(kSpeedTimerMs));
    connect(&m_speedTimer, &QTimer::timeout, this, &CMainFrame::speedTick);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &CMainFrame::clipboardChanged);
}

CMainFrame::~CMainFrame()
{
    if (m_tray != nullptr)
        m_tray->hide();
}

void CMainFrame::attach(MainView& view, ZoviradView* client)
{
    m_view = &view;
    m_client = client;
    if (client != nullptr) {
        connect(client, &ZoviradView::statusTextChanged, this, [this](const QString& text) {
            if (!text.isEmpty())
                m_panes[0]->setText(text);
        });
        connect(client, &ZoviradView::trayTooltipChanged, this, [this](const QString& text) {
            if (m_tray != nullptr)
                m_tray->setToolTip(text);
        });
    }
    m_commands->refresh();
    // Once the window has its size: before that the panes have none to share.
    if (client != nullptr)
        QTimer::singleShot(0, client, [this, client] { widenToContents(*client->categoryTree()); });
    refreshReadouts();
    m_enableTimer.start();
    m_speedTimer.start();
    m_dropZone->restore();
}

// ---- building ------------------------------------------------------------------------

void CMainFrame::buildToolbar()
{
    m_toolbar = addToolBar(uiString(kToolbarTitleId));
    m_toolbar->setObjectName(QStringLiteral("toolbar"));
    struct Button {
        uint32_t id;
        const char* theme;
        const char* fallback;
    };
    const Button buttons[] = {
        {cmd(ViewCommand::NewDownload), "list-add", "add"},
        {cmd(ViewCommand::Start), "media-playback-start", "start"},
        {cmd(ViewCommand::Pause), "media-playback-pause", "pause"},
        {cmd(ViewCommand::StartAll), "media-seek-forward", "start-all"},
        {cmd(ViewCommand::PauseAll), "media-playback-stop", "pause-all"},
        {cmd(ViewCommand::Delete), "edit-delete", "delete"},
        {cmd(ViewCommand::Properties), "document-properties", "properties"},
        {cmd(ViewCommand::Find), "edit-find", "find"},
        {cmd(ViewCommand::OpenFolder), "folder-open", "folder"},
    };
    const std::string hidden
        = m_app.registry().readString(Hive::CurrentUser, settingsKey(kToolbarSection), "Hidden").value_or("");
    for (const QString& number : QString::fromStdString(hidden).split(u',', Qt::SkipEmptyParts))
        m_hiddenButtons.insert(number.trimmed().toUInt());
    for (const Button& button : buttons) {
        QAction* action = m_commands->action(button.id);
        action->setIcon(themedIcon(button.theme, button.fallback));
        action->setIconText(action->text().remove(u'&').remove(QStringLiteral("...")));
        m_toolbarButtons.push_back(action);
    }
    m_toolbarEnd = m_toolbar->addSeparator();
    layOutToolbarButtons();
    m_toolbar->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_toolbar, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { toolbarMenu()->exec(m_toolbar->mapToGlobal(at)); });

    // The speed band: the drop-down of the speed modes, a meter and the
    // manual limit.
    m_speedMenu = new QMenu(this);
    m_speedMenu->addAction(m_commands->action(FrameCommand::ShowDownloadingInfo));
    m_speedMenu->addSeparator();
    m_speedMenu->addAction(m_commands->action(ViewCommand::SpeedUnlimited));
    m_speedMenu->addAction(m_commands->action(ViewCommand::SpeedManual));
    m_speedMenu->addAction(m_commands->action(ViewCommand::SpeedAutomatic));
    connect(m_speedMenu, &QMenu::aboutToShow, this, [this] { m_commands->refresh(m_speedMenu->actions()); });
    auto* speedButton = new QToolButton(this);
    speedButton->setObjectName(QStringLiteral("speedButton"));
    speedButton->setIcon(themedIcon("network-transmit-receive", "speed"));
    speedButton->setText(uiString(kSpeedButtonId));
    speedButton->setProperty("controlId", 2001);
    speedButton->setMenu(m_speedMenu);
    speedButton->setPopupMode(QToolButton::InstantPopup);
    m_toolbar->addWidget(speedButton);

    auto* band = new QWidget(this);
    auto* bandLayout = new QHBoxLayout(band);
    bandLayout->setContentsMargins(0, 0, 0, 0);
    // The meter and the status panes show live figures and carry no control
    // id: a switch of language would put back the text they had when the
    // window was first translated, and an idle figure is not shown again.
    m_speedMeter = new QLabel(band);
    m_speedMeter->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000.00KB/s")));
    m_speedMeter->setToolTip(uiString(kSpeedMeterTipId));
    m_limitSlider = new QSlider(Qt::Horizontal, band);
    m_limitSlider->setRange(1, 4096);
    m_limitSlider->setPageStep(64);
    m_limitSlider->setMinimumWidth(fontMetrics().averageCharWidth() * 16);
    m_limitSlider->setValue(std::max(1, m_app.settings().speedLimit() / 1024));
    m_limitSlider->setToolTip(uiString(kSpeedLimitTipId).arg(m_limitSlider->value()));
    connect(m_limitSlider, &QSlider::valueChanged, this, [this](int value) {
        m_limitSlider->setToolTip(uiString(kSpeedLimitTipId).arg(value));
        if (!m_limitSlider->isSliderDown())
            m_app.changeSettings([value](AppSettings& settings) { settings.setSpeedLimit(value * 1024); });
    });
    connect(m_limitSlider, &QSlider::sliderReleased, this, [this] {
        const int value = m_limitSlider->value();
        m_app.changeSettings([value](AppSettings& settings) { settings.setSpeedLimit(value * 1024); });
    });
    bandLayout->addWidget(m_speedMeter);
    bandLayout->addWidget(m_limitSlider);
    m_toolbar->addWidget(band);
    setToolbarText(m_toolbarText);
}

void CMainFrame::layOutToolbarButtons()
{
    for (QAction* action : m_toolbarButtons)
        m_toolbar->removeAction(action);
    for (QAction* action : m_toolbarButtons) {
        if (!m_hiddenButtons.contains(action->data().toUInt()))
            m_toolbar->insertAction(m_toolbarEnd, action);
    }
}

void CMainFrame::setToolbarButtonShown(uint32_t command, bool shown)
{
    if (shown)
        m_hiddenButtons.erase(command);
    else
        m_hiddenButtons.insert(command);
    layOutToolbarButtons();
    QStringList numbers;
    for (const uint32_t number : m_hiddenButtons)
        numbers << QString::number(number);
    m_app.registry().writeString(Hive::CurrentUser, settingsKey(kToolbarSection), "Hidden",
                                 numbers.join(u',').toStdString());
    m_app.registry().flush();
}

std::unique_ptr<QMenu> CMainFrame::toolbarMenu()
{
    auto menu = std::make_unique<QMenu>(this);
    QAction* showText = m_commands->action(FrameCommand::ShowText);
    menu->addAction(showText);
    m_commands->refresh(std::span<QAction* const>(&showText, 1));
    menu->addSeparator();
    for (QAction* button : m_toolbarButtons) {
        const uint32_t command = button->data().toUInt();
        QAction* entry = menu->addAction(button->icon(), button->iconText());
        entry->setCheckable(true);
        entry->setChecked(!m_hiddenButtons.contains(command));
        connect(entry, &QAction::toggled, this, [this, command](bool shown) { setToolbarButtonShown(command, shown); });
    }
    menu->addSeparator();
    QAction* reset = menu->addAction(uiString(kResetToolbarId));
    connect(reset, &QAction::triggered, this, [this] {
        for (QAction* button : m_toolbarButtons)
            setToolbarButtonShown(button->data().toUInt(), true);
    });
    return menu;
}

void CMainFrame::chooseToolbarButtons()
{
    std::vector<CheckChoice> choices;
    for (QAction* button : m_toolbarButtons)
        choices.push_back({button->iconText(), !m_hiddenButtons.contains(button->data().toUInt())});
    const auto chosen
        = askCheckList(this, uiString(kToolbarButtonsId), uiString(kToolbarButtonsLabelId), choices, 0, "Buttons_Dlg");
    if (!chosen)
        return;
    for (size_t i = 0; i < m_toolbarButtons.size(); ++i)
        setToolbarButtonShown(m_toolbarButtons[i]->data().toUInt(), (*chosen)[i]);
}

void CMainFrame::buildStatusBar()
{
    for (int pane = 0; pane < 4; ++pane) {
        m_panes[pane] = new QLabel(this);
        m_panes[pane]->setObjectName(QStringLiteral("pane%1").arg(pane));
    }
    const int unit = fontMetrics().averageCharWidth();
    m_panes[1]->setMinimumWidth(unit * 2);
    m_panes[2]->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000.0KB/s")));
    m_panes[3]->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000.00KB/s")));
    statusBar()->addWidget(m_panes[0], 1);
    for (int pane = 1; pane < 4; ++pane)
        statusBar()->addPermanentWidget(m_panes[pane]);
}

void CMainFrame::buildTray()
{
    m_trayMenu = new QMenu(this);
    const uint32_t items[] = {
        cmd(FrameCommand::OpenHide),
        cmd(FrameCommand::DropZone),
        cmd(FrameCommand::MonitorClipboard),
        cmd(FrameCommand::DisableBrowserMonitoring),
        0,
        cmd(ViewCommand::StartAll),
        cmd(ViewCommand::PauseAll),
        0,
        cmd(ViewCommand::NewDownload),
        cmd(ViewCommand::BatchDownload),
        cmd(ViewCommand::PasteUrl),
        1,
        0,
        cmd(ViewCommand::SiteExplorer),
        cmd(ViewCommand::Options),
        cmd(FrameCommand::About),
        0,
        cmd(FrameCommand::Exit),
    };
    for (const uint32_t item : items) {
        if (item == 0) {
            m_trayMenu->addSeparator();
        } else if (item == 1) {
            QMenu* speed = m_trayMenu->addMenu(QStringLiteral("Speed Limit Mode"));
            speed->setObjectName(QStringLiteral("traySpeed"));
            speed->addAction(m_commands->action(ViewCommand::SpeedUnlimited));
            speed->addAction(m_commands->action(ViewCommand::SpeedManual));
            speed->addAction(m_commands->action(ViewCommand::SpeedAutomatic));
            m_commands->addPopup(speed, cmd(ViewCommand::SpeedUnlimited));
            connect(speed, &QMenu::aboutToShow, this, [this, speed] { m_commands->refresh(speed->actions()); });
        } else {
            m_trayMenu->addAction(m_commands->action(item));
        }
    }
    m_trayMenu->setDefaultAction(m_commands->action(FrameCommand::OpenHide));
    connect(m_trayMenu, &QMenu::aboutToShow, this, [this] { m_commands->refresh(m_trayMenu->actions()); });
    m_dropZone->setContextMenu(m_trayMenu);

    // At login the panel may come after the program; without a tray the
    // window simply closes as the program's end.
    if (!m_trayWanted || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setToolTip(QStringLiteral("Fetchora"));
    m_tray->setContextMenu(m_trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            toggleShown();
    });
    m_tray->show();
}

// ---- commands ------------------------------------------------------------------------

bool CMainFrame::commandEnabled(uint32_t id, CommandKeys keys) const
{
    const CommandSpec* spec = findCommand(id);
    if (spec == nullptr || m_view == nullptr)
        return false;
    if (id == cmd(FrameCommand::Detail))
        return m_client != nullptr;
    if (spec->frame)
        return true;
    return m_view->isEnabled(static_cast<ViewCommand>(id), keys);
}

std::optional<bool> CMainFrame::commandChecked(uint32_t id) const
{
    const AppSettings& settings = m_app.settings();
    const SpeedMode mode = m_app.limiter().mode();
    switch (id) {
    case cmd(FrameCommand::Detail): return m_client != nullptr && m_client->detailVisible();
    case cmd(FrameCommand::DropZone): return m_dropZone->isVisible();
    case cmd(FrameCommand::ShowText): return m_toolbarText;
    case cmd(FrameCommand::Grid): return settings.GetOption(OptionId::GridLines) != 0;
    // The only skin and the only language there are so far.
    case cmd(FrameCommand::SkinNone): return true;
    case cmd(FrameCommand::LanguageEnglish):
        return UiLanguage::instance() == nullptr || UiLanguage::instance()->activeIndex() == 0;
    case cmd(FrameCommand::ShowDownloadingInfo): return m_showDownloadingInfo;
    case cmd(FrameCommand::MonitorClipboard): return settings.GetOption(OptionId::WatchClipboard) != 0;
    case cmd(ViewCommand::ShutDownWhenDone): return settings.GetOption(OptionId::ShutDownWhenDone) > 0;
    case cmd(ViewCommand::HangUpWhenDone): return settings.GetOption(OptionId::HangUpWhenDone) > 0;
    case cmd(ViewCommand::RedialIfDisconnected): return settings.GetOption(OptionId::Redial) > 0;
    case cmd(ViewCommand::RememberSpeedMode): return settings.GetOption(OptionId::RememberSpeedMode) > 0;
    case cmd(ViewCommand::SpeedUnlimited): return mode == SpeedMode::Unlimited;
    case cmd(ViewCommand::SpeedManual): return mode == SpeedMode::Manual;
    case cmd(ViewCommand::SpeedAutomatic): return mode == SpeedMode::Automatic;
    case cmd(ViewCommand::Schedule): {
        if (m_view == nullptr)
            return false;
        JobLockGuard lock(m_app.jobLock());
        return ScheduleArmed(*m_view->doc().downloading());
    }
    default: return std::nullopt;
    }
}

void CMainFrame::runCommand(uint32_t id, CommandKeys keys)
{
    const CommandSpec* spec = findCommand(id);
    if (spec == nullptr || m_view == nullptr)
        return;
    if (!spec->frame) {
        m_view->run(static_cast<ViewCommand>(id), keys);
        refreshReadouts();
        return;
    }
    switch (static_cast<FrameCommand>(id)) {
    case FrameCommand::DropZone: m_dropZone->setShown(!m_dropZone->isVisible()); break;
    case FrameCommand::ShowText: setToolbarText(!m_toolbarText); break;
    case FrameCommand::ShowDownloadingInfo:
        m_showDownloadingInfo = !m_showDownloadingInfo;
        m_speedMeter->setVisible(m_showDownloadingInfo);
        break;
    case FrameCommand::OpenHide: toggleShown(); break;
    case FrameCommand::MonitorClipboard:
        m_app.changeSettings([](AppSettings& settings) {
            settings.SetOption(OptionId::WatchClipboard, settings.GetOption(OptionId::WatchClipboard) != 0 ? 0 : 1);
        });
        break;
    case FrameCommand::About: showAboutDialog(this, &m_app.registry()); break;
    case FrameCommand::Exit: requestExit(); break;
    case FrameCommand::Detail:
        if (m_client != nullptr)
            m_client->setDetailVisible(!m_client->detailVisible());
        break;
    case FrameCommand::Buttons: chooseToolbarButtons(); break;
    case FrameCommand::Columns:
        if (m_client != nullptr)
            m_client->chooseColumns();
        break;
    case FrameCommand::Grid:
        m_app.changeSettings([](AppSettings& settings) {
            settings.SetOption(OptionId::GridLines, settings.GetOption(OptionId::GridLines) != 0 ? 0 : 1);
        });
        if (m_client != nullptr)
            m_client->applySettings();
        break;
    case FrameCommand::SkinNone:
        // Choosing the one entry of a radio group keeps it chosen.
        break;
    case FrameCommand::LanguagePack:
    case FrameCommand::CheckNewVersion: m_prompts.openDialog(std::to_string(id)); break;
    case FrameCommand::LanguageEnglish: chooseLanguage(0); break;
    case FrameCommand::DisableBrowserMonitoring:
    case FrameCommand::CustomBackground: break;
    }
}

void CMainFrame::setToolbarText(bool on)
{
    m_toolbarText = on;
    m_toolbar->setToolButtonStyle(on ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
}

// ---- read-outs -----------------------------------------------------------------------

void CMainFrame::refreshReadouts()
{
    if (m_view == nullptr)
        return;
    if (m_client == nullptr) {
        const JobListModel& list = m_view->list();
        // "" while "Download" is open: the pane keeps its text.
        const std::string pane = list.statusPaneText();
        if (!pane.empty())
            m_panes[0]->setText(QString::fromStdString(pane));
        if (m_tray != nullptr)
            m_tray->setToolTip(QString::fromStdString(list.trayTooltip()));
    }
    m_commands->refresh(m_toolbar->actions());
    m_limitSlider->setEnabled(m_app.limiter().mode() == SpeedMode::Manual);
}

void CMainFrame::speedTick()
{
    std::optional<uint32_t> autoLimit;
    if (m_app.limiter().mode() == SpeedMode::Automatic)
        autoLimit = m_app.limiter().autoLimit();
    showSpeed(m_speedStep.step(m_app.limiter().twoSecondBytes(), autoLimit));
}

void CMainFrame::showSpeed(const SpeedReadout& readout)
{
    if (readout.totalSpeedText)
        m_panes[3]->setText(QString::fromStdString(*readout.totalSpeedText));
    m_panes[2]->setText(readout.autoLimitText ? QString::fromStdString(*readout.autoLimitText) : QString());
    m_speedMeter->setText(QString::asprintf("%0.2fKB/s", static_cast<double>(readout.bytesPerSecond) / 1024.0));
}

QString CMainFrame::paneText(int pane) const
{
    return pane >= 0 && pane < 4 ? m_panes[pane]->text() : QString();
}

// ---- placement -----------------------------------------------------------------------

void CMainFrame::restorePlacement()
{
    const FramePlacement placement = readFramePlacement(m_app.registry(), kMainFrameSection);
    const bool stored
        = m_app.registry().readString(Hive::CurrentUser, settingsKey(kMainFrameSection), "Frame").has_value();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!stored && screen != nullptr) {
        // The first start: a window of a useful size in the middle of the
        // screen rather than the small default rectangle kept for values
        // that cannot be read.
        const QRect area = screen->availableGeometry();
        const QSize size(area.width() * 3 / 4, area.height() * 3 / 4);
        setGeometry(QRect(area.center() - QPoint(size.width() / 2, size.height() / 2), size));
    } else {
        setGeometry(placement.left, placement.top, placement.right - placement.left, placement.bottom - placement.top);
    }
    m_maximizedPlacement = placement.maximized;
}

void CMainFrame::savePlacement()
{
    const bool shownOddly = isVisible() && (isMaximized() || isMinimized());
    const QRect normal = shownOddly && normalGeometry().isValid() ? normalGeometry() : geometry();
    FramePlacement placement;
    placement.left = normal.left();
    placement.top = normal.top();
    placement.right = normal.left() + normal.width();
    placement.bottom = normal.top() + normal.height();
    placement.maximized = isVisible() ? isMaximized() || (isMinimized() && m_maximizedPlacement) : m_maximizedPlacement;
    placement.minimized = isVisible() && isMinimized();
    writeFramePlacement(m_app.registry(), kMainFrameSection, placement);
    m_app.registry().writeDword(Hive::CurrentUser, settingsKey(kToolbarSection), "State", m_toolbarText ? 1 : 0);
    m_app.registry().flush();
}

void CMainFrame::showAsPlaced()
{
    if (m_app.settings().GetOption(OptionId::StartHidden) != 0 && trayVisible())
        return;
    if (m_maximizedPlacement)
        showMaximized();
    else
        show();
}

// ---- host ----------------------------------------------------------------------------

void CMainFrame::bringToFront()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CMainFrame::requestExit()
{
    m_exitRequested = true;
    close();
    m_exitRequested = false;
}

std::string CMainFrame::clipboardText()
{
    const QString text = QGuiApplication::clipboard()->text();
    if (static_cast<std::size_t>(text.size()) > kMaxDropTextBytes)
        return {};
    return text.toStdString();
}

void CMainFrame::setClipboardText(const std::string& text)
{
    m_writingClipboard = true;
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    m_writingClipboard = false;
}

Countdown& CMainFrame::countdown()
{
    return *m_countdown;
}

void CMainFrame::toggleShown()
{
    if (isVisible() && !isMinimized())
        hide();
    else
        bringToFront();
}

bool CMainFrame::trayVisible() const
{
    return m_tray != nullptr && QSystemTrayIcon::isSystemTrayAvailable() && m_tray->isVisible();
}

// ---- clipboard and drops -----------------------------------------------------------------

void CMainFrame::clipboardChanged()
{
    if (m_writingClipboard || m_view == nullptr || m_exiting)
        return;
    const QWidget* active = QApplication::activeWindow();
    const bool ownWindowInFront = active != nullptr && active != m_dropZone;
    m_view->clipboardChanged(clipboardText(), ownWindowInFront);
}

bool CMainFrame::dropData(const QMimeData& mime)
{
    const std::optional<DropPayload> payload = ReadDrop(mime);
    if (!payload)
        return false;
    handleDrop(*payload);
    return true;
}

void CMainFrame::handleDrop(const DropPayload& payload)
{
    if (m_view == nullptr)
        return;
    if (payload.kind == DropPayload::Kind::HtmlFormat)
        m_view->htmlDropped(payload.data);
    else
        m_view->textDropped(payload.data);
    refreshReadouts();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData() != nullptr && ReadDrop(*event->mimeData()))
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    if (event->mimeData() != nullptr && dropData(*event->mimeData()))
        event->acceptProposedAction();
}

// ---- closing -------------------------------------------------------------------------

bool CMainFrame::jobsRunning() const
{
    if (m_view == nullptr)
        return false;
    JobLockGuard lock(m_app.jobLock());
    const DownloadJob* queue = m_view->doc().downloading();
    for (const DownloadJob* job = queue != nullptr ? queue->firstChild() : nullptr; job; job = job->nextSibling()) {
        if (!job->IsCategory() && MainView::isActive(*job))
            return true;
    }
    return false;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_exiting) {
        event->accept();
        return;
    }
    // The close box hides the window only where the tray icon can bring it back.
    if (!m_exitRequested && m_app.settings().GetOption(OptionId::CloseBoxExits) == 0 && trayVisible()) {
        hide();
        event->ignore();
        return;
    }
    if (jobsRunning() && !m_prompts.askYesNo("Some jobs are running, Exit anyway?", MessageIcon::Question)) {
        event->ignore();
        return;
    }
    prepareExit();
    event->accept();
    emit exitConfirmed();
}

void CMainFrame::prepareExit()
{
    if (m_exiting)
        return;
    m_exiting = true;
    // Before anything hides: the drop zone remembers whether it showed.
    savePlacement();
    m_dropZone->store();
    m_dropZone->hide();
    m_countdown->hide();
    m_enableTimer.stop();
    m_speedTimer.stop();
    if (m_tray != nullptr)
        m_tray->hide();
}

// ---- language ------------------------------------------------------------------------

void CMainFrame::buildLanguageMenu()
{
    UiLanguage* languages = UiLanguage::instance();
    QAction* english = m_commands->action(FrameCommand::LanguageEnglish);
    QMenu* menu = m_commands->menuOf(cmd(FrameCommand::LanguageEnglish));
    auto* group = new QActionGroup(this);
    group->setExclusive(true);
    group->addAction(english);
    if (languages == nullptr || menu == nullptr)
        return;
    QAction* before = m_commands->action(FrameCommand::LanguagePack);
    const auto& entries = languages->entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // Each entry is named in its own language, so it is never retexted.
        auto* action = new QAction(QString::fromStdString(entries[i].displayName), this);
        action->setCheckable(true);
        action->setData(static_cast<uint32_t>(cmd(FrameCommand::LanguageEnglish) + 1 + i));
        action->setObjectName(QString::fromStdString(entries[i].fileName));
        group->addAction(action);
        menu->insertAction(before, action);
        const int index = static_cast<int>(i) + 1;
        connect(action, &QAction::triggered, this, [this, index] { chooseLanguage(index); });
        m_languageActions.push_back(action);
    }
    if (!m_languageActions.empty())
        menu->insertSeparator(before);
    connect(languages, &UiLanguage::languageChanged, this, &CMainFrame::applyLanguage);
    applyLanguage();
}

void CMainFrame::chooseLanguage(int index)
{
    UiLanguage* languages = UiLanguage::instance();
    if (languages == nullptr)
        return;
    if (index != languages->activeIndex() && !languages->activate(index)) {
        applyLanguage();
        return;
    }
    const std::string file = languages->activeFileName();
    m_app.changeSettings([file](AppSettings& settings) { settings.setLanguageFile(file); });
}

void CMainFrame::applyLanguage()
{
    UiLanguage* languages = UiLanguage::instance();
    const int active = languages != nullptr ? languages->activeIndex() : 0;
    m_commands->action(FrameCommand::LanguageEnglish)->setChecked(active == 0);
    for (std::size_t i = 0; i < m_languageActions.size(); ++i)
        m_languageActions[i]->setChecked(static_cast<int>(i) + 1 == active);
    m_commands->retranslate();
    m_toolbar->setWindowTitle(uiString(kToolbarTitleId));
    if (auto* speedButton = m_toolbar->findChild<QToolButton*>(QStringLiteral("speedButton")))
        speedButton->setText(uiString(kSpeedButtonId));
    m_speedMeter->setToolTip(uiString(kSpeedMeterTipId));
    m_limitSlider->setToolTip(uiString(kSpeedLimitTipId).arg(m_limitSlider->value()));
    for (QAction* action : m_toolbarButtons)
        action->setIconText(action->text().remove(u'&').remove(QStringLiteral("...")));
    m_toolbar->adjustSize();
    // Longer texts could push the speed band off the toolbar: the window
    // grows to hold it, as far as the screen allows.
    if (isVisible() && !isMaximized() && !isFullScreen() && screen() != nullptr) {
        const int wanted = width() + m_toolbar->sizeHint().width() - m_toolbar->width();
        if (wanted > width())
            resize(std::min(wanted, screen()->availableGeometry().width()), height());
    }
    if (m_view != nullptr) {
        m_view->languageChanged();
        if (m_client != nullptr) {
            m_client->categoryTree()->rebuild();
            widenToContents(*m_client->categoryTree());
        }
    }
}

// Names in another language may be longer: the tree pane grows (taking from
// its neighbour) until its widest name shows whole.
void CMainFrame::widenToContents(QTreeWidget& tree)
{
    auto* splitter = qobject_cast<QSplitter*>(tree.parentWidget());
    if (splitter == nullptr || splitter->count() < 2 || !tree.isVisible())
        return;
    const int index = splitter->indexOf(&tree);
    QList<int> sizes = splitter->sizes();
    const int icon
        = tree.iconSize().isValid() ? tree.iconSize().width() : tree.style()->pixelMetric(QStyle::PM_SmallIconSize);
    int widest = 0;
    for (QTreeWidgetItemIterator it(&tree); *it != nullptr; ++it) {
        // The item's rectangle starts after its indentation and branch.
        const int left = tree.visualItemRect(*it).left() + tree.horizontalScrollBar()->value();
        widest = std::max(widest, left + icon + tree.fontMetrics().horizontalAdvance((*it)->text(0)));
    }
    const int wanted = widest + tree.fontMetrics().averageCharWidth() * 4 + 2 * tree.frameWidth()
        + tree.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int neighbour = index == 0 ? 1 : index - 1;
    const int extra = std::min(wanted - sizes[index], sizes[neighbour] / 2);
    if (extra <= 0)
        return;
    sizes[index] += extra;
    sizes[neighbour] -= extra;
    splitter->setSizes(sizes);
}

}  // namespace fetchora
