#pragma once
// Loopback endpoints that misbehave at the TCP level, for connect tests:
// a port that refuses, and a listener that never answers.
#include <cstdint>

namespace fetchora::test {

// A loopback port nothing listens on: a connect to it is refused.
uint16_t refusedPort();

// A loopback listener that never accepts, with its queue already full: the
// kernel leaves the next connect to it unanswered, as for a host that is
// down, without a packet leaving the machine.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    uint16_t port() const { return m_port; }

private:
    int m_listener = -1;
    int m_filler = -1;
    uint16_t m_port = 0;
};

}  // namespace fetchora::test
