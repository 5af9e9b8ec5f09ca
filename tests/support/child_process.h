#pragma once
// Starts the test helper executable as a child process, for tests that need a
// second process or one that dies abruptly.
#include <string>
#include <sys/types.h>
#include <vector>

namespace fetchora::test {

class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits for the child and returns its exit code (-1 when it died of a signal).
    int wait();
    void kill();

private:
    pid_t m_pid = -1;
};

}  // namespace fetchora::test
