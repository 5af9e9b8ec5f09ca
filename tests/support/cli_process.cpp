#include "support/cli_process.h"

#include "support/temp_dir.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fetchora::test {

CliProcess::CliProcess(const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& environment,
                       const std::filesystem::path& outputFolder, const std::filesystem::path& workingFolder,
                       const std::filesystem::path& program)
    : m_out(outputFolder / "cli.stdout")
    , m_err(outputFolder / "cli.stderr")
{
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        size_t equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : environment)
        variables[name] = value;
    std::vector<std::string> envText;
    for (const auto& [name, value] : variables)
        envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& text : envText)
        envp.push_back(text.data());
    envp.push_back(nullptr);

    const std::string executable = program.empty() ? std::string(FETCHORA_CLI) : program.string();
    std::vector<std::string> argText{executable};
    argText.insert(argText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : argText)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!workingFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    int failed = posix_spawn(&m_pid, executable.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        throw std::runtime_error(std::string("cannot start fetchora-cli: ") + std::strerror(failed));
}

CliProcess::~CliProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        wait(std::chrono::seconds(10));
    }
}

int CliProcess::wait(std::chrono::seconds timeout)
{
    if (m_pid <= 0)
        return -1;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid)
            break;
        if (done < 0 && errno != EINTR) {
            m_pid = -1;
            return -1;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
            return -2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void CliProcess::signal(int number)
{
    if (m_pid > 0)
        ::kill(m_pid, number);
}

std::string CliProcess::standardOutput() const
{
    return readFile(m_out);
}

std::string CliProcess::standardError() const
{
    return readFile(m_err);
}

std::filesystem::path cliProgram()
{
    return FETCHORA_CLI;
}

std::map<std::string, std::string> ownProfileEnvironment(const std::filesystem::path& folder)
{
    return {{"FETCHORA_HOME", (folder / "home").string()}, {"TMPDIR", folder.string()}, {"HOME", folder.string()}};
}

std::map<std::string, std::string> desktopProfileEnvironment(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> environment = ownProfileEnvironment(folder);
    environment["XDG_RUNTIME_DIR"] = (folder / "run").string();
    environment["XDG_DOWNLOAD_DIR"] = (folder / "downloads").string();
    return environment;
}

int runCli(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
           const std::filesystem::path& outputFolder, std::string* standardError, std::string* standardOutput)
{
    CliProcess process(arguments, environment, outputFolder);
    int code = process.wait();
    if (standardError)
        *standardError = process.standardError();
    if (standardOutput)
        *standardOutput = process.standardOutput();
    return code;
}

}  // namespace fetchora::test
