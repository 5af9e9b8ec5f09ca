#pragma once
// The real DesktopActions on a Linux desktop: xdg-open for files, folders and
// URLs, the file manager's org.freedesktop.FileManager1.ShowItems on the
// session bus to show a file selected, paplay or aplay for sounds, and
// posix_spawnp for programs. Nothing goes through a shell, so blanks and
// quotes in paths are harmless, and nothing waits for the program it starts:
// a detached waiter reaps each child so that none is left a zombie.
//
// Thread: loop thread (see DesktopActions). showInFolder blocks for at most
// kBusCallTimeoutUsec while the file manager answers.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop_actions.h"

namespace fetchora {

class SystemDesktop final : public DesktopActions {
public:
    // sessionBusAddress: the bus ShowItems is sent on; empty = the user's
    // session bus.
    explicit SystemDesktop(std::string sessionBusAddress = {});

    bool open(const std::string& pathOrUrl) override;
    bool showInFolder(const std::filesystem::path& file) override;
    bool playSound(const std::filesystem::path& file) override;
    bool startProgram(const std::vector<std::string>& argv) override;

private:
    std::string m_busAddress;
};

// Starts argv[0] (looked up on PATH when it has no "/") with the arguments,
// without a shell and without waiting; the child is reaped in the background.
// False when the program could not be started.
bool spawnDetached(const std::vector<std::string>& argv);

// The full path of an executable file called name in a folder of $PATH.
std::optional<std::filesystem::path> findOnPath(const std::string& name);

// A file:// URI for an absolute path, every byte outside the unreserved set
// and "/" percent-encoded.
std::string fileUri(const std::filesystem::path& absolutePath);

}  // namespace fetchora
