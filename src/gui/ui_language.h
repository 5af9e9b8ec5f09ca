#pragma once
// The windows' side of the current language: which translations there are,
// switching between them at run time, and retexting dialogs by their
// section name and the "controlId" of each control.
//
// A dialog or page names its section through its object name ("Export_Dlg",
// "Conn_PPG") or, for an options page, its sectionName(). Every window is
// retexted when it is shown; a switch retexts the windows already open.
// Each control keeps its English text in a property, so switching back
// to English restores it.
//
// Thread: the GUI thread.
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lang/language_catalog.h"

class QTranslator;
class QWidget;

namespace fetchora {

class UiLanguage final : public QObject {
    Q_OBJECT
public:
    // folders: the profile's "language" folder first, then the program's.
    explicit UiLanguage(std::vector<std::string> folders, QObject* parent = nullptr);
    ~UiLanguage() override;

    // The one made last; null when there is none (then only English).
    static UiLanguage* instance();

    const std::vector<LanguageEntry>& entries() const { return m_entries; }
    // 0: the built-in English; i + 1: entries()[i].
    int activeIndex() const { return m_active; }
    // "kxdeu.ini"; empty for English.
    std::string activeFileName() const;

    // The language the program starts with (see chooseStartLanguage);
    // configured: nullopt when the user never chose one.
    void activateStartLanguage(const std::optional<std::string>& configured, std::string_view locale);

    // Makes a language current and retexts every open window. False (and
    // nothing changes) for an index out of range or a file that is gone.
    bool activate(int index);

    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void languageChanged();

private:
    void loadQtTranslations(const std::string& fileName);

    std::vector<LanguageEntry> m_entries;
    int m_active = 0;
    std::unique_ptr<QTranslator> m_qtTranslator;
};

// The translation section a widget stands for; empty when it has none.
QString translationSection(const QWidget* widget);

// Retexts the window's controls, its pages' tab texts and its caption from
// the current language (back to English when there is none).
void translateWindow(QWidget* window);

// One text of a window that a language file can replace, as shown now:
// key is the control id, or "Title" for a caption or a page's tab.
struct WindowText {
    QString section;
    QString key;
    QString text;
};
std::vector<WindowText> windowTexts(QWidget* window);

// Names control, for assistive technology, after the label in front of it
// ("&Max. connections:" names its field "Max. connections"), now and after
// every switch of the language.
void nameAfter(QWidget* control, QWidget* label);

// The text a control, caption or menu had in English (kept the first time
// it is retexted).
QString englishText(const QObject* object, const QString& shown);

// "&Neue Datenbank\tStrg+N" -> "&Neue Datenbank": menu texts in the file
// may carry the accelerator, which Qt shows by itself.
QString menuTextOnly(QString text);

}  // namespace fetchora
