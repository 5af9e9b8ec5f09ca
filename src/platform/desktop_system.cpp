#include "platform/desktop_system.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <systemd/sd-bus.h>
#include <thread>
#include <unistd.h>

#include "platform/bus_connection.h"

extern char** environ;

namespace fetchora {
namespace {

constexpr const char* kFileManagerService = "org.freedesktop.FileManager1";
constexpr const char* kFileManagerPath = "/org/freedesktop/FileManager1";

bool showItems(const std::string& busAddress, const std::string& uri)
{
    BusConnection bus(BusKind::Session, busAddress);
    if (!bus)
        return false;
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int result = sd_bus_message_new_method_call(bus.get(), &call, kFileManagerService, kFileManagerPath,
                                                kFileManagerService, "ShowItems");
    if (result >= 0)
        result = sd_bus_message_append(call, "ass", 1, uri.c_str(), "");
    if (result >= 0)
        result = sd_bus_call(bus.get(), call, kBusCallTimeoutUsec, &error, &reply);
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return result >= 0;
}

// A path that starts with "-" would be read as an option by the program.
std::string asArgument(const std::string& pathOrUrl)
{
    if (!pathOrUrl.empty() && pathOrUrl.front() == '-')
        return "./" + pathOrUrl;
    return pathOrUrl;
}

}  // namespace

bool spawnDetached(const std::vector<std::string>& argv)
{
    if (argv.empty() || argv.front().empty())
        return false;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    // The child starts with no blocked signals and default handlers, whatever
    // this process's threads have set for themselves.
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0)
        return false;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int result = posix_spawnp(&pid, args.front(), nullptr, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (result != 0)
        return false;
    try {
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to wait with: the child runs on and is reaped only when
        // this process ends, which is better than waiting for it here.
    }
    return true;
}

std::optional<std::filesystem::path> findOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    if (name.empty() || name.find('/') != std::string::npos || !path)
        return std::nullopt;
    std::string_view rest(path);
    while (true) {
        const size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        // An empty entry means the current folder; a program found there
        // would be whatever lies in the download folder, so it is skipped.
        if (!folder.empty()) {
            const std::filesystem::path candidate = std::filesystem::path(folder) / name;
            std::error_code error;
            if (std::filesystem::is_regular_file(candidate, error) && access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (colon == std::string_view::npos)
            return std::nullopt;
        rest.remove_prefix(colon + 1);
    }
}

std::string fileUri(const std::filesystem::path& absolutePath)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char c : absolutePath.string()) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')
            || byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '/';
        if (plain) {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 0xF];
        }
    }
    return uri;
}

SystemDesktop::SystemDesktop(std::string sessionBusAddress) : m_busAddress(std::move(sessionBusAddress))
{
}

bool SystemDesktop::open(const std::string& pathOrUrl)
{
    if (pathOrUrl.empty())
        return false;
    return spawnDetached({"xdg-open", asArgument(pathOrUrl)});
}

bool SystemDesktop::showInFolder(const std::filesystem::path& file)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(file, error);
    if (error)
        return false;
    if (showItems(m_busAddress, fileUri(absolute)))
        return true;
    return open(absolute.parent_path().string());
}

bool SystemDesktop::playSound(const std::filesystem::path& file)
{
    for (const char* player : {"paplay", "aplay"}) {
        if (const auto program = findOnPath(player))
            return spawnDetached({program->string(), asArgument(file.string())});
    }
    return false;
}

bool SystemDesktop::startProgram(const std::vector<std::string>& argv)
{
    return spawnDetached(argv);
}

}  // namespace fetchora
