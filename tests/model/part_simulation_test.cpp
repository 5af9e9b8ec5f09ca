// A randomized simulation of a running job: parts whose threads deliver
// blocks of random sizes in random order, lose their connections, fail,
// collide, take over, and a job that is stopped and started again, all
// driving the real range, split and write functions. Every write is checked
// against invariants kept by the simulator itself: each byte of the file is
// written once, with the source's bytes, and never over the position of
// another running part (the bytes that part is about to write).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "engine/output_file.h"
#include "model/job_part.h"
#include "model/splitting.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

// splitmix64: the same numbers on every platform and standard library.
class Rng {
public:
    explicit Rng(uint64_t seed) : m_state(seed) { }
    uint64_t next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Inclusive bounds.
    int64_t between(int64_t low, int64_t high)
    {
        return low + static_cast<int64_t>(next() % static_cast<uint64_t>(high - low + 1));
    }
    bool chance(int percent) { return between(1, 100) <= percent; }

private:
    uint64_t m_state;
};

struct SimulationStats {
    int64_t writes = 0;
    int64_t clippedBlocks = 0;
    int64_t takeovers = 0;
    int64_t overtaken = 0;
    int64_t restarts = 0;
    int64_t unknownSizeStarts = 0;
    int64_t mirrorPartsReused = 0;
    int64_t splitParts = 0;
    int64_t wrongPositions = 0;
    int64_t partErrors = 0;

    void add(const SimulationStats& other)
    {
        writes += other.writes;
        clippedBlocks += other.clippedBlocks;
        takeovers += other.takeovers;
        overtaken += other.overtaken;
        restarts += other.restarts;
        unknownSizeStarts += other.unknownSizeStarts;
        mirrorPartsReused += other.mirrorPartsReused;
        splitParts += other.splitParts;
        wrongPositions += other.wrongPositions;
        partErrors += other.partErrors;
    }
};

class Simulation : public PartWriteHost {
public:
    // With a folder, blocks also go through the job write path into a real
    // file with a small write cache, closed and resumed at every restart.
    explicit Simulation(uint64_t seed, std::optional<std::filesystem::path> folder = std::nullopt)
        : m_rng(seed), m_folder(std::move(folder))
    {
        m_size = m_rng.chance(25) ? m_rng.between(1, 5000) : m_rng.between(5000, 400000);
        m_source.resize(static_cast<size_t>(m_size));
        for (size_t i = 0; i < m_source.size(); i += 8) {
            const uint64_t word = m_rng.next();
            std::memcpy(m_source.data() + i, &word, std::min<size_t>(8, m_source.size() - i));
        }
        m_file.assign(m_source.size(), 0);
        m_written.assign(m_source.size(), 0);
        m_view.blockSize = m_rng.between(256, 50000);
        m_view.splitCount = static_cast<uint32_t>(m_rng.between(1, 10));
        m_view.urlCount = static_cast<size_t>(m_rng.between(1, 3));
        m_maxBlock = std::max<int64_t>(m_rng.between(1, m_rng.chance(50) ? 2048 : 16384), m_size / 2000);
        m_sizeKnown = !m_rng.chance(30);
    }

    // True when the job completed with the file equal to the source.
    bool run(std::string& failure)
    {
        startJob();
        for (int64_t step = 0; step < kMaxSteps && m_error.empty() && !m_finished; ++step)
            this->step();
        if (m_error.empty() && !m_finished)
            m_error = "no completion after " + std::to_string(kMaxSteps) + " steps";
        if (m_error.empty())
            checkResult();
        failure = m_error;
        return m_error.empty();
    }

    const SimulationStats& stats() const { return m_stats; }
    std::string describe() const
    {
        std::ostringstream text;
        text << "size " << m_size << " blockSize " << m_view.blockSize << " split " << m_view.splitCount << " urls "
             << m_view.urlCount << " maxBlock " << m_maxBlock << (m_sizeKnown ? "" : " unknown-size start");
        return text.str();
    }

    // ---- PartWriteHost ------------------------------------------------------
    bool writeBlock(int64_t position, std::span<const uint8_t> data) override
    {
        const auto length = static_cast<int64_t>(data.size());
        if (m_writer >= m_parts.size() || !m_parts[m_writer]->isRunning())
            return fail("a part that is not running wrote");
        if (position < 0 || position + length > m_size)
            return fail("write outside the file at " + std::to_string(position));
        if (std::memcmp(data.data(), m_source.data() + position, data.size()) != 0)
            return fail("bytes at " + std::to_string(position) + " differ from the source");
        for (size_t i = 0; i < m_parts.size(); ++i) {
            const int64_t other = m_parts[i]->position();
            if (i != m_writer && m_parts[i]->isRunning() && other >= position && other < position + length)
                return fail("part " + std::to_string(m_writer) + " wrote over the position " + std::to_string(other)
                            + " of running part " + std::to_string(i));
        }
        uint8_t* const first = m_written.data() + position;
        if (const void* again = std::memchr(first, 1, data.size()))
            return fail("byte " + std::to_string(static_cast<const uint8_t*>(again) - m_written.data())
                        + " written twice");
        std::memset(first, 1, data.size());
        if (m_folder) {
            const JobWriteOutcome outcome = writeJobBlock(
                m_disk, [this] { return diskRequest(); }, position, data);
            if (!outcome.ok)
                return fail("the output file refused a block: " + outcome.systemError);
            m_hasData = true;
        }
        m_writtenCount += length;
        m_bytesThisCall += length;
        std::memcpy(m_file.data() + position, data.data(), data.size());
        ++m_stats.writes;
        return true;
    }
    void countReceived(uint64_t) override { }
    void stopPart(JobPart& part, StopReason) override
    {
        const size_t index = indexOf(part);
        if (index != m_writer)
            ++m_stats.overtaken;
        if (index < m_threads.size())
            m_threads[index].alive = false;
    }
    void partMoved(JobPart&) override { ++m_stats.takeovers; }
    void completedChanged(int64_t bytes) override
    {
        if (bytes != completedBytesOf(m_ranges))
            fail("completed bytes reported wrong");
    }
    void finishJob(StopReason reason) override
    {
        if (reason != StopReason::Done)
            fail("job finished with a reason other than done");
        m_finished = true;
        closeDisk();
        for (size_t i = 0; i < m_parts.size(); ++i) {
            m_parts[i]->markStopped(StopReason::Done);
            m_threads[i].alive = false;
        }
    }

private:
    static constexpr int64_t kMaxSteps = 400000;

    // A part's transfer thread: where the server's bytes it reads next begin.
    struct Thread {
        bool alive = false;
        int64_t next = 0;
    };

    bool fail(std::string text)
    {
        if (m_error.empty())
            m_error = std::move(text);
        return false;
    }

    size_t indexOf(const JobPart& part) const
    {
        for (size_t i = 0; i < m_parts.size(); ++i) {
            if (m_parts[i].get() == &part)
                return i;
        }
        return m_parts.size();
    }

    void applyLimits()
    {
        m_view.limits.sizeKnown = m_sizeKnown;
        m_view.limits.fileSize = m_sizeKnown ? m_size : -1;
    }

    void launch(const std::vector<size_t>& started)
    {
        m_threads.resize(m_parts.size());
        for (size_t index : started) {
            if (!m_parts[index]->isRunning()) {
                fail("a part handed out to start is not marked running");
                continue;
            }
            m_threads[index] = {true, m_parts[index]->position()};
        }
        m_stats.splitParts += static_cast<int64_t>(started.size());
    }

    void startJob()
    {
        m_parts.clear();
        m_threads.clear();
        applyLimits();
        m_view.completedBytes = completedBytesOf(m_ranges);
        if (!m_sizeKnown)
            ++m_stats.unknownSizeStarts;
        const std::vector<size_t> started = StartParts(m_view, true);
        if (started.empty()) {
            if (completedBytesOf(m_ranges) < m_size)
                fail("a start with data missing made no part");
            m_finished = true;
            return;
        }
        launch(started);
        for (size_t index : started)
            respond(index, m_parts[index]->position() == 0);
    }

    // The user (or the queue, once every part has stopped) starts the job again.
    void restartJob()
    {
        ++m_stats.restarts;
        closeDisk();
        for (const auto& part : m_parts)
            part->markStopped(StopReason::User);
        startJob();
    }

    // The size becomes known from the first response of an unsized job.
    void learnSize()
    {
        m_sizeKnown = true;
        applyLimits();
        std::optional<size_t> searchPart;
        if (m_view.urlCount > 1 && m_rng.chance(50)) {
            m_parts.push_back(std::make_unique<JobPart>(nullptr, static_cast<uint32_t>(m_parts.size())));
            m_parts.back()->flags = kPartMirrorSearch;
            m_threads.resize(m_parts.size());
            searchPart = m_parts.size() - 1;
        }
        const std::vector<size_t> started = StartParts(m_view, false, searchPart);
        if (searchPart && !started.empty() && started.front() == *searchPart)
            ++m_stats.mirrorPartsReused;
        launch(started);
    }

    // A response reached the runner for this part's connection.
    void respond(size_t index, bool split)
    {
        if (!m_sizeKnown || !split || !m_parts[index]->isRunning())
            return;
        launch(SplitAfterFirstResponse(m_view, index));
    }

    void checkStructure()
    {
        for (size_t i = 0; i < m_ranges.size(); ++i) {
            const CompletedRange& range = m_ranges[i];
            if (range.start < 0 || range.end < range.start || range.end > m_size)
                fail("range out of the file: " + std::to_string(range.start) + "-" + std::to_string(range.end));
            if (i > 0 && m_ranges[i - 1].end >= range.start)
                fail("ranges overlap or touch at " + std::to_string(range.start));
        }
        for (size_t i = 0; i < m_parts.size(); ++i) {
            if (m_parts[i]->isRunning() && !m_threads[i].alive)
                fail("running part " + std::to_string(i) + " has no thread");
            for (size_t j = i + 1; j < m_parts.size(); ++j) {
                if (m_parts[i]->isRunning() && m_parts[j]->isRunning()
                    && m_parts[i]->position() == m_parts[j]->position())
                    fail("two running parts at " + std::to_string(m_parts[i]->position()));
            }
        }
        // Only written data is ever recorded, and all of it.
        if (completedBytesOf(m_ranges) != m_writtenCount)
            fail("completed ranges hold " + std::to_string(completedBytesOf(m_ranges)) + " bytes, "
                 + std::to_string(m_writtenCount) + " were written");
    }

    void deliver(size_t index, bool wrongPosition)
    {
        Thread& thread = m_threads[index];
        if (!m_sizeKnown) {
            if (thread.next >= m_size) {
                // The unsized transfer ended; the next run is told the size.
                m_sizeKnown = true;
                restartJob();
                return;
            }
            if (m_rng.chance(30)) {
                learnSize();
                return;
            }
        }
        if (thread.next >= m_size) {
            // The server has nothing more for this connection: it closes and
            // the part reconnects at its own position.
            thread.next = m_parts[index]->position();
            if (thread.next >= m_size)
                fail("a running part sits at the end of the file");
            return;
        }
        int64_t position = thread.next;
        if (wrongPosition) {
            position += m_rng.chance(50) ? m_rng.between(1, 100) : -m_rng.between(1, 100);
            position = std::clamp<int64_t>(position, 0, m_size - 1);
            if (position == thread.next)
                return;
            ++m_stats.wrongPositions;
        }
        const int64_t length = std::min(m_rng.between(1, m_maxBlock), m_size - position);
        const int64_t writesBefore = m_stats.writes;
        m_bytesThisCall = 0;
        m_writer = index;
        const WriteResult result
            = WriteAt(m_view, *this, index,
                      std::span<const uint8_t>(m_source.data() + position, static_cast<size_t>(length)), position);
        m_writer = SIZE_MAX;
        if (wrongPosition && (result != WriteResult::Reconnect || m_stats.writes != writesBefore))
            fail("a block at the wrong position was not refused");
        if (m_bytesThisCall > 0 && m_bytesThisCall < length)
            ++m_stats.clippedBlocks;
        switch (result) {
        case WriteResult::Stop:
            thread.alive = false;
            if (m_parts[index]->isRunning() && !m_finished)
                fail("the thread was told to stop but its part still runs");
            break;
        case WriteResult::Continue: thread.next = position + length; break;
        case WriteResult::Reconnect:
            thread.next = m_parts[index]->position();
            respond(index, m_rng.chance(20));
            break;
        }
        checkStructure();
    }

    void step()
    {
        std::vector<size_t> running;
        for (size_t i = 0; i < m_parts.size(); ++i) {
            if (m_parts[i]->isRunning())
                running.push_back(i);
        }
        if (running.empty() || (m_rng.chance(1) && m_rng.chance(20))) {
            restartJob();
            return;
        }
        const size_t index = running[static_cast<size_t>(m_rng.between(0, static_cast<int64_t>(running.size()) - 1))];
        const int64_t roll = m_rng.between(1, 1000);
        if (roll <= 900) {
            deliver(index, false);
        } else if (roll <= 940) {
            deliver(index, true);
        } else if (roll <= 980) {
            // The connection broke: after the retry wait the thread asks again
            // from the part's position and a response comes back.
            m_threads[index].next = m_parts[index]->position();
            respond(index, m_rng.chance(50));
        } else {
            // Retries exhausted: the part stops for an error.
            ++m_stats.partErrors;
            m_parts[index]->markStopped(StopReason::Error);
            m_threads[index].alive = false;
        }
    }

    OutputFileRequest diskRequest() const
    {
        OutputFileRequest request;
        request.folder = *m_folder;
        request.fileName = "sim.bin";
        request.useTempName = true;
        request.hasData = m_hasData;
        request.completedBytes = completedBytesOf(m_ranges);
        request.sizeKnown = m_sizeKnown;
        request.fileSize = m_sizeKnown ? m_size : -1;
        request.preallocate = true;
        request.useCache = true;
        request.bufferSizeKb = 2;
        return request;
    }

    void closeDisk()
    {
        if (m_folder && m_disk.isOpen() && !m_disk.Close())
            fail("closing the output file failed");
    }

    void checkResult()
    {
        if (m_folder) {
            closeDisk();
            if (test::readFile(*m_folder / "sim.bin.kx!") != std::string(m_source.begin(), m_source.end()))
                fail("the file on disk differs from the source");
        }
        if (m_ranges != std::vector<CompletedRange>{{0, m_size, 0, 0}})
            fail("completed ranges are not [0, size)");
        if (const void* missing = std::memchr(m_written.data(), 0, m_written.size()))
            fail("byte " + std::to_string(static_cast<const uint8_t*>(missing) - m_written.data()) + " never written");
        if (m_file != m_source)
            fail("file differs from the source");
    }

    Rng m_rng;
    std::optional<std::filesystem::path> m_folder;
    OutputFile m_disk;
    bool m_hasData = false;
    int64_t m_size = 0;
    int64_t m_maxBlock = 1;
    bool m_sizeKnown = true;
    std::vector<uint8_t> m_source;
    std::vector<uint8_t> m_file;
    std::vector<uint8_t> m_written;
    CompletedRangeList m_ranges;
    PartList m_parts;
    std::vector<Thread> m_threads;
    JobRangeView m_view{m_ranges, m_parts};
    size_t m_writer = SIZE_MAX;
    int64_t m_writtenCount = 0;
    int64_t m_bytesThisCall = 0;
    bool m_finished = false;
    std::string m_error;
    SimulationStats m_stats;
};

TEST(PartSimulation, RandomWritesCollisionsTakeoversAndRestartsAlwaysGiveTheWholeFile)
{
    constexpr uint64_t kSeeds = 500;
    const auto began = std::chrono::steady_clock::now();
    SimulationStats total;
    int failures = 0;
    for (uint64_t seed = 1; seed <= kSeeds; ++seed) {
        Simulation simulation(seed);
        std::string failure;
        if (!simulation.run(failure)) {
            ADD_FAILURE() << "seed " << seed << " (" << simulation.describe() << "): " << failure;
            if (++failures >= 5)
                break;
        }
        total.add(simulation.stats());
    }
    const auto elapsed
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();
    std::cout << "[ simulation ] " << kSeeds << " seeds in " << elapsed << " ms: " << total.writes << " writes, "
              << total.clippedBlocks << " clipped blocks, " << total.takeovers << " takeovers, " << total.overtaken
              << " parts overtaken, " << total.splitParts << " parts started, " << total.restarts << " job restarts, "
              << total.unknownSizeStarts << " unsized starts, " << total.mirrorPartsReused << " mirror parts reused, "
              << total.wrongPositions << " misplaced blocks, " << total.partErrors << " part errors\n";

    // The run must really have exercised each path.
    EXPECT_GT(total.clippedBlocks, 0);
    EXPECT_GT(total.takeovers, 0);
    EXPECT_GT(total.overtaken, 0);
    EXPECT_GT(total.restarts, 0);
    EXPECT_GT(total.unknownSizeStarts, 0);
    EXPECT_GT(total.mirrorPartsReused, 0);
    EXPECT_GT(total.wrongPositions, 0);
}

TEST(PartSimulation, ThroughTheOutputFileAndItsCacheTheFileOnDiskEqualsTheSource)
{
    for (uint64_t seed = 5001; seed <= 5060; ++seed) {
        test::TempDir dir;
        Simulation simulation(seed, dir.path());
        std::string failure;
        if (!simulation.run(failure)) {
            ADD_FAILURE() << "seed " << seed << " (" << simulation.describe() << "): " << failure;
            break;
        }
    }
}

}  // namespace
}  // namespace fetchora
