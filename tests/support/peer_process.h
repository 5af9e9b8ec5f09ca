#pragma once
// Real server programs started by tests on 127.0.0.1: finding their
// executables, picking free ports, starting them with their output in a log
// file, waiting until they accept, and stopping them by PID.
#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace fetchora::test {

// The full path of a program on PATH or in the system's sbin folders; throws
// std::runtime_error naming the program and the package that brings it when
// it is missing, so that a test without its peer fails saying why.
std::string requireExecutable(const std::string& name, const std::string& package);

// A port on 127.0.0.1 that nothing listens on right now, picked at random
// below the ephemeral range so client sockets never take it.
uint16_t pickFreePort();

// Whether a socket can bind 127.0.0.1:port right now.
bool portIsFree(uint16_t port);

// Runs a program to its end with output in logFile; its exit code (-1 when
// it could not run or died of a signal).
int runProgram(const std::vector<std::string>& argv, const std::filesystem::path& logFile);

// The last lines of a log file, for failure messages.
std::string logTail(const std::filesystem::path& logFile, std::size_t maxBytes = 600);

class PeerProcess {
public:
    PeerProcess() = default;
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    // Starts argv[0] (a full path) with output in logFile.
    void start(const std::vector<std::string>& argv, const std::filesystem::path& logFile);
    // Waits until something accepts on 127.0.0.1:port; false when the process
    // died first or timeoutMs passed.
    bool waitUntilAccepting(uint16_t port, int timeoutMs = 10000);
    bool running();
    // TERM, up to 5 s to end, then KILL; always reaped.
    void stop();

    pid_t pid() const { return m_pid; }
    const std::filesystem::path& logFile() const { return m_logFile; }

private:
    pid_t m_pid = -1;
    std::filesystem::path m_logFile;
};

}  // namespace fetchora::test
