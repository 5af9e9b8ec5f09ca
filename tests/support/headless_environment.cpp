#include "support/headless_environment.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

extern char** environ;

namespace fetchora::test {
namespace fs = std::filesystem;

std::vector<std::string> HeadlessEnvironment(const std::map<std::string, std::string>& overrides)
{
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (const size_t equals = text.find('='); equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    variables.erase("DISPLAY");
    variables.erase("WAYLAND_DISPLAY");
    for (const auto& [name, value] : overrides)
        variables[name] = value;
    std::vector<std::string> texts;
    for (const auto& [name, value] : variables)
        texts.push_back(name + "=" + value);
    return texts;
}

pid_t DaemonOfProfile(const fs::path& profile)
{
    const std::string mark = "FETCHORA_HOME=" + profile.string();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream environment(entry.path() / "environ", std::ios::binary);
        std::string variable;
        bool ours = false;
        while (std::getline(environment, variable, '\0'))
            ours = ours || variable == mark;
        std::ifstream commandLine(entry.path() / "cmdline", std::ios::binary);
        std::string program;
        std::getline(commandLine, program, '\0');
        if (ours && program.find("fetchora-cli") != std::string::npos)
            return static_cast<pid_t>(std::stoi(name));
    }
    return -1;
}

void StopDaemonOfProfile(const fs::path& profile)
{
    const pid_t daemon = DaemonOfProfile(profile);
    if (daemon <= 0)
        return;
    kill(daemon, SIGTERM);
    for (int i = 0; i < 300 && kill(daemon, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace fetchora::test
