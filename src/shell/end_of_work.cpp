#include "shell/end_of_work.h"

#include <utility>

#include "config/app_settings.h"
#include "lang/string_table.h"
#include "platform/desktop_actions.h"
#include "shell/shell_texts.h"

namespace fetchora {

std::string CountdownText(std::string_view text, int32_t seconds)
{
    return fillPrintfFields(text, {std::to_string(seconds)});
}

EndOfWorkSettings endOfWorkSettingsFrom(const AppSettings& settings)
{
    EndOfWorkSettings result;
    result.playSounds = settings.GetOption(OptionId::PlaySounds) != 0;
    result.allDoneSound = settings.GetOptionText(OptionId::SoundAllDone);
    result.dialUpFlags = settings.values().dialUpFlags;
    result.hangUpSeconds = settings.hangUpSeconds();
    result.shutDownSeconds = settings.shutDownSeconds();
    result.closeSeconds = settings.closeSeconds();
    result.alwaysShutDown = settings.alwaysShutDown();
    return result;
}

EndOfWork::EndOfWork(DesktopActions& desktop, DialUp& dialUp, Countdown& countdown, EndOfWorkHost& host,
                     StringLookup text)
    : m_desktop(desktop),
      m_dialUp(dialUp),
      m_countdown(countdown),
      m_host(host),
      m_text(std::move(text)),
      m_self(std::make_shared<EndOfWork*>(this))
{
}

EndOfWork::~EndOfWork() = default;

void EndOfWork::OnAllJobsDone(const EndOfWorkSettings& settings, bool scheduledJobsWaiting)
{
    if (m_busy)
        return;
    m_settings = settings;
    m_scheduledJobsWaiting = scheduledJobsWaiting;

    if (settings.playSounds && !settings.allDoneSound.empty())
        m_desktop.playSound(settings.allDoneSound);

    if ((settings.dialUpFlags & kDialUpHangUpWhenDone) != 0 && m_dialUp.available() && m_dialUp.isConnected()) {
        // Cancelling the hang-up leaves everything as it is: no shut-down and
        // no close follow.
        runCountdown(kHangUpCaptionString, kHangUpTextString, settings.hangUpSeconds, &EndOfWork::hangUpConfirmed);
        return;
    }
    afterHangUp();
}

void EndOfWork::hangUpConfirmed()
{
    m_dialUp.hangUp();
    afterHangUp();
}

void EndOfWork::afterHangUp()
{
    const bool nothingWaits = !m_scheduledJobsWaiting;
    if ((m_settings.dialUpFlags & kDialUpShutDownWhenDone) != 0 && (nothingWaits || m_settings.alwaysShutDown))
        runCountdown(kShutDownCaptionString, kShutDownTextString, m_settings.shutDownSeconds,
                     &EndOfWork::shutDownConfirmed);
    else if ((m_settings.dialUpFlags & kDialUpCloseWhenDone) != 0 && nothingWaits)
        runCountdown(kAppTitleString, kCloseTextString, m_settings.closeSeconds, &EndOfWork::closeConfirmed);
}

void EndOfWork::runCountdown(uint32_t captionId, uint32_t textId, int32_t seconds, void (EndOfWork::*onOk)())
{
    m_busy = true;
    CountdownRequest request{m_text(captionId), m_text(textId), seconds};
    std::weak_ptr<EndOfWork*> self = m_self;
    m_countdown.start(request, [self, onOk](bool ok) {
        const std::shared_ptr<EndOfWork*> alive = self.lock();
        if (!alive)
            return;
        EndOfWork& work = **alive;
        work.m_busy = false;
        if (ok)
            (work.*onOk)();
    });
}

void EndOfWork::shutDownConfirmed()
{
    m_shutDownAtExit = true;
    m_host.requestExit();
}

void EndOfWork::closeConfirmed()
{
    m_shutDownAtExit = false;
    m_host.requestExit();
}

ShutDownResult ShutDownAtExit(PowerControl& power)
{
    if (!power.canPowerOff())
        return ShutDownResult::NotPermitted;
    return power.powerOff() ? ShutDownResult::PoweredOff : ShutDownResult::Refused;
}

std::string describe(ShutDownResult result)
{
    switch (result) {
    case ShutDownResult::PoweredOff: return builtinText(kStrPoweredOff);
    case ShutDownResult::NotPermitted: return builtinText(kStrPowerOffNotPermitted);
    case ShutDownResult::Refused: return builtinText(kStrPowerOffRefused);
    }
    return {};
}

}  // namespace fetchora
