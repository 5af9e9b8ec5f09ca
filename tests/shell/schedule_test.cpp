#include "shell/schedule.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace fetchora {
namespace {

// Local time is UTC here, so a stored time of h*3600 + m*60 is h:m.
class FixedClock final : public ScheduleClock {
public:
    std::tm localNow() const override { return m_now; }
    std::tm toLocal(int64_t secondsSince1970) const override
    {
        const std::time_t when = static_cast<std::time_t>(secondsSince1970);
        std::tm result{};
        gmtime_r(&when, &result);
        return result;
    }
    // weekday: 0 Monday .. 6 Sunday.
    void set(int weekday, int hour, int minute)
    {
        m_now = {};
        m_now.tm_wday = (weekday + 1) % 7;
        m_now.tm_hour = hour;
        m_now.tm_min = minute;
        m_now.tm_sec = 42;  // seconds never count
    }

private:
    std::tm m_now{};
};

constexpr int kMonday = 0, kTuesday = 1, kWednesday = 2;
constexpr int32_t kEveryDay = 0x7F;

int64_t at(int hour, int minute)
{
    return hour * 3600 + minute * 60;
}

ScheduleSettings window(int32_t mask, int64_t start, int64_t stop)
{
    return ScheduleSettings{mask, start, stop};
}

struct Step {
    int weekday;
    int hour;
    int minute;
    ScheduleState state;
    ScheduleAction action;
};

std::string describe(const Step& step)
{
    return "day " + std::to_string(step.weekday) + " " + std::to_string(step.hour) + ":" + std::to_string(step.minute);
}

void runTicks(const ScheduleSettings& settings, const std::vector<Step>& steps)
{
    FixedClock clock;
    Schedule schedule(clock, settings);
    for (const Step& step : steps) {
        SCOPED_TRACE(describe(step));
        clock.set(step.weekday, step.hour, step.minute);
        EXPECT_EQ(schedule.ScheduleTick(), step.action);
        EXPECT_EQ(schedule.state(), step.state);
        EXPECT_EQ(schedule.windowOpen(), step.state == ScheduleState::Started);
    }
}

using S = ScheduleState;
using A = ScheduleAction;

TEST(Schedule, OvernightWindowStartsStaysOpenPastMidnightStopsAndWaitsAgain)
{
    runTicks(window(kEveryDay | kScheduleStopEnabled, at(23, 0), at(2, 0)),
             {
                 {kMonday, 22, 59, S::NotStarted, A::None},
                 {kMonday, 23, 0, S::Started, A::StartWaitingJobs},
                 {kMonday, 23, 30, S::Started, A::None},
                 {kTuesday, 0, 0, S::Started, A::None},
                 {kTuesday, 1, 0, S::Started, A::None},
                 {kTuesday, 1, 59, S::Started, A::None},
                 {kTuesday, 2, 0, S::Stopped, A::StopScheduledJobs},
                 {kTuesday, 2, 1, S::NotStarted, A::None},
                 {kTuesday, 12, 0, S::NotStarted, A::None},
                 {kTuesday, 23, 0, S::Started, A::StartWaitingJobs},
             });
}

TEST(Schedule, DaytimeWindowFirstSeenAfterItsStopWaitsForTheNextDay)
{
    runTicks(window(kEveryDay | kScheduleStopEnabled, at(9, 0), at(17, 0)),
             {
                 {kMonday, 18, 0, S::NotStarted, A::None},
                 {kMonday, 23, 59, S::NotStarted, A::None},
                 {kTuesday, 0, 30, S::NotStarted, A::None},
                 {kTuesday, 8, 59, S::NotStarted, A::None},
                 {kTuesday, 9, 0, S::Started, A::StartWaitingJobs},
                 {kTuesday, 16, 59, S::Started, A::None},
                 {kTuesday, 17, 0, S::Stopped, A::StopScheduledJobs},
             });
}

TEST(Schedule, AWeekdayWithItsBitClearNeverOpensTheWindow)
{
    const int32_t mondayOnly = 0x01 | kScheduleStopEnabled;
    runTicks(window(mondayOnly, at(9, 0), at(17, 0)),
             {
                 {kTuesday, 9, 0, S::NotStarted, A::None},
                 {kTuesday, 12, 0, S::NotStarted, A::None},
                 {kWednesday, 9, 0, S::NotStarted, A::None},
             });
    // Sunday is bit 6.
    runTicks(window(0x40 | kScheduleStopEnabled, at(9, 0), at(17, 0)),
             {
                 {kMonday, 9, 0, S::NotStarted, A::None},
                 {6, 9, 0, S::Started, A::StartWaitingJobs},
             });
}

TEST(Schedule, OvernightWindowAfterMidnightBelongsToTheDayItBegan)
{
    // Scheduled on Monday evenings only: a start at 01:00 on Tuesday is
    // inside Monday's window, one at 01:00 on Wednesday is not.
    const ScheduleSettings mondayNight = window(0x01 | kScheduleStopEnabled, at(23, 0), at(2, 0));
    runTicks(mondayNight, {{kTuesday, 1, 0, S::Started, A::StartWaitingJobs}});
    runTicks(mondayNight, {{kWednesday, 1, 0, S::NotStarted, A::None}});
    // Without an enabled stop there is no overnight window.
    runTicks(window(kEveryDay, at(23, 0), at(2, 0)), {{kTuesday, 1, 0, S::NotStarted, A::None}});
}

TEST(Schedule, WithTheStopDisabledTheStateNeverBecomesStopped)
{
    runTicks(window(kEveryDay, at(9, 0), at(17, 0)),
             {
                 {kMonday, 9, 0, S::Started, A::StartWaitingJobs},
                 {kMonday, 17, 0, S::Started, A::None},
                 {kMonday, 23, 59, S::Started, A::None},
                 {kTuesday, 3, 0, S::Started, A::None},
                 {kTuesday, 17, 0, S::Started, A::None},
             });
}

TEST(Schedule, EvaluateWithoutCommitLeavesTheStateAlone)
{
    FixedClock clock;
    Schedule schedule(clock, window(kEveryDay | kScheduleStopEnabled, at(9, 0), at(17, 0)));
    clock.set(kMonday, 10, 0);
    EXPECT_EQ(schedule.EvaluateSchedule(false), S::Started);
    EXPECT_EQ(schedule.state(), S::NotStarted);
    EXPECT_EQ(schedule.EvaluateSchedule(true), S::Started);
    EXPECT_EQ(schedule.state(), S::Started);
    // A stopped schedule stays stopped under evaluation; only the tick
    // moves it on.
    clock.set(kMonday, 17, 0);
    EXPECT_EQ(schedule.EvaluateSchedule(true), S::Stopped);
    clock.set(kMonday, 10, 0);
    EXPECT_EQ(schedule.EvaluateSchedule(true), S::Stopped);
}

TEST(Schedule, ChangingTheStartOrStopTimeSendsTheStateBack)
{
    FixedClock clock;
    const ScheduleSettings first = window(kEveryDay | kScheduleStopEnabled, at(9, 0), at(17, 0));
    Schedule schedule(clock, first);
    clock.set(kMonday, 10, 0);
    ASSERT_EQ(schedule.ScheduleTick(), A::StartWaitingJobs);

    // Only the day mask changes: the open window stays open.
    ScheduleSettings days = first;
    days.dayMask = 0x01 | kScheduleStopEnabled;
    schedule.setSettings(days);
    EXPECT_EQ(schedule.state(), S::Started);

    ScheduleSettings later = days;
    later.stopTime = at(18, 0);
    schedule.setSettings(later);
    EXPECT_EQ(schedule.state(), S::NotStarted);
    // Re-entered at the next tick, so the queue is filled again.
    EXPECT_EQ(schedule.ScheduleTick(), A::StartWaitingJobs);

    schedule.resetState();
    EXPECT_EQ(schedule.state(), S::NotStarted);
}

TEST(Schedule, AZeroLengthWindowNeverOpens)
{
    runTicks(window(kEveryDay | kScheduleStopEnabled, at(9, 0), at(9, 0)),
             {
                 {kMonday, 8, 59, S::NotStarted, A::None},
                 {kMonday, 9, 0, S::NotStarted, A::None},
                 {kMonday, 12, 0, S::NotStarted, A::None},
             });
}

}  // namespace
}  // namespace fetchora
