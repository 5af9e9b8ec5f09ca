// Randomized downloads through a fault-injecting proxy in front of real
// servers (nginx over HTTP and HTTPS, pyftpdlib and vsftpd over FTP). Whatever
// the faults, every download fetchora-cli reports as completed must be
// byte-identical to its source, and every other one must end as a failure
// that names its cause; a crash, a hang or a wrong file fails the run.
//
// The CI run is short and seeded. tests/scripts/soak.sh runs the long one
// through these variables:
//   FETCHORA_SOAK_SEED      the run's seed (each download's plan follows from it)
//   FETCHORA_SOAK_COUNT     how many downloads
//   FETCHORA_SOAK_MAX_MIB   the largest file, in MiB (FETCHORA_BIG_TEST_MIB may lower it)
//   FETCHORA_SOAK_STALLS    1: also stall connections past the data time-out
//   FETCHORA_SOAK_JOBS      downloads run at once
//   FETCHORA_SOAK_ONLY      replay just this download of the run
#include "config/app_settings.h"
#include "support/cli_process.h"
#include "support/fault_proxy.h"
#include "support/profile_settings.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

namespace fetchora {
namespace {

using test::FaultOdds;
using test::FaultProxy;
using test::ProxiedProtocol;

int64_t environmentNumber(const char* name, int64_t fallback)
{
    const char* text = std::getenv(name);
    return text && *text ? std::strtoll(text, nullptr, 10) : fallback;
}

enum class Server { Http, Https, Pyftpdlib, Vsftpd };
const char* const kServerNames[] = {"http", "https", "pyftpdlib", "vsftpd"};

// One download of the run, all drawn from the run's seed and its number.
struct Plan {
    int number = 0;
    Server server = Server::Http;
    int connections = 1;
    int64_t size = 0;
    int64_t limit = 0;  // bytes per second, 0: none

    std::string describe() const
    {
        std::ostringstream text;
        text << "#" << number << " " << kServerNames[int(server)] << " -s " << connections << " " << size << " bytes";
        if (limit > 0)
            text << " --limit " << limit;
        return text.str();
    }
};

Plan drawPlan(uint64_t seed, int number, int64_t largest)
{
    std::mt19937_64 random(seed * 1000003 + uint64_t(number));
    Plan plan;
    plan.number = number;
    plan.server = Server(random() % 4);
    plan.connections = 1 + int(random() % 16);
    // Sizes spread over powers of two, with empty files and the largest now and then.
    const auto kind = random() % 20;
    if (kind == 0)
        plan.size = 0;
    else if (kind == 1)
        plan.size = largest;
    else
        plan.size = std::min<int64_t>(largest, int64_t(random() % (uint64_t(1) << (1 + random() % 26))));
    // A limit that keeps the download to a few seconds.
    if (random() % 6 == 0)
        plan.limit = std::max<int64_t>(64 * 1024, plan.size / int64_t(2 + random() % 4));
    return plan;
}

struct Outcome {
    Plan plan;
    int code = -3;
    std::string err;
    bool identical = false;
    std::string difference;
    bool leftovers = false;
    std::vector<std::string> faults;
    double seconds = 0;
};

class Soak : public testing::Test {
protected:
    void SetUp() override
    {
        m_seed = uint64_t(environmentNumber("FETCHORA_SOAK_SEED", 20261209));
        m_count = int(environmentNumber("FETCHORA_SOAK_COUNT", 30));
        m_largest = std::min<int64_t>(environmentNumber("FETCHORA_SOAK_MAX_MIB", 3) << 20,
                                      test::bigTestFileBytes(environmentNumber("FETCHORA_SOAK_MAX_MIB", 3)));
        m_only = int(environmentNumber("FETCHORA_SOAK_ONLY", -1));
        m_longest = int(environmentNumber("FETCHORA_SOAK_LONGEST", m_longest));
        m_jobs = int(std::clamp<int64_t>(environmentNumber("FETCHORA_SOAK_JOBS", 3), 1, 8));
        if (environmentNumber("FETCHORA_SOAK_STALLS", 0) == 0)
            m_odds.stall = 0;
        std::cout << "soak seed " << m_seed << ", " << m_count << " downloads up to " << m_largest << " bytes, "
                  << m_jobs << " at once, stalls " << (m_odds.stall > 0 ? "on" : "off") << std::endl;
    }

    Outcome run(const Plan& plan)
    {
        Outcome outcome;
        outcome.plan = plan;
        const auto dir = m_dir.path() / ("d" + std::to_string(plan.number));
        std::filesystem::create_directories(dir / "home");
        std::filesystem::create_directories(dir / "out");
        // Retries come quickly so that a fault costs seconds, not minutes.
        if (!test::changeProfileSettings(dir / "home", dir,
                                         [](AppSettings& settings) { settings.SetOption(OptionId::RetryDelay, 1); })) {
            outcome.err = "cannot prepare the profile";
            return outcome;
        }
        const std::string name = "f" + std::to_string(plan.number) + ".bin";
        std::filesystem::path source;
        uint16_t target = 0;
        ProxiedProtocol protocol = ProxiedProtocol::Http;
        switch (plan.server) {
        case Server::Http:
        case Server::Https:
            source = m_nginx->www() / name;
            target = plan.server == Server::Http ? m_nginx->httpPort() : m_nginx->httpsPort();
            protocol = plan.server == Server::Http ? ProxiedProtocol::Http : ProxiedProtocol::Tls;
            break;
        case Server::Pyftpdlib:
            source = m_pyftpdlib->anonymousRoot() / name;
            target = m_pyftpdlib->port();
            protocol = ProxiedProtocol::Ftp;
            break;
        case Server::Vsftpd:
            source = m_vsftpd->anonymousRoot() / name;
            target = m_vsftpd->port();
            protocol = ProxiedProtocol::Ftp;
            break;
        }
        test::writePseudoRandomFile(source, plan.size, m_seed + uint64_t(plan.number));
        const auto started = std::chrono::steady_clock::now();
        {
            FaultProxy proxy(target, protocol, m_seed * 7919 + uint64_t(plan.number), m_odds);
            const std::string scheme = plan.server == Server::Http ? "http"
                : plan.server == Server::Https                     ? "https"
                                                                   : "ftp";
            std::vector<std::string> arguments{
                "-q",        "-d", (dir / "out").string(), "-s", std::to_string(plan.connections), "--retry", "30",
                "--timeout", "30"};
            // A replayed download shows its part log.
            if (m_only >= 0)
                arguments.push_back("-v");
            if (plan.server == Server::Https) {
                arguments.push_back("--ca-file");
                arguments.push_back(m_nginx->certificateFile().string());
            }
            if (plan.limit > 0) {
                arguments.push_back("--limit");
                arguments.push_back(std::to_string(plan.limit));
            }
            arguments.push_back(scheme + "://127.0.0.1:" + std::to_string(proxy.port()) + "/" + name);
            test::CliProcess cli(arguments, test::ownProfileEnvironment(dir), dir);
            outcome.code = cli.wait(std::chrono::seconds(m_longest));
            outcome.err = cli.standardError();
            outcome.faults = proxy.faults();
        }
        outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const auto saved = dir / "out" / name;
        if (outcome.code == 0) {
            const auto same = test::sameFileBytes(source, saved);
            outcome.identical = bool(same);
            outcome.difference = same.message();
        }
        for (const auto& entry : std::filesystem::directory_iterator(dir / "out"))
            if (entry.path() != saved)
                outcome.leftovers = true;
        std::filesystem::remove(source);
        std::filesystem::remove_all(dir);
        return outcome;
    }

    uint64_t m_seed = 0;
    int m_count = 0;
    int64_t m_largest = 0;
    int m_jobs = 1;
    int m_only = -1;
    // A download that takes longer has hung: the CLI is killed (exit -2).
    int m_longest = 300;
    FaultOdds m_odds;
    test::TempDir m_dir;
    std::optional<test::NginxPeer> m_nginx;
    std::optional<test::PyftpdlibPeer> m_pyftpdlib;
    std::optional<test::VsftpdPeer> m_vsftpd;
};

TEST_F(Soak, DownloadsThroughInjectedFaultsCompleteIdenticalOrFailWithACause)
{
    m_nginx.emplace();
    m_pyftpdlib.emplace();
    m_vsftpd.emplace();

    std::vector<Outcome> outcomes(static_cast<std::size_t>(m_count));
    std::atomic<int> next{0};
    std::mutex printing;
    std::vector<std::thread> workers;
    for (int worker = 0; worker < m_jobs; ++worker)
        workers.emplace_back([&] {
            for (int number; (number = next++) < m_count;) {
                if (m_only >= 0 && number != m_only) {
                    outcomes[std::size_t(number)].code = 0;
                    outcomes[std::size_t(number)].identical = true;
                    continue;
                }
                outcomes[std::size_t(number)] = run(drawPlan(m_seed, number, m_largest));
                const Outcome& done = outcomes[std::size_t(number)];
                std::lock_guard lock(printing);
                std::cout << done.plan.describe() << ": exit " << done.code << " in " << done.seconds << " s, "
                          << done.faults.size() << " connections" << std::endl;
                if (m_only >= 0) {
                    for (const auto& fault : done.faults)
                        std::cout << "  " << fault << std::endl;
                    std::cout << done.err << std::endl;
                }
            }
        });
    for (auto& worker : workers)
        worker.join();

    int completed = 0;
    int failed = 0;
    int faulted = 0;
    for (const Outcome& outcome : outcomes) {
        const std::string context = outcome.plan.describe() + " (seed " + std::to_string(m_seed) + ")";
        std::string faults;
        for (const auto& fault : outcome.faults) {
            faults += "\n  " + fault;
            if (fault != "clean" && fault != "data: clean")
                ++faulted;
        }
        ASSERT_TRUE(outcome.code == 0 || outcome.code == 1) << context << ": exit " << outcome.code << "\n"
                                                            << outcome.err << faults;
        if (outcome.code == 0) {
            ++completed;
            EXPECT_TRUE(outcome.identical) << context << ": completed but " << outcome.difference << faults;
            EXPECT_FALSE(outcome.leftovers) << context << ": files besides the download are left" << faults;
        } else {
            ++failed;
            // "NAME: failed: CAUSE", with a cause.
            const auto at = outcome.err.find(": failed: ");
            ASSERT_NE(at, std::string::npos) << context << ": failed without saying so\n" << outcome.err << faults;
            const auto cause = outcome.err.substr(at + 10, outcome.err.find('\n', at) - at - 10);
            EXPECT_FALSE(cause.empty()) << context << "\n" << outcome.err;
            std::cout << context << " failed: " << cause << faults << std::endl;
        }
    }
    std::cout << "soak seed " << m_seed << ": " << completed << " completed, " << failed << " failed, " << faulted
              << " connections faulted" << std::endl;
    EXPECT_GT(faulted, 0) << "the proxy spoiled nothing";
    // The retries outlast the faults: nearly every download gets through.
    EXPECT_GE(completed * 10, m_count * 9) << completed << " of " << m_count << " completed";
}

}  // namespace
}  // namespace fetchora
