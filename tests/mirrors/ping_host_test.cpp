// Ping: the average of five echoes with lost ones counted as the time-out,
// real echoes of the loopback addresses, and the URLs each ping worker takes.
#include "mirrors/ping_host.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

namespace fetchora {
namespace {

// Answers each echo with the next scripted time (-1: lost), waiting for a
// lost one as long as a real socket would (up to the time-out).
class ScriptedEchoSocket final : public EchoSocket {
public:
    explicit ScriptedEchoSocket(std::vector<int32_t> times, std::vector<uint16_t>* sequences = nullptr)
        : m_times(std::move(times)), m_sequences(sequences)
    {
    }
    int32_t echo(uint16_t sequence, int timeoutMs) override
    {
        if (m_sequences)
            m_sequences->push_back(sequence);
        const int32_t ms = m_next < m_times.size() ? m_times[m_next++] : -1;
        if (ms < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return ms;
    }

private:
    std::vector<int32_t> m_times;
    std::vector<uint16_t>* m_sequences;
    size_t m_next = 0;
};

PingOptions scripted(std::vector<int32_t> times, int timeoutMs = 2000, std::vector<uint16_t>* sequences = nullptr)
{
    PingOptions options;
    options.timeoutMs = timeoutMs;
    options.open = [times, sequences](const std::string&, std::string*) {
        return std::make_unique<ScriptedEchoSocket>(times, sequences);
    };
    return options;
}

TEST(PingHost, AverageOfFiveEchoesWithLostOnesCountedAsTheTimeOut)
{
    std::vector<uint16_t> sequences;
    EXPECT_EQ(PingHost("192.0.2.1", scripted({10, 20, 30, 40, 50}, 2000, &sequences)), 30);
    EXPECT_EQ(sequences, (std::vector<uint16_t>{1, 2, 3, 4, 5}));
    // One echo lost: (2000 + 4 * 5) / 5.
    EXPECT_EQ(PingHost("192.0.2.1", scripted({5, -1, 5, 5, 5}, 20)), (20 + 20) / 5);
    // Four lost and one at the limit still sum to below five time-outs.
    EXPECT_EQ(PingHost("192.0.2.1", scripted({-1, -1, -1, -1, 19}, 20)), (80 + 19) / 5);
    // An answer said to come after the time-out counts as the time-out.
    EXPECT_EQ(PingHost("192.0.2.1", scripted({-1, -1, -1, -1, 5000}, 20)), -1);
}

TEST(PingHost, FiveLostEchoesGiveNoTimeWithinTheTimeOuts)
{
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(PingHost("192.0.2.1", scripted({-1, -1, -1, -1, -1}, 40)), -1);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(190));
    EXPECT_LT(took, std::chrono::milliseconds(2000));
}

TEST(PingHost, NoSocketTheBroadcastAddressOrAStopGiveMinusOneAtOnce)
{
    PingOptions refused;
    refused.open = [](const std::string&, std::string*) { return std::unique_ptr<EchoSocket>(); };
    EXPECT_EQ(PingHost("127.0.0.1", refused), -1);
    EXPECT_EQ(PingHost("255.255.255.255", scripted({1, 1, 1, 1, 1})), -1);
    PingOptions stopped = scripted({1, 1, 1, 1, 1});
    stopped.alive = [] { return false; };
    EXPECT_EQ(PingHost("127.0.0.1", stopped), -1);
    std::string why;
    EXPECT_EQ(openEchoSocket("not-an-address", &why), nullptr);
    EXPECT_FALSE(why.empty());
}

std::string pingGroupRange()
{
    std::ifstream in("/proc/sys/net/ipv4/ping_group_range");
    std::string text;
    std::getline(in, text);
    return text;
}

// Real echoes: the loopback addresses always answer when an ICMP socket may
// be opened; where the kernel allows none, the ping must say -1.
void expectLoopbackEcho(const std::string& address)
{
    std::string why;
    std::unique_ptr<EchoSocket> socket = openEchoSocket(address, &why);
    PingOptions options;
    options.timeoutMs = 1000;
    const int32_t ms = PingHost(address, options);
    if (!socket) {
        EXPECT_EQ(ms, -1);
        GTEST_SKIP() << "no ICMP socket for " << address << ": " << why << " (ping_group_range \"" << pingGroupRange()
                     << "\", euid " << ::geteuid() << "); checked only that the ping answers -1";
    }
    EXPECT_GE(ms, 0) << address;
    EXPECT_LT(ms, 1000) << address;
    EXPECT_GE(socket->echo(77, 1000), 0);
}

TEST(PingHost, TheIpv4LoopbackAnswers)
{
    expectLoopbackEcho("127.0.0.1");
}

TEST(PingHost, TheIpv6LoopbackAnswers)
{
    expectLoopbackEcho("::1");
}

class RecordingPings final : public MirrorChannel {
public:
    bool alive() const override { return true; }
    void pingResult(size_t urlIndex, int32_t milliseconds, const std::string& address) override
    {
        results.push_back({urlIndex, milliseconds, address});
    }
    void foundUrls(const std::vector<std::string>&) override { }
    void logLine(ConnectionLogKind, std::string_view text) override { lines.emplace_back(text); }

    struct Result {
        size_t index;
        int32_t ms;
        std::string address;
    };
    std::vector<Result> results;
    std::vector<std::string> lines;
};

TEST(PingWorker, WorkerThreeOfTwentyFiveUrlsPingsThreeThirteenAndTwentyThree)
{
    MirrorTask task;
    auto channel = std::make_unique<RecordingPings>();
    RecordingPings& pings = *channel;
    task.channel = std::move(channel);
    for (int i = 0; i < 25; ++i) {
        UrlEntry url;
        url.host = "127.0.0." + std::to_string(i + 1);
        // Entry 13 has its address already: it is not looked up again.
        if (i == 13)
            url.resolvedAddress = "127.0.1.13";
        task.urls.push_back(url);
    }
    task.firstIndex = 3;
    std::vector<std::string> pinged;
    PingOptions options;
    options.timeoutMs = 10;
    options.open = [&pinged](const std::string& address, std::string*) {
        pinged.push_back(address);
        // The host of index 23 does not answer.
        return std::make_unique<ScriptedEchoSocket>(address == "127.0.0.24" ? std::vector<int32_t>{-1, -1, -1, -1, -1}
                                                                            : std::vector<int32_t>{7, 7, 7, 7, 7});
    };
    EXPECT_EQ(MirrorPingProcedureWith(task, options), 0);
    EXPECT_EQ(pinged, (std::vector<std::string>{"127.0.0.4", "127.0.1.13", "127.0.0.24"}));
    ASSERT_EQ(pings.results.size(), 3u);
    EXPECT_EQ(pings.results[0].index, 3u);
    EXPECT_EQ(pings.results[1].index, 13u);
    EXPECT_EQ(pings.results[2].index, 23u);
    EXPECT_EQ(pings.results[1].address, "127.0.1.13");
    EXPECT_EQ(pings.results[2].ms, -1);
    EXPECT_EQ(pings.lines, (std::vector<std::string>{"127.0.0.4  7ms", "127.0.0.14  7ms", "127.0.0.24  No Response"}));
}

}  // namespace
}  // namespace fetchora
