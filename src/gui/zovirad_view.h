#pragma once
// The main window's client area: the category tree on the left, the job list
// over the detail area on the right. It draws what MainView and its
// JobListModel answer and hands every user action back to them; no decision
// lives here.
//
// Thread: GUI thread (the loop thread). Borrows the view and the
// application, which must outlive it.
#include <QString>
#include <QWidget>

class QSplitter;

namespace fetchora {

class Application;
class MainView;

class ZoviradView : public QWidget {
    Q_OBJECT
public:
    ZoviradView(MainView& view, Application& app, QWidget* parent = nullptr);
    ~ZoviradView() override;

    // The splitter sizes ("Main Frame" "Splitter"), the two column sets
    // ("MLStatus") and the layout flags ("Main Menu" "Flags") to and from
    // the settings store.
    void saveState();
    void restoreState();

signals:
    // Pane 0 of the status bar, one second after the selection changed.
    void statusTextChanged(const QString& text);
    void trayTooltipChanged(const QString& text);

private:
    MainView& m_view;
    Application& m_app;
    QSplitter* m_across = nullptr;  // tree | right side
    QSplitter* m_along = nullptr;  // list over detail area
    uint32_t m_flagsRaw = 2;
};

}  // namespace fetchora
