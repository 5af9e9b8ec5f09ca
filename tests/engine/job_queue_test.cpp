#include "engine/job_queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "net/url_entry.h"

namespace fetchora {
namespace {

// What starting a job does in these tests: the runner either starts it, or
// the start fails at once (Failed).
enum class StartOutcome { Runs, Fails };

struct FakeHost : QueueHost {
    bool windowOpen = false;
    std::set<std::string> fullSites;  // job names whose site has no free connection
    std::set<std::string> siteRecords;  // job names whose site has a record
    std::set<std::string> failingStarts;
    std::vector<std::string> started;
    std::vector<std::pair<std::string, std::string>> offers;
    std::vector<bool> allDone;  // scheduledJobsWaiting of each report
    int refreshes = 0;
    int fillPosts = 0;

    bool scheduleWindowOpen() const override { return windowOpen; }
    bool hasSiteRecord(const DownloadJob& job) const override { return siteRecords.contains(job.name); }
    bool siteFull(const DownloadJob& job) const override { return fullSites.contains(job.name); }
    void startJob(DownloadJob& job) override
    {
        started.push_back(job.name);
        job.state = static_cast<uint32_t>(failingStarts.contains(job.name) ? JobState::Failed : JobState::Downloading);
    }
    void refreshList() override { ++refreshes; }
    void postFillQueue() override { ++fillPosts; }
    void offerConnection(DownloadJob& finished, DownloadJob& next) override
    {
        offers.emplace_back(finished.name, next.name);
    }
    void allDownloadsDone(bool scheduledJobsWaiting) override { allDone.push_back(scheduledJobsWaiting); }
};

struct JobSpec {
    std::string name;
    JobState state = JobState::Ready;
    StartMode mode = StartMode::Immediately;
    bool category = false;
};

// A tree with the root, Downloading (holding the given jobs in order) and
// Downloaded.
struct Queue {
    CComPtrTree tree;
    JobLock lock;
    FakeHost host;
    JobQueue queue{tree, lock, host};
    DownloadJob* downloading = nullptr;
    DownloadJob* downloaded = nullptr;

    explicit Queue(const std::vector<JobSpec>& jobs, int32_t simJobs = 3)
    {
        DownloadJob* root = tree.Insert(nullptr, category(CategoryKind::Root, "root"));
        downloading = tree.Insert(root, category(CategoryKind::Downloading, "Download"));
        downloaded = tree.Insert(root, category(CategoryKind::Downloaded, "Downloaded"));
        for (const auto& spec : jobs) {
            auto job = std::make_unique<DownloadJob>();
            job->name = spec.name;
            job->state = static_cast<uint32_t>(spec.state);
            job->startMode = spec.mode;
            if (spec.category)
                job->nodeFlags |= kNodeCategory;
            tree.Insert(downloading, std::move(job));
        }
        queue.setSimJobs(simJobs);
    }

    static std::unique_ptr<DownloadJob> category(CategoryKind kind, const std::string& name)
    {
        auto node = std::make_unique<DownloadJob>();
        node->nodeFlags = kNodeCategory;
        node->kind = static_cast<uint32_t>(kind);
        node->name = name;
        return node;
    }

    DownloadJob& job(const std::string& name)
    {
        for (DownloadJob* node : tree.nodes()) {
            if (node->name == name)
                return *node;
        }
        throw std::runtime_error("no job " + name);
    }

    std::string nextName(bool checkSite) const
    {
        const DownloadJob* next = queue.NextJobToStart(checkSite);
        return next ? next->name.str() : std::string("-");
    }

    std::vector<std::string> order() const
    {
        std::vector<std::string> names;
        for (const DownloadJob* node = downloading->firstChild(); node; node = node->nextSibling())
            names.push_back(node->name);
        return names;
    }
};

constexpr JobState R = JobState::Ready;
constexpr JobState D = JobState::Downloading;
constexpr JobState C = JobState::Completed;
constexpr JobState F = JobState::Failed;
constexpr StartMode Man = StartMode::Manual;
constexpr StartMode Imm = StartMode::Immediately;
constexpr StartMode Sch = StartMode::Schedule;

TEST(JobQueueTest, NextJobToStartPicksTheFirstQualifyingJobInListOrder)
{
    struct Case {
        const char* what;
        std::vector<JobSpec> jobs;
        bool windowOpen;
        std::set<std::string> fullSites;
        const char* withSiteCheck;
        const char* withoutSiteCheck;
    };
    const std::vector<Case> cases = {
        {"empty queue", {}, false, {}, "-", "-"},
        {"a Manual job on top is passed over", {{"a", R, Man}, {"b", R, Imm}}, false, {}, "b", "b"},
        {"only Ready jobs", {{"a", D, Imm}, {"b", C, Imm}, {"c", F, Imm}, {"d", R, Imm}}, false, {}, "d", "d"},
        {"a Schedule job waits for its window", {{"a", R, Sch}, {"b", R, Imm}}, false, {}, "b", "b"},
        {"a Schedule job runs inside its window", {{"a", R, Sch}, {"b", R, Imm}}, true, {}, "a", "a"},
        {"a sub-category is not a job and is not walked into",
         {{"sub", R, Imm, true}, {"b", R, Imm}},
         false,
         {},
         "b",
         "b"},
        {"a full site is passed over only with the site check", {{"a", R, Imm}, {"b", R, Imm}}, false, {"a"}, "b", "a"},
        {"nothing qualifies", {{"a", R, Man}, {"b", R, Sch}, {"c", D, Imm}}, false, {}, "-", "-"},
    };
    for (const auto& c : cases) {
        Queue q(c.jobs);
        q.host.windowOpen = c.windowOpen;
        q.host.fullSites = c.fullSites;
        EXPECT_EQ(q.nextName(true), c.withSiteCheck) << c.what;
        EXPECT_EQ(q.nextName(false), c.withoutSiteCheck) << c.what;
    }
}

TEST(JobQueueTest, FillQueueStartsUpToSimJobs)
{
    struct Case {
        const char* what;
        std::vector<JobSpec> jobs;
        int32_t simJobs;
        std::vector<std::string> started;
    };
    const std::vector<Case> cases = {
        {"two of five", {{"a"}, {"b"}, {"c"}, {"d"}, {"e"}}, 2, {"a", "b"}},
        {"running jobs take slots", {{"a", D}, {"b"}, {"c"}, {"d"}}, 3, {"b", "c"}},
        {"fewer jobs than slots", {{"a"}, {"b"}}, 5, {"a", "b"}},
        {"no slot free", {{"a", D}, {"b", D}, {"c"}}, 2, {}},
        {"Manual jobs stay", {{"a", R, Man}, {"b"}, {"c", R, Man}, {"d"}}, 3, {"b", "d"}},
        {"SimJobs 0 starts nothing", {{"a"}}, 0, {}},
    };
    for (const auto& c : cases) {
        Queue q(c.jobs, c.simJobs);
        q.queue.FillQueue();
        EXPECT_EQ(q.host.started, c.started) << c.what;
        EXPECT_EQ(q.host.fillPosts, 0) << c.what;  // FillQueue never chains
    }
}

TEST(JobQueueTest, AFailedStartDoesNotTakeASlot)
{
    Queue q({{"a"}, {"b"}, {"c"}}, 2);
    q.host.failingStarts = {"a"};
    q.queue.FillQueue();
    // One pass per free slot: the pass that a's failed start used is not
    // repeated, so one slot stays free until the queue moves again.
    EXPECT_EQ(q.host.started, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(q.tree.CountRunning(), 1);
    q.queue.FillQueue();
    EXPECT_EQ(q.host.started, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(q.tree.CountRunning(), 2);
}

TEST(JobQueueTest, WhenAJobCompletesTheNextOneStarts)
{
    Queue q({{"a"}, {"b"}, {"c"}, {"d"}, {"e"}}, 2);
    q.queue.FillQueue();
    ASSERT_EQ(q.host.started, (std::vector<std::string>{"a", "b"}));

    DownloadJob& a = q.job("a");
    a.state = static_cast<uint32_t>(JobState::Completed);
    q.tree.Move(q.downloaded, &a);
    q.queue.JobStopped(a);
    EXPECT_EQ(q.host.started, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(q.host.fillPosts, 0);  // every slot is in use again
    EXPECT_TRUE(q.host.allDone.empty());
    // The next job was offered the finished job's connection.
    EXPECT_EQ(q.host.offers, (std::vector<std::pair<std::string, std::string>>{{"a", "c"}}));
}

TEST(JobQueueTest, StartNextReportsFreeSlotsAndChainsTheRest)
{
    Queue q({{"a"}, {"b"}, {"c"}}, 3);
    EXPECT_EQ(q.queue.StartNext(false), 2);
    EXPECT_EQ(q.host.fillPosts, 0);
    EXPECT_EQ(q.queue.StartNext(true), 1);
    EXPECT_EQ(q.host.fillPosts, 1);
    EXPECT_EQ(q.queue.StartNext(true), 0);
    EXPECT_EQ(q.host.fillPosts, 1);
    EXPECT_EQ(q.host.started, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(q.host.refreshes, 3);
    // Full: nothing more starts.
    EXPECT_EQ(q.queue.StartNext(true), 0);
    EXPECT_EQ(q.host.started.size(), 3u);
}

TEST(JobQueueTest, FullSitesAreSkippedByTheQueue)
{
    Queue q({{"a"}, {"b"}, {"c"}}, 3);
    q.host.fullSites = {"a", "c"};
    q.queue.FillQueue();
    EXPECT_EQ(q.host.started, (std::vector<std::string>{"b"}));
}

TEST(JobQueueTest, AStopOnASiteWithARecordDefersTheNextStartToTheTimer)
{
    Queue q({{"a", D}, {"b"}}, 1);
    q.host.siteRecords = {"a"};
    DownloadJob& a = q.job("a");
    a.state = static_cast<uint32_t>(JobState::Failed);
    q.queue.JobStopped(a);
    EXPECT_TRUE(q.host.started.empty());
    EXPECT_TRUE(q.queue.startDeferred());
    q.queue.OnTimerTick();
    EXPECT_EQ(q.host.started, (std::vector<std::string>{"b"}));
    EXPECT_FALSE(q.queue.startDeferred());
    q.queue.OnTimerTick();
    EXPECT_EQ(q.host.started.size(), 1u);
}

TEST(JobQueueTest, TheFrameHearsOnceWhenNothingRunsAndNothingCanStart)
{
    struct Case {
        const char* what;
        std::vector<JobSpec> jobs;
        std::vector<bool> expectedReports;
    };
    const std::vector<Case> cases = {
        {"last job done", {{"a", C}}, {false}},
        {"a scheduled job still waits", {{"a", C}, {"s", R, Sch}}, {true}},
        {"a Manual job does not count", {{"a", C}, {"m", R, Man}}, {false}},
        {"another job still runs", {{"a", C}, {"b", D}}, {}},
        {"another job starts", {{"a", C}, {"b", R, Imm}}, {}},
    };
    for (const auto& c : cases) {
        Queue q(c.jobs, 2);
        q.host.siteRecords = {"a"};  // deferral must not matter when nothing waits
        q.queue.JobStopped(q.job("a"));
        q.queue.OnTimerTick();
        EXPECT_EQ(q.host.allDone, c.expectedReports) << c.what;
    }
}

TEST(JobQueueTest, AFailingJobMovesToTheEndOnlyWhenAnotherCanStart)
{
    struct Case {
        const char* what;
        std::vector<JobSpec> jobs;
        std::set<std::string> fullSites;
        bool moved;
        std::vector<std::string> order;
    };
    const std::vector<Case> cases = {
        {"another job waits", {{"x", D}, {"b"}, {"c", R, Man}}, {}, true, {"b", "c", "x"}},
        {"only Manual jobs wait", {{"x", D}, {"c", R, Man}}, {}, false, {"x", "c"}},
        {"the waiting job's site is full", {{"x", D}, {"b"}}, {"b"}, false, {"x", "b"}},
        {"alone in the queue", {{"x", D}}, {}, false, {"x"}},
    };
    for (const auto& c : cases) {
        Queue q(c.jobs, 1);
        q.host.fullSites = c.fullSites;
        EXPECT_EQ(q.queue.MoveToEndOfQueue(q.job("x")), c.moved) << c.what;
        EXPECT_EQ(q.order(), c.order) << c.what;
    }
}

TEST(JobQueueTest, AJobOutsideTheQueueIsMovedIntoItsEnd)
{
    Queue q({{"b"}}, 1);
    auto outside = std::make_unique<DownloadJob>();
    outside->name = "x";
    DownloadJob* x = q.tree.Insert(q.downloaded, std::move(outside));
    ASSERT_TRUE(q.queue.MoveToEndOfQueue(*x));
    EXPECT_EQ(q.order(), (std::vector<std::string>{"b", "x"}));

    DownloadJob stranger;  // not in the tree at all
    EXPECT_FALSE(q.queue.MoveToEndOfQueue(stranger));
}

TEST(JobQueueTest, MoveToEndAfterEveryTenRetriesOfASingleUrlJob)
{
    struct Case {
        bool optionOn;
        std::size_t urls;
        int32_t retries;
        bool expected;
    };
    const Case cases[] = {
        {true, 1, 10, true}, {true, 1, 20, true},  {true, 1, 9, false},   {true, 1, 11, false},
        {true, 1, 0, false}, {true, 2, 10, false}, {false, 1, 10, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shouldMoveToEndAfterRetries(c.optionOn, c.urls, c.retries), c.expected)
            << c.optionOn << " " << c.urls << " " << c.retries;
    }
}

TEST(JobQueueTest, FtpConnectionIsReusedOnlyForTheSameServerUserAndProxy)
{
    UrlEntry base;
    base.service = ServiceCode::Ftp;
    base.host = "ftp.example.test";
    base.port = 21;
    base.userName = "anonymous";
    const auto* proxyA = reinterpret_cast<const ProxyEntry*>(0x1000);
    const auto* proxyB = reinterpret_cast<const ProxyEntry*>(0x2000);

    struct Case {
        const char* what;
        void (*change)(UrlEntry&);
        const ProxyEntry* nextProxy;
        bool expected;
    };
    const Case cases[] = {
        {"same everything", [](UrlEntry&) {}, proxyA, true},
        {"host case differs", [](UrlEntry& u) { u.host = "FTP.Example.TEST"; }, proxyA, true},
        {"other path", [](UrlEntry& u) { u.object = "/other"; }, proxyA, true},
        {"other host", [](UrlEntry& u) { u.host = "ftp2.example.test"; }, proxyA, false},
        {"other port", [](UrlEntry& u) { u.port = 2121; }, proxyA, false},
        {"other user", [](UrlEntry& u) { u.userName = "bob"; }, proxyA, false},
        {"other proxy", [](UrlEntry&) {}, proxyB, false},
        {"direct", [](UrlEntry&) {}, nullptr, false},
        {"HTTP", [](UrlEntry& u) { u.service = ServiceCode::Http; }, proxyA, false},
    };
    for (const auto& c : cases) {
        UrlEntry next = base;
        c.change(next);
        EXPECT_EQ(canReuseFtpConnection(base, proxyA, next, c.nextProxy), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace fetchora
