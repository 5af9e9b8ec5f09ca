#include "gui/ui_text.h"

#include <QObject>

#include <string_view>
#include <utility>

#include "gui/ui_language.h"
#include "lang/string_table.h"

namespace fetchora {

namespace {

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QString uiString(uint32_t id)
{
    return fromUtf8(builtinString(id));
}

QString uiListItem(uint32_t id, std::size_t index)
{
    return fromUtf8(builtinListItem(id, index));
}

void onLanguageChanged(QObject* context, std::function<void()> retext)
{
    if (UiLanguage* languages = UiLanguage::instance())
        QObject::connect(languages, &UiLanguage::languageChanged, context, std::move(retext));
}

}  // namespace fetchora
