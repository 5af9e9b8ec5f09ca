#include "gui/command_actions.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QString>
#include <QWidget>

#include <algorithm>
#include <array>
#include <map>
#include <vector>

#include "gui/ui_language.h"
#include "lang/current_language.h"

namespace fetchora {

namespace {

constexpr uint32_t id(ViewCommand command)
{
    return static_cast<uint32_t>(command);
}
constexpr uint32_t id(FrameCommand command)
{
    return static_cast<uint32_t>(command);
}

using C = ViewCommand;
using F = FrameCommand;

// clang-format off
constexpr std::array kCommands{
    CommandSpec{id(C::NewDatabase), "File", "&New Database", "Ctrl+N"},
    CommandSpec{id(C::OpenDatabase), "File", "&Open Database...", "Ctrl+O"},
    CommandSpec{id(C::SaveDatabase), "File", "&Save Database", "Ctrl+S"},
    CommandSpec{id(C::SaveDatabaseAs), "File", "Save &As...", ""},
    CommandSpec{id(C::MergeDatabase), "File", "&Merge Database...", "", false, false, true},
    CommandSpec{id(C::ImportPreviousFile), "File", "Import &Previous File...", ""},
    CommandSpec{id(C::ImportPreviousBatch), "File", "Import Previous &Batch File...", ""},
    CommandSpec{id(C::ExportInformation), "File", "&Export Information...", ""},
    CommandSpec{id(C::ExportFiles), "File", "Export...", ""},
    CommandSpec{id(C::ImportBrokenDownloads), "File", "Import Broken D&ownloads...", ""},
    CommandSpec{id(C::ImportList), "File", "Import &list...", "Ctrl+L", false, false, true},
    CommandSpec{id(C::ExportList), "File", "&Export list...", ""},
    CommandSpec{id(C::ProcessWebPage), "File", "Process &Web Page File...", "Ctrl+W"},
    CommandSpec{id(C::RecentlyDownloaded), "File", "&Recently Downloaded File...", "Ctrl+R"},
    CommandSpec{id(F::Exit), "File", "E&xit", "", false, true, true},

    CommandSpec{id(C::NewCategory), "Category", "&New Category...", ""},
    CommandSpec{id(C::MoveCategory), "Category", "&Move to...", ""},
    CommandSpec{id(C::DeleteCategory), "Category", "&Delete", ""},
    CommandSpec{id(C::CategoryProperties), "Category", "&Properties...", ""},
    CommandSpec{id(C::OpenCategory), "Category", "&Open", ""},

    CommandSpec{id(C::PasteUrl), "Edit", "&Paste URL", "Ctrl+V;Shift+Ins"},
    CommandSpec{id(C::CopyUrls), "Edit", "&Copy URL to clipboard", "Ctrl+C"},
    CommandSpec{id(C::SelectAll), "Edit", "Select &All", "Ctrl+A", false, false, true},
    CommandSpec{id(C::InvertSelection), "Edit", "&Invert Selection", ""},
    CommandSpec{id(C::Find), "Edit", "&Find...", "Ctrl+F", false, false, true},
    CommandSpec{id(C::FindNext), "Edit", "Find &Next", "F3;Shift+F3"},

    CommandSpec{id(F::Detail), "View", "&Detail", "", true, true},
    CommandSpec{id(F::DropZone), "View", "Drop &Zone", "", true, true},
    CommandSpec{id(F::ShowText), "View", "Show &Text", "", true, true},
    CommandSpec{id(F::ShowDownloadingInfo), "View", "Show downloading info", "", true, true},
    CommandSpec{id(F::Buttons), "View", "&Buttons...", "", false, true},
    CommandSpec{id(F::Columns), "View", "&Columns...", "", false, true},
    CommandSpec{id(F::Grid), "View", "&Grid", "", true, true},
    CommandSpec{id(F::SkinNone), "View/&Skin", "(None)", "", true, true, true},
    CommandSpec{id(F::CustomBackground), "View/&Skin", "Custom Background...", "", false, true, true},
    CommandSpec{id(F::LanguageEnglish), "View/&Language", "English", "", true, true, true},
    CommandSpec{id(F::LanguagePack), "View/&Language", "Get Additional/Update language pack", "F2", false, true,
                true},

    CommandSpec{id(C::NewDownload), "Jobs", "&New Download...", "F4"},
    CommandSpec{id(C::BatchDownload), "Jobs", "Add &batch download...", ""},
    CommandSpec{id(C::Start), "Jobs", "&Start", "F5;Ctrl+F5", false, false, true},
    CommandSpec{id(C::Pause), "Jobs", "&Pause", "F6"},
    CommandSpec{id(C::StartAll), "Jobs", "Start &All", "F8"},
    CommandSpec{id(C::PauseAll), "Jobs", "Pause All", "F9"},
    CommandSpec{id(C::Schedule), "Jobs", "Schedule", "Alt+S", true},
    CommandSpec{id(C::MoveJobs), "Jobs", "&Move To...", "Alt+M", false, false, true},
    CommandSpec{id(C::Delete), "Jobs", "&Delete", "Alt+Del"},
    CommandSpec{id(C::DeleteAll), "Jobs", "Delete &All", ""},
    CommandSpec{id(C::Rename), "Jobs", "&Rename", ""},
    CommandSpec{id(C::CommentAsFileName), "Jobs", "&Comment As Filename", ""},
    CommandSpec{id(C::Properties), "Jobs", "Properties...", "Alt+Return", false, false, true},
    CommandSpec{id(C::SiteProperties), "Jobs", "Site &Properties...", ""},
    CommandSpec{id(C::Comment), "Jobs", "&Comment...", ""},
    CommandSpec{id(C::BrowseReferrer), "Jobs", "&Browse Referrer", ""},
    CommandSpec{id(C::BrowseWithSiteExplorer), "Jobs", "Browse with Site &Explorer", ""},
    CommandSpec{id(C::MoveUp), "Jobs", "Move &Up", "Alt+Up", false, false, true},
    CommandSpec{id(C::MoveDown), "Jobs", "Move &Down", "Alt+Down"},
    CommandSpec{id(C::MoveToTop), "Jobs", "Move to &top", "Ctrl+Alt+Up"},
    CommandSpec{id(C::MoveToBottom), "Jobs", "Move to &bottom", "Ctrl+Alt+Down"},
    CommandSpec{id(C::CheckForUpdate), "Jobs", "&Check for update", "", false, false, true},
    CommandSpec{id(C::DownloadAgain), "Jobs", "&Download Again", ""},
    CommandSpec{id(C::FixZip), "Jobs", "&Fix Corrupted Zip File", ""},
    CommandSpec{id(C::VirusScan), "Jobs", "&Virus Scan", ""},
    CommandSpec{id(C::OpenFile), "Jobs", "Open/Exec downloaded &file", "Return", false, false, true},
    CommandSpec{id(C::OpenFolder), "Jobs", "Open de&stination directory", "Ctrl+Return"},
    CommandSpec{id(C::DetailStart), "Jobs", "&Start", "", false, false, true},
    CommandSpec{id(C::DetailStop), "Jobs", "S&top", ""},
    CommandSpec{id(C::DetailRestart), "Jobs", "&Restart", ""},
    CommandSpec{id(C::IncreaseParts), "Jobs", "&Increase split parts", ""},
    CommandSpec{id(C::DecreaseParts), "Jobs", "&Decrease split parts", ""},

    CommandSpec{id(C::SiteExplorer), "Tools", "Site &Explorer", "F7"},
    CommandSpec{id(C::OfflineBrowser), "Tools", "Offline browser", ""},
    CommandSpec{id(C::ShutDownWhenDone), "Tools", "&Shut Down When Done", "", true, false, true},
    CommandSpec{id(C::HangUpWhenDone), "Tools", "&Hang Up When Done", "", true},
    CommandSpec{id(C::RedialIfDisconnected), "Tools", "&Redial if Disconnected", "", true},
    CommandSpec{id(C::SpeedUnlimited), "Tools", "&Unlimited", "", true, false, true},
    CommandSpec{id(C::SpeedManual), "Tools", "&Manual", "", true},
    CommandSpec{id(C::SpeedAutomatic), "Tools", "&Automatic", "", true},
    CommandSpec{id(C::RememberSpeedMode), "Tools", "&Remember", "", true},
    CommandSpec{id(F::MonitorClipboard), "Tools", "&Monitor ClipBoard", "", true, true, true},
    CommandSpec{id(F::DisableBrowserMonitoring), "Tools", "Disable &Browser Monitoring", "", true, true},
    CommandSpec{id(C::DownloadRules), "Tools", "&Download Rules...", "", false, false, true},
    CommandSpec{id(C::SaveAsDefault), "Tools", "&Save as default", ""},
    CommandSpec{id(C::DefaultProperties), "Tools", "Default Download &Properties...", "Ctrl+Alt+O"},
    CommandSpec{id(C::Options), "Tools", "&Options...", "Alt+O"},

    CommandSpec{id(F::CheckNewVersion), "Help", "&Check for a new version", "", false, true},
    CommandSpec{id(F::About), "Help", "&About Fetchora...", "", false, true},
    CommandSpec{id(F::OpenHide), "", "&Open/Hide Fetchora", "", false, true},

    CommandSpec{id(C::AddLinks), "", "&Add to job list", ""},
    CommandSpec{id(C::OpenLink), "", "Open in &browser", ""},
};
// clang-format on

// Each of these only opens a dialog of its own, and those dialogs are not
// part of the program yet (nor is the switch for the browser capture): they
// stay disabled rather than do nothing.
constexpr std::array kAwaitingDialog{
    // clang-format off
    id(F::DisableBrowserMonitoring),
    id(F::CustomBackground),
    // clang-format on
};

constexpr std::array<std::string_view, 7> kMenus{"File", "Category", "Edit", "View", "Jobs", "Tools", "Help"};

bool isSpeedMode(uint32_t command)
{
    return command == id(C::SpeedUnlimited) || command == id(C::SpeedManual) || command == id(C::SpeedAutomatic);
}

QString qText(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::span<const CommandSpec> commandTable()
{
    return kCommands;
}

const CommandSpec* findCommand(uint32_t command)
{
    for (const CommandSpec& spec : kCommands) {
        if (spec.id == command)
            return &spec;
    }
    return nullptr;
}

QString commandMenuText(uint32_t command)
{
    if (const ActiveLanguage* language = currentLanguage())
        if (const auto text = language->file.menuText(command))
            return menuTextOnly(qText(*text));
    const CommandSpec* spec = findCommand(command);
    return spec != nullptr ? qText(spec->text) : QString();
}

bool commandAwaitsDialog(uint32_t command)
{
    return std::find(kAwaitingDialog.begin(), kAwaitingDialog.end(), command) != kAwaitingDialog.end();
}

CommandKeys currentKeys()
{
    const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
    return CommandKeys{held.testFlag(Qt::ControlModifier), held.testFlag(Qt::ShiftModifier)};
}

CommandActions::CommandActions(QWidget* owner) : QObject(owner), m_keys(currentKeys)
{
    m_speedGroup = new QActionGroup(this);
    m_speedGroup->setExclusive(true);
    for (const CommandSpec& spec : kCommands) {
        auto* action = new QAction(qText(spec.text), this);
        QList<QKeySequence> shortcuts;
        for (const QString& keys : qText(spec.keys).split(u';', Qt::SkipEmptyParts))
            shortcuts.push_back(QKeySequence(keys));
        action->setShortcuts(shortcuts);
        // The shortcuts work wherever the window has the focus, also while
        // the action's menu is closed.
        action->setShortcutContext(Qt::WindowShortcut);
        action->setCheckable(spec.checkable);
        action->setData(spec.id);
        if (isSpeedMode(spec.id))
            m_speedGroup->addAction(action);
        if (owner != nullptr)
            owner->addAction(action);
        const uint32_t command = spec.id;
        connect(action, &QAction::triggered, this, [this, command] { trigger(command); });
        m_actions.emplace(spec.id, action);
    }
}

QAction* CommandActions::action(uint32_t command) const
{
    const auto found = m_actions.find(command);
    return found == m_actions.end() ? nullptr : found->second;
}

void CommandActions::fillMenuBar(QMenuBar& bar)
{
    for (std::string_view name : kMenus) {
        QMenu* menu = bar.addMenu(QStringLiteral("&") + qText(name));
        bool first = true;
        std::vector<QAction*> actions;
        // "View/Skin": an entry of the submenu "Skin" of "View".
        std::map<std::string_view, QMenu*> submenus;
        for (const CommandSpec& spec : kCommands) {
            const std::string_view top = spec.menu.substr(0, spec.menu.find('/'));
            if (top != name)
                continue;
            QMenu* into = menu;
            if (top.size() < spec.menu.size()) {
                const std::string_view sub = spec.menu.substr(top.size() + 1);
                QMenu*& made = submenus[sub];
                if (made == nullptr) {
                    if (spec.separatorBefore && !actions.empty())
                        menu->addSeparator();
                    made = menu->addMenu(qText(sub));
                    m_popups.push_back({made, spec.id, qText(sub)});
                    QMenu* submenu = made;
                    connect(submenu, &QMenu::aboutToShow, this, [this, submenu] { refresh(submenu->actions()); });
                } else if (spec.separatorBefore) {
                    made->addSeparator();
                }
                into = made;
            } else if (spec.separatorBefore && !actions.empty()) {
                menu->addSeparator();
            }
            if (first) {
                m_popups.push_back({menu, spec.id, menu->title()});
                first = false;
            }
            QAction* each = action(spec.id);
            into->addAction(each);
            actions.push_back(each);
        }
        connect(menu, &QMenu::aboutToShow, this, [this, actions] { refresh(actions); });
    }
}

void CommandActions::refresh()
{
    const CommandKeys keys = m_keys ? m_keys() : CommandKeys{};
    for (auto& [command, action] : m_actions)
        refreshOne(*action, keys);
}

void CommandActions::refresh(std::span<QAction* const> actions)
{
    const CommandKeys keys = m_keys ? m_keys() : CommandKeys{};
    for (QAction* action : actions)
        refreshOne(*action, keys);
}

void CommandActions::refreshOne(QAction& action, CommandKeys keys)
{
    const uint32_t command = action.data().toUInt();
    // Toolbars and menus also hold separators and widgets: not ours to judge.
    if (findCommand(command) == nullptr || m_actions.count(command) == 0 || m_actions.at(command) != &action)
        return;
    const bool enabled = !commandAwaitsDialog(command) && m_enabled && m_enabled(command, keys);
    if (action.isEnabled() != enabled)
        action.setEnabled(enabled);
    if (action.isCheckable() && m_checked) {
        const std::optional<bool> checked = m_checked(command);
        if (checked && action.isChecked() != *checked)
            action.setChecked(*checked);
    }
}

void CommandActions::trigger(uint32_t command)
{
    if (commandAwaitsDialog(command) || !m_trigger)
        return;
    const CommandKeys keys = m_keys ? m_keys() : CommandKeys{};
    if (m_enabled && !m_enabled(command, keys))
        return;
    m_trigger(command, keys);
    // A toggle shows the state its command left, not the click's guess.
    if (QAction* each = action(command); each != nullptr && each->isCheckable())
        refresh(std::span<QAction* const>(&each, 1));
}

void CommandActions::retranslate()
{
    const ActiveLanguage* language = currentLanguage();
    for (const CommandSpec& spec : kCommands)
        action(spec.id)->setText(commandMenuText(spec.id));
    for (const Popup& popup : m_popups) {
        std::optional<std::string_view> text;
        if (language != nullptr)
            text = language->file.popupText(popup.firstCommand);
        popup.menu->setTitle(text ? menuTextOnly(qText(*text)) : popup.english);
    }
}

QMenu* CommandActions::menuOf(uint32_t command) const
{
    QAction* each = action(command);
    if (each == nullptr)
        return nullptr;
    for (QObject* holder : each->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(holder))
            return menu;
    }
    return nullptr;
}

void CommandActions::addPopup(QMenu* menu, uint32_t firstCommand)
{
    m_popups.push_back({menu, firstCommand, menu->title()});
}

}  // namespace fetchora
