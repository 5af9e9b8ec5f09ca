// fetchora-host: the native-messaging host that browsers start for our
// extension. It speaks only frames on standard output and logs to standard
// error, which the browser keeps in its own log.
#include <csignal>
#include <filesystem>
#include <iostream>
#include <unistd.h>

#include "config/app_settings.h"
#include "config/settings_values.h"
#include "host/browser_host.h"
#include "host/program_starter.h"
#include "net/cookie_jar.h"
#include "platform/ipc_endpoint.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/single_instance.h"
#include "shell/application.h"

int main(int argc, char** argv)
{
    using namespace fetchora;
    std::signal(SIGPIPE, SIG_IGN);
    // The browser passes its caller (an extension origin, or a manifest path
    // and an add-on id); which extension may start us is the manifest's choice.
    if (argc > 1 && std::string_view(argv[1]) == "--version") {
        std::cerr << "fetchora-host " << FETCHORA_VERSION << "\n";
        return 0;
    }
    if (isatty(STDIN_FILENO) || isatty(STDOUT_FILENO)) {
        std::cerr << "fetchora-host: this program is started by a web browser for the Fetchora extension; "
                     "install it with \"fetchora-cli --install-browser-hosts\"\n";
        return 2;
    }
    const FolderResult service = serviceFolder();
    if (!service) {
        std::cerr << "fetchora-host: no folder for the service socket: " << service.error << "\n";
        return 1;
    }
    BrowserHostSetup setup;
    setup.socket = service.path / kServiceName;
    setup.version = FETCHORA_VERSION;
    // A replaced temporary folder is one the program would not find again.
    if (const FolderResult temporary = temporaryFolder(); temporary && !temporary.replaced)
        setup.temporaryFolder = temporary.path;
    // The programs are installed beside the host.
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    setup.startProgram = [folder](std::string& error) {
        return StartDetachedProgram(ProgramToStart(folder, processEnvironment()), error);
    };
    // Read-only: the program owns the settings file and writes it.
    setup.capturedTypes = [] {
        const FolderResult profile = profileFolder();
        if (!profile)
            return std::string(kDefaultMonitorType);
        Registry registry(profile.path / std::string(kSettingsFileName));
        if (!registry.load())
            return std::string(kDefaultMonitorType);
        AppSettings settings(registry, SettingsEnvironment{});
        settings.LoadSettings();
        return settings.GetOptionText(OptionId::MonitorType);
    };
    setup.storeCookies = [](const std::vector<Cookie>& cookies, std::string& error) {
        const FolderResult profile = profileFolder();
        if (!profile) {
            error = profile.error;
            return false;
        }
        CookieJar jar(CookieJar::fileIn(profile.path));
        for (const Cookie& cookie : cookies)
            jar.add(cookie);
        if (!jar.save()) {
            error = "cannot write " + jar.file().string();
            return false;
        }
        return true;
    };
    BrowserHost host(std::move(setup));
    return host.run(STDIN_FILENO, STDOUT_FILENO, std::cerr);
}
