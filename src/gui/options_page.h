#pragma once
// One page of the options sheet. A page shows a group of settings: it fills
// its controls from the settings when the sheet opens, checks what the user
// typed when OK is pressed, and writes its controls back only when every
// page of the sheet passed the check, so a refused value changes nothing.
//
// Thread: the GUI thread. A page borrows the settings only during the calls.
#include <QString>
#include <QWidget>

namespace fetchora {

class AppSettings;

class OptionsPage : public QWidget {
    Q_OBJECT
public:
    // sectionName: the page's name for translations and stored state
    // ("Conn_PPG"); title: the tab text ("Connection").
    OptionsPage(const char* sectionName, const QString& title, QWidget* parent = nullptr)
        : QWidget(parent), m_sectionName(sectionName), m_title(title)
    {
    }

    const char* sectionName() const { return m_sectionName; }
    const QString& title() const { return m_title; }

    // Fills the controls from the settings.
    virtual void load(const AppSettings& settings) = 0;
    // Empty when every control holds an acceptable value; otherwise a message
    // naming the field and its range, with that field given the focus. What
    // the user typed stays in the field.
    virtual QString validate() = 0;
    // Writes the controls to the settings; called only after validate passed
    // on every page.
    virtual void apply(AppSettings& settings) = 0;

private:
    const char* m_sectionName;
    QString m_title;
};

}  // namespace fetchora
