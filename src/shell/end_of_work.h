#pragma once
// What happens when every download is done: the "all done" sound, then hang
// up the dial-up line, power the machine off or close the program, each
// announced by a countdown the user may cancel.
//
// Countdowns run asynchronously: OnAllJobsDone starts the first one and
// returns; the chain goes on from the countdown's completion callback, so the
// loop keeps running (and jobs keep downloading) while a countdown shows.
//
// Thread: loop thread. Borrows the desktop, the dial-up line, the countdown
// and the host; all must outlive it (a completion arriving after the
// EndOfWork is gone is ignored).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "lang/string_table.h"

namespace fetchora {

class AppSettings;
class DesktopActions;
class PowerControl;

// "DialUp" "Flags" bits that concern the end of work.
inline constexpr int32_t kDialUpHangUpWhenDone = 0x2;
inline constexpr int32_t kDialUpShutDownWhenDone = 0x4;
inline constexpr int32_t kDialUpCloseWhenDone = 0x8;

// Message texts of the countdowns.
inline constexpr uint32_t kAppTitleString = 57344;
inline constexpr uint32_t kShutDownCaptionString = 61289;
inline constexpr uint32_t kShutDownTextString = 61290;
inline constexpr uint32_t kHangUpCaptionString = 61291;
inline constexpr uint32_t kHangUpTextString = 61292;
inline constexpr uint32_t kCloseTextString = 61388;

// The exit command the frame runs when a countdown ends with OK.
inline constexpr uint32_t kAppExitCommand = 57665;

// A dial-up connection. Linux has no dial-up manager, so NoDialUp answers
// "not available" and the hang-up step never runs there.
class DialUp {
public:
    virtual ~DialUp() = default;
    virtual bool available() const = 0;
    virtual bool isConnected() const = 0;
    virtual bool hangUp() = 0;
};

class NoDialUp final : public DialUp {
public:
    bool available() const override { return false; }
    bool isConnected() const override { return false; }
    bool hangUp() override { return false; }
};

struct CountdownRequest {
    std::string caption;
    std::string text;  // holds "%d" for the seconds left (see CountdownText)
    int32_t seconds = 0;
};

// Shows a countdown and reports how it ended: true for OK (or reaching
// zero), false for Cancel. start returns at once; done is called later on
// the loop thread, exactly once, unless the countdown is destroyed first.
class Countdown {
public:
    virtual ~Countdown() = default;
    virtual void start(const CountdownRequest& request, std::function<void(bool ok)> done) = 0;
};

// The countdown's text with the seconds left filled in.
std::string CountdownText(std::string_view text, int32_t seconds);

// What the frame does for the end of work.
class EndOfWorkHost {
public:
    virtual ~EndOfWorkHost() = default;
    // Posts the exit command (kAppExitCommand) to the main window.
    virtual void requestExit() = 0;
};

// The settings OnAllJobsDone works from.
struct EndOfWorkSettings {
    bool playSounds = false;  // "General" "Flags" 0x80
    std::string allDoneSound;  // "Sounds" "Sound3"; empty: none
    int32_t dialUpFlags = 0;  // "DialUp" "Flags"
    int32_t hangUpSeconds = 15;
    int32_t shutDownSeconds = 30;
    int32_t closeSeconds = 15;
    bool alwaysShutDown = false;
};

EndOfWorkSettings endOfWorkSettingsFrom(const AppSettings& settings);

// Message texts by id (the active language's table).
using StringLookup = std::function<std::string(uint32_t id)>;

class EndOfWork {
public:
    EndOfWork(DesktopActions& desktop, DialUp& dialUp, Countdown& countdown, EndOfWorkHost& host,
              StringLookup text = [](uint32_t id) { return builtinText(id); });
    ~EndOfWork();
    EndOfWork(const EndOfWork&) = delete;
    EndOfWork& operator=(const EndOfWork&) = delete;

    // Every download is done (message 1134); scheduledJobsWaiting when a job
    // still waits for the schedule's window. Ignored while an earlier
    // countdown still runs, so that countdowns never pile up.
    void OnAllJobsDone(const EndOfWorkSettings& settings, bool scheduledJobsWaiting);

    // Whether a countdown runs now.
    bool busy() const { return m_busy; }
    // Set when the shut-down countdown ended with OK: the exit powers off.
    bool shutDownAtExit() const { return m_shutDownAtExit; }

private:
    void hangUpConfirmed();
    void afterHangUp();
    void runCountdown(uint32_t captionId, uint32_t textId, int32_t seconds, void (EndOfWork::*onOk)());
    void shutDownConfirmed();
    void closeConfirmed();

    DesktopActions& m_desktop;
    DialUp& m_dialUp;
    Countdown& m_countdown;
    EndOfWorkHost& m_host;
    StringLookup m_text;
    EndOfWorkSettings m_settings;
    bool m_scheduledJobsWaiting = false;
    bool m_busy = false;
    bool m_shutDownAtExit = false;
    // Completions hold a weak reference, so that one arriving after the
    // object is gone does nothing.
    std::shared_ptr<EndOfWork*> m_self;
};

// How the power-off at exit went.
enum class ShutDownResult {
    PoweredOff,
    NotPermitted,  // the system would not let this user power off
    Refused,  // the power-off request failed
};

// The exit step when the shut-down mark is set: asks whether a power-off is
// allowed, then asks for it, once. A refusal ends only the program.
ShutDownResult ShutDownAtExit(PowerControl& power);
// A log line for the result.
std::string describe(ShutDownResult result);

}  // namespace fetchora
