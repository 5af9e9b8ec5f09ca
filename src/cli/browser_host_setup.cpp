#include "cli/browser_host_setup.h"

#include <unistd.h>

#include "cli/cli_texts.h"
#include "shell/browser_hosts.h"
#include "shell/shell_texts.h"

namespace fetchora {

int RunBrowserHostSetup(const BrowserHostSetupRequest& request, std::ostream& out, std::ostream& err)
{
    const std::vector<BrowserHostFolder> folders
        = request.systemWide ? SystemBrowserHostFolders(request.systemRoot) : UserBrowserHostFolders(request.env);
    BrowserHostReport report;
    if (request.install) {
        if (::access(request.hostProgram.c_str(), X_OK) != 0) {
            err << "fetchora-cli: " << builtinText(kStrCliHostMissing, {request.hostProgram.string()}) << "\n";
            return 1;
        }
        report = InstallBrowserHosts(folders, request.hostProgram, !request.systemWide);
    } else {
        report = UninstallBrowserHosts(folders);
    }
    for (const std::string& line : report.lines)
        (report.ok ? out : err) << line << "\n";
    if (request.install) {
        for (const std::string& note : SandboxedBrowserNotes(request.env))
            out << note << "\n";
        if (report.ok)
            out << builtinText(kStrCliAddExtension) << "\n";
    }
    return report.ok ? 0 : 1;
}

}  // namespace fetchora
