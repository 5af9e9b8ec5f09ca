#pragma once
// Millisecond tick counts and the clocks that give them.
//
// Ticks are 32-bit and wrap about every 49.7 days, as the program's stored
// figures (start ticks, speed windows) expect. Never compare two ticks with
// `<`: take the unsigned difference with `ticksSince`, or ask `tickReached`,
// which stay right across the wrap as long as the two ticks lie less than
// 2^31 ms (about 24.8 days) apart.
#include <atomic>
#include <cstdint>

namespace fetchora {

// Milliseconds of a monotonic clock, truncated to 32 bits. Thread-safe.
uint32_t tickNow();

// Milliseconds from `then` to `now`, correct across one wrap of the counter.
constexpr uint32_t ticksSince(uint32_t then, uint32_t now)
{
    return now - then;
}

// Whether `now` has reached or passed `deadline`. The signed reading of the
// difference keeps a deadline just after the wrap "in the future" for a `now`
// just before it.
constexpr bool tickReached(uint32_t deadline, uint32_t now)
{
    return static_cast<int32_t>(now - deadline) >= 0;
}

// Where the loop, the limiter and the progress figures take the time from, so
// that tests can drive time by hand. Implementations are thread-safe.
class Clock {
public:
    virtual ~Clock();
    virtual uint32_t tick() const = 0;
};

class SystemClock final : public Clock {
public:
    uint32_t tick() const override;
};

// A clock that moves only when told to; any thread may read or move it.
class ManualClock final : public Clock {
public:
    explicit ManualClock(uint32_t start = 0) : m_tick(start) {}

    uint32_t tick() const override { return m_tick.load(std::memory_order_acquire); }
    void set(uint32_t tick) { m_tick.store(tick, std::memory_order_release); }
    // Wraps past 2^32 like the real counter.
    void advance(uint32_t ms) { m_tick.fetch_add(ms, std::memory_order_acq_rel); }

private:
    std::atomic<uint32_t> m_tick;
};

}  // namespace fetchora
