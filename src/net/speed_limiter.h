#pragma once
// The application-wide speed limiter that every transfer worker asks before
// it reads from a socket.
//
// Time is cut into one-second windows. In Manual mode the workers together may
// take manualLimit bytes per window, in Automatic mode autoLimit bytes, where
// autoLimit is the line's bandwidth less a share for every other TCP
// connection of the machine. Bytes taken beyond a window's limit are carried
// into the next window. Unlimited mode lets every read take a large block.
//
// Threads: owned by the application object; `Allowance`, `Consume`,
// `acquire` and `SpeedGrant::commit` are called by transfer workers, the rest
// by the loop thread (the frame's status timer, the speed-mode commands).
// Every member is guarded by one internal mutex, so each call is atomic on its
// own and the status timer may read the figures at any time. A separate
// `Allowance` and `Consume` pair is only atomic as a pair when the caller holds
// one outer lock across both (the job lock, in the classic read step); a worker
// that reads outside the job lock uses `acquire`, whose grant reserves its
// bytes until it is committed or dropped, so concurrent workers can never be
// granted more than one window's limit between them.
//
// Borrows the clock and the connection monitor; both must outlive it.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/tcp_connection_count.h"
#include "platform/tick.h"

namespace fetchora {

enum class SpeedMode : uint32_t { Unlimited = 0, Manual = 1, Automatic = 2 };

// Menu commands that choose a mode: kSpeedModeCommandBase + mode.
inline constexpr uint32_t kSpeedModeCommandBase = 32907;

// The mode a menu command (32907 "&Unlimited", 32908 "&Manual", 32909
// "&Automatic") chooses; nothing for another command.
constexpr std::optional<SpeedMode> speedModeFromCommand(uint32_t command)
{
    if (command < kSpeedModeCommandBase || command > kSpeedModeCommandBase + 2)
        return std::nullopt;
    return static_cast<SpeedMode>(command - kSpeedModeCommandBase);
}

// What one read may take in Unlimited mode. Workers wait on socket readiness
// rather than sleeping per pass, so one pass takes a large block.
inline constexpr uint32_t kUnlimitedReadBytes = 256 * 1024;

// The automatic limit never drops below this, however busy the machine is.
inline constexpr uint32_t kMinAutoLimit = 100;

inline constexpr uint32_t kSpeedWindowMs = 1000;

// The settings the limiter works from ("Speed Limit", "BandWidth" and "Keep"
// under "Connection"), all in bytes per second.
struct SpeedSettings {
    uint32_t manualLimit = 25000;
    uint32_t bandwidth = 187500;
    uint32_t perConnection = 15000;
};

class SpeedLimiter;

// Bytes a worker may read now, reserved for it until `commit` records what it
// actually read or the grant is dropped (which gives the bytes back unread).
// Move-only; must not outlive its limiter.
class SpeedGrant {
public:
    SpeedGrant() = default;
    SpeedGrant(SpeedGrant&& other) noexcept;
    SpeedGrant& operator=(SpeedGrant&& other) noexcept;
    SpeedGrant(const SpeedGrant&) = delete;
    SpeedGrant& operator=(const SpeedGrant&) = delete;
    ~SpeedGrant();

    // 0 means wait and ask again.
    uint32_t bytes() const { return m_bytes; }
    // The tick at which the window this grant was issued in began.
    uint32_t window() const { return m_window; }

    // Records the bytes read (normally at most bytes()) and ends the grant.
    void commit(uint32_t length);

private:
    friend class SpeedLimiter;
    SpeedGrant(SpeedLimiter* limiter, uint32_t bytes, uint32_t reserved, uint32_t window)
        : m_limiter(limiter), m_bytes(bytes), m_reserved(reserved), m_window(window)
    {
    }
    void release();

    SpeedLimiter* m_limiter = nullptr;
    uint32_t m_bytes = 0;
    uint32_t m_reserved = 0;
    uint32_t m_window = 0;
};

class SpeedLimiter {
public:
    // Figures of the current and the previous window, for the status bar.
    struct Figures {
        uint32_t windowStart = 0;
        int64_t used = 0;
        uint64_t lastSecondBytes = 0;
        uint64_t thisSecondBytes = 0;
    };

    // monitor may be null: the machine's connections are then never known.
    SpeedLimiter(const Clock& clock, const TcpConnectionMonitor* monitor, SpeedSettings settings = {});
    SpeedLimiter(const SpeedLimiter&) = delete;
    SpeedLimiter& operator=(const SpeedLimiter&) = delete;

    // Bytes the calling worker may read now; 0 means wait briefly and ask
    // again. Rolls the window when a second has passed.
    uint32_t Allowance();
    // Records bytes a worker has just read.
    void Consume(uint32_t length);

    // Allowance and reservation in one step, for workers that read outside
    // the job lock.
    SpeedGrant acquire();

    // Recomputes autoLimit from the monitor's count of the machine's TCP
    // connections, less the ones our own workers hold.
    void UpdateAutoLimit();

    // Chooses a mode. Choosing the current mode does nothing and returns
    // false; otherwise the window's byte count starts again from 0, Automatic
    // computes its limit at once, and the caller tells the speed control.
    bool setMode(SpeedMode mode);
    SpeedMode mode() const;

    void setSettings(const SpeedSettings& settings);
    SpeedSettings settings() const;
    uint32_t autoLimit() const;
    // The limit of the current mode (manualLimit in Unlimited mode, whose
    // windows still run for the traffic figures).
    uint32_t limit() const;

    // Called by every transfer worker as it starts and as it ends.
    void threadStarted();
    void threadEnded();
    uint32_t runningThreads() const;

    Figures figures() const;
    // The status bar's two-second sum: the bytes of the previous and the
    // current window, scaled to two seconds of the time they cover. The
    // current window is still filling when the timer reads it, and the first
    // window of a run may have begun before its first byte: divided by two
    // whole seconds, the sum would show as little as half of what the jobs
    // receive. Less than a second of traffic counts as a second (a read's
    // bytes arrived before it). 0 when no window began in the last 3000 ms
    // (nothing is moving).
    uint64_t twoSecondBytes() const;

    // Told about every Consume (the drop zone's traffic graph). Called on the
    // worker's thread, outside the limiter's lock.
    void setTrafficObserver(std::function<void(uint32_t)> observer);

private:
    friend class SpeedGrant;

    uint32_t limitLocked() const;
    uint32_t allowanceLocked(uint32_t now);
    void consumeLocked(uint32_t now, uint32_t length);
    void commitGrant(uint32_t reserved, uint32_t length);
    void releaseGrant(uint32_t reserved);
    void notifyTraffic(uint32_t length) const;
    // The figures start again with nothing counted.
    void restartTrafficLocked();
    // A window followed the previous one: the older window's bytes leave the
    // figures.
    void rollTrafficLocked();

    const Clock& m_clock;
    const TcpConnectionMonitor* m_monitor;

    mutable std::mutex m_mutex;
    SpeedMode m_mode = SpeedMode::Unlimited;
    SpeedSettings m_settings;
    uint32_t m_autoLimit = 0;
    uint32_t m_windowStart = 0;
    int64_t m_used = 0;
    // Bytes granted through acquire() and not yet committed or given back.
    int64_t m_reserved = 0;
    uint64_t m_lastSecondBytes = 0;
    uint64_t m_thisSecondBytes = 0;
    // Where the time that lastSecondBytes + thisSecondBytes cover begins: the
    // previous window's start, or the first byte after a fresh start when that
    // came later. Empty until a byte is counted.
    std::optional<uint32_t> m_countedSince;
    uint32_t m_runningThreads = 0;
    std::shared_ptr<const std::function<void(uint32_t)>> m_observer;
};

// The status bar's texts: the total speed from twoSecondBytes(), averaged over
// the two seconds in KiB per second ("%0.2fKB/s"), and the automatic limit
// ("%0.1fKB/s").
std::string formatTotalSpeed(uint64_t twoSecondBytes);
std::string formatAutoLimit(uint32_t autoLimit);

}  // namespace fetchora
