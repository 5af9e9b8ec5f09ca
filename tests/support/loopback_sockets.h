#pragma once
// Loopback endpoints: the listener of the fake servers, and, for connect
// tests, ones that misbehave at the TCP level: a port that refuses, and a
// listener that never answers.
#include <cstdint>

namespace fetchora::test {

// A socket listening on a kernel-chosen loopback port, which goes to port.
// Throws, naming who wanted it, when there is none: a fake server without
// its listener has nothing to test.
int listenOnLoopback(int backlog, uint16_t& port, const char* who);

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
