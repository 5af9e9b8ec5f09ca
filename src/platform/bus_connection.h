#pragma once
// A client connection to a D-Bus message bus through sd-bus, opened for one
// exchange and closed with the object. An empty address means the real bus
// of the kind asked for; tests hand in the address of a private bus.
//
// Thread: the thread that made it; sd-bus connections are not shared.
#include <cstdint>
#include <string>

struct sd_bus;

namespace fetchora {

enum class BusKind { Session, System };

class BusConnection {
public:
    BusConnection(BusKind kind, const std::string& address);
    ~BusConnection();
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    // Null when no bus could be reached.
    sd_bus* get() const { return m_bus; }
    explicit operator bool() const { return m_bus != nullptr; }

private:
    sd_bus* m_bus = nullptr;
};

// How long a call waits for its answer. The calls run on the loop thread, so
// a service that hangs must not hold the program for sd-bus's 25 s default.
inline constexpr uint64_t kBusCallTimeoutUsec = 5'000'000;

}  // namespace fetchora
