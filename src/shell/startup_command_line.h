#pragma once
// What the program's command line asks for at start: a URL to add (with its
// referrer), the registration modes "install" and "uninstall", or a document
// to open.
//
// Argument 1 decides:
// - "-install" / "/install" (any letter case): register, then stop;
//   "-uninstall" / "/uninstall": unregister, remove the settings, then stop.
//   "-new-download" (the desktop entry's action) is a normal start that opens
//   the add-download sheet, in the running instance when there is one.
//   Any other word after "-" is a normal start. On this system a word after
//   "/" is a path, so only the two switch words count as switches there.
// - A URL with a supported scheme and a host: the start-up URL; argument 2,
//   when present, is its referrer, and nothing is left for the document
//   parser.
// - Anything else is a document (a ".kxd" file) to open. Its text is still
//   the start-up URL, which the add path ignores when it is not a URL.
//
// Thread: pure; any thread.
#include <string>
#include <vector>

namespace fetchora {

// The registration mode of the browser integration and the ".kxd" file
// association: 0 a normal start, 1 install, 2 uninstall.
enum class RegistrationMode : int { Normal = 0, Install = 1, Uninstall = 2 };

struct StartupCommandLine {
    RegistrationMode mode = RegistrationMode::Normal;
    std::string startupUrl;  // empty when none
    std::string referer;  // empty when none
    bool hasReferer = false;
    bool newDownload = false;  // "-new-download": open the add-download sheet
    // What the document parser still sees: argument 1 when it is neither a
    // URL nor a switch.
    std::string document;
};

// arguments: the words after the program name.
StartupCommandLine ReadStartupCommandLine(const std::vector<std::string>& arguments);

// A URL with a scheme the program knows and a non-empty host.
bool IsStartupUrl(const std::string& text);

// The item of the "Activate" request that also opens the add-download sheet.
inline constexpr const char* kActivateNewDownload = "new-download";

}  // namespace fetchora
