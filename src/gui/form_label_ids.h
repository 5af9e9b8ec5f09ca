#pragma once
// The labels a QFormLayout makes for its rows ("addRow(text, field)") carry
// no id of their own; this gives each its field's "controlId" plus 500 (the
// offset every labelled field uses, options_form.h), so a language file can
// name it. A field that is a row layout lends the id of its first part that
// has one. Call once the fields have their ids.
//
// Thread: the GUI thread.
#include <QFormLayout>
#include <QLabel>
#include <QLayoutItem>
#include <QVariant>

namespace fetchora {

inline void setFormLabelIds(QFormLayout* form)
{
    constexpr int kFormLabelIdOffset = 500;
    const auto idOf = [](const QObject* object) {
        const QVariant id = object->property("controlId");
        return id.isValid() ? id.toInt() : -1;
    };
    for (int row = 0; row < form->rowCount(); ++row) {
        QLayoutItem* labelItem = form->itemAt(row, QFormLayout::LabelRole);
        QLayoutItem* fieldItem = form->itemAt(row, QFormLayout::FieldRole);
        auto* label = labelItem != nullptr ? qobject_cast<QLabel*>(labelItem->widget()) : nullptr;
        if (label == nullptr || idOf(label) >= 0 || fieldItem == nullptr)
            continue;
        const QWidget* field = fieldItem->widget();
        if (field == nullptr && fieldItem->layout() != nullptr) {
            for (int i = 0; i < fieldItem->layout()->count() && field == nullptr; ++i) {
                const QWidget* part = fieldItem->layout()->itemAt(i)->widget();
                if (part != nullptr && idOf(part) >= 0)
                    field = part;
            }
        }
        if (field != nullptr && idOf(field) >= 0)
            label->setProperty("controlId", idOf(field) + kFormLabelIdOffset);
    }
}

}  // namespace fetchora
