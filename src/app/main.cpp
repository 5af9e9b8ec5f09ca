// fetchora: the desktop program. One instance owns the profile; a second
// start hands its URL to it (which comes to the front) and ends.
#include <QApplication>
#include <QIcon>
#include <QProgressDialog>

#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <iostream>
#include <unistd.h>

#include "config/app_settings.h"
#include "gui/contrast_style.h"
#include "gui/developer_aids.h"
#include "gui/dialog_opener.h"
#include "gui/gui_prompts.h"
#include "gui/main_frame.h"
#include "gui/qt_loop_driver.h"
#include "gui/start_prompts.h"
#include "gui/ui_language.h"
#include "gui/zovirad_view.h"
#include "lang/language_catalog.h"
#include "model/job_database.h"
#include "platform/desktop_system.h"
#include "platform/ipc_endpoint.h"
#include "platform/logind_power.h"
#include "platform/single_instance.h"
#include "shell/application.h"
#include "shell/browser_hosts.h"
#include "shell/daemon_takeover.h"
#include "shell/front_end_texts.h"
#include "shell/ipc_fault_text.h"
#include "shell/main_view.h"
#include "shell/service_topics.h"
#include "shell/shell_texts.h"
#include "shell/startup_command_line.h"

using namespace fetchora;

namespace {

// Served only by the desktop program: the window comes to the front. A
// headless daemon refuses the topic, which is how a second start tells the two
// apart.
constexpr std::string_view kTopicActivate = "Activate";

// SIGINT and SIGTERM end the program as its Exit does, without a question:
// the jobs stop cleanly and the database is saved. The handler only writes to
// a pipe that the GUI thread watches.
int g_signalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(g_signalPipe[1], &byte, 1);
}

bool watchStopSignals()
{
    if (pipe(g_signalPipe) != 0)
        return false;
    struct sigaction action { };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

void complain(const QString& text)
{
    showStartError(text);
}

// What a start beside a running instance comes to.
enum class HandOver {
    Ended,  // the URL went to the other instance; this one ends
    Failed,
    TookOver,  // a daemon handed the profile over; this instance goes on
};

// The other instance is a headless daemon: offer to take its jobs into the
// window. The daemon saves and ends; the wait shows a progress dialog that
// can give up.
bool offerTakeOver(const std::filesystem::path& folder, const std::filesystem::path& socket, SingleInstance& instance,
                   std::vector<int32_t>& runningJobs)
{
    if (!askTakeOverFromDaemon())
        return false;
    QProgressDialog progress;
    progress.setRange(0, 0);
    setUpTakeOverWait(progress);
    progress.setMinimumDuration(300);
    std::string error;
    const TakeOverResult result = TakeOverFromDaemon(
        folder, socket, instance, std::chrono::seconds(90),
        [&] {
            QCoreApplication::processEvents();
            return !progress.wasCanceled();
        },
        runningJobs, error);
    switch (result) {
    case TakeOverResult::TookOver: return true;
    case TakeOverResult::GaveUp:
        complain(startFailureText(StartFailure::DaemonStillRunning, {}));
        return false;
    case TakeOverResult::Refused:
    case TakeOverResult::Failed:
        complain(startFailureText(StartFailure::DaemonRefused, error));
        return false;
    }
    return false;
}

// Another instance holds the profile: hand the URL over and end, or take the
// profile over from a daemon.
HandOver handOver(const std::filesystem::path& folder, const std::filesystem::path& socket,
                  const StartupCommandLine& command, SingleInstance& instance, std::vector<int32_t>& runningJobs)
{
    const IpcReply activate
        = ipcRequest(socket, kTopicActivate, command.newDownload ? std::string(kActivateNewDownload) : std::string());
    const bool daemon = activate.outcome == IpcReply::Outcome::Refused;
    if (daemon && offerTakeOver(folder, socket, instance, runningJobs))
        return HandOver::TookOver;
    if (!command.startupUrl.empty()) {
        const IpcReply reply = ipcRequest(socket, kTopicOpenUrl,
                                          OpenUrlItemText(command.startupUrl, command.referer, command.hasReferer));
        if (reply.outcome != IpcReply::Outcome::Data) {
            complain(startFailureText(StartFailure::UrlRefused, ipcFaultText(reply.fault)));
            return HandOver::Failed;
        }
    }
    if (daemon)
        return HandOver::Ended;
    if (activate.outcome != IpcReply::Outcome::Data && activate.outcome != IpcReply::Outcome::NoData) {
        complain(startFailureText(StartFailure::NoAnswer, ipcFaultText(activate.fault)));
        return HandOver::Failed;
    }
    return HandOver::Ended;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    // A proxy of the platform's style; it mends unticked boxes on dark palettes.
    QApplication::setStyle(new ContrastStyle(QApplication::style()->name()));
    QApplication::setApplicationName(QStringLiteral("Fetchora"));
    QApplication::setOrganizationName(QStringLiteral("Fetchora"));
    QGuiApplication::setDesktopFileName(QStringLiteral("fetchora"));
    // The frame decides when the program ends (the close box may only hide it).
    QApplication::setQuitOnLastWindowClosed(false);

    std::vector<std::string> arguments;
    const QStringList qtArguments = QApplication::arguments();
    for (qsizetype i = 1; i < qtArguments.size(); ++i)
        arguments.push_back(qtArguments[i].toStdString());
    const StartupCommandLine command = ReadStartupCommandLine(arguments);
    // The language comes first, so that the messages of a start beside another
    // instance (which owns the settings) and of the browser-host setup are in it too.
    std::vector<std::string> languageFolders;
    if (const FolderResult profile = profileFolder(); profile)
        languageFolders.push_back((profile.path / "language").string());
    languageFolders.push_back((programFolder() / "language").string());
    UiLanguage languages(languageFolders);
    languages.activateStartLanguage(storedLanguageChoice(), messagesLocale());

    if (command.mode != RegistrationMode::Normal) {
        // The desktop entry and the database type come with the install; what
        // is registered per user is the browsers' host for the extension.
        std::error_code ec;
        const std::filesystem::path host
            = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "fetchora-host";
        const std::vector<BrowserHostFolder> folders = UserBrowserHostFolders();
        const BrowserHostReport report = command.mode == RegistrationMode::Install
            ? InstallBrowserHosts(folders, host, true)
            : UninstallBrowserHosts(folders);
        for (const std::string& line : report.lines)
            std::cout << "fetchora: " << line << "\n";
        return report.ok ? 0 : 1;
    }

    FolderResult folder = serviceFolder();
    if (!folder) {
        complain(QString::fromStdString(folder.error));
        return 1;
    }
    const std::filesystem::path socket = folder.path / kServiceName;
    SingleInstance instance;
    std::string error;
    std::vector<int32_t> takenOverJobs;
    switch (instance.acquire(folder.path, error)) {
    case SingleInstance::Result::First: break;
    case SingleInstance::Result::AnotherRuns:
        switch (handOver(folder.path, socket, command, instance, takenOverJobs)) {
        case HandOver::Ended: return 0;
        case HandOver::Failed: return 1;
        case HandOver::TookOver: break;
        }
        break;
    case SingleInstance::Result::Failed: complain(QString::fromStdString(error)); return 1;
    }

    Application app;
    if (!app.start(error)) {
        complain(QString::fromStdString(error));
        return 1;
    }
    int result = 0;
    bool powerOff = false;
    // The choice as the started application read it, before the first window
    // is made, so that every window opens in it.
    languages.activateStartLanguage(
        app.settings().languageChosen() ? std::optional<std::string>(app.settings().languageFile()) : std::nullopt,
        messagesLocale());
    {
        QtLoopDriver driver(app.loop());
        GuiPrompts prompts;
        SystemDesktop desktop;
        LogindPower power;
        CMainFrame frame(app, prompts);
        QApplication::setWindowIcon(frame.windowIcon());
        prompts.setParent(&frame);
        MainView view(app, prompts, desktop, power, frame);
        prompts.setCategoryRoot([&view] { return view.doc().root(); });
        prompts.setMaxSplit([&app] { return app.settings().GetOption(OptionId::MaxParallelNum); });
        DialogOpener dialogs(app, view, &frame);
        prompts.setDialogOpener([&dialogs](const std::string& name) { return dialogs.open(name); });
        prompts.setApplication(&app);

        view.start(command.document.empty() ? std::filesystem::path() : std::filesystem::path(command.document));
        view.resumeJobs(takenOverJobs);
        auto* client = new ZoviradView(view, app, &frame);
        frame.setCentralWidget(client);
        frame.restorePlacement();
        client->restoreState();
        frame.attach(view, client);

        IpcServer server(app.loop(),
                         {std::string(kTopicOpenUrl), std::string(kTopicDownloadInfo), std::string(kTopicClickCatcher),
                          std::string(kTopicBrowserCatch), std::string(kTopicActivate)},
                         [&](const std::string& topic, const std::string& item) -> std::optional<std::string> {
                             if (topic == kTopicActivate) {
                                 frame.bringToFront();
                                 // A sheet already open (modal) is what the user gets back.
                                 if (item == kActivateNewDownload && !QApplication::activeModalWidget())
                                     QTimer::singleShot(0, &frame, [&view] { view.run(ViewCommand::NewDownload); });
                                 return std::string("1");
                             }
                             if (topic == kTopicOpenUrl) {
                                 const OpenUrlItem request = SplitOpenUrlItem(item);
                                 AddDownloadRequest add;
                                 add.text = request.url;
                                 add.referer = request.referer;
                                 add.comment = request.comment;
                                 return std::to_string(static_cast<int>(view.addDownload(add).result));
                             }
                             if (topic == kTopicDownloadInfo) {
                                 JobLockGuard lock(app.jobLock());
                                 return DownloadInfoReply(DownloadInfoEntries(view.doc().tree()), item);
                             }
                             return view.serveClickCatcher(topic, item);
                         });
        IpcFault fault;
        if (!server.listen(socket, fault))
            std::cerr << "fetchora: " << builtinText(kStrServiceOff, {ipcFaultText(fault)}) << "\n";
        if (!command.startupUrl.empty())
            view.postStartupUrl(command.startupUrl, command.referer);

        bool closed = false;
        auto closeView = [&] {
            if (closed)
                return;
            closed = true;
            frame.prepareExit();
            client->saveState();
            // Requests that come in from now on find nobody.
            server.stop();
            view.close();
        };
        QObject::connect(&frame, &CMainFrame::exitConfirmed, &frame, [&] {
            closeView();
            QCoreApplication::quit();
        });
        std::unique_ptr<QSocketNotifier> stopSignals;
        if (watchStopSignals()) {
            stopSignals = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
            QObject::connect(stopSignals.get(), &QSocketNotifier::activated, &frame, [&] {
                char byte = 0;
                [[maybe_unused]] const ssize_t got = read(g_signalPipe[0], &byte, 1);
                closeView();
                QCoreApplication::quit();
            });
        }
        DeveloperAids aids(app, view, frame);
        frame.showAsPlaced();
        if (command.newDownload)
            QTimer::singleShot(0, &frame, [&view] { view.run(ViewCommand::NewDownload); });
        aids.start();
        result = QApplication::exec();
        // Also when the session ended the program without the frame's exit.
        closeView();
        // The client area watches the view: it goes first.
        delete client;
        app.loop().quit();
        if (!view.joinThreads())
            std::cerr << "fetchora: " << builtinText(kStrThreadsDidNotEnd) << "\n";
        view.save();
        powerOff = view.shutDownAtExit();
        if (powerOff)
            std::cerr << "fetchora: " << describe(ShutDownAtExit(power)) << "\n";
    }
    if (!app.saveSettings())
        std::cerr << "fetchora: " << builtinText(kStrCannotSaveSettings, {app.registry().file().string()}) << "\n";
    app.stop();
    return result;
}
