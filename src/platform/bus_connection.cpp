#include "platform/bus_connection.h"

#include <systemd/sd-bus.h>

namespace fetchora {

BusConnection::BusConnection(BusKind kind, const std::string& address)
{
    sd_bus* bus = nullptr;
    int result = 0;
    if (address.empty()) {
        result = kind == BusKind::System ? sd_bus_open_system(&bus) : sd_bus_open_user(&bus);
    } else {
        result = sd_bus_new(&bus);
        if (result >= 0)
            result = sd_bus_set_address(bus, address.c_str());
        if (result >= 0)
            result = sd_bus_set_bus_client(bus, 1);
        if (result >= 0)
            result = sd_bus_start(bus);
    }
    if (result < 0) {
        sd_bus_unref(bus);
        return;
    }
    m_bus = bus;
}

BusConnection::~BusConnection()
{
    // Nothing is queued for sending after a synchronous call, so the
    // connection can go without a flush.
    sd_bus_close_unref(m_bus);
}

}  // namespace fetchora
