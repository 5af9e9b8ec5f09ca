#pragma once
// The building blocks of the options pages: a page that is a list of bound
// controls. Each control is tied to one setting by a binding that fills it,
// checks it and writes it back, so a page is a declaration of its rows.
//
// Every control carries a QObject property "controlId" (int, unique in its
// page) so that a language file can replace its text; the label in front of
// a field carries the field's id plus kLabelIdOffset.
//
// Numeric fields are line edits, not spin boxes: a value out of range or not
// a number is refused by validate() with a message naming the field and its
// range, and the typed text stays for the user to correct.
//
// Thread: the GUI thread.
#include <QPushButton>

#include <functional>
#include <initializer_list>
#include <vector>

#include "config/option_id.h"
#include "config/settings_values.h"
#include "gui/options_page.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QVBoxLayout;

namespace fetchora {

inline constexpr int kLabelIdOffset = 500;
inline constexpr const char* kControlIdProperty = "controlId";
// Items of a tree of switches are not objects: their id is item data.
inline constexpr int kItemControlIdRole = Qt::UserRole + 1;

void setControlId(QObject* control, int id);
// The id set by setControlId; -1 when the object has none.
int controlId(const QObject* control);

// "&Max. connections:" -> "Max. connections": the label as a message names it.
QString fieldName(const QString& label);

// A button that shows and picks a colour stored as 0x00BBGGRR.
class ColorButton final : public QPushButton {
public:
    explicit ColorButton(QWidget* parent = nullptr);
    int32_t colorRef() const { return m_colorRef; }
    void setColorRef(int32_t colorRef);

private:
    void pick();

    int32_t m_colorRef = 0;
};

// Enables or disables a field together with the label in front of it.
void setFieldEnabled(QWidget* field, bool enabled);
// Keeps target enabled exactly while box is checked (or unchecked, when
// whenChecked is false).
void enableWith(QCheckBox* box, QWidget* target, bool whenChecked = true);

QColor colorFromRef(int32_t colorRef);
int32_t refFromColor(const QColor& color);

class FormPage : public OptionsPage {
public:
    void load(const AppSettings& settings) override;
    QString validate() override;
    void apply(AppSettings& settings) override;

protected:
    struct Binding {
        std::function<void(const AppSettings&)> load;
        std::function<QString()> validate;  // empty: nothing to check
        std::function<void(AppSettings&)> apply;
    };
    using IntGetter = std::function<int32_t(const AppSettings&)>;
    using IntSetter = std::function<void(AppSettings&, int32_t)>;

    FormPage(const char* sectionName, const QString& title, QWidget* parent = nullptr);

    // The page's column of rows; controls are added to it in tab order.
    QVBoxLayout* column() const { return m_column; }
    // The form the add* helpers put their rows into: the page's first form,
    // or the one set last (for a group box).
    QFormLayout* form() const { return m_form; }
    void setForm(QFormLayout* form) { m_form = form; }

    void addBinding(Binding binding) { m_bindings.push_back(std::move(binding)); }

    // A check box for a flag option; inverted shows the flag's opposite.
    QCheckBox* addCheck(int id, const QString& text, OptionId option, bool inverted = false);
    QCheckBox* addCheck(int id, const QString& text, std::function<bool(const AppSettings&)> get,
                        std::function<void(AppSettings&, bool)> set);
    // A numeric field; the range is asked at validation (it may depend on
    // what load saw). unit: the stored value is the shown value times unit.
    QLineEdit* addNumber(int id, const QString& label, std::function<IntRange()> range, IntGetter get, IntSetter set,
                         int32_t unit = 1);
    QLineEdit* addNumber(int id, const QString& label, OptionId option, IntRange range, int32_t unit = 1);
    // trailing: widgets shown after the field on its row (a browse button).
    QLineEdit* addText(int id, const QString& label, OptionId option, std::initializer_list<QWidget*> trailing = {});
    // A choice whose item i stands for value i; a stored value without an
    // item is shown as an extra item and written back unchanged. items gives
    // the texts in the current language, always as many: they are asked
    // again on a language switch, and what is chosen stays.
    using ChoiceItems = std::function<QStringList()>;
    QComboBox* addChoice(int id, const QString& label, OptionId option, ChoiceItems items);
    QComboBox* addChoice(int id, const QString& label, ChoiceItems items, IntGetter get, IntSetter set);
    ColorButton* addColor(int id, const QString& label, OptionId option);
    // A labelled row holding any widget (or layout); the label gets the id
    // of `buddy` plus kLabelIdOffset.
    QLabel* addRow(const QString& label, QWidget* buddy, QLayout* row = nullptr);

    // The tab order follows the rows as laid out, whatever order the
    // controls were made in; set when the page is first shown.
    void showEvent(QShowEvent* event) override;

private:
    QVBoxLayout* m_column = nullptr;
    QFormLayout* m_form = nullptr;
    std::vector<Binding> m_bindings;
    bool m_tabOrderSet = false;
};

}  // namespace fetchora
