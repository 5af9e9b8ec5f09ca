#pragma once
// fetchora-cli --install-browser-hosts / --uninstall-browser-hosts [--system]:
// writes or removes the browsers' manifests for fetchora-host and tells the
// user what was done and what a sandboxed browser needs instead.
//
// Thread: the caller's.
#include <filesystem>
#include <ostream>

#include "platform/paths.h"

namespace fetchora {

struct BrowserHostSetupRequest {
    bool install = true;
    bool systemWide = false;
    std::filesystem::path hostProgram;  // the installed fetchora-host
    Environment env = processEnvironment();
    std::filesystem::path systemRoot = "/";
};

// The exit status: 0 done, 1 a manifest could not be written or removed, or
// fetchora-host is missing.
int RunBrowserHostSetup(const BrowserHostSetupRequest& request, std::ostream& out, std::ostream& err);

}  // namespace fetchora
