// fetchora-cli --daemon killed with SIGKILL over and over while it downloads
// a mix of small and large files (HTTP from nginx, FTP from vsftpd, both
// rate-limited so that kills land mid-transfer) that are handed to it with
// --send: at random moments, at the moment a save of the database begins
// (watched with inotify), and while URLs are being handed over. After each
// kill the database opens whole, holds every job the daemon acknowledged
// once only, and every byte it claims for a job is the source's; a job it
// records as finished has its file byte-identical under its own name. A last
// run ends every job, each file once, byte-identical, with no "name(1)"
// copies.
//
// FETCHORA_DAEMON_KILL_CYCLES sets the number of kills (12 by default) and
// FETCHORA_KILL_SEED the seed of the kill moments (printed, so that a failing
// series can be run again).
#include "model/database_file.h"
#include "model/finish_journal.h"
#include "model/job_database.h"
#include "platform/job_lock.h"
#include "support/cli_process.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <thread>

namespace fetchora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

int fromEnvironment(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

constexpr std::string_view kImageTemporary = "Default.kxd.tmp-";

// Whether bytes [start, end) of the two files are the same.
bool sameRange(const fs::path& expected, const fs::path& actual, int64_t start, int64_t end)
{
    std::ifstream a(expected, std::ios::binary);
    std::ifstream b(actual, std::ios::binary);
    if (!a || !b)
        return false;
    a.seekg(start);
    b.seekg(start);
    std::string left(static_cast<size_t>(end - start), '\0');
    std::string right(left.size(), '\0');
    a.read(left.data(), static_cast<std::streamsize>(left.size()));
    b.read(right.data(), static_cast<std::streamsize>(right.size()));
    return a.gcount() == static_cast<std::streamsize>(left.size()) && b.gcount() == a.gcount() && left == right;
}

// Watches a folder for the temporary file a database save begins with.
class SaveWatch {
public:
    explicit SaveWatch(const fs::path& folder)
        : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0)
            ::inotify_add_watch(m_fd, folder.c_str(), IN_CREATE);
    }
    ~SaveWatch()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SaveWatch(const SaveWatch&) = delete;
    SaveWatch& operator=(const SaveWatch&) = delete;

    // Waits until `count` saves have begun; false when the time ran out.
    bool waitForSaves(int count, std::chrono::milliseconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        int seen = 0;
        alignas(inotify_event) char buffer[4096];
        while (m_fd >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd ready{m_fd, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
                continue;
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            for (ssize_t at = 0; got > 0 && at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && std::string_view(event->name).starts_with(kImageTemporary) && ++seen >= count)
                    return true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return false;
    }

private:
    int m_fd = -1;
};

class CliDaemonKillCycles : public testing::Test {
protected:
    struct Source {
        std::string name;
        fs::path file;
        std::string url;
    };

    void SetUp() override
    {
        resetProfile();
        for (int n = 0; n < kSmallFiles; ++n)
            addHttp("small" + std::to_string(n) + ".dat", 20 * 1024 + n * 977, 100 + n);
        addHttp("large0.dat", 3 << 20, 7);
        addHttp("large1.dat", 2 << 20, 8);
        addFtp("ftp-large.dat", 1 << 20, 9);
        addFtp("ftp-small.dat", 30 * 1024 + 5, 10);
    }

    void resetProfile()
    {
        for (const char* folder : {"home", "downloads"})
            fs::remove_all(m_dir / folder);
        for (const char* folder : {"home", "run", "daemon", "send", "downloads"})
            fs::create_directories(m_dir / folder);
    }

    void addHttp(const std::string& name, int64_t size, uint64_t seed)
    {
        test::writePseudoRandomFile(m_nginx.www() / "files" / name, size, seed);
        m_sources.push_back(
            {name, m_nginx.www() / "files" / name, "http://127.0.0.1:" + std::to_string(m_nginx.httpPort()) + "/slow/" + name});
    }

    void addFtp(const std::string& name, int64_t size, uint64_t seed)
    {
        test::writePseudoRandomFile(m_vsftpd.anonymousRoot() / name, size, seed);
        m_sources.push_back(
            {name, m_vsftpd.anonymousRoot() / name, "ftp://127.0.0.1:" + std::to_string(m_vsftpd.port()) + "/" + name});
    }

    std::map<std::string, std::string> environment() const
    {
        return {{"FETCHORA_HOME", (m_dir / "home").string()},
                {"TMPDIR", m_dir.path().string()},
                {"HOME", m_dir.path().string()},
                {"XDG_RUNTIME_DIR", (m_dir / "run").string()},
                {"XDG_DOWNLOAD_DIR", (m_dir / "downloads").string()}};
    }

    fs::path database() const { return m_dir / "home" / "Default.kxd"; }

    static bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit,
                           std::chrono::milliseconds step = 50ms)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (done())
                return true;
            std::this_thread::sleep_for(step);
        }
        return done();
    }

    // A daemon on the profile, once it answers.
    std::unique_ptr<test::CliProcess> startDaemon()
    {
        auto daemon = std::make_unique<test::CliProcess>(std::vector<std::string>{"--daemon"}, environment(),
                                                         m_dir / "daemon");
        EXPECT_TRUE(eventually([&] { return test::runCli({"--info", "-1"}, environment(), m_dir.path()) == 0; }, 30s))
            << daemon->standardError();
        return daemon;
    }

    // Hands one URL over; an acknowledged one ("0" added, "2" listed
    // already) must be in every database from now on.
    void send(const Source& source)
    {
        std::string out;
        if (test::runCli({"--send", source.url}, environment(), m_dir.path(), nullptr, &out) != 0)
            return;
        if (out == "0\n" || out == "2\n")
            m_acknowledged.insert(source.url);
    }

    const Source* sourceOf(const std::string& url) const
    {
        for (const Source& source : m_sources) {
            if (source.url == url)
                return &source;
        }
        return nullptr;
    }

    // The regular files below the download folder, by name.
    std::multimap<std::string, fs::path> downloadedFiles() const
    {
        std::multimap<std::string, fs::path> files;
        for (const auto& entry : fs::recursive_directory_iterator(m_dir / "downloads")) {
            if (entry.is_regular_file())
                files.emplace(entry.path().filename().string(), entry.path());
        }
        return files;
    }

    // What a killed daemon left: a database that opens as it is, every
    // acknowledged job once, every claimed byte the source's, every recorded
    // finish byte-identical. True when every job is finished.
    bool checkWhatTheKillLeft(const std::string& when)
    {
        SCOPED_TRACE(when);
        if (!fs::exists(database())) {
            EXPECT_TRUE(m_acknowledged.empty()) << "acknowledged jobs but no database";
            return false;
        }
        JobLock lock;
        CZoviradDoc doc(lock);
        DatabaseOpenOptions options;
        options.load.defaults.maxParallelNum = 10;
        options.load.defaults.defaultDownloadFolder = (m_dir / "downloads").string();
        const OpenResult result = OpenDatabase(doc, database(), options);
        EXPECT_EQ(result.status, OpenStatus::Opened) << result.message;
        // As the daemon's next start sees the jobs.
        ApplyFinishJournal(doc.tree(), ReadFinishJournal(FinishJournalPath(database())));
        std::map<std::string, int> jobsByUrl;
        bool allFinished = true;
        for (DownloadJob* job : doc.tree().nodes()) {
            if (job->IsCategory() || job->parent() == doc.deleted())
                continue;
            ++jobsByUrl[job->url];
            const Source* source = sourceOf(job->url);
            if (source == nullptr) {
                ADD_FAILURE() << "a job for a URL never handed over: " << job->url;
                continue;
            }
            const fs::path local = job->GetLocalPath();
            EXPECT_EQ(local.filename(), source->name) << "the job took another name";
            if (job->IsComplete()) {
                EXPECT_TRUE(test::sameFileBytes(source->file, local)) << source->name;
                continue;
            }
            allFinished = false;
            const bool mended = job->completedBytes > 0 && !fs::exists(job->GetTempPath()) && fs::exists(local);
            const fs::path working = mended ? local : fs::path(job->GetTempPath());
            for (const CompletedRange& range : job->completedRanges) {
                EXPECT_TRUE(sameRange(source->file, working, range.start, range.end))
                    << source->name << " claims [" << range.start << ", " << range.end << ") of " << working;
            }
        }
        for (const auto& [url, count] : jobsByUrl)
            EXPECT_EQ(count, 1) << url;
        for (const std::string& url : m_acknowledged)
            EXPECT_EQ(jobsByUrl.count(url), 1u) << "an acknowledged job is lost: " << url;
        for (const auto& [name, path] : downloadedFiles()) {
            const bool copy = name.find('(') != std::string::npos;
            EXPECT_FALSE(copy) << "a second copy: " << path;
        }
        return allFinished && jobsByUrl.size() == m_sources.size();
    }

    // Every source once below the download folder, byte-identical, and
    // nothing else there.
    void expectEveryFileOnce(const std::string& when)
    {
        SCOPED_TRACE(when);
        const std::multimap<std::string, fs::path> files = downloadedFiles();
        std::multiset<std::string> names;
        for (const auto& entry : files)
            names.insert(entry.first);
        std::multiset<std::string> expected;
        for (const Source& source : m_sources)
            expected.insert(source.name);
        EXPECT_EQ(names, expected);
        for (const Source& source : m_sources) {
            const auto found = files.find(source.name);
            if (found != files.end()) {
                EXPECT_TRUE(test::sameFileBytes(source.file, found->second)) << source.name;
            }
        }
    }

    static constexpr int kSmallFiles = 10;
    test::TempDir m_dir;
    test::NginxPeer m_nginx{{"IP:127.0.0.1"}, "location /slow/ { alias $WWW/files/; limit_rate 256k; }\n"};
    test::VsftpdPeer m_vsftpd{[] {
        test::FtpPeerOptions options;
        options.maxBytesPerSecond = 128 << 10;
        return options;
    }()};
    std::vector<Source> m_sources;
    std::set<std::string> m_acknowledged;
};

TEST_F(CliDaemonKillCycles, EveryHandedOverJobEndsByteIdenticalAfterKillsMidTransferMidSaveAndMidHandOver)
{
    const int cycles = fromEnvironment("FETCHORA_DAEMON_KILL_CYCLES", 12);
    const auto seed = static_cast<uint32_t>(
        fromEnvironment("FETCHORA_KILL_SEED", static_cast<int>(std::random_device{}() & 0x7FFFFFFF)));
    std::cout << "daemon kill cycles: " << cycles << ", seed " << seed << std::endl;
    RecordProperty("seed", static_cast<int>(seed));
    std::mt19937 random(seed);

    enum Moment { kMidTransfer, kAtSave, kMidHandOver };
    int kills[3] = {0, 0, 0};
    int landedInSave = 0;
    int rounds = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const std::string when = "kill " + std::to_string(cycle) + ", seed " + std::to_string(seed);
        const Moment moment = static_cast<Moment>(random() % 10 < 4 ? kMidTransfer : random() % 3 == 0 ? kMidHandOver : kAtSave);
        std::unique_ptr<test::CliProcess> daemon = startDaemon();
        ASSERT_FALSE(HasFailure()) << when;
        std::unique_ptr<SaveWatch> watch;
        if (moment == kAtSave)
            watch = std::make_unique<SaveWatch>(m_dir / "home");
        // A kill mid-hand-over lands while the next URL is being added (and
        // the save that records it is being made).
        const size_t handOver = moment == kMidHandOver ? random() % m_sources.size() : m_sources.size();
        for (size_t n = 0; n < handOver; ++n)
            send(m_sources[n]);
        std::unique_ptr<test::CliProcess> lastSend;
        switch (moment) {
        case kMidTransfer:
            std::this_thread::sleep_for(std::chrono::milliseconds(30 + random() % 1500));
            break;
        case kAtSave:
            // The first to third save from now: finishes, adds and the
            // two-second saves of running jobs.
            watch->waitForSaves(1 + static_cast<int>(random() % 3), 5000ms);
            break;
        case kMidHandOver:
            lastSend = std::make_unique<test::CliProcess>(std::vector<std::string>{"--send", m_sources[handOver].url},
                                                          environment(), m_dir / "send");
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
            break;
        }
        daemon->signal(SIGKILL);
        ASSERT_EQ(daemon->wait(30s), -1) << when << ": " << daemon->standardError();
        if (lastSend) {
            lastSend->wait(30s);
            if (lastSend->standardOutput() == "0\n" || lastSend->standardOutput() == "2\n")
                m_acknowledged.insert(m_sources[handOver].url);
        }
        ++kills[moment];
        for (const auto& entry : fs::directory_iterator(m_dir / "home")) {
            if (entry.path().filename().string().starts_with(kImageTemporary)) {
                ++landedInSave;
                break;
            }
        }
        const bool allFinished = checkWhatTheKillLeft(when);
        if (HasFailure())
            FAIL() << when;
        if (allFinished) {
            // Every job ended before this kill: the next round starts afresh.
            expectEveryFileOnce(when);
            ASSERT_FALSE(HasFailure()) << when;
            ++rounds;
            resetProfile();
            m_acknowledged.clear();
        }
    }
    std::cout << "kills mid-transfer: " << kills[kMidTransfer] << ", at a save: " << kills[kAtSave]
              << ", mid-hand-over: " << kills[kMidHandOver] << "; with an image half-written: " << landedInSave
              << "; rounds that ended before a kill: " << rounds << std::endl;

    std::unique_ptr<test::CliProcess> daemon = startDaemon();
    for (const Source& source : m_sources)
        send(source);
    const bool ended = eventually(
        [&] {
            const std::multimap<std::string, fs::path> files = downloadedFiles();
            return std::all_of(m_sources.begin(), m_sources.end(), [&](const Source& source) {
                const auto found = files.find(source.name);
                return found != files.end() && fs::file_size(found->second) == fs::file_size(source.file);
            });
        },
        120s, 200ms);
    EXPECT_TRUE(ended) << "seed " << seed;
    // The last finish is recorded before the end.
    std::this_thread::sleep_for(500ms);
    daemon->signal(SIGTERM);
    ASSERT_EQ(daemon->wait(60s), 0) << daemon->standardError();
    EXPECT_TRUE(checkWhatTheKillLeft("after the last run, seed " + std::to_string(seed)));
    expectEveryFileOnce("after the last run, seed " + std::to_string(seed));
}

}  // namespace
}  // namespace fetchora
