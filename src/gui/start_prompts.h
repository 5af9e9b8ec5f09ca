#pragma once
// The desktop program's questions and messages at a start beside another
// instance (taking a daemon's jobs over, a running window that does not
// answer), in the current language.
//
// Thread: the GUI thread.
#include <QString>

#include <string>

class QProgressDialog;
class QWidget;

namespace fetchora {

// Whether to take the jobs of a running daemon over into this window.
bool askTakeOverFromDaemon(QWidget* parent = nullptr);

// The wait for the daemon's end, which the user can give up.
void setUpTakeOverWait(QProgressDialog& progress);

enum class StartFailure {
    DaemonStillRunning,  // the wait was given up
    DaemonRefused,       // detail: why
    UrlRefused,          // detail: why the running window did not take the URL
    NoAnswer,            // detail: the error of the request
};
// The message of a failure; an empty detail says only that there was no
// reason given.
QString startFailureText(StartFailure failure, const std::string& detail);

// Why the start ends: on standard error and in a message box.
void showStartError(const QString& text, QWidget* parent = nullptr);

}  // namespace fetchora
