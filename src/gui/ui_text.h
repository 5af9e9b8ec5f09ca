#pragma once
// Texts of the windows that come from the string table, so that the current
// language reaches them, and a hook for retexting on a switch.
//
// Thread: the GUI thread.
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

class QObject;

namespace fetchora {

// The message in the current language (English when it has none).
QString uiString(uint32_t id);
// Item index of a comma-separated list message (lang/string_table.h).
QString uiListItem(uint32_t id, std::size_t index);
// Every item of a comma-separated list message in the current language, as
// many as the English list has (an item the language lacks stays English).
QStringList uiList(uint32_t id);

// A text of a window that comes from the string table: an action's or a
// button's or label's text, a menu's or group box's title, a window's or tool
// bar's caption, or (Role::ToolTip) the tool tip. The object keeps the id, so
// that retextByStringIds sets the text again after a switch.
enum class UiTextRole { Text, ToolTip };
void setUiText(QObject* object, uint32_t id, UiTextRole role = UiTextRole::Text);
// The text setUiText gave the object, in the current language; nothing when
// it gave it none.
std::optional<QString> uiTextOf(const QObject* object);
// Sets again every text given by setUiText to root and the objects under it.
void retextByStringIds(QObject* root);
// Sets again only the tool tips given by setUiText: a window's texts are
// chosen by its section first (gui/ui_language.h), its tips by id alone.
void retextTipsByStringIds(QObject* root);

// Calls retext whenever the language changes, for as long as context lives.
// Nothing happens without a UiLanguage (then only English is ever shown).
void onLanguageChanged(QObject* context, std::function<void()> retext);

}  // namespace fetchora
