#pragma once
// Where browsers look for native-messaging host manifests, and the manifests
// that let our extension start "fetchora-host". A Chromium-family manifest
// names the extension by its origin, a Firefox one by the add-on id; one
// file cannot serve both kinds.
//
// Per-user manifests are written only for browsers whose configuration
// folder exists (the browser is installed and has run); system-wide ones go
// to every system folder of the table. A browser installed as a Flatpak or a
// Snap cannot start programs outside its sandbox through these files: such
// installs are detected and the user is told what to do instead.
//
// Thread: any; the functions touch only the files they name.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/paths.h"

namespace fetchora {

inline constexpr std::string_view kBrowserHostName = "org.fetchora.host";
// The id Chromium browsers give our extension (from the public key in its
// manifest), and the add-on id of the Firefox build.
inline constexpr std::string_view kChromiumExtensionId = "defgalnopfgnmjhkhgbpdgpanmdphfli";
inline constexpr std::string_view kFirefoxExtensionId = "fetchora@fetchora.org";

struct BrowserHostFolder {
    std::string browser;  // "Firefox", "Chromium", ...
    bool firefox = false;  // the manifest kind
    std::filesystem::path folder;  // where the manifest goes
    // Per user: the folder whose existence says the browser is there.
    std::filesystem::path browserFolder;
};

// The folders below home ($XDG_CONFIG_HOME or ~/.config for the Chromium family).
std::vector<BrowserHostFolder> UserBrowserHostFolders(const Environment& env = processEnvironment());
// The system-wide folders, below root ("/" on a real system).
std::vector<BrowserHostFolder> SystemBrowserHostFolders(const std::filesystem::path& root = "/");

std::string BrowserHostManifest(const std::filesystem::path& hostProgram, bool firefox);

struct BrowserHostReport {
    bool ok = true;  // false when a manifest could not be written or removed
    std::vector<std::string> lines;  // what was done, one line each
};

// Writes the manifest into each folder (system folders, and user folders
// whose browser folder exists; onlyPresent=false writes every folder).
BrowserHostReport InstallBrowserHosts(const std::vector<BrowserHostFolder>& folders,
                                      const std::filesystem::path& hostProgram, bool onlyPresent);
// Removes our manifest wherever it is; other files stay.
BrowserHostReport UninstallBrowserHosts(const std::vector<BrowserHostFolder>& folders);

// One advice line for each sandboxed browser found below home.
std::vector<std::string> SandboxedBrowserNotes(const Environment& env = processEnvironment());

}  // namespace fetchora
