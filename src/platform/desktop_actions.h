#pragma once
// What the program asks of the desktop and the operating system: opening
// files, folders and web pages, showing a file in the file manager, playing a
// sound, starting a program without waiting for it, powering the machine off
// and keeping it awake while jobs download. Behind interfaces so that tests
// record what would run; SystemDesktop (desktop_system.h) is the real one.
//
// Thread: loop thread. None of the calls waits for the program it starts.
#include <filesystem>
#include <string>
#include <vector>

namespace fetchora {

class DesktopActions {
public:
    virtual ~DesktopActions() = default;
    // A file, a folder or a URL with the program the desktop associates
    // with it. False when nothing could be started.
    virtual bool open(const std::string& pathOrUrl) = 0;
    // Shows the file selected in the file manager; when that cannot be
    // done, opens its folder. False when neither worked.
    virtual bool showInFolder(const std::filesystem::path& file) = 0;
    // Plays a sound file in the background; false when no player exists.
    virtual bool playSound(const std::filesystem::path& file) = 0;
    // Starts argv[0] with the arguments, without waiting and without a shell.
    virtual bool startProgram(const std::vector<std::string>& argv) = 0;
};

class PowerControl {
public:
    virtual ~PowerControl() = default;
    // Whether the system would let this user power off now.
    virtual bool canPowerOff() = 0;
    // Asks the system to power off; false when it refused.
    virtual bool powerOff() = 0;
    // Holds (true) or releases (false) a "sleep" inhibitor. A refused
    // inhibitor is not an error: the machine may then sleep.
    virtual void holdSleepInhibitor(bool held) = 0;
};

}  // namespace fetchora
