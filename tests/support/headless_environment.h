#pragma once
// For tests that start programs which in turn start Fetchora: the test's
// environment without a display (so that the daemon, never a window, is
// started) plus the test's own variables, and the daemon such a program
// started, found by its profile folder.
#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace fetchora::test {

// "NAME=value" texts: this process's environment without DISPLAY and
// WAYLAND_DISPLAY, with overrides added or replaced.
std::vector<std::string> HeadlessEnvironment(const std::map<std::string, std::string>& overrides);

// The fetchora-cli process whose FETCHORA_HOME is profile; -1 when none runs.
pid_t DaemonOfProfile(const std::filesystem::path& profile);

// Sends SIGTERM to that daemon and waits up to 30 s for it to end.
void StopDaemonOfProfile(const std::filesystem::path& profile);

}  // namespace fetchora::test
