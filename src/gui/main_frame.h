#pragma once
// The program's main window around the view: menus and accelerators of every
// command, the toolbar and the speed band, the four status panes, the tray
// icon, the drop zone, the clipboard watch and drops, the window's stored
// placement, and the end of work's countdown. It decides nothing: commands
// and their states come from the main view, texts from its list model.
//
// Lifecycle: made before the main view (which needs it as its host), then
// attach() hands it the view. Thread: the GUI thread, which is the loop
// thread. Borrows the application, the prompts and the view; owns its
// widgets, the tray icon, the drop zone and the countdown dialog.
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "shell/main_view.h"
#include "shell/speed_timer.h"

class QLabel;
class QMenu;
class QMimeData;
class QSlider;
class QSystemTrayIcon;
class QToolBar;
class QTreeWidget;

namespace fetchora {

class Application;
class CommandActions;
class CountdownDialog;
class DropZone;
class ZoviradView;
struct DropPayload;

class CMainFrame final : public QMainWindow, public MainViewHost {
    Q_OBJECT
public:
    // trayWanted: false keeps the tray icon away even where a tray exists
    // (tests, and desktops whose tray the user turned off).
    CMainFrame(Application& app, UserPrompts& prompts, bool trayWanted = true, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The view whose commands the window runs, and the client area that
    // draws it (null: none, the status pane and tooltip are then polled);
    // once, before the window is shown.
    void attach(MainView& view, ZoviradView* client = nullptr);

    // Placement "Frame" under "Main Frame": read and applied (without
    // showing), and written from the window's normal rectangle and state.
    void restorePlacement();
    void savePlacement();
    // Shows the window as the stored placement says.
    void showAsPlaced();
    // The program ends: placement, toolbar and drop zone are stored, timers
    // and tray icon stop, and later closes pass without a question. Safe to
    // call twice; the confirmed close calls it too.
    void prepareExit();

    // MainViewHost
    void bringToFront() override;
    void requestExit() override;
    std::string clipboardText() override;
    void setClipboardText(const std::string& text) override;
    Countdown& countdown() override;

    // The clipboard's text changed (the clipboard's signal, also for tests).
    void clipboardChanged();
    // A drop on the window or the drop zone; false when the data was refused.
    bool dropData(const QMimeData& mime);
    // Re-reads status panes, tray tooltip and the toolbar's enabled states.
    void refreshReadouts();
    // One second of the speed read-outs.
    void showSpeed(const SpeedReadout& readout);
    // "&Open/Hide Fetchora".
    void toggleShown();

    CommandActions& commands() { return *m_commands; }
    DropZone& dropZone() { return *m_dropZone; }
    QString paneText(int pane) const;
    QSystemTrayIcon* tray() const { return m_tray; }
    QMenu* trayMenu() const { return m_trayMenu; }
    // Close-to-tray is possible: a tray exists and our icon shows in it.
    bool trayVisible() const;
    bool toolbarText() const { return m_toolbarText; }
    QToolBar* toolbar() const { return m_toolbar; }
    // The toolbar's own choice of buttons (its pop-up menu): a button the
    // user took off stays off ("Toolbar" "Hidden", the command numbers).
    void setToolbarButtonShown(uint32_t command, bool shown);
    // The pop-up menu of the toolbar (built afresh each time).
    std::unique_ptr<QMenu> toolbarMenu();

signals:
    // The user confirmed the exit: the program ends now.
    void exitConfirmed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildToolbar();
    void buildStatusBar();
    void buildTray();
    // The Language menu's entries (English and one per translation found)
    // and what a switch retexts: menus, toolbar, special categories.
    void buildLanguageMenu();
    void chooseLanguage(int index);
    void applyLanguage();
    void widenToContents(QTreeWidget& tree);
    void runCommand(uint32_t id, CommandKeys keys);
    bool commandEnabled(uint32_t id, CommandKeys keys) const;
    std::optional<bool> commandChecked(uint32_t id) const;
    void setToolbarText(bool on);
    void layOutToolbarButtons();
    void chooseToolbarButtons();
    bool jobsRunning() const;
    void handleDrop(const DropPayload& payload);
    void speedTick();

    Application& m_app;
    UserPrompts& m_prompts;
    MainView* m_view = nullptr;
    QPointer<ZoviradView> m_client;
    CommandActions* m_commands = nullptr;
    QToolBar* m_toolbar = nullptr;
    // The buttons in their order, those the user took off, and where the
    // speed band begins.
    std::vector<QAction*> m_toolbarButtons;
    std::vector<QAction*> m_languageActions;
    std::set<uint32_t> m_hiddenButtons;
    QAction* m_toolbarEnd = nullptr;
    QLabel* m_speedMeter = nullptr;
    QSlider* m_limitSlider = nullptr;
    std::array<QLabel*, 4> m_panes{};
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_trayMenu = nullptr;
    QMenu* m_speedMenu = nullptr;
    DropZone* m_dropZone = nullptr;
    CountdownDialog* m_countdown = nullptr;
    QTimer m_enableTimer;
    QTimer m_speedTimer;
    SpeedReadoutStep m_speedStep;
    bool m_trayWanted = true;
    bool m_toolbarText = false;
    bool m_showDownloadingInfo = true;
    bool m_exitRequested = false;
    bool m_exiting = false;
    bool m_maximizedPlacement = false;
    // Set while the window writes the clipboard itself.
    bool m_writingClipboard = false;
};

}  // namespace fetchora
