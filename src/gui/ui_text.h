#pragma once
// Texts of the windows that come from the string table, so that the current
// language reaches them, and a hook for retexting on a switch.
//
// Thread: the GUI thread.
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

class QObject;

namespace fetchora {

// The message in the current language (English when it has none).
QString uiString(uint32_t id);
// Item index of a comma-separated list message (lang/string_table.h).
QString uiListItem(uint32_t id, std::size_t index);

// Calls retext whenever the language changes, for as long as context lives.
// Nothing happens without a UiLanguage (then only English is ever shown).
void onLanguageChanged(QObject* context, std::function<void()> retext);

}  // namespace fetchora
