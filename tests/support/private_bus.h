#pragma once
// A private D-Bus message bus for tests: a dbus-daemon of its own on a Unix
// socket in a temporary folder, and services the test process puts on it
// (sd-bus object vtables served from a thread of their own, so that the code
// under test can make blocking calls to them from the test thread).
#include <atomic>
#include <string>
#include <thread>

#include "support/peer_process.h"
#include "support/temp_dir.h"

struct sd_bus;
struct sd_bus_vtable;

namespace fetchora::test {

class PrivateBus {
public:
    // Throws std::runtime_error when dbus-daemon is missing or does not come up.
    PrivateBus();
    // "unix:path=..."; what the code under test takes as its bus address.
    const std::string& address() const { return m_address; }

private:
    TempDir m_dir;
    PeerProcess m_process;
    std::string m_address;
};

// Owns `name` on the bus and serves `vtable` at `objectPath` with interface
// `interfaceName` (userdata is handed to the handlers) until destroyed.
class BusService {
public:
    BusService(const std::string& busAddress, const char* name, const char* objectPath, const char* interfaceName,
               const sd_bus_vtable* vtable, void* userdata);
    ~BusService();
    BusService(const BusService&) = delete;
    BusService& operator=(const BusService&) = delete;

private:
    sd_bus* m_bus = nullptr;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace fetchora::test
