#pragma once
// The end of work's countdown as a window: the caption, the text with the
// seconds left, OK and Cancel. It is not modal, so the loop (and the
// downloads) keep running while it shows. OK, or the count reaching zero,
// completes with true; Cancel or closing the window with false. Each start
// replaces a countdown still showing, which then completes with false.
//
// Thread: the GUI thread (the loop thread). The completion runs there, once,
// unless the dialog is destroyed first.
#include <QDialog>
#include <QTimer>

#include <functional>
#include <string>

#include "shell/end_of_work.h"

class QLabel;

namespace fetchora {

class CountdownDialog final : public QDialog, public Countdown {
    Q_OBJECT
public:
    explicit CountdownDialog(QWidget* parent = nullptr);
    ~CountdownDialog() override;

    void start(const CountdownRequest& request, std::function<void(bool ok)> done) override;

    // What shows now (for tests).
    QString text() const;
    int secondsLeft() const { return m_secondsLeft; }
    bool running() const { return static_cast<bool>(m_done); }

    // One second passes (the timer's step).
    void tick();

protected:
    void done(int result) override;

private:
    void finish(bool ok);
    void showText();

    QLabel* m_label = nullptr;
    QTimer m_timer;
    std::string m_textTemplate;
    int m_secondsLeft = 0;
    std::function<void(bool)> m_done;
};

}  // namespace fetchora
