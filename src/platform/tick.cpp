#include "platform/tick.h"

#include <chrono>

namespace fetchora {

uint32_t tickNow()
{
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    // Truncation is the point: callers work with wrap-safe differences.
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

Clock::~Clock() = default;

uint32_t SystemClock::tick() const
{
    return tickNow();
}

}  // namespace fetchora
