#include "support/peer_process.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <random>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fetchora::test {

namespace {

bool accepts(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

pid_t spawn(const std::vector<std::string>& argv, const std::filesystem::path& logFile)
{
    std::vector<char*> arguments;
    for (const std::string& argument : argv)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, arguments[0], &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    return pid;
}

}  // namespace

std::string requireExecutable(const std::string& name, const std::string& package)
{
    std::string folders = std::getenv("PATH") ? std::getenv("PATH") : "";
    folders += ":/usr/sbin:/sbin:/usr/local/sbin:/usr/bin:/bin";
    std::istringstream list(folders);
    for (std::string folder; std::getline(list, folder, ':');) {
        if (folder.empty())
            continue;
        const std::filesystem::path candidate = std::filesystem::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    throw std::runtime_error("test peer '" + name + "' is not installed (apt-get install " + package
                             + ", or run scripts/install-deps.sh)");
}

bool portIsFree(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

uint16_t pickFreePort()
{
    static std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> range(20000, 32000);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<uint16_t>(range(random));
        if (portIsFree(port))
            return port;
    }
    throw std::runtime_error("no free port on 127.0.0.1 between 20000 and 32000");
}

int runProgram(const std::vector<std::string>& argv, const std::filesystem::path& logFile)
{
    pid_t pid = -1;
    try {
        pid = spawn(argv, logFile);
    } catch (const std::runtime_error&) {
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string logTail(const std::filesystem::path& logFile, std::size_t maxBytes)
{
    std::ifstream in(logFile, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    const std::string text = out.str();
    return text.size() > maxBytes ? text.substr(text.size() - maxBytes) : text;
}

PeerProcess::~PeerProcess()
{
    stop();
}

void PeerProcess::start(const std::vector<std::string>& argv, const std::filesystem::path& logFile)
{
    stop();
    m_logFile = logFile;
    m_pid = spawn(argv, logFile);
}

bool PeerProcess::running()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid || (done < 0 && errno == ECHILD)) {
        m_pid = -1;
        return false;
    }
    return true;
}

bool PeerProcess::waitUntilAccepting(uint16_t port, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!running())
            return false;
        if (accepts(port))
            return running();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void PeerProcess::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
        m_pid = -1;
    }
}

}  // namespace fetchora::test
