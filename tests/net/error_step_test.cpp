#include <atomic>
#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include "net/error_step.h"
#include "net/socket_error.h"
#include "support/recording_log.h"

namespace fetchora {
namespace {

using test::RecordingLog;
using Ms = std::chrono::milliseconds;

TEST(SocketError, MapsErrnoValuesToTheClassicSocketCodes)
{
    EXPECT_EQ(socketErrorFromErrno(EINVAL), 10022u);
    EXPECT_EQ(socketErrorFromErrno(EWOULDBLOCK), 10035u);
    EXPECT_EQ(socketErrorFromErrno(ENETUNREACH), 10051u);
    EXPECT_EQ(socketErrorFromErrno(ECONNRESET), 10054u);
    EXPECT_EQ(socketErrorFromErrno(EPIPE), 10054u);
    EXPECT_EQ(socketErrorFromErrno(ETIMEDOUT), 10060u);
    EXPECT_EQ(socketErrorFromErrno(ECONNREFUSED), 10061u);
    // ENODATA is 61 on Linux: it must not pass for a refused connection.
    EXPECT_LT(socketErrorFromErrno(ENODATA), 10000u);
}

TEST(SocketError, TextHasBlanksAroundTheReasonAndEndsWithTheManualPointer)
{
    const std::string tail = " Please read user manual for more information.";
    EXPECT_EQ(SocketErrorText(10051), " Network is unreachable." + tail);
    EXPECT_EQ(SocketErrorText(10054), " Connection reset by peer." + tail);
    EXPECT_EQ(SocketErrorText(10060), " Connection refused." + tail);
    EXPECT_EQ(SocketErrorText(10061), " Connection refused." + tail);
    EXPECT_EQ(SocketErrorText(10022), "");
    EXPECT_EQ(SocketErrorText(0), "");
}

TEST(ErrorStep, RefusedConnectionLogsTheCodeAndItsTextThenWaitsTheRetryDelay)
{
    RecordingLog log;
    int asked = 0;
    const auto start = std::chrono::steady_clock::now();
    const ErrorStepResult result = runErrorStep(
        nullptr, 10061, [&] { return ++asked, true; }, 1, [] { return true; }, log);
    const auto waited = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(result, ErrorStepResult::Retry);
    EXPECT_EQ(asked, 1);
    EXPECT_GE(waited, Ms(950));
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{"Error occured! Socket Error=10061 Connection refused. Please "
                                        "read user manual for more information.",
                                        "Wait 1 second for retry"}));
    EXPECT_TRUE(log.has(ConnectionLogKind::Error, log.texts()[0]));
}

TEST(ErrorStep, WithoutASocketErrorLogsTheBareLineAndEndsWhenRetryIsRefused)
{
    RecordingLog log;
    EXPECT_EQ(runErrorStep(
                  nullptr, 0, [] { return false; }, 5, {}, log),
              ErrorStepResult::End);
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Error occured!"});
}

TEST(ErrorStep, UnknownCodeIsLoggedWithoutAText)
{
    RecordingLog log;
    runErrorStep(
        nullptr, 10022, [] { return false; }, 5, {}, log);
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Error occured! Socket Error=10022"});
}

TEST(RetryWait, NegativeDelayCountsAsOneSecond)
{
    RecordingLog log;
    EXPECT_TRUE(waitBeforeRetry(-3, {}, log));
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Wait 1 second for retry"});
}

TEST(RetryWait, StopsSoonAfterTheAliveFlagIsCleared)
{
    RecordingLog log;
    std::atomic<bool> alive{true};
    std::thread stopper([&] {
        std::this_thread::sleep_for(Ms(150));
        alive = false;
    });
    const auto start = std::chrono::steady_clock::now();
    const ErrorStepResult result = runErrorStep(
        nullptr, 10054, [] { return true; }, 60, [&] { return alive.load(); }, log);
    const auto waited = std::chrono::steady_clock::now() - start;
    stopper.join();

    EXPECT_EQ(result, ErrorStepResult::Stopped);
    EXPECT_LT(waited, Ms(1000));
}

}  // namespace
}  // namespace fetchora
