#pragma once
// Runs the fetchora-cli executable as a child process with its own profile
// folder, for end-to-end tests.
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace fetchora::test {

class CliProcess {
public:
    // Starts fetchora-cli with the arguments; environment entries are added
    // to (or replace those of) the test's environment. Output goes to files
    // in outputFolder. It runs in workingFolder, or the test's own folder
    // when that is empty; program is a copy of fetchora-cli to run instead
    // (one with a data folder beside it), empty for the built one.
    CliProcess(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
               const std::filesystem::path& outputFolder, const std::filesystem::path& workingFolder = {},
               const std::filesystem::path& program = {});
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // The exit code; -1 when it died of a signal, -2 when it did not end in time (it is then killed).
    int wait(std::chrono::seconds timeout = std::chrono::seconds(600));
    void signal(int number);
    // The child's process id; -1 once it was waited for.
    pid_t pid() const { return m_pid; }

    std::string standardOutput() const;
    std::string standardError() const;

private:
    pid_t m_pid = -1;
    std::filesystem::path m_out;
    std::filesystem::path m_err;
};

// The variables of a run with a profile of its own below folder:
// FETCHORA_HOME is folder/home; TMPDIR and HOME are folder itself, so that
// nothing of the user's is read or written.
std::map<std::string, std::string> ownProfileEnvironment(const std::filesystem::path& folder);
// The same with the desktop's folders below folder too: XDG_RUNTIME_DIR is
// folder/run (the single-instance socket, the daemon's endpoint) and
// XDG_DOWNLOAD_DIR folder/downloads.
std::map<std::string, std::string> desktopProfileEnvironment(const std::filesystem::path& folder);

// The built fetchora-cli.
std::filesystem::path cliProgram();

// Runs fetchora-cli to its end and returns the exit code.
int runCli(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
           const std::filesystem::path& outputFolder, std::string* standardError = nullptr,
           std::string* standardOutput = nullptr);

}  // namespace fetchora::test
