#include "shell/end_of_work.h"

#include "platform/desktop_actions.h"
#include "platform/message_loop.h"
#include "shell/timer_countdown.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace fetchora {
namespace {

class RecordingDesktop final : public DesktopActions {
public:
    bool open(const std::string&) override { return true; }
    bool showInFolder(const std::filesystem::path&) override { return true; }
    bool playSound(const std::filesystem::path& file) override
    {
        sounds.push_back(file.string());
        return true;
    }
    bool startProgram(const std::vector<std::string>&) override { return true; }
    std::vector<std::string> sounds;
};

class FakeDialUp final : public DialUp {
public:
    bool available() const override { return true; }
    bool isConnected() const override { return connected; }
    bool hangUp() override
    {
        ++hangUps;
        connected = false;
        return true;
    }
    bool connected = true;
    int hangUps = 0;
};

// Holds each countdown until the test answers it.
class ScriptedCountdown final : public Countdown {
public:
    void start(const CountdownRequest& request, std::function<void(bool)> done) override
    {
        shown.push_back(request);
        m_done = std::move(done);
    }
    bool pending() const { return static_cast<bool>(m_done); }
    void answer(bool ok)
    {
        ASSERT_TRUE(pending());
        auto done = std::move(m_done);
        m_done = nullptr;
        done(ok);
    }
    std::vector<CountdownRequest> shown;

private:
    std::function<void(bool)> m_done;
};

class RecordingHost final : public EndOfWorkHost {
public:
    void requestExit() override { ++exits; }
    int exits = 0;
};

class EndOfWorkTest : public ::testing::Test {
protected:
    EndOfWorkSettings settings(int32_t dialUpFlags)
    {
        EndOfWorkSettings s;
        s.dialUpFlags = dialUpFlags;
        s.hangUpSeconds = 15;
        s.shutDownSeconds = 30;
        s.closeSeconds = 12;
        return s;
    }
    std::vector<std::string> captions() const
    {
        std::vector<std::string> result;
        for (const CountdownRequest& request : countdown.shown)
            result.push_back(request.caption);
        return result;
    }

    RecordingDesktop desktop;
    FakeDialUp dialUp;
    ScriptedCountdown countdown;
    RecordingHost host;
    EndOfWork work{desktop, dialUp, countdown, host};
};

using Captions = std::vector<std::string>;

TEST_F(EndOfWorkTest, HangUpRunsFirstAndItsCancelCancelsTheShutDown)
{
    work.OnAllJobsDone(settings(kDialUpHangUpWhenDone | kDialUpShutDownWhenDone | kDialUpCloseWhenDone), false);
    ASSERT_EQ(captions(), Captions{"HangUp"});
    EXPECT_EQ(countdown.shown[0].text, "Fetchora will hangup in %d seconds.");
    EXPECT_EQ(countdown.shown[0].seconds, 15);
    EXPECT_TRUE(work.busy());

    countdown.answer(false);
    EXPECT_FALSE(countdown.pending());
    EXPECT_EQ(captions(), Captions{"HangUp"});
    EXPECT_EQ(dialUp.hangUps, 0);
    EXPECT_EQ(host.exits, 0);
    EXPECT_FALSE(work.shutDownAtExit());
    EXPECT_FALSE(work.busy());
}

TEST_F(EndOfWorkTest, HangUpOkHangsUpThenShutDownOkMarksThePowerOffAndExits)
{
    work.OnAllJobsDone(settings(kDialUpHangUpWhenDone | kDialUpShutDownWhenDone), false);
    countdown.answer(true);
    EXPECT_EQ(dialUp.hangUps, 1);
    ASSERT_EQ(captions(), (Captions{"HangUp", "Shutdown"}));
    EXPECT_EQ(countdown.shown[1].text, "Fetchora will shutdown Windows in %d seconds.");
    EXPECT_EQ(countdown.shown[1].seconds, 30);
    EXPECT_EQ(host.exits, 0);

    countdown.answer(true);
    EXPECT_TRUE(work.shutDownAtExit());
    EXPECT_EQ(host.exits, 1);
    EXPECT_FALSE(work.busy());
}

TEST_F(EndOfWorkTest, ScheduledJobsWaitingPreventShutDownAndCloseButNotHangUp)
{
    const int32_t all = kDialUpHangUpWhenDone | kDialUpShutDownWhenDone | kDialUpCloseWhenDone;
    work.OnAllJobsDone(settings(all), true);
    ASSERT_EQ(captions(), Captions{"HangUp"});
    countdown.answer(true);
    EXPECT_EQ(dialUp.hangUps, 1);
    EXPECT_FALSE(countdown.pending());
    EXPECT_EQ(captions(), Captions{"HangUp"});
    EXPECT_EQ(host.exits, 0);
    EXPECT_FALSE(work.shutDownAtExit());
}

TEST_F(EndOfWorkTest, AlwaysShutDownShutsDownEvenWithScheduledJobsWaiting)
{
    EndOfWorkSettings s = settings(kDialUpShutDownWhenDone | kDialUpCloseWhenDone);
    s.alwaysShutDown = true;
    work.OnAllJobsDone(s, true);
    ASSERT_EQ(captions(), Captions{"Shutdown"});
    countdown.answer(true);
    EXPECT_TRUE(work.shutDownAtExit());
    EXPECT_EQ(host.exits, 1);
}

TEST_F(EndOfWorkTest, CloseRunsOnlyWithoutShutDownAndClearsTheMark)
{
    work.OnAllJobsDone(settings(kDialUpCloseWhenDone), false);
    ASSERT_EQ(captions(), Captions{"Fetchora"});
    EXPECT_EQ(countdown.shown[0].text, "Fetchora will close in %d seconds.");
    EXPECT_EQ(countdown.shown[0].seconds, 12);
    countdown.answer(true);
    EXPECT_EQ(host.exits, 1);
    EXPECT_FALSE(work.shutDownAtExit());

    // A cancelled shut-down does not fall through to the close.
    work.OnAllJobsDone(settings(kDialUpShutDownWhenDone | kDialUpCloseWhenDone), false);
    ASSERT_EQ(captions(), (Captions{"Fetchora", "Shutdown"}));
    countdown.answer(false);
    EXPECT_FALSE(countdown.pending());
    EXPECT_EQ(host.exits, 1);
}

TEST_F(EndOfWorkTest, NoHangUpWithoutALiveConnectionOrWithoutDialUp)
{
    dialUp.connected = false;
    work.OnAllJobsDone(settings(kDialUpHangUpWhenDone | kDialUpShutDownWhenDone), false);
    EXPECT_EQ(captions(), Captions{"Shutdown"});
    countdown.answer(false);

    NoDialUp none;
    ScriptedCountdown other;
    EndOfWork headless(desktop, none, other, host);
    headless.OnAllJobsDone(settings(kDialUpHangUpWhenDone), false);
    EXPECT_TRUE(other.shown.empty());
}

TEST_F(EndOfWorkTest, PlaysTheAllDoneSoundOnlyWhenSoundsAreOnAndAFileIsSet)
{
    EndOfWorkSettings s = settings(0);
    s.allDoneSound = "/usr/share/fetchora/all_done.wav";
    work.OnAllJobsDone(s, false);
    EXPECT_TRUE(desktop.sounds.empty());
    s.playSounds = true;
    work.OnAllJobsDone(s, false);
    EXPECT_EQ(desktop.sounds, std::vector<std::string>{"/usr/share/fetchora/all_done.wav"});
    s.allDoneSound.clear();
    work.OnAllJobsDone(s, false);
    EXPECT_EQ(desktop.sounds.size(), 1u);
    EXPECT_TRUE(countdown.shown.empty());
}

TEST_F(EndOfWorkTest, AnAllDoneDuringARunningCountdownIsIgnored)
{
    work.OnAllJobsDone(settings(kDialUpShutDownWhenDone), false);
    work.OnAllJobsDone(settings(kDialUpShutDownWhenDone), false);
    EXPECT_EQ(countdown.shown.size(), 1u);
    countdown.answer(true);
    EXPECT_EQ(host.exits, 1);
}

TEST_F(EndOfWorkTest, ACompletionAfterTheEndOfWorkIsGoneDoesNothing)
{
    ScriptedCountdown late;
    {
        EndOfWork shortLived(desktop, dialUp, late, host);
        shortLived.OnAllJobsDone(settings(kDialUpShutDownWhenDone), false);
    }
    late.answer(true);
    EXPECT_EQ(host.exits, 0);
}

TEST(CountdownText, FillsTheSecondsIntoTheText)
{
    EXPECT_EQ(CountdownText("Fetchora will close in %d seconds.", 15), "Fetchora will close in 15 seconds.");
    EXPECT_EQ(CountdownText("%d", 0), "0");
    // A translation without the field is shown as it is.
    EXPECT_EQ(CountdownText("Closing", 3), "Closing");
}

class RecordingPower final : public PowerControl {
public:
    bool canPowerOff() override
    {
        calls.push_back("canPowerOff");
        return allowed;
    }
    bool powerOff() override
    {
        calls.push_back("powerOff");
        return accepted;
    }
    void holdSleepInhibitor(bool) override { calls.push_back("inhibit"); }
    bool allowed = true;
    bool accepted = true;
    std::vector<std::string> calls;
};

TEST(ShutDownAtExit, ProbesFirstAndAsksOnceWhateverTheAnswer)
{
    using Calls = std::vector<std::string>;
    RecordingPower power;
    EXPECT_EQ(ShutDownAtExit(power), ShutDownResult::PoweredOff);
    EXPECT_EQ(power.calls, (Calls{"canPowerOff", "powerOff"}));

    RecordingPower refusing;
    refusing.accepted = false;
    EXPECT_EQ(ShutDownAtExit(refusing), ShutDownResult::Refused);
    EXPECT_EQ(refusing.calls, (Calls{"canPowerOff", "powerOff"}));
    EXPECT_NE(describe(ShutDownResult::Refused).find("only the program ends"), std::string::npos);

    RecordingPower forbidden;
    forbidden.allowed = false;
    EXPECT_EQ(ShutDownAtExit(forbidden), ShutDownResult::NotPermitted);
    EXPECT_EQ(forbidden.calls, Calls{"canPowerOff"});
}

TEST(TimerCountdown, CompletesWithOkAfterItsSecondsOnTheLoop)
{
    ManualClock clock(1000);
    MessageLoop loop(clock);
    std::vector<std::string> lines;
    TimerCountdown countdown(loop, [&](const std::string& line) { lines.push_back(line); });
    std::vector<bool> results;
    countdown.start({"Shutdown", "Fetchora will shutdown Windows in %d seconds.", 3},
                    [&](bool ok) { results.push_back(ok); });
    EXPECT_EQ(lines, std::vector<std::string>{"Shutdown: Fetchora will shutdown Windows in 3 seconds."});
    for (int second = 0; second < 2; ++second) {
        clock.advance(1000);
        loop.processPending();
    }
    EXPECT_TRUE(results.empty());
    EXPECT_EQ(countdown.secondsLeft(), 1);
    clock.advance(1000);
    loop.processPending();
    EXPECT_EQ(results, std::vector<bool>{true});
    EXPECT_FALSE(countdown.running());

    // Cancelled by the owner; a second start cancels the first.
    countdown.start({"a", "%d", 5}, [&](bool ok) { results.push_back(ok); });
    countdown.start({"b", "%d", 0}, [&](bool ok) { results.push_back(ok); });
    EXPECT_EQ(results, (std::vector<bool>{true, false}));
    clock.advance(1);
    loop.processPending();
    EXPECT_EQ(results, (std::vector<bool>{true, false, true}));
    countdown.cancel();
    EXPECT_EQ(results.size(), 3u);
}

TEST(TimerCountdown, DrivesTheEndOfWorkChainWithoutBlockingTheLoop)
{
    ManualClock clock(0);
    MessageLoop loop(clock);
    TimerCountdown countdown(loop, nullptr);
    RecordingDesktop desktop;
    FakeDialUp dialUp;
    RecordingHost host;
    EndOfWork work(desktop, dialUp, countdown, host);
    EndOfWorkSettings s;
    s.dialUpFlags = kDialUpHangUpWhenDone | kDialUpShutDownWhenDone;
    s.hangUpSeconds = 1;
    s.shutDownSeconds = 2;
    work.OnAllJobsDone(s, false);
    EXPECT_TRUE(work.busy());
    for (int second = 0; second < 3; ++second) {
        clock.advance(1000);
        loop.processPending();
    }
    EXPECT_EQ(dialUp.hangUps, 1);
    EXPECT_EQ(host.exits, 1);
    EXPECT_TRUE(work.shutDownAtExit());
}

}  // namespace
}  // namespace fetchora
