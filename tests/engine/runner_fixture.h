#pragma once
// Shared set-up of the job runner tests: real settings in a memory store, a
// real message loop driven by the test thread, real transfer threads running
// scripted in-process workers that send exactly the messages a protocol
// worker sends (response, data blocks, error, done), and a host that records
// what the list window is told.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/app_settings.h"
#include "engine/engine_context.h"
#include "engine/job_runner.h"
#include "engine/runner_host_window.h"
#include "engine/site_connections.h"
#include "engine/thread_handle_block.h"
#include "engine/transfer_threads.h"
#include "platform/message_loop.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace fetchora::test {

// What the list window was told.
class RecordingHost final : public RunnerHost {
public:
    void partLogged(DownloadJob&, JobPart&, const LogEntry& entry) override { lines.push_back(entry.text); }
    void partAdded(DownloadJob&, JobPart&) override { ++partsAdded; }
    void saveDatabase() override { ++saves; }
    bool moveJobToEnd(DownloadJob&) override
    {
        ++moveRequests;
        return moveAnswer;
    }
    void jobEnded(DownloadJob& job, StopReason reason) override { ended.emplace_back(&job, reason); }
    void jobStopped(DownloadJob& job, JobPart*, JobState state) override { stopped.emplace_back(&job, state); }

    bool hasLine(const std::string& text) const { return std::find(lines.begin(), lines.end(), text) != lines.end(); }
    size_t count(const std::string& text) const
    {
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
    }
    std::optional<StopReason> reasonOf(const DownloadJob& job) const
    {
        for (auto it = ended.rbegin(); it != ended.rend(); ++it) {
            if (it->first == &job)
                return it->second;
        }
        return std::nullopt;
    }

    std::vector<std::string> lines;
    size_t partsAdded = 0;
    size_t saves = 0;
    size_t moveRequests = 0;
    bool moveAnswer = false;
    std::vector<std::pair<DownloadJob*, StopReason>> ended;
    std::vector<std::pair<DownloadJob*, JobState>> stopped;
};

// A one-shot gate a worker waits at until the test opens it.
class Gate {
public:
    void open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    bool isOpen()
    {
        std::lock_guard lock(m_mutex);
        return m_open;
    }
    // False when the gate stayed shut for the whole time-out. Never called
    // on the loop thread while a worker may need the loop.
    bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

// How a scripted worker serves a file: every cycle sends a response for the
// part's current position, then the bytes from there in blocks of random
// size until the job window answers Stop or Reconnect, or the file ends.
struct ServedFile {
    const std::string* bytes = nullptr;
    int32_t fileTime = -1;
    bool announceSize = true;
    size_t maxBlock = 4096;
    // Per block: the chance that the connection breaks there (error step).
    double breakChance = 0.0;
    // Breaks allowed in all, over every worker.
    int maxBreaks = 0;
};

class RunnerTest : public ::testing::Test {
protected:
    RunnerTest()
        : m_settings(m_registry,
                     {"/opt/fetchora/bin/fetchora", "/opt/fetchora/share", (m_dir / "dl").string(),
                      (m_dir / "tmp").string(), "en_US.UTF-8"}),
          m_sites(m_settings.siteRules()),
          m_retired(m_clock),
          m_threads(m_loop, m_lock),
          m_hostWindow(m_loop, m_host)
    {
        m_settings.LoadSettings();
        m_settings.SetOption(OptionId::RetryCount, 1000);
        m_ctx.settings = &m_settings;
        m_ctx.sites = &m_sites;
        m_ctx.jobLock = &m_lock;
        m_ctx.loop = &m_loop;
        m_ctx.threads = &m_threads;
        m_ctx.retiredBlocks = &m_retired;
        m_ctx.host = &m_host;
        m_ctx.hostWindow = m_hostWindow.id();
        m_ctx.clock = &m_clock;
        m_threads.registerProcedure(ServiceCode::Http, [this](TransferTask& task) {
            ++m_workersStarted;
            const int active = ++m_activeWorkers;
            int seen = m_maxActiveWorkers.load();
            while (active > seen && !m_maxActiveWorkers.compare_exchange_weak(seen, active)) { }
            const int result = m_worker ? m_worker(task) : 2;
            --m_activeWorkers;
            return result;
        });
    }

    ~RunnerTest() override
    {
        {
            JobLockGuard guard(m_lock);
            // The runners retire their blocks and drop their windows, so no
            // worker waits for an answer any more.
            m_jobs.clear();
        }
        m_threads.joinAll(std::chrono::seconds(10));
    }

    DownloadJob& makeJob(const std::string& url, int32_t split = 1)
    {
        auto job = std::make_unique<DownloadJob>();
        EXPECT_TRUE(job->SetUrl(url));
        job->saveFolder = (m_dir / "dl").string();
        job->formatFlags |= kFmtTempFile;
        job->splitCount = split;
        job->startMode = StartMode::Immediately;
        m_jobs.push_back(std::move(job));
        return *m_jobs.back();
    }

    JobStartResult start(DownloadJob& job) { return JobRunner::Start(job, m_ctx); }

    // Runs the loop until done() holds (true) or the time-out passes (false).
    // done() is also asked between slices, for conditions no message signals.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(15))
    {
        const auto checked = [&] {
            JobLockGuard guard(m_lock);
            return done();
        };
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (m_loop.runUntil(checked, std::chrono::milliseconds(50)))
                return true;
        }
        return checked();
    }

    // Until the job has ended and every worker thread is gone: workers use
    // the test's own locals, which must outlive them.
    bool runUntilEnded(DownloadJob& job)
    {
        return runUntil([&] { return job.GetState() != JobState::Downloading && m_threads.running() == 0; });
    }

    bool runUntilThreadsEnd()
    {
        return runUntil([&] { return m_threads.running() == 0; });
    }

    // Every log line of every part of the job.
    std::vector<std::string> logOf(const DownloadJob& job) const
    {
        std::vector<std::string> out;
        if (JobRunner* runner = runnerOf(job)) {
            for (const auto& part : runner->parts()) {
                for (const LogEntry& entry : part->log.entries())
                    out.push_back(entry.text);
            }
        }
        return out;
    }
    bool logged(const DownloadJob& job, const std::string& text) const
    {
        const std::vector<std::string> lines = logOf(job);
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }

    // The answer of a server that honours ranges, for a file of size bytes
    // (with its date, when fileTime is not -1); what the job window said.
    static int answerWithRanges(PartChannel& channel, int64_t size, int32_t fileTime = -1)
    {
        ResponseInfo info;
        info.resume = ResumeInfo::Honoured;
        info.size = size;
        info.fileTime = fileTime;
        return channel.response(info, ProtocolKind::Http);
    }

    // Hands the bytes [at, at + length) of source to the part.
    static WriteResult sendBytes(PartChannel& channel, const std::string& source, int64_t at, size_t length)
    {
        return channel.data(at, {reinterpret_cast<const uint8_t*>(source.data()) + at, length});
    }

    // A worker for ServedFile (see there).
    int serve(TransferTask& task, const ServedFile& file)
    {
        PartChannel& channel = *task.channel;
        const auto size = static_cast<int64_t>(file.bytes->size());
        std::mt19937 random(static_cast<uint32_t>(m_workerSeed.fetch_add(7919)));
        std::uniform_int_distribution<size_t> blockSize(1, file.maxBlock);
        std::uniform_real_distribution<double> chance(0.0, 1.0);
        for (;;) {
            if (!channel.alive())
                return 0;
            int64_t position = channel.rangeStart();
            if (position < 0)
                return 0;
            ResponseInfo info;
            info.resume = ResumeInfo::Honoured;
            info.size = file.announceSize ? size : -1;
            info.fileTime = file.fileTime;
            channel.logLine(ConnectionLogKind::Received,
                            position > 0 ? "HTTP/1.1 206 Partial Content" : "HTTP/1.1 200 OK");
            if (channel.response(info, ProtocolKind::Http) == 0)
                return 0;
            bool reconnect = false;
            bool broke = false;
            while (position < size) {
                if (file.breakChance > 0 && chance(random) < file.breakChance
                    && m_breaks.fetch_add(1) < file.maxBreaks) {
                    broke = true;
                    break;
                }
                const auto length
                    = static_cast<int64_t>(std::min<size_t>(blockSize(random), static_cast<size_t>(size - position)));
                const auto* data = reinterpret_cast<const uint8_t*>(file.bytes->data()) + position;
                const WriteResult result = channel.data(position, {data, static_cast<size_t>(length)});
                if (result == WriteResult::Stop)
                    return 0;
                if (result == WriteResult::Reconnect) {
                    reconnect = true;
                    break;
                }
                position += length;
                if ((random() & 7) == 0)
                    std::this_thread::yield();
            }
            if (reconnect)
                continue;
            if (!broke && !file.announceSize) {
                channel.done();
                return 1;
            }
            if (!channel.alive())
                return 1;
            // A connection that closes while the part still wants data is an error.
            if (!channel.error({}))
                return 2;
        }
    }

    static std::string randomBytes(size_t size, uint32_t seed)
    {
        std::mt19937 random(seed);
        std::string out(size, '\0');
        for (char& c : out)
            c = static_cast<char>(random() & 0xFF);
        return out;
    }

    TempDir m_dir;
    Registry m_registry;
    AppSettings m_settings;
    JobLock m_lock;
    SystemClock m_clock;
    MessageLoop m_loop;
    SiteConnectionTable m_sites;
    RetiredHandleBlocks m_retired;
    TransferThreads m_threads;
    RecordingHost m_host;
    RunnerHostWindow m_hostWindow;
    EngineContext m_ctx;
    std::function<int(TransferTask&)> m_worker;
    std::atomic<int> m_workersStarted{0};
    std::atomic<int> m_activeWorkers{0};
    std::atomic<int> m_maxActiveWorkers{0};
    std::atomic<int> m_breaks{0};
    std::atomic<uint32_t> m_workerSeed{12345};
    std::vector<std::unique_ptr<DownloadJob>> m_jobs;
};

}  // namespace fetchora::test
