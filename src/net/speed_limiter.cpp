#include "net/speed_limiter.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace fetchora {

namespace {

// Beyond this the status bar shows nothing moving.
constexpr uint32_t kStaleWindowMs = 3000;

}  // namespace

SpeedGrant::SpeedGrant(SpeedGrant&& other) noexcept
    : m_limiter(std::exchange(other.m_limiter, nullptr)),
      m_bytes(std::exchange(other.m_bytes, 0)),
      m_reserved(std::exchange(other.m_reserved, 0)),
      m_window(other.m_window)
{
}

SpeedGrant& SpeedGrant::operator=(SpeedGrant&& other) noexcept
{
    if (this != &other) {
        release();
        m_limiter = std::exchange(other.m_limiter, nullptr);
        m_bytes = std::exchange(other.m_bytes, 0);
        m_reserved = std::exchange(other.m_reserved, 0);
        m_window = other.m_window;
    }
    return *this;
}

SpeedGrant::~SpeedGrant()
{
    release();
}

void SpeedGrant::commit(uint32_t length)
{
    if (m_limiter == nullptr)
        return;
    m_limiter->commitGrant(m_reserved, length);
    m_limiter = nullptr;
    m_bytes = 0;
    m_reserved = 0;
}

void SpeedGrant::release()
{
    if (m_limiter == nullptr)
        return;
    m_limiter->releaseGrant(m_reserved);
    m_limiter = nullptr;
    m_bytes = 0;
    m_reserved = 0;
}

SpeedLimiter::SpeedLimiter(const Clock& clock, const TcpConnectionMonitor* monitor, SpeedSettings settings)
    : m_clock(clock), m_monitor(monitor), m_settings(settings), m_autoLimit(settings.bandwidth)
{
    m_windowStart = m_clock.tick();
}

uint32_t SpeedLimiter::limitLocked() const
{
    return m_mode == SpeedMode::Automatic ? m_autoLimit : m_settings.manualLimit;
}

uint32_t SpeedLimiter::allowanceLocked(uint32_t now)
{
    const int64_t limit = limitLocked();
    if (ticksSince(m_windowStart, now) < kSpeedWindowMs) {
        const int64_t left = m_used < limit ? limit - m_used : 0;
        return static_cast<uint32_t>(std::max<int64_t>(left, 0));
    }
    m_windowStart += kSpeedWindowMs;
    if (ticksSince(m_windowStart, now) > kSpeedWindowMs) {
        // Idle for more than a window: start afresh. The traffic figures of
        // windows that ended long ago say nothing about now, so they go too.
        m_windowStart = now;
        m_used = 0;
        restartTrafficLocked();
    } else {
        rollTrafficLocked();
        m_used = m_used > limit ? m_used - limit : 0;
    }
    return static_cast<uint32_t>(limit);
}

void SpeedLimiter::consumeLocked(uint32_t now, uint32_t length)
{
    const int64_t limit = limitLocked();
    if (ticksSince(m_windowStart, now) < kSpeedWindowMs) {
        m_used += length;
    } else {
        const int64_t total = m_used + length;
        m_windowStart += kSpeedWindowMs;
        if (ticksSince(m_windowStart, now) < kSpeedWindowMs) {
            // The read that opens a window counts in the new window's
            // traffic only, not in both.
            rollTrafficLocked();
            m_used = total > limit ? total - limit : length;
        } else {
            m_windowStart = now;
            restartTrafficLocked();
            m_used = length;
        }
    }
    m_thisSecondBytes += length;
    if (!m_countedSince)
        m_countedSince = now;
}

void SpeedLimiter::restartTrafficLocked()
{
    m_lastSecondBytes = 0;
    m_thisSecondBytes = 0;
    m_countedSince.reset();
}

void SpeedLimiter::rollTrafficLocked()
{
    m_lastSecondBytes = m_thisSecondBytes;
    m_thisSecondBytes = 0;
    // Kept no older than the previous window, so that the tick can wrap
    // under a long run of traffic.
    const uint32_t previousStart = m_windowStart - kSpeedWindowMs;
    if (m_countedSince && ticksSince(*m_countedSince, m_windowStart) > kSpeedWindowMs)
        m_countedSince = previousStart;
}

uint32_t SpeedLimiter::Allowance()
{
    std::lock_guard lock(m_mutex);
    const uint32_t allowance = allowanceLocked(m_clock.tick());
    return m_mode == SpeedMode::Unlimited ? kUnlimitedReadBytes : allowance;
}

void SpeedLimiter::Consume(uint32_t length)
{
    {
        std::lock_guard lock(m_mutex);
        consumeLocked(m_clock.tick(), length);
    }
    notifyTraffic(length);
}

SpeedGrant SpeedLimiter::acquire()
{
    std::lock_guard lock(m_mutex);
    const uint32_t allowance = allowanceLocked(m_clock.tick());
    if (m_mode == SpeedMode::Unlimited) {
        return SpeedGrant(this, kUnlimitedReadBytes, 0, m_windowStart);
    }
    // Bytes granted to workers still reading are not free for anyone else.
    const auto free = static_cast<uint32_t>(std::max<int64_t>(int64_t{allowance} - m_reserved, 0));
    m_reserved += free;
    return SpeedGrant(this, free, free, m_windowStart);
}

void SpeedLimiter::commitGrant(uint32_t reserved, uint32_t length)
{
    {
        std::lock_guard lock(m_mutex);
        m_reserved -= reserved;
        consumeLocked(m_clock.tick(), length);
    }
    notifyTraffic(length);
}

void SpeedLimiter::releaseGrant(uint32_t reserved)
{
    std::lock_guard lock(m_mutex);
    m_reserved -= reserved;
}

void SpeedLimiter::notifyTraffic(uint32_t length) const
{
    std::shared_ptr<const std::function<void(uint32_t)>> observer;
    {
        std::lock_guard lock(m_mutex);
        observer = m_observer;
    }
    if (observer && *observer)
        (*observer)(length);
}

void SpeedLimiter::UpdateAutoLimit()
{
    // The count may read files; do it outside the lock.
    const auto count = m_monitor != nullptr ? m_monitor->openConnections() : std::nullopt;
    std::lock_guard lock(m_mutex);
    if (!count) {
        m_autoLimit = m_settings.bandwidth;
        return;
    }
    const int64_t others = std::max<int64_t>(0, int64_t{*count} - int64_t{m_runningThreads});
    const int64_t limit = int64_t{m_settings.bandwidth} - int64_t{m_settings.perConnection} * others;
    m_autoLimit = static_cast<uint32_t>(std::clamp<int64_t>(limit, kMinAutoLimit, UINT32_MAX));
}

bool SpeedLimiter::setMode(SpeedMode mode)
{
    {
        std::lock_guard lock(m_mutex);
        if (mode == m_mode)
            return false;
        m_used = 0;
        m_mode = mode;
    }
    if (mode == SpeedMode::Automatic)
        UpdateAutoLimit();
    return true;
}

SpeedMode SpeedLimiter::mode() const
{
    std::lock_guard lock(m_mutex);
    return m_mode;
}

void SpeedLimiter::setSettings(const SpeedSettings& settings)
{
    std::lock_guard lock(m_mutex);
    m_settings = settings;
}

SpeedSettings SpeedLimiter::settings() const
{
    std::lock_guard lock(m_mutex);
    return m_settings;
}

uint32_t SpeedLimiter::autoLimit() const
{
    std::lock_guard lock(m_mutex);
    return m_autoLimit;
}

uint32_t SpeedLimiter::limit() const
{
    std::lock_guard lock(m_mutex);
    return limitLocked();
}

void SpeedLimiter::threadStarted()
{
    std::lock_guard lock(m_mutex);
    ++m_runningThreads;
}

void SpeedLimiter::threadEnded()
{
    std::lock_guard lock(m_mutex);
    if (m_runningThreads > 0)
        --m_runningThreads;
}

uint32_t SpeedLimiter::runningThreads() const
{
    std::lock_guard lock(m_mutex);
    return m_runningThreads;
}

SpeedLimiter::Figures SpeedLimiter::figures() const
{
    std::lock_guard lock(m_mutex);
    return Figures{m_windowStart, m_used, m_lastSecondBytes, m_thisSecondBytes};
}

uint64_t SpeedLimiter::twoSecondBytes() const
{
    std::lock_guard lock(m_mutex);
    const uint32_t now = m_clock.tick();
    if (ticksSince(m_windowStart, now) > kStaleWindowMs || !m_countedSince)
        return 0;
    const uint64_t covered = std::max(ticksSince(*m_countedSince, now), kSpeedWindowMs);
    return (m_lastSecondBytes + m_thisSecondBytes) * 2 * kSpeedWindowMs / covered;
}

void SpeedLimiter::setTrafficObserver(std::function<void(uint32_t)> observer)
{
    auto shared = std::make_shared<const std::function<void(uint32_t)>>(std::move(observer));
    std::lock_guard lock(m_mutex);
    m_observer = std::move(shared);
}

std::string formatTotalSpeed(uint64_t twoSecondBytes)
{
    char text[64];
    std::snprintf(text, sizeof text, "%0.2fKB/s", static_cast<double>(twoSecondBytes) / 2048.0);
    return text;
}

std::string formatAutoLimit(uint32_t autoLimit)
{
    char text[64];
    std::snprintf(text, sizeof text, "%0.1fKB/s", static_cast<double>(autoLimit) / 1024.0);
    return text;
}

}  // namespace fetchora
