#pragma once
// Starts Fetchora for the browser host: the desktop program where a display
// is there, else the headless daemon, both from the folder the host itself
// was installed in. The program gets /dev/null for its standard streams (the
// host's standard output belongs to the browser) and a session of its own,
// so that it outlives the host and the browser.
//
// Thread: any.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace fetchora {

// The command line to start: [program, arguments...]; empty when neither
// program is in folder.
std::vector<std::string> ProgramToStart(const std::filesystem::path& folder, const Environment& env);

// Starts argv detached; false with error when it could not be started.
bool StartDetachedProgram(const std::vector<std::string>& argv, std::string& error);

}  // namespace fetchora
