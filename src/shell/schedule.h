#pragma once
// The daily download schedule: jobs whose start mode is "by schedule" may run
// between a start time and an optional stop time on the chosen weekdays.
//
// The schedule is a three-state machine (not started, started, stopped)
// evaluated once a minute by the main view's timer. `ScheduleTick` only
// decides: it returns what the caller must do (fill the queue, or stop the
// running scheduled jobs with stop reason 4) and advances the state.
//
// Thread: loop thread; the caller holds the job lock while it acts on the
// tick's decision. Borrows the clock, which must outlive the schedule.
#include <compare>
#include <cstdint>
#include <ctime>

namespace fetchora {

class AppSettings;

// Day mask bits: 0..6 are Monday..Sunday.
inline constexpr int32_t kScheduleStopEnabled = 0x8000;

// Options 122, 123 and 124. The times are seconds since 1970-01-01 UTC; only
// their local hour and minute count.
struct ScheduleSettings {
    int32_t dayMask = 0x807F;
    int64_t startTime = 915123600;
    int64_t stopTime = 915138000;

    bool stopEnabled() const { return (dayMask & kScheduleStopEnabled) != 0; }
    // weekday: 0 Monday .. 6 Sunday.
    bool dayEnabled(int weekday) const { return weekday >= 0 && weekday < 7 && (dayMask & (1 << weekday)) != 0; }
};

ScheduleSettings scheduleSettingsFrom(const AppSettings& settings);

// Where the schedule takes local time from, so that tests can set the hour.
class ScheduleClock {
public:
    virtual ~ScheduleClock() = default;
    // The local time now.
    virtual std::tm localNow() const = 0;
    // A stored time (seconds since 1970 UTC) in local time.
    virtual std::tm toLocal(int64_t secondsSince1970) const = 0;
};

// The machine's clock and time zone.
class SystemScheduleClock final : public ScheduleClock {
public:
    std::tm localNow() const override;
    std::tm toLocal(int64_t secondsSince1970) const override;
};

enum class ScheduleState : int16_t { NotStarted = -1, Started = 0, Stopped = 1 };

// What the minute tick asks of the caller.
enum class ScheduleAction {
    None,
    // Start waiting jobs until "SimJobs" run (the queue's FillQueue).
    StartWaitingJobs,
    // Stop every running, not deleted job of the downloading list whose start
    // mode is "by schedule", with stop reason 4 (log 61287 "Schedule stop!").
    StopScheduledJobs,
};

// A time of day, compared by hour and then minute.
struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    friend constexpr auto operator<=>(const TimeOfDay&, const TimeOfDay&) = default;
};

// The pure rule behind EvaluateSchedule. weekday: 0 Monday .. 6 Sunday.
ScheduleState evaluateSchedule(ScheduleState state, const ScheduleSettings& settings, int weekday, TimeOfDay now,
                               TimeOfDay start, TimeOfDay stop);

class Schedule {
public:
    explicit Schedule(const ScheduleClock& clock, ScheduleSettings settings = {});

    // New settings; a changed start or stop time sends the state back to
    // NotStarted, as the options page's change does.
    void setSettings(const ScheduleSettings& settings);
    const ScheduleSettings& settings() const { return m_settings; }
    // The start or stop time changed elsewhere (AppSettings' observer).
    void resetState() { m_state = ScheduleState::NotStarted; }

    ScheduleState state() const { return m_state; }
    const ScheduleClock& clock() const { return m_clock; }
    // Whether jobs started by the schedule may run now (the queue host's
    // scheduleWindowOpen).
    bool windowOpen() const { return m_state == ScheduleState::Started; }

    // The state the schedule has at this moment; stored when commit is set.
    ScheduleState EvaluateSchedule(bool commit);
    // The once-a-minute step.
    ScheduleAction ScheduleTick();

private:
    const ScheduleClock& m_clock;
    ScheduleSettings m_settings;
    ScheduleState m_state = ScheduleState::NotStarted;
};

}  // namespace fetchora
