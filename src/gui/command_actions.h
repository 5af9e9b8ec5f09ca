#pragma once
// The main window's commands as QActions, made from one table: menu text,
// accelerators, the menu they sit in and whether they carry a check mark.
// The actions decide nothing themselves: whether one is enabled or checked
// and what it does are answered by the callbacks the frame installs (the
// main view for its commands, the frame for its own).
//
// Thread: the GUI thread. Owns its actions (children of the parent object).
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "shell/view_command.h"

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;
class QWidget;

namespace fetchora {

// Commands only the frame carries out; numbered like the view's.
enum class FrameCommand : uint32_t {
    Detail = 32772,
    DropZone = 32787,
    ShowText = 32797,
    OpenHide = 32790,
    MonitorClipboard = 32801,
    DisableBrowserMonitoring = 32855,
    ShowDownloadingInfo = 32901,
    Buttons = 32798,
    Columns = 32792,
    Grid = 32890,
    SkinNone = 288,
    CustomBackground = 32918,
    LanguageEnglish = 224,
    LanguagePack = 32912,
    CheckNewVersion = 32858,
    About = 57664,
    Exit = 57665,
};

struct CommandSpec {
    uint32_t id = 0;
    // "File", "Category", "Edit", "View", "Jobs", "Tools", "Help" (or a
    // submenu of one: "View/&Skin"); empty for actions that live only in
    // pop-up menus of other widgets.
    std::string_view menu;
    std::string_view text;
    // QKeySequence texts separated by ";" (the first is the one shown).
    std::string_view keys;
    bool checkable = false;
    // Frame commands are not ViewCommands.
    bool frame = false;
    // A separator goes before this entry in its menu.
    bool separatorBefore = false;
};

// Every command of the main window, in menu order.
std::span<const CommandSpec> commandTable();
// The entry of a command; null when there is none.
const CommandSpec* findCommand(uint32_t id);
// A command's menu text in the current language ("Menu" <id>), the built-in
// English where it has none; empty for an unknown id.
QString commandMenuText(uint32_t id);
// Commands whose dialog does not exist yet: always disabled.
bool commandAwaitsDialog(uint32_t id);

class CommandActions final : public QObject {
    Q_OBJECT
public:
    using EnabledFn = std::function<bool(uint32_t id, CommandKeys keys)>;
    using CheckedFn = std::function<std::optional<bool>(uint32_t id)>;
    using TriggerFn = std::function<void(uint32_t id, CommandKeys keys)>;
    // Where the held keys come from (the application's modifiers by default).
    using KeysFn = std::function<CommandKeys()>;

    explicit CommandActions(QWidget* owner);

    void setEnabledFn(EnabledFn fn) { m_enabled = std::move(fn); }
    void setCheckedFn(CheckedFn fn) { m_checked = std::move(fn); }
    void setTriggerFn(TriggerFn fn) { m_trigger = std::move(fn); }
    void setKeysFn(KeysFn fn) { m_keys = std::move(fn); }

    QAction* action(uint32_t id) const;
    QAction* action(ViewCommand command) const { return action(static_cast<uint32_t>(command)); }
    QAction* action(FrameCommand command) const { return action(static_cast<uint32_t>(command)); }

    // Fills the menu bar with the seven menus; each re-evaluates its actions
    // when it is about to show.
    void fillMenuBar(QMenuBar& bar);
    // Re-reads enabled and checked states of every action (or of those given).
    void refresh();
    void refresh(std::span<QAction* const> actions);
    // Runs the command as a trigger of its action would.
    void trigger(uint32_t id);
    // Menu texts from the current language ("Menu" <id>, a pop-up by its
    // first item's id and "p"), English where it has none.
    void retranslate();
    // The menu an action sits in; null when it is in none.
    QMenu* menuOf(uint32_t id) const;
    // A pop-up built outside the menu bar (the tray's) that retranslate()
    // retexts by the id of its first item; it must outlive this object.
    void addPopup(QMenu* menu, uint32_t firstCommand);

private:
    void refreshOne(QAction& action, CommandKeys keys);

    EnabledFn m_enabled;
    CheckedFn m_checked;
    TriggerFn m_trigger;
    KeysFn m_keys;
    std::unordered_map<uint32_t, QAction*> m_actions;
    QActionGroup* m_speedGroup = nullptr;
    struct Popup {
        QMenu* menu;
        uint32_t firstCommand;
        QString english;
    };
    std::vector<Popup> m_popups;
};

// The keys held now.
CommandKeys currentKeys();

}  // namespace fetchora
