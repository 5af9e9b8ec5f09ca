#pragma once
// fetchora-cli --daemon: the whole program without windows. The main view's
// logic runs as it does behind the desktop window (queue, schedule, finishing
// jobs, the end of work), with nobody to ask: DaemonPrompts answers. It serves
// the "Fetchora" service (a URL handed over on "WWW_OPENURL" becomes a job in
// the download queue; "DownloadInfo" answers the queue's status lines) and
// stops cleanly when asked to (SIGINT, SIGTERM).
//
// Thread: the loop thread (the one that calls run()); the service endpoint
// reads requests on its own thread and hands them to the loop; a signal
// thread calls requestStop(). Owns the view, the prompts, the desktop and the
// endpoint; borrows the application.
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "platform/message_window.h"
#include "shell/main_view.h"

namespace fetchora {

class Application;
class DaemonPrompts;
class PowerControl;
class IpcServer;

class DaemonSession final : public MainViewHost, private MessageWindow {
public:
    DaemonSession(Application& app, std::ostream& err);
    ~DaemonSession() override;

    // Serves at socketPath until requestStop. 0 after a clean stop; 1 when
    // the service could not start.
    int run(const std::filesystem::path& socketPath);

    // Asks the session to stop every job, save and end (any thread).
    void requestStop();

    // A service request, as the endpoint hands it over (loop thread).
    std::optional<std::string> handleRequest(const std::string& topic, const std::string& item);

    MainView& view() { return *m_view; }

private:
    // MainViewHost
    void bringToFront() override { }
    void requestExit() override;
    std::string clipboardText() override { return {}; }
    void setClipboardText(const std::string&) override { }
    Countdown& countdown() override { return *m_countdown; }

    // MessageWindow
    intptr_t handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

    Application& m_app;
    std::ostream& m_err;
    bool m_stopping = false;
    std::unique_ptr<DaemonPrompts> m_prompts;
    std::unique_ptr<DesktopActions> m_desktop;
    std::unique_ptr<PowerControl> m_power;
    std::unique_ptr<Countdown> m_countdown;
    std::unique_ptr<MainView> m_view;
    std::unique_ptr<IpcServer> m_server;
};

}  // namespace fetchora
