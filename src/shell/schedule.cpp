#include "shell/schedule.h"

#include "config/app_settings.h"

namespace fetchora {
namespace {

TimeOfDay timeOfDay(const std::tm& local)
{
    return {local.tm_hour, local.tm_min};
}

// std::tm counts weekdays from Sunday; the day mask from Monday.
int mondayBasedWeekday(const std::tm& local)
{
    return (local.tm_wday + 6) % 7;
}

}  // namespace

ScheduleSettings scheduleSettingsFrom(const AppSettings& settings)
{
    ScheduleSettings result;
    result.dayMask = settings.GetOption(OptionId::ScheduleFlags);
    result.startTime = settings.GetOption(OptionId::ScheduleStartTime);
    result.stopTime = settings.GetOption(OptionId::ScheduleStopTime);
    return result;
}

std::tm SystemScheduleClock::localNow() const
{
    return toLocal(static_cast<int64_t>(std::time(nullptr)));
}

std::tm SystemScheduleClock::toLocal(int64_t secondsSince1970) const
{
    const std::time_t when = static_cast<std::time_t>(secondsSince1970);
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

ScheduleState evaluateSchedule(ScheduleState state, const ScheduleSettings& settings, int weekday, TimeOfDay now,
                               TimeOfDay start, TimeOfDay stop)
{
    if (state == ScheduleState::Stopped)
        return ScheduleState::Stopped;
    const bool overnight = settings.stopEnabled() && stop < start;
    if (state == ScheduleState::NotStarted) {
        bool entered = false;
        if (now >= start)
            entered = settings.dayEnabled(weekday);
        else
            // Past midnight in a window that began yesterday evening: it is
            // yesterday's weekday that must be scheduled.
            entered = overnight && now < stop && settings.dayEnabled((weekday + 6) % 7);
        if (!entered)
            return ScheduleState::NotStarted;
    }
    // In an overnight window the stop lies after midnight, so the evening
    // part (now at or past the start) has not reached it yet.
    const bool stopReached = settings.stopEnabled() && (stop >= start || now < start) && now >= stop;
    if (!stopReached)
        return ScheduleState::Started;
    // A window that was never entered cannot be stopped.
    return state == ScheduleState::NotStarted ? ScheduleState::NotStarted : ScheduleState::Stopped;
}

Schedule::Schedule(const ScheduleClock& clock, ScheduleSettings settings) : m_clock(clock), m_settings(settings)
{
}

void Schedule::setSettings(const ScheduleSettings& settings)
{
    if (settings.startTime != m_settings.startTime || settings.stopTime != m_settings.stopTime)
        m_state = ScheduleState::NotStarted;
    m_settings = settings;
}

ScheduleState Schedule::EvaluateSchedule(bool commit)
{
    const std::tm now = m_clock.localNow();
    const ScheduleState result = evaluateSchedule(m_state, m_settings, mondayBasedWeekday(now), timeOfDay(now),
                                                  timeOfDay(m_clock.toLocal(m_settings.startTime)),
                                                  timeOfDay(m_clock.toLocal(m_settings.stopTime)));
    if (commit)
        m_state = result;
    return result;
}

ScheduleAction Schedule::ScheduleTick()
{
    switch (m_state) {
    case ScheduleState::NotStarted:
        return EvaluateSchedule(true) == ScheduleState::Started ? ScheduleAction::StartWaitingJobs
                                                                : ScheduleAction::None;
    case ScheduleState::Started:
        return EvaluateSchedule(true) == ScheduleState::Stopped ? ScheduleAction::StopScheduledJobs
                                                                : ScheduleAction::None;
    case ScheduleState::Stopped:
        // The next day's window is waited for.
        m_state = ScheduleState::NotStarted;
        return ScheduleAction::None;
    }
    return ScheduleAction::None;
}

}  // namespace fetchora
