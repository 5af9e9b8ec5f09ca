#include "support/private_bus.h"

#include <chrono>
#include <stdexcept>
#include <systemd/sd-bus.h>

namespace fetchora::test {

PrivateBus::PrivateBus()
{
    const std::string daemon = requireExecutable("dbus-daemon", "dbus-daemon");
    const std::filesystem::path socket = m_dir / "bus";
    m_address = "unix:path=" + socket.string();
    writeFile(m_dir / "bus.conf",
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n  <type>session</type>\n  <listen>"
                  + m_address
                  + "</listen>\n  <auth>EXTERNAL</auth>\n"
                    "  <policy context=\"default\">\n"
                    "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n    <allow eavesdrop=\"true\"/>\n"
                    "    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n");
    m_process.start({daemon, "--config-file=" + (m_dir / "bus.conf").string(), "--nofork", "--nopidfile"},
                    m_dir / "dbus-daemon.log");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        sd_bus* bus = nullptr;
        bool up = sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, m_address.c_str()) >= 0
            && sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0;
        if (up) {
            // sd_bus_start only connects; a call proves the daemon answers.
            const char* unique = nullptr;
            up = sd_bus_get_unique_name(bus, &unique) >= 0;
        }
        sd_bus_close_unref(bus);
        if (up)
            return;
        if (!m_process.running())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("dbus-daemon did not come up: " + logTail(m_dir / "dbus-daemon.log"));
}

BusService::BusService(const std::string& busAddress, const char* name, const char* objectPath,
                       const char* interfaceName, const sd_bus_vtable* vtable, void* userdata)
{
    int result = sd_bus_new(&m_bus);
    if (result >= 0)
        result = sd_bus_set_address(m_bus, busAddress.c_str());
    if (result >= 0)
        result = sd_bus_set_bus_client(m_bus, 1);
    if (result >= 0)
        result = sd_bus_start(m_bus);
    if (result >= 0)
        result = sd_bus_add_object_vtable(m_bus, nullptr, objectPath, interfaceName, vtable, userdata);
    if (result >= 0)
        result = sd_bus_request_name(m_bus, name, 0);
    if (result < 0) {
        sd_bus_close_unref(m_bus);
        throw std::runtime_error(std::string("could not serve ") + name + " on the private bus");
    }
    m_thread = std::thread([this] {
        while (!m_stop) {
            const int processed = sd_bus_process(m_bus, nullptr);
            if (processed < 0)
                return;
            if (processed == 0)
                sd_bus_wait(m_bus, 20'000);
        }
    });
}

BusService::~BusService()
{
    m_stop = true;
    m_thread.join();
    sd_bus_flush_close_unref(m_bus);
}

}  // namespace fetchora::test
