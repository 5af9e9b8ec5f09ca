// Times the job database on a large queue: writes a database of N jobs (some
// half done, with ranges, comments and referers), then opens it as a program
// start does, saves it (".bak" and new file, synced) a few times, and prints
// the times and the resident memory after the open. A folder that already
// holds a database is opened as it is, so that a second run measures the
// memory of the open alone, without the making's heap.
//
// usage: fetchora_bench_database [jobs] [folder]   (100000 jobs, a temporary folder)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <time.h>

#include "model/category_tree.h"
#include "model/database_file.h"
#include "model/download_job.h"
#include "model/job_database.h"
#include "model/kxd_format.h"
#include "platform/atomic_file.h"
#include "platform/job_lock.h"

using namespace fetchora;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of this process: on a shared machine it varies far less than the
// wall clock.
double cpuMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// VmRSS or VmHWM of this process, in KiB.
long statusKib(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::string(field).size() + 1);
    }
    return -1;
}

std::unique_ptr<DownloadJob> category(CategoryKind kind, int32_t id, const char* name)
{
    auto node = std::make_unique<DownloadJob>();
    node->nodeFlags = kNodeCategory;
    node->kind = static_cast<uint32_t>(kind);
    node->id = id;
    node->name = name;
    return node;
}

std::string makeImage(int jobCount, const std::string& folder)
{
    CComPtrTree tree;
    std::vector<std::unique_ptr<DownloadJob>> records;
    std::vector<size_t> parents;
    records.push_back(category(CategoryKind::Root, 1, "Fetchora"));
    parents.push_back(CComPtrTree::kLoadTopLevel);
    records.push_back(category(CategoryKind::Downloading, 2, "Download"));
    parents.push_back(0);
    for (int i = 0; i < jobCount; ++i) {
        auto job = std::make_unique<DownloadJob>();
        job->id = 10 + i;
        job->fileName = "file" + std::to_string(i) + ".bin";
        job->url = "http://mirror" + std::to_string(i % 17) + ".example/pub/releases/" + job->fileName;
        job->saveFolder = folder;
        job->fileSize = 1'000'000 + i;
        job->optionFlags = kOptSizeKnown | kOptResumeKnown | kOptResumable;
        if (i % 3 == 0) {
            job->referer = "http://www.example/downloads/page" + std::to_string(i % 100) + ".html";
            job->formatFlags |= kFmtReferer;
        }
        if (i % 4 == 0) {
            job->completedRanges = {{0, 100'000, 0, 0}, {400'000, 500'000, 0, 0}};
            job->completedBytes = 200'000;
        }
        job->startMode = StartMode::Immediately;
        records.push_back(std::move(job));
        parents.push_back(1);
    }
    tree.AdoptLoaded(std::move(records), parents);
    return StoreTree(tree);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const int jobCount = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    std::filesystem::path folder = argc > 2 ? std::filesystem::path(argv[2])
                                            : std::filesystem::temp_directory_path() / "fetchora-database-bench";
    std::filesystem::create_directories(folder);
    const std::filesystem::path path = folder / "Default.kxd";
    if (argc <= 2 || !std::filesystem::exists(path)) {
        const std::string image = makeImage(jobCount, folder.string());
        if (!writeFileAtomically(path, image)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 2;
        }
        std::printf("database: %d jobs, %zu bytes\n", jobCount, image.size());
    }
    const long rssBefore = statusKib("VmRSS:");

    JobLock lock;
    CZoviradDoc doc(lock);
    DatabaseOpenOptions options;
    options.load.defaults.defaultDownloadFolder = folder.string();
    options.load.now = 0;
    Clock::time_point start = Clock::now();
    const double cpuStart = cpuMs();
    const OpenResult opened = OpenDatabase(doc, path, options);
    const double loadMs = msSince(start);
    const double loadCpuMs = cpuMs() - cpuStart;
    const long rssAfter = statusKib("VmRSS:");
    if (opened.status != OpenStatus::Opened) {
        std::fprintf(stderr, "the database did not open cleanly: %s\n", opened.message.c_str());
        return 1;
    }

    std::vector<double> saves;
    std::vector<double> saveCpus;
    for (int i = 0; i < 5; ++i) {
        start = Clock::now();
        const double saveCpuStart = cpuMs();
        const SaveResult saved = SaveDatabase(doc, path);
        saves.push_back(msSince(start));
        saveCpus.push_back(cpuMs() - saveCpuStart);
        if (!saved.ok) {
            std::fprintf(stderr, "save failed: %s\n", saved.error.c_str());
            return 1;
        }
    }
    std::printf("load_ms %.1f\nload_cpu_ms %.1f\nsave_ms %.1f (median of %zu)\nsave_cpu_ms %.1f\n"
                "resident_after_load_MiB %.1f (%.1f before; %ld KiB)\npeak_resident_MiB %.1f\n",
                loadMs, loadCpuMs, median(saves), saves.size(), median(saveCpus), rssAfter / 1024.0, rssBefore / 1024.0, rssAfter,
                statusKib("VmHWM:") / 1024.0);
    if (argc <= 2)
        std::filesystem::remove_all(folder);
    return 0;
}
