#pragma once
// The virus scanner's command line for a downloaded file: the scanner, the
// words of its configured arguments, then the file's full path as one
// argument. Started without a shell (DesktopActions::startProgram), so
// blanks and quotes in the path need no short form and no quoting.
//
// Thread: any (pure functions).
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

class AppSettings;

struct VirusScanSettings {
    std::string scanner;  // "Virus Scanner"
    std::string arguments;  // "Virus Scanner Args"
    std::string types;  // "Virus Scan Type", the extension-list syntax of pattern_list.h
};

VirusScanSettings virusScanSettings(const AppSettings& settings);

enum class VirusScanTrigger {
    AfterDownload,  // a job completed (the caller checks that scanning after download is on)
    Command,  // the user asked for the focused job's file
};

// The argv to start, or none: nothing when the scanner is empty; after a
// download also nothing when the types are not empty and the file's
// extension matches none of them.
std::vector<std::string> virusScanCommand(const VirusScanSettings& settings, const std::string& filePath,
                                          VirusScanTrigger trigger);

// The words of an argument text: split at blanks and tabs, double quotes
// group (and are dropped, so "" is an empty word); a quote left open runs to
// the end. Backslashes are plain characters.
std::vector<std::string> splitArgumentWords(std::string_view text);

}  // namespace fetchora
