// LogindPower against a fake logind that the test serves on a private bus:
// the answers it gets, the calls it makes and the inhibitor descriptor.
#include "platform/logind_power.h"

#include "support/private_bus.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <systemd/sd-bus.h>
#include <unistd.h>
#include <vector>

namespace fetchora {
namespace {

using test::BusService;
using test::PrivateBus;

struct InhibitCall {
    std::string what, who, why, mode;
};

// What the fake logind answers and what it was asked.
struct FakeLogind {
    std::mutex mutex;
    std::string canPowerOff = "yes";
    bool refusePowerOff = false;
    std::vector<int> powerOffCalls;  // the interactive flag of each call
    std::vector<InhibitCall> inhibitCalls;
    std::vector<int> inhibitorReadEnds;  // our end of each pipe handed out

    ~FakeLogind()
    {
        for (const int fd : inhibitorReadEnds)
            ::close(fd);
    }

    static int onCanPowerOff(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        auto* self = static_cast<FakeLogind*>(userdata);
        std::lock_guard lock(self->mutex);
        return sd_bus_reply_method_return(m, "s", self->canPowerOff.c_str());
    }

    static int onPowerOff(sd_bus_message* m, void* userdata, sd_bus_error* error)
    {
        auto* self = static_cast<FakeLogind*>(userdata);
        int interactive = -1;
        if (const int r = sd_bus_message_read(m, "b", &interactive); r < 0)
            return r;
        std::lock_guard lock(self->mutex);
        self->powerOffCalls.push_back(interactive);
        if (self->refusePowerOff)
            return sd_bus_error_set(error, "org.freedesktop.DBus.Error.AccessDenied", "Not allowed");
        return sd_bus_reply_method_return(m, "");
    }

    static int onInhibit(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        auto* self = static_cast<FakeLogind*>(userdata);
        const char* what = nullptr;
        const char* who = nullptr;
        const char* why = nullptr;
        const char* mode = nullptr;
        if (const int r = sd_bus_message_read(m, "ssss", &what, &who, &why, &mode); r < 0)
            return r;
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            return -errno;
        {
            std::lock_guard lock(self->mutex);
            self->inhibitCalls.push_back({what, who, why, mode});
            self->inhibitorReadEnds.push_back(ends[0]);
        }
        // The reply carries its own copy; once it is sent only the caller
        // holds the write end, so our read end sees the caller let go.
        const int r = sd_bus_reply_method_return(m, "h", ends[1]);
        ::close(ends[1]);
        return r;
    }
};

const sd_bus_vtable kLogindVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("CanPowerOff", "", "s", &FakeLogind::onCanPowerOff, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("PowerOff", "b", "", &FakeLogind::onPowerOff, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogind::onInhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

// Whether every copy of the pipe's write end was closed within the time.
// The fake's own copy in its reply goes a moment after the caller got it, so
// "still held" is only believed after a short wait.
bool writerClosedWithin(int readEnd, int timeoutMs)
{
    pollfd entry{readEnd, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) == 1 && (entry.revents & POLLHUP) != 0;
}
constexpr int kHeldCheckMs = 200;
constexpr int kReleaseMs = 5000;

class LogindPowerTest : public ::testing::Test {
protected:
    void serve()
    {
        m_service = std::make_unique<BusService>(m_bus.address(), "org.freedesktop.login1", "/org/freedesktop/login1",
                                                 "org.freedesktop.login1.Manager", kLogindVtable, &m_logind);
    }

    PrivateBus m_bus;
    FakeLogind m_logind;
    std::unique_ptr<BusService> m_service;
};

TEST_F(LogindPowerTest, OnlyTheAnswerYesAllowsPowerOff)
{
    serve();
    LogindPower power(m_bus.address());
    const std::pair<const char*, bool> cases[] = {{"yes", true}, {"no", false}, {"challenge", false}, {"na", false}};
    for (const auto& [answer, allowed] : cases) {
        {
            std::lock_guard lock(m_logind.mutex);
            m_logind.canPowerOff = answer;
        }
        EXPECT_EQ(power.canPowerOff(), allowed) << answer;
    }
}

TEST_F(LogindPowerTest, PowerOffIsNotAskedForWhenTheProbeSaysNo)
{
    m_logind.canPowerOff = "no";
    serve();
    LogindPower power(m_bus.address());
    EXPECT_FALSE(powerOffIfAllowed(power));
    {
        std::lock_guard lock(m_logind.mutex);
        EXPECT_TRUE(m_logind.powerOffCalls.empty());
        m_logind.canPowerOff = "yes";
    }
    EXPECT_TRUE(powerOffIfAllowed(power));
    std::lock_guard lock(m_logind.mutex);
    // Never interactive: nobody is there to type a password.
    EXPECT_EQ(m_logind.powerOffCalls, std::vector<int>{0});
}

TEST_F(LogindPowerTest, ARefusedPowerOffIsReportedAsRefused)
{
    m_logind.refusePowerOff = true;
    serve();
    LogindPower power(m_bus.address());
    EXPECT_FALSE(power.powerOff());
    std::lock_guard lock(m_logind.mutex);
    EXPECT_EQ(m_logind.powerOffCalls.size(), 1u);
}

TEST_F(LogindPowerTest, TheSleepInhibitorIsHeldUntilReleased)
{
    serve();
    LogindPower power(m_bus.address());
    power.holdSleepInhibitor(true);
    ASSERT_TRUE(power.inhibitorHeld());
    // Holding again keeps the one inhibitor instead of taking a second.
    power.holdSleepInhibitor(true);
    int readEnd = -1;
    {
        std::lock_guard lock(m_logind.mutex);
        ASSERT_EQ(m_logind.inhibitCalls.size(), 1u);
        const InhibitCall& call = m_logind.inhibitCalls.front();
        EXPECT_EQ(call.what, "sleep");
        EXPECT_EQ(call.who, "Fetchora");
        EXPECT_EQ(call.why, "Downloads are running");
        EXPECT_EQ(call.mode, "block");
        readEnd = m_logind.inhibitorReadEnds.front();
    }
    EXPECT_FALSE(writerClosedWithin(readEnd, kHeldCheckMs));
    power.holdSleepInhibitor(false);
    EXPECT_FALSE(power.inhibitorHeld());
    EXPECT_TRUE(writerClosedWithin(readEnd, kReleaseMs));
}

TEST_F(LogindPowerTest, DestroyingTheControlReleasesTheInhibitor)
{
    serve();
    int readEnd = -1;
    {
        LogindPower power(m_bus.address());
        power.holdSleepInhibitor(true);
        std::lock_guard lock(m_logind.mutex);
        ASSERT_EQ(m_logind.inhibitorReadEnds.size(), 1u);
        readEnd = m_logind.inhibitorReadEnds.front();
        EXPECT_FALSE(writerClosedWithin(readEnd, kHeldCheckMs));
    }
    EXPECT_TRUE(writerClosedWithin(readEnd, kReleaseMs));
}

TEST_F(LogindPowerTest, WithoutLogindNothingIsAllowedAndNothingHeld)
{
    LogindPower power(m_bus.address());
    EXPECT_FALSE(power.canPowerOff());
    EXPECT_FALSE(power.powerOff());
    power.holdSleepInhibitor(true);
    EXPECT_FALSE(power.inhibitorHeld());

    LogindPower noBus("unix:path=" + (std::filesystem::temp_directory_path() / "fetchora-no-such-bus").string());
    EXPECT_FALSE(noBus.canPowerOff());
    EXPECT_FALSE(noBus.powerOff());
    noBus.holdSleepInhibitor(true);
    EXPECT_FALSE(noBus.inhibitorHeld());
}

}  // namespace
}  // namespace fetchora
