#include "host/program_starter.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fetchora {
namespace fs = std::filesystem;

std::vector<std::string> ProgramToStart(const fs::path& folder, const Environment& env)
{
    const auto hasValue = [&env](const char* name) {
        const std::optional<std::string> value = env(name);
        return value && !value->empty();
    };
    const auto executable = [](const fs::path& path) { return ::access(path.c_str(), X_OK) == 0; };
    const fs::path window = folder / "fetchora";
    const fs::path daemon = folder / "fetchora-cli";
    if ((hasValue("DISPLAY") || hasValue("WAYLAND_DISPLAY")) && executable(window))
        return {window.string()};
    if (executable(daemon))
        return {daemon.string(), "--daemon"};
    return {};
}

bool StartDetachedProgram(const std::vector<std::string>& argv, std::string& error)
{
    if (argv.empty()) {
        error = "neither fetchora nor fetchora-cli is installed beside fetchora-host";
        return false;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int result = posix_spawn(&pid, args.front(), &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        error = "cannot start " + argv.front() + ": " + std::strerror(result);
        return false;
    }
    // Reaped when it ends while the host still runs; after that, by init.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    }).detach();
    return true;
}

}  // namespace fetchora
