// fetchora-cli: the headless front end. See cli_options.h for the command
// line and download_session.h for what a download run does.
#include "cli/cli_options.h"
#include "cli/database_listing.h"
#include "cli/download_session.h"
#include "shell/application.h"

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
    ~StopSignals()
    {
        if (m_thread.joinable()) {
            pthread_kill(m_thread.native_handle(), SIGTERM);
            m_thread.join();
        }
    }
    void forward(DownloadSession& session)
    {
        m_thread = std::thread([this, &session] {
            int signal = 0;
            sigwait(&m_set, &signal);
            if (!m_done)
                session.requestStop();
        });
    }
    void done() { m_done = true; }

private:
    sigset_t m_set{};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

}  // namespace

int main(int argc, char** argv)
{
    CliParse parse = parseCliArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!parse.options) {
        std::cerr << "fetchora-cli: " << parse.error << "\n" << cliUsage();
        return 2;
    }
    CliOptions options = *parse.options;
    if (options.mode == CliMode::Help) {
        std::cout << cliUsage();
        return 0;
    }
    if (options.mode == CliMode::ListDatabase)
        return listDatabase(options.database, std::cout, std::cerr);
    if (options.mode != CliMode::Download) {
        std::cerr << "fetchora-cli: this mode is not available yet in this build\n";
        return 2;
    }

    StopSignals signals;
    Application app;
    std::string error;
    if (!app.start(error)) {
        std::cerr << "fetchora-cli: " << error << "\n";
        return 1;
    }
    int result = 1;
    {
        DownloadSession session(app, options, std::cerr);
        signals.forward(session);
        result = session.run();
        signals.done();
    }
    app.stop();
    return result;
}
