// A running download and its saves on a file system that keeps every write
// not yet synced in memory: when the power goes, each such write is lost or
// reached the disk anyway, a failed sync loses what it was to write and is
// reported once only, as the kernel does. The real write path (write cache,
// output file, the saver's sync-then-write order, the atomic database write)
// runs against it for a thousand save cycles, each cut at a random call; after
// every cut the database on disk is the last one written or the one being
// written, it loads whole, and no range it claims lacks its bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/output_file.h"
#include "engine/sync_failures.h"
#include "model/completed_range_ops.h"
#include "model/database_file.h"
#include "model/job_database.h"
#include "platform/job_lock.h"
#include "shell/background_saver.h"
#include "support/power_cut_disk.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

using test::PowerCut;
// The stand-in disk and its two sets of calls (support/power_cut_disk.h).
using Disk = test::PowerCutDisk;
using DiskFiles = test::PowerCutDiskFiles;
using DiskImages = test::PowerCutDiskImages;

constexpr int64_t kFileSize = 256 * 1024;

// What a byte of every downloaded file holds; never 0, so a hole shows.
uint8_t expectedByte(int64_t position)
{
    return static_cast<uint8_t>((position * 131 + (position >> 9) * 7) % 251 + 1);
}

// A saver that trusts the disk to keep what it was given: its syncs do
// nothing and report success.
class FilesWithoutSync : public DiskFiles {
public:
    using DiskFiles::DiskFiles;
    int fdatasync(int) override { return m_disk.step() ? 0 : -1; }
};

struct CycleFigures {
    int cycles = 0;
    int saves = 0;  // images written whole
    int filesFinished = 0;
    int64_t rangesChecked = 0;
    int claimsOfLostBytes = 0;  // ranges whose bytes the disk does not hold
    int wrongImages = 0;  // a database neither the last written nor the one being written, or damaged
    uint64_t syncsFailed = 0;
};

// A download that runs, saves and loses power, over and over: each cycle
// boots from what the disk holds, checks it, and downloads on until the cut.
class PowerCutDownload {
public:
    PowerCutDownload(uint32_t seed, bool saverSyncs)
        : m_random(seed), m_disk(seed * 7919u + 1), m_files(m_disk), m_images(m_disk), m_noSync(m_disk),
          m_saverFiles(saverSyncs ? static_cast<OutputFileCalls&>(m_files) : m_noSync)
    {
    }

    CycleFigures run(int cycles, uint32_t failSyncsEvery)
    {
        m_disk.failSyncs(failSyncsEvery);
        for (int cycle = 0; cycle < cycles; ++cycle) {
            JobLock lock;
            CZoviradDoc doc(lock);
            boot(doc);
            m_disk.cutAt(static_cast<int>(m_random() % 300));
            try {
                downloadUntilTheCut(doc);
            } catch (const PowerCut&) {
            }
            m_disk.reboot();
            ++m_figures.cycles;
        }
        m_figures.syncsFailed = m_disk.syncsFailed();
        return m_figures;
    }

private:
    struct Cursor {
        int64_t position = 0;
        int64_t end = 0;
    };

    std::string folder() const { return m_dir.path().string(); }
    std::filesystem::path database() const { return m_dir / "Default.kxd"; }
    std::string filePath(const DownloadJob& job) const { return (m_dir.path() / job.fileName).string(); }

    static std::vector<DownloadJob*> jobsOf(CZoviradDoc& doc)
    {
        std::vector<DownloadJob*> jobs;
        for (DownloadJob* node : doc.tree().nodes()) {
            if (!node->IsCategory())
                jobs.push_back(node);
        }
        return jobs;
    }

    void boot(CZoviradDoc& doc)
    {
        const std::optional<std::string> image = m_disk.contents(database().string());
        if (image) {
            if (*image != m_lastWritten && (!m_inFlight || *image != *m_inFlight))
                ++m_figures.wrongImages;
            if (LoadDatabaseBytes(doc, *image, KxdLoadOptions{}).damaged())
                ++m_figures.wrongImages;
            m_lastWritten = *image;
        } else {
            if (!m_lastWritten.empty())
                ++m_figures.wrongImages;
            doc.OnNewDocument(folder());
        }
        m_inFlight.reset();
        std::set<std::string> named;
        for (const DownloadJob* job : jobsOf(doc)) {
            named.insert(filePath(*job));
            const std::optional<std::string> data = m_disk.contents(filePath(*job));
            for (const CompletedRange& range : job->completedRanges) {
                ++m_figures.rangesChecked;
                if (!holds(data, range))
                    ++m_figures.claimsOfLostBytes;
            }
        }
        m_disk.removeFilesExcept(folder(), named);
    }

    static bool holds(const std::optional<std::string>& data, const CompletedRange& range)
    {
        if (!data || static_cast<int64_t>(data->size()) < range.end)
            return false;
        for (int64_t at = range.start; at < range.end; ++at) {
            if (static_cast<uint8_t>((*data)[static_cast<size_t>(at)]) != expectedByte(at))
                return false;
        }
        return true;
    }

    DownloadJob* unfinishedJob(CZoviradDoc& doc)
    {
        for (DownloadJob* job : jobsOf(doc)) {
            if (job->completedBytes < kFileSize)
                return job;
        }
        auto fresh = doc.NewRecord(NodeKind::Job, JobDefaults{}, 500);
        const std::string name = "file-" + std::to_string(m_nextName++) + ".bin";
        EXPECT_TRUE(fresh->SetUrl("http://127.0.0.1/" + name));
        fresh->saveFolder = folder();
        fresh->fileName = name;
        fresh->fileSize = kFileSize;
        fresh->optionFlags |= kOptSizeKnown;
        return doc.AddJob(std::move(fresh));
    }

    OutputFileRequest requestFor(const DownloadJob& job) const
    {
        OutputFileRequest request;
        request.folder = m_dir.path();
        request.fileName = job.fileName;
        request.hasData = job.hasData;
        request.completedBytes = job.completedBytes;
        request.sizeKnown = true;
        request.fileSize = kFileSize;
        request.useCache = true;
        request.bufferSizeKb = 16;
        return request;
    }

    static RangeLimits limits() { return RangeLimits{kFileSize, true, false, 0}; }

    // The bytes the file did not take after all are taken back, as the
    // runner does, and the job's file closes (the job fails and starts anew).
    static void takeBack(DownloadJob& job, OutputFile& file)
    {
        for (const CompletedRange& lost : file.unwrittenRanges())
            RemoveCompletedRange(job.completedRanges, lost.start, lost.end);
        // The close writes the cache out and syncs, which may fail as well.
        if (!file.Close()) {
            for (const CompletedRange& lost : file.unwrittenRanges())
                RemoveCompletedRange(job.completedRanges, lost.start, lost.end);
        }
        job.RecomputeCompletedBytes();
    }

    void downloadUntilTheCut(CZoviradDoc& doc)
    {
        // Finished jobs are cleared from the list; their files go once no
        // database on disk names them.
        for (DownloadJob* finished : jobsOf(doc)) {
            if (finished->completedBytes == kFileSize)
                doc.tree().Remove(finished);
        }
        DownloadJob* job = unfinishedJob(doc);
        // Every failed sync counts here, the loop's as the saver's, as in
        // the session.
        SyncFailures syncFailures;
        std::optional<OutputFile> file(std::in_place, m_files, &syncFailures);
        std::vector<Cursor> parts;
        std::optional<SaveWork> waiting;
        std::vector<BackgroundSaveReport> reports;

        const auto perform = [&](const SaveWork& work) {
            m_inFlight = work.bytes;
            BackgroundSaveReport report = PerformSave(work, syncFailures, m_saverFiles, m_images);
            if (report.save.ok) {
                m_lastWritten = work.bytes;
                ++m_figures.saves;
            }
            m_inFlight.reset();
            reports.push_back(std::move(report));
        };

        for (;;) {
            const int blocks = 1 + static_cast<int>(m_random() % 8);
            for (int i = 0; i < blocks; ++i) {
                if (job->completedBytes == kFileSize) {
                    // The finished file is closed with its sync; the job
                    // leaves the list once its image has been taken.
                    if (file->Close()) {
                        doc.tree().Remove(job);
                        ++m_figures.filesFinished;
                    } else {
                        takeBack(*job, *file);
                    }
                    job = unfinishedJob(doc);
                    file.emplace(m_files, &syncFailures);
                    parts.clear();
                    break;
                }
                if (parts.empty()) {
                    for (const CompletedRange& gap : GetFreeRanges(job->completedRanges, limits())) {
                        if (parts.size() < 4)
                            parts.push_back({gap.start, gap.end});
                    }
                }
                Cursor& part = parts[m_random() % parts.size()];
                const int64_t length = std::min<int64_t>(128 + m_random() % 4000, part.end - part.position);
                std::vector<uint8_t> data(static_cast<size_t>(length));
                for (int64_t at = 0; at < length; ++at)
                    data[static_cast<size_t>(at)] = expectedByte(part.position + at);
                const JobWriteOutcome outcome = writeJobBlock(
                    *file, [&] { return requestFor(*job); }, part.position, data);
                ASSERT_TRUE(outcome.ok) << "a write failed while the power was on";
                AddCompletedRange(job->completedRanges, limits(), {part.position, part.position + length, 0, 0});
                job->RecomputeCompletedBytes();
                job->hasData = true;
                part.position += length;
                if (part.position == part.end) {
                    parts.erase(parts.begin() + (&part - parts.data()));
                }
            }

            // A save, as the session makes it: the failures reported so far
            // are taken back, the cache is written out and the image taken
            // with a descriptor of each running file for the saver to sync.
            for (const BackgroundSaveReport& report : reports) {
                for (const auto& [jobId, error] : report.failedSyncs) {
                    syncFailures.takenBack(1);
                    DownloadJob* failed = doc.tree().FindById(jobId);
                    if (failed == job && file->isOpen()) {
                        file->SyncFailedElsewhere(error);
                        takeBack(*job, *file);
                        parts.clear();
                    } else if (failed != nullptr) {
                        // A finished file whose sync failed: none of it counts.
                        failed->completedRanges.clear();
                        failed->RecomputeCompletedBytes();
                    }
                }
            }
            reports.clear();
            std::vector<FileToSync> files;
            if (file->isOpen()) {
                if (file->Flush()) {
                    const int fd = file->DuplicateForSync();
                    if (fd >= 0)
                        files.push_back({job->id, fd});
                } else {
                    takeBack(*job, *file);
                    parts.clear();
                }
            }
            SaveWork work{database(), {}, std::move(files), syncFailures.handled()};
            std::string error;
            ASSERT_TRUE(StoreDatabaseImage(doc, {}, work.bytes, error)) << error;
            // The saver may still be busy with the previous save: an image is
            // often taken before the one ahead of it has been written.
            if (waiting) {
                perform(*waiting);
                waiting.reset();
            }
            if (m_random() % 2 == 0)
                perform(work);
            else
                waiting = std::move(work);
        }
    }

    std::mt19937 m_random;
    test::TempDir m_dir;
    Disk m_disk;
    DiskFiles m_files;
    DiskImages m_images;
    FilesWithoutSync m_noSync;
    OutputFileCalls& m_saverFiles;
    std::string m_lastWritten;
    std::optional<std::string> m_inFlight;
    int m_nextName = 1;
    CycleFigures m_figures;
};

void printFigures(uint32_t seed, const CycleFigures& figures)
{
    std::printf("seed %u: %d cycles, %d images written, %d files finished, %lld ranges checked, %llu syncs failed,"
                " %d claims of lost bytes, %d wrong images\n",
                seed, figures.cycles, figures.saves, figures.filesFinished,
                static_cast<long long>(figures.rangesChecked), static_cast<unsigned long long>(figures.syncsFailed),
                figures.claimsOfLostBytes, figures.wrongImages);
}

TEST(SavePowerCut, TheDatabaseNeverClaimsBytesACutTookAndAlwaysLoadsWhole)
{
    for (const uint32_t seed : {1u, 2u, 3u}) {
        const CycleFigures figures = PowerCutDownload(seed, true).run(1000, 0);
        printFigures(seed, figures);
        EXPECT_EQ(figures.cycles, 1000);
        // The cycles did work worth checking: saves, finished files, ranges.
        EXPECT_GT(figures.saves, 1000) << "seed " << seed;
        EXPECT_GT(figures.filesFinished, 10) << "seed " << seed;
        EXPECT_GT(figures.rangesChecked, 500) << "seed " << seed;
        EXPECT_EQ(figures.claimsOfLostBytes, 0) << "seed " << seed;
        EXPECT_EQ(figures.wrongImages, 0) << "seed " << seed;
    }
}

TEST(SavePowerCut, FailedSyncsLoseNothingTheDatabaseClaims)
{
    // A sync that fails loses its pages; the kernel says so once, and a
    // later sync of the same file succeeds. A failure on the loop thread (a
    // finished file closed with its sync) lets the saver's sync of the same
    // file succeed: the images it still holds must stay unwritten.
    for (const uint32_t seed : {4u, 5u, 6u}) {
        const CycleFigures figures = PowerCutDownload(seed, true).run(1000, 20);
        printFigures(seed, figures);
        EXPECT_GT(figures.syncsFailed, 50u) << "seed " << seed;
        EXPECT_GT(figures.saves, 1000) << "seed " << seed;
        EXPECT_EQ(figures.claimsOfLostBytes, 0) << "seed " << seed;
        EXPECT_EQ(figures.wrongImages, 0) << "seed " << seed;
    }
}

TEST(SavePowerCut, ASaverThatSkipsTheSyncIsCaught)
{
    // The check has teeth: images written without syncing their files first
    // claim bytes that a cut takes.
    const CycleFigures figures = PowerCutDownload(7, false).run(1000, 0);
    printFigures(7, figures);
    EXPECT_GT(figures.claimsOfLostBytes, 0);
    EXPECT_EQ(figures.wrongImages, 0);
}

}  // namespace
}  // namespace fetchora
