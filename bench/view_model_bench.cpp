// Times the job list's view model on a large queue: filling the rows of a
// category of 10,000 jobs, and one second of progress notices from 8 running
// jobs, counting the batches a window would have to apply.
//
// usage: fetchora_bench_view_model [jobs] [running] [notices per job and second]
// Exit status 1 when more batches were delivered than the 250 ms rule allows.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "config/app_settings.h"
#include "model/category_tree.h"
#include "model/download_job.h"
#include "platform/registry.h"
#include "shell/job_list_model.h"

using namespace fetchora;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class CountingObserver final : public JobListObserver {
public:
    void jobListChanged(const JobListChanges& changes) override
    {
        ++batches;
        rows += changes.rows.size();
    }
    size_t batches = 0;
    size_t rows = 0;
};

std::unique_ptr<DownloadJob> category(CategoryKind kind, int32_t id, const char* name)
{
    auto node = std::make_unique<DownloadJob>();
    node->nodeFlags = kNodeCategory;
    node->kind = static_cast<uint32_t>(kind);
    node->id = id;
    node->name = name;
    return node;
}

int argument(int argc, char** argv, int index, int fallback)
{
    return argc > index ? std::max(1, std::atoi(argv[index])) : fallback;
}

}  // namespace

int main(int argc, char** argv)
{
    const int jobCount = argument(argc, argv, 1, 10000);
    const int runningCount = std::min(argument(argc, argv, 2, 8), jobCount);
    const int noticesPerSecond = argument(argc, argv, 3, 20);

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
        job->url = "http://mirror.example/pub/" + job->fileName;
        job->fileSize = 1'000'000 + i;
        job->optionFlags = kOptSizeKnown | kOptResumeKnown | kOptResumable;
        job->completedBytes = i * 37 % job->fileSize;
        job->startMode = StartMode::Immediately;
        records.push_back(std::move(job));
        parents.push_back(1);
    }
    tree.AdoptLoaded(std::move(records), parents);
    DownloadJob* queue = tree.FindCategory(CategoryKind::Downloading);

    std::vector<DownloadJob*> running;
    for (DownloadJob* job = queue->firstChild(); job && static_cast<int>(running.size()) < runningCount;
         job = job->nextSibling()) {
        job->state = static_cast<uint32_t>(JobState::Downloading);
        running.push_back(job);
    }
    std::unordered_map<const DownloadJob*, JobRunFigures> figures;
    for (DownloadJob* job : running)
        figures[job] = JobRunFigures{12, 340, 250'000, 4};

    Registry registry;
    AppSettings settings(registry, SettingsEnvironment{"/usr/bin/fetchora", "", "/tmp", "/tmp", "C"});
    JobListModel model(tree, settings, {}, [&figures](const DownloadJob& job) {
        auto found = figures.find(&job);
        return found != figures.end() ? found->second : JobRunFigures{};
    });
    CountingObserver observer;
    model.setObserver(&observer);

    Clock::time_point start = Clock::now();
    model.openCategory(queue);
    const double openMs = msSince(start);
    model.deliver(0);
    observer.batches = 0;
    observer.rows = 0;

    // What a window draws for a screenful of rows after the open.
    start = Clock::now();
    size_t characters = 0;
    for (size_t row = 0; row < 50 && row < model.rowCount(); ++row) {
        for (size_t column = 0; column < kJobColumnCount; ++column)
            characters += model.cellText(row, static_cast<JobColumn>(column)).size();
    }
    const double screenMs = msSince(start);

    // One second of notices, each running job at its own phase, the tick
    // stepping one millisecond at a time; the caller tries to deliver every tick.
    const uint32_t period = static_cast<uint32_t>(1000 / noticesPerSecond);
    const uint32_t first = 1000;
    size_t notices = 0;
    start = Clock::now();
    for (uint32_t ms = 0; ms < 1000; ++ms) {
        for (size_t j = 0; j < running.size(); ++j) {
            if ((ms + j * 3) % period == 0) {
                model.jobChanged(*running[j], 0x0300);
                ++notices;
            }
        }
        model.deliver(first + ms);
    }
    const double secondMs = msSince(start);

    std::printf("rows: %zu (%d running)\n", model.rowCount(), runningCount);
    std::printf("open category: %.2f ms (target under 50 ms)%s\n", openMs, openMs < 50.0 ? "" : "  MISSED");
    std::printf("first 50 rows x 15 cells: %.3f ms (%zu characters)\n", screenMs, characters);
    std::printf(
        "one second of notices: %zu notices, %zu batches (target at most 4), %zu row changes, %.3f ms of work\n",
        notices, observer.batches, observer.rows, secondMs);
    return observer.batches <= 4 ? 0 : 1;
}
