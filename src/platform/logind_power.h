#pragma once
// The real PowerControl: systemd-logind's org.freedesktop.login1.Manager on
// the system bus. Powering off asks without interaction, so it works only
// where the policy lets this user do it unasked; the sleep inhibitor is the
// file descriptor logind hands back, held until released.
//
// Thread: loop thread. Each call opens its own bus connection and blocks for
// at most kBusCallTimeoutUsec.
#include <string>

#include "platform/desktop_actions.h"

namespace fetchora {

class LogindPower final : public PowerControl {
public:
    // systemBusAddress: the bus logind is reached on; empty = the system bus.
    explicit LogindPower(std::string systemBusAddress = {});
    ~LogindPower() override;
    LogindPower(const LogindPower&) = delete;
    LogindPower& operator=(const LogindPower&) = delete;

    // True only for the answer "yes". "challenge" means logind would ask for
    // a password first, which nobody answers at the end of unattended work,
    // and PowerOff without interaction would be refused: false.
    bool canPowerOff() override;
    bool powerOff() override;
    // No bus, or a refusal: quietly not held.
    void holdSleepInhibitor(bool held) override;

    bool inhibitorHeld() const { return m_inhibitor >= 0; }

private:
    std::string m_busAddress;
    int m_inhibitor = -1;
};

// Powers off only when the system says it would allow it, so that a refusal
// never shows up as a dialog asking for a password. True when asked and
// accepted.
bool powerOffIfAllowed(PowerControl& power);

}  // namespace fetchora
