// fetchora-cli: the headless front end. See cli_options.h for the command
// line, download_session.h for what a download run does, daemon_session.h
// for the daemon and service_client.h for the requests to it.
#include "cli/browser_host_setup.h"
#include "cli/cli_language.h"
#include "cli/cli_options.h"
#include "cli/cli_texts.h"
#include "cli/daemon_session.h"
#include "cli/database_listing.h"
#include "cli/database_lists.h"
#include "cli/download_session.h"
#include "cli/run_settings.h"
#include "cli/service_client.h"
#include "platform/ipc_endpoint.h"
#include "platform/single_instance.h"
#include "shell/application.h"
#include "shell/front_end_texts.h"
#include "shell/shell_texts.h"

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <thread>

using namespace fetchora;

namespace {

// SIGINT and SIGTERM are taken by a thread of their own (they are blocked in
// every other thread), which asks the session to stop: the jobs end cleanly
// and the database is saved.
class StopSignals {
public:
    StopSignals()
    {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGINT);
        sigaddset(&m_set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &m_set, nullptr);
        std::signal(SIGPIPE, SIG_IGN);
    }
    ~StopSignals() { stop(); }
    template <typename Session> void forward(Session& session)
    {
        m_thread = std::thread([this, &session] {
            int signal = 0;
            sigwait(&m_set, &signal);
            if (!m_done)
                session.requestStop();
        });
    }
    // Ends the thread once the session's run is over, before the session and
    // its loop go: a signal that came just then may still be posting to them.
    void stop()
    {
        if (!m_thread.joinable())
            return;
        m_done = true;
        pthread_kill(m_thread.native_handle(), SIGTERM);
        m_thread.join();
    }

private:
    sigset_t m_set{};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// Whether a daemon answers on the service socket. Asking, rather than
// taking the instance lock for a moment, never mistakes another download
// run's probe for a daemon.
bool daemonRuns()
{
    FolderResult folder = serviceFolder();
    if (!folder)
        return false;
    const IpcReply reply = ipcRequest(folder.path / kServiceName, "DownloadInfo", "0");
    return reply.outcome != IpcReply::Outcome::NoServer;
}

// The settings go back to the store as the program ends, like a main window
// that closes; per-run options are overrides and stay out of it.
void saveSettingsAtExit(Application& app)
{
    if (!app.saveSettings())
        std::cerr << "fetchora-cli: " << builtinText(kStrCannotSaveSettings, {app.registry().file().string()}) << "\n";
}

// The list modes read or change the profile's job database, which a running
// daemon owns: it would save its own tree over an import, and an export
// would miss what it has not saved yet.
int runListMode(const CliOptions& options)
{
    if (daemonRuns()) {
        std::cerr << "fetchora-cli: " << builtinText(kStrCliDaemonOwnsLists) << "\n";
        return 1;
    }
    Application app;
    std::string error;
    if (!app.start(error)) {
        std::cerr << "fetchora-cli: " << error << "\n";
        return 1;
    }
    const int result = runListCommand(app, options, std::cout, std::cerr);
    app.stop();
    return result;
}

int runDaemon()
{
    // The instance check comes before the application starts: a second
    // instance must not touch the first one's folders, not even at its exit.
    FolderResult folder = serviceFolder();
    if (!folder) {
        std::cerr << "fetchora-cli: " << folder.error << "\n";
        return 1;
    }
    SingleInstance instance;
    std::string error;
    switch (instance.acquire(folder.path, error)) {
    case SingleInstance::Result::First: break;
    case SingleInstance::Result::AnotherRuns:
        std::cerr << "fetchora-cli: " << builtinText(kStrCliAnotherInstance, {(folder.path / kServiceName).string()})
                  << "\n";
        return 1;
    case SingleInstance::Result::Failed: std::cerr << "fetchora-cli: " << error << "\n"; return 1;
    }

    StopSignals signals;
    Application app;
    if (!app.start(error)) {
        std::cerr << "fetchora-cli: " << error << "\n";
        return 1;
    }
    int result = 1;
    {
        DaemonSession session(app, std::cerr);
        signals.forward(session);
        result = session.run(folder.path / kServiceName);
        signals.stop();
    }
    saveSettingsAtExit(app);
    app.stop();
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // The language first: the argument errors are in it too.
    if (const std::string language = cliLanguageArgument(arguments); !useCliLanguage(language)) {
        std::cerr << "fetchora-cli: no translation for the language " << language << "\n";
        return 2;
    }
    CliParse parse = parseCliArguments(arguments);
    if (!parse.options) {
        std::cerr << "fetchora-cli: " << parse.error << "\n" << cliUsage();
        return 2;
    }
    CliOptions options = *parse.options;
    if (options.mode == CliMode::Help) {
        std::cout << cliHelp();
        return 0;
    }
    if (options.mode == CliMode::Version) {
        std::cout << cliVersion();
        return 0;
    }
    if (options.mode == CliMode::ListDatabase)
        return listDatabase(options.database, std::cout, std::cerr);
    if (options.mode == CliMode::Send)
        return sendUrlToRunningInstance(options, std::cout, std::cerr);
    if (options.mode == CliMode::Info)
        return requestDownloadInfo(options, std::cout, std::cerr);
    if (options.mode == CliMode::Daemon)
        return runDaemon();
    if (options.mode == CliMode::ImportList || options.mode == CliMode::ExportList
        || options.mode == CliMode::ExportHtml)
        return runListMode(options);
    if (options.mode == CliMode::InstallBrowserHosts || options.mode == CliMode::UninstallBrowserHosts) {
        BrowserHostSetupRequest request;
        request.install = options.mode == CliMode::InstallBrowserHosts;
        request.systemWide = options.systemWide;
        // fetchora-host is installed beside fetchora-cli.
        std::error_code ec;
        request.hostProgram = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "fetchora-host";
        return RunBrowserHostSetup(request, std::cout, std::cerr);
    }
    std::string argumentError = addUrlsFromList(options);
    if (argumentError.empty())
        argumentError = addUrlsFromBatch(options);
    if (argumentError.empty())
        argumentError = checkCaFile(options);
    if (!argumentError.empty()) {
        std::cerr << "fetchora-cli: " << argumentError << "\n";
        return 2;
    }
    if (daemonRuns()) {
        // Both would save the same job database, each over the other's jobs.
        std::cerr << "fetchora-cli: " << builtinText(kStrCliDaemonOwnsDownloads) << "\n";
        return 1;
    }

    StopSignals signals;
    Application app;
    std::string error;
    if (!app.start(error)) {
        std::cerr << "fetchora-cli: " << error << "\n";
        return 1;
    }
    applyRunSettings(options, app.settings());
    int result = 1;
    {
        DownloadSession session(app, options, std::cerr);
        signals.forward(session);
        result = session.run();
        signals.stop();
    }
    saveSettingsAtExit(app);
    app.stop();
    return result;
}
