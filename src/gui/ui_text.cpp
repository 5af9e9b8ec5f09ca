#include "gui/ui_text.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QWidget>

#include <algorithm>
#include <string_view>
#include <utility>

#include "gui/ui_language.h"
#include "lang/string_table.h"

namespace fetchora {

namespace {

constexpr const char* kTextIdProperty = "uiStringId";
constexpr const char* kTipIdProperty = "uiTipStringId";

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void applyText(QObject* object, const QString& text)
{
    if (auto* action = qobject_cast<QAction*>(object))
        action->setText(text);
    else if (auto* menu = qobject_cast<QMenu*>(object))
        menu->setTitle(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(object))
        button->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(object))
        label->setText(text);
    else if (auto* group = qobject_cast<QGroupBox*>(object))
        group->setTitle(text);
    else if (auto* widget = qobject_cast<QWidget*>(object))
        widget->setWindowTitle(text);
}

void applyTip(QObject* object, const QString& text)
{
    if (auto* action = qobject_cast<QAction*>(object))
        action->setToolTip(text);
    else if (auto* widget = qobject_cast<QWidget*>(object))
        widget->setToolTip(text);
}

void retextTip(QObject* object)
{
    bool ok = false;
    if (const uint id = object->property(kTipIdProperty).toUInt(&ok); ok)
        applyTip(object, uiString(id));
}

void retextOne(QObject* object)
{
    bool ok = false;
    if (const uint id = object->property(kTextIdProperty).toUInt(&ok); ok)
        applyText(object, uiString(id));
    retextTip(object);
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

QStringList uiList(uint32_t id)
{
    const std::string_view english = englishString(id);
    const auto count = static_cast<std::size_t>(std::count(english.begin(), english.end(), ',')) + 1;
    QStringList items;
    for (std::size_t i = 0; i < count; ++i)
        items.push_back(uiListItem(id, i));
    return items;
}

void setUiText(QObject* object, uint32_t id, UiTextRole role)
{
    object->setProperty(role == UiTextRole::Text ? kTextIdProperty : kTipIdProperty, static_cast<uint>(id));
    retextOne(object);
}

std::optional<QString> uiTextOf(const QObject* object)
{
    bool ok = false;
    const uint id = object->property(kTextIdProperty).toUInt(&ok);
    if (!ok)
        return std::nullopt;
    return uiString(id);
}

void retextByStringIds(QObject* root)
{
    retextOne(root);
    for (QObject* each : root->findChildren<QObject*>())
        retextOne(each);
}

void retextTipsByStringIds(QObject* root)
{
    retextTip(root);
    for (QObject* each : root->findChildren<QObject*>())
        retextTip(each);
}

void onLanguageChanged(QObject* context, std::function<void()> retext)
{
    if (UiLanguage* languages = UiLanguage::instance())
        QObject::connect(languages, &UiLanguage::languageChanged, context, std::move(retext));
}

}  // namespace fetchora
