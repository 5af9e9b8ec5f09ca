#include "gui/options_form.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

#include "config/app_settings.h"
#include "gui/gui_string_ids.h"
#include "gui/ui_language.h"
#include "gui/ui_text.h"

namespace fetchora {

void setControlId(QObject* control, int id)
{
    control->setProperty(kControlIdProperty, id);
}

int controlId(const QObject* control)
{
    const QVariant id = control->property(kControlIdProperty);
    return id.isValid() ? id.toInt() : -1;
}

QString fieldName(const QString& label)
{
    QString name = label;
    name.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    name.replace(QStringLiteral("&&"), QStringLiteral("&"));
    name = name.trimmed();
    if (name.endsWith(u':'))
        name.chop(1);
    return name.trimmed();
}

void setFieldEnabled(QWidget* field, bool enabled)
{
    field->setEnabled(enabled);
    if (QWidget* page = field->parentWidget()) {
        for (QLabel* label : page->findChildren<QLabel*>()) {
            if (label->buddy() == field)
                label->setEnabled(enabled);
        }
    }
}

void enableWith(QCheckBox* box, QWidget* target, bool whenChecked)
{
    auto follow = [box, target, whenChecked] { setFieldEnabled(target, box->isChecked() == whenChecked); };
    QObject::connect(box, &QCheckBox::toggled, target, follow);
    follow();
}

QColor colorFromRef(int32_t colorRef)
{
    const auto bits = static_cast<uint32_t>(colorRef);
    return QColor(static_cast<int>(bits & 0xFF), static_cast<int>((bits >> 8) & 0xFF),
                  static_cast<int>((bits >> 16) & 0xFF));
}

int32_t refFromColor(const QColor& color)
{
    return static_cast<int32_t>(static_cast<uint32_t>(color.red()) | (static_cast<uint32_t>(color.green()) << 8)
                                | (static_cast<uint32_t>(color.blue()) << 16));
}

ColorButton::ColorButton(QWidget* parent) : QPushButton(parent)
{
    connect(this, &QPushButton::clicked, this, &ColorButton::pick);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setColorRef(0);
}

void ColorButton::setColorRef(int32_t colorRef)
{
    m_colorRef = colorRef;
    // A swatch as tall as the text, so it scales with the font.
    const int side = fontMetrics().height();
    const qreal ratio = devicePixelRatioF();
    QPixmap swatch(QSize(side * 2, side) * ratio);
    swatch.setDevicePixelRatio(ratio);
    swatch.fill(colorFromRef(colorRef));
    {
        QPainter painter(&swatch);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawRect(QRectF(0, 0, side * 2 - 1, side - 1));
    }
    setIcon(QIcon(swatch));
    setIconSize(QSize(side * 2, side));
    setToolTip(colorFromRef(colorRef).name());
}

namespace {

// A colour picker is named after its field's label as it shows now, in the
// current language: the accessible name keeps the text the page was built
// with.
QString pickerTitle(const QWidget& button)
{
    if (const QWidget* page = button.parentWidget()) {
        for (const QLabel* label : page->findChildren<QLabel*>()) {
            if (label->buddy() == &button)
                return fieldName(label->text());
        }
    }
    return fieldName(button.accessibleName());
}

}  // namespace

void ColorButton::pick()
{
    const QColor chosen = QColorDialog::getColor(colorFromRef(m_colorRef), this, pickerTitle(*this));
    if (chosen.isValid())
        setColorRef(refFromColor(chosen));
}

namespace {

void collectFocusable(QLayout* layout, QList<QWidget*>& widgets)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QWidget* widget = item->widget()) {
            if (widget->focusPolicy() != Qt::NoFocus)
                widgets.push_back(widget);
        } else if (QLayout* inner = item->layout()) {
            collectFocusable(inner, widgets);
        }
    }
}

}  // namespace

void FormPage::showEvent(QShowEvent* event)
{
    if (!m_tabOrderSet) {
        m_tabOrderSet = true;
        QList<QWidget*> widgets;
        collectFocusable(m_column, widgets);
        for (qsizetype i = 1; i < widgets.size(); ++i)
            QWidget::setTabOrder(widgets[i - 1], widgets[i]);
    }
    OptionsPage::showEvent(event);
}

FormPage::FormPage(const char* sectionName, const QString& title, QWidget* parent)
    : OptionsPage(sectionName, title, parent)
{
    m_column = new QVBoxLayout(this);
    m_form = new QFormLayout;
    // The same look in every style: text fields and choices take the width,
    // numbers, colours and times keep their own.
    m_form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_column->addLayout(m_form);
}

void FormPage::load(const AppSettings& settings)
{
    for (const Binding& binding : m_bindings) {
        if (binding.load)
            binding.load(settings);
    }
}

QString FormPage::validate()
{
    for (const Binding& binding : m_bindings) {
        if (!binding.validate)
            continue;
        QString message = binding.validate();
        if (!message.isEmpty())
            return message;
    }
    return {};
}

void FormPage::apply(AppSettings& settings)
{
    for (const Binding& binding : m_bindings) {
        if (binding.apply)
            binding.apply(settings);
    }
}

QLabel* FormPage::addRow(const QString& label, QWidget* buddy, QLayout* row)
{
    auto* text = new QLabel(label, this);
    text->setBuddy(buddy);
    setControlId(text, controlId(buddy) + kLabelIdOffset);
    nameAfter(buddy, text);
    if (row != nullptr)
        m_form->addRow(text, row);
    else
        m_form->addRow(text, buddy);
    return text;
}

QCheckBox* FormPage::addCheck(int id, const QString& text, std::function<bool(const AppSettings&)> get,
                              std::function<void(AppSettings&, bool)> set)
{
    auto* box = new QCheckBox(text, this);
    setControlId(box, id);
    m_form->addRow(box);
    addBinding({[box, get](const AppSettings& s) { box->setChecked(get(s)); },
                {},
                [box, set](AppSettings& s) { set(s, box->isChecked()); }});
    return box;
}

QCheckBox* FormPage::addCheck(int id, const QString& text, OptionId option, bool inverted)
{
    return addCheck(
        id, text, [option, inverted](const AppSettings& s) { return (s.GetOption(option) != 0) != inverted; },
        [option, inverted](AppSettings& s, bool checked) { s.SetOption(option, checked != inverted ? 1 : 0); });
}

QLineEdit* FormPage::addNumber(int id, const QString& label, std::function<IntRange()> range, IntGetter get,
                               IntSetter set, int32_t unit)
{
    auto* edit = new QLineEdit(this);
    setControlId(edit, id);
    edit->setMaximumWidth(edit->fontMetrics().averageCharWidth() * 14);
    QLabel* shownLabel = addRow(label, edit);
    // The value as typed, when it is a number in range.
    auto parse = [edit, range](int32_t& value) {
        bool ok = false;
        const qlonglong number = edit->text().trimmed().toLongLong(&ok);
        const IntRange r = range();
        if (!ok || number < r.min || number > r.max)
            return false;
        value = static_cast<int32_t>(number);
        return true;
    };
    // Written back only when the text changed, so a stored value that is not
    // a whole number of units survives a visit to the page.
    auto shown = std::make_shared<QString>();
    auto stored = std::make_shared<int32_t>(0);
    addBinding({[edit, get, unit, shown, stored](const AppSettings& s) {
                    *stored = get(s);
                    *shown = QString::number(*stored / unit);
                    edit->setText(*shown);
                },
                [edit, parse, range, shownLabel]() {
                    int32_t value = 0;
                    if (!edit->isEnabled() || parse(value))
                        return QString();
                    edit->setFocus();
                    const IntRange r = range();
                    // The label as shown now names the field in the current language.
                    return uiString(kStrOutOfRange).arg(fieldName(shownLabel->text())).arg(r.min).arg(r.max);
                },
                [edit, parse, set, unit, shown](AppSettings& s) {
                    int32_t value = 0;
                    if (edit->text() != *shown && parse(value))
                        set(s, value * unit);
                }});
    return edit;
}

QLineEdit* FormPage::addNumber(int id, const QString& label, OptionId option, IntRange range, int32_t unit)
{
    return addNumber(
        id, label, [range] { return range; }, [option](const AppSettings& s) { return s.GetOption(option); },
        [option](AppSettings& s, int32_t value) { s.SetOption(option, value); }, unit);
}

QLineEdit* FormPage::addText(int id, const QString& label, OptionId option, std::initializer_list<QWidget*> trailing)
{
    auto* edit = new QLineEdit(this);
    setControlId(edit, id);
    if (trailing.size() == 0) {
        addRow(label, edit);
    } else {
        auto* row = new QHBoxLayout;
        row->addWidget(edit, 1);
        for (QWidget* widget : trailing)
            row->addWidget(widget);
        addRow(label, edit, row);
    }
    addBinding(
        {[edit, option](const AppSettings& s) { edit->setText(QString::fromStdString(s.GetOptionText(option))); },
         {},
         [edit, option](AppSettings& s) { s.SetOptionText(option, edit->text().toStdString()); }});
    return edit;
}

QComboBox* FormPage::addChoice(int id, const QString& label, ChoiceItems items, IntGetter get, IntSetter set)
{
    auto* box = new QComboBox(this);
    setControlId(box, id);
    addRow(label, box);
    const auto known = static_cast<int>(items().size());
    addBinding({[box, get, items, known](const AppSettings& s) {
                    box->clear();
                    box->addItems(items());
                    const int value = get(s);
                    if (value >= 0 && value < known) {
                        box->setCurrentIndex(value);
                    } else {
                        box->addItem(uiString(kStrOtherValue).arg(value), value);
                        box->setCurrentIndex(known);
                    }
                },
                {},
                [box, set, known](AppSettings& s) {
                    const int index = box->currentIndex();
                    set(s, index < known ? index : box->currentData().toInt());
                }});
    // Texts set in place keep the current index, so nothing is chosen anew.
    onLanguageChanged(box, [box, items, known] {
        const QStringList texts = items();
        for (int i = 0; i < std::min(known, box->count()); ++i)
            box->setItemText(i, texts.value(i));
        if (box->count() > known)
            box->setItemText(known, uiString(kStrOtherValue).arg(box->itemData(known).toInt()));
    });
    return box;
}

QComboBox* FormPage::addChoice(int id, const QString& label, OptionId option, ChoiceItems items)
{
    return addChoice(
        id, label, std::move(items), [option](const AppSettings& s) { return s.GetOption(option); },
        [option](AppSettings& s, int32_t value) { s.SetOption(option, value); });
}

ColorButton* FormPage::addColor(int id, const QString& label, OptionId option)
{
    auto* button = new ColorButton(this);
    setControlId(button, id);
    addRow(label, button);
    addBinding({[button, option](const AppSettings& s) { button->setColorRef(s.GetOption(option)); },
                {},
                [button, option](AppSettings& s) { s.SetOption(option, button->colorRef()); }});
    return button;
}

}  // namespace fetchora
