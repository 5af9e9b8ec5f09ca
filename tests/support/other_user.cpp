#include "support/other_user.h"

#include <cerrno>
#include <csignal>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fetchora::test {

std::string otherUserUnavailable()
{
    if (::geteuid() != 0)
        return "switching to another user needs root (the CI runs the suite as root)";
    return {};
}

int runAsOtherUser(const std::function<int()>& body, std::chrono::milliseconds timeout)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherGid) != 0 || ::setuid(kOtherUid) != 0
            || ::geteuid() != kOtherUid || ::setuid(0) == 0)
            ::_exit(120);
        int code = 121;
        try {
            code = body();
        } catch (...) {
            code = 122;
        }
        ::_exit(code);
    }
    const auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            return -1;
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::filesystem::path makeSharedFolder(const std::filesystem::path& parent, const std::string& name)
{
    ::chmod(parent.c_str(), 0711);
    const std::filesystem::path folder = parent / name;
    ::mkdir(folder.c_str(), 0700);
    ::chmod(folder.c_str(), 01777);
    return folder;
}

}  // namespace fetchora::test
