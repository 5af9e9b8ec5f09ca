#include "platform/logind_power.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "platform/bus_connection.h"

namespace fetchora {
namespace {

constexpr const char* kLogindService = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

// Calls a Manager method and hands the reply to read(); false when the bus,
// the call or read() failed.
template <typename Append, typename Read>
bool callManager(const std::string& address, const char* method, Append append, Read read)
{
    BusConnection bus(BusKind::System, address);
    if (!bus)
        return false;
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int result = sd_bus_message_new_method_call(bus.get(), &call, kLogindService, kLogindPath, kLogindManager, method);
    if (result >= 0)
        result = append(call);
    if (result >= 0)
        result = sd_bus_call(bus.get(), call, kBusCallTimeoutUsec, &error, &reply);
    const bool ok = result >= 0 && read(reply);
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return ok;
}

}  // namespace

LogindPower::LogindPower(std::string systemBusAddress) : m_busAddress(std::move(systemBusAddress))
{
}

LogindPower::~LogindPower()
{
    holdSleepInhibitor(false);
}

bool LogindPower::canPowerOff()
{
    bool yes = false;
    callManager(
        m_busAddress, "CanPowerOff", [](sd_bus_message*) { return 0; },
        [&](sd_bus_message* reply) {
            const char* answer = nullptr;
            if (sd_bus_message_read(reply, "s", &answer) < 0 || !answer)
                return false;
            yes = std::string_view(answer) == "yes";
            return true;
        });
    return yes;
}

bool LogindPower::powerOff()
{
    return callManager(
        m_busAddress, "PowerOff", [](sd_bus_message* call) { return sd_bus_message_append(call, "b", 0); },
        [](sd_bus_message*) { return true; });
}

void LogindPower::holdSleepInhibitor(bool held)
{
    if (!held) {
        if (m_inhibitor >= 0)
            ::close(m_inhibitor);
        m_inhibitor = -1;
        return;
    }
    if (m_inhibitor >= 0)
        return;
    callManager(
        m_busAddress, "Inhibit",
        [](sd_bus_message* call) {
            return sd_bus_message_append(call, "ssss", "sleep", "Fetchora", "Downloads are running", "block");
        },
        [&](sd_bus_message* reply) {
            int fd = -1;
            if (sd_bus_message_read(reply, "h", &fd) < 0 || fd < 0)
                return false;
            // The reply owns the descriptor it carries; the inhibitor lasts
            // as long as our copy stays open.
            m_inhibitor = fcntl(fd, F_DUPFD_CLOEXEC, 3);
            return m_inhibitor >= 0;
        });
}

bool powerOffIfAllowed(PowerControl& power)
{
    return power.canPowerOff() && power.powerOff();
}

}  // namespace fetchora
