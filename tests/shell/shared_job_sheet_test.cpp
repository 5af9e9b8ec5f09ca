// One sheet for several jobs: what the sample shows, what reaches the jobs;
// and the folder history the sheet offers.
#include "shell/shared_job_sheet.h"

#include "platform/registry.h"
#include "shell/folder_history.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

struct ThreeJobs {
    ThreeJobs()
    {
        int n = 1;
        for (DownloadJob* job : all()) {
            job->SetUrl("http://127.0.0.1:9/f" + std::to_string(n) + ".bin");
            job->categoryId = 3;
            job->saveFolder = "/srv/f" + std::to_string(n);
            job->splitCount = n;
            job->startMode = StartMode::Manual;
            job->referer = "http://127.0.0.1:9/";
            job->editTexts().userName = "anna";
            job->editTexts().password = "pw" + std::to_string(n);
            job->ftpProxyId = 2;
            job->optionFlags = kOptResumeKnown | kOptCreateCategory;
            ++n;
        }
        b.optionFlags |= kOptFtpSubdirectories;
        c.streamProxyId = 1;
        c.editTexts().comment = "third";
    }
    std::vector<DownloadJob*> all() { return {&a, &b, &c}; }
    DownloadJob a, b, c;
};

TEST(SharedJobSheet, TheSampleShowsWhatTheJobsShareAndMarksWhatTheyDiffer)
{
    ThreeJobs jobs;
    DownloadJob sample;
    MakeSharedSample(sample, jobs.all());
    EXPECT_EQ(sample.categoryId, 3);
    EXPECT_EQ(sample.saveFolder, "");
    EXPECT_EQ(sample.splitCount, kSeveralSplitCounts);
    EXPECT_EQ(sample.startMode, StartMode::Manual);
    EXPECT_EQ(sample.referer, "http://127.0.0.1:9/");
    EXPECT_EQ(sample.userName(), "anna");
    EXPECT_EQ(sample.password(), "");
    EXPECT_EQ(sample.comment(), "");
    EXPECT_EQ(sample.ftpProxyId, 2);
    EXPECT_EQ(sample.streamProxyId, kSeveralProxies);
    EXPECT_NE(sample.optionFlags & kOptCreateCategory, 0u);
    EXPECT_FALSE(IsSeveralSwitch(sample, kOptCreateCategory));
    EXPECT_TRUE(IsSeveralSwitch(sample, kOptFtpSubdirectories));
    EXPECT_FALSE(IsSeveralSwitch(sample, kOptUseLogin));
    // Flags the sheet does not show are no business of the sample.
    EXPECT_EQ(sample.optionFlags & kOptResumeKnown, 0u);
}

TEST(SharedJobSheet, OnlyTheFieldsTheUserChangedReachEachJob)
{
    struct Case {
        const char* name;
        void (*edit)(DownloadJob&);
        void (*expect)(ThreeJobs&);
    };
    const Case cases[] = {
        {"nothing", [](DownloadJob&) {},
         [](ThreeJobs& j) {
             EXPECT_EQ(j.a.splitCount, 1);
             EXPECT_EQ(j.c.splitCount, 3);
             EXPECT_EQ(j.b.saveFolder, "/srv/f2");
             EXPECT_EQ(j.b.password(), "pw2");
             EXPECT_EQ(j.c.comment(), "third");
             EXPECT_EQ(j.c.streamProxyId, 1);
             EXPECT_NE(j.b.optionFlags & kOptFtpSubdirectories, 0u);
             EXPECT_EQ(j.a.optionFlags & kOptFtpSubdirectories, 0u);
         }},
        {"split", [](DownloadJob& s) { s.splitCount = 40; },
         [](ThreeJobs& j) {
             for (DownloadJob* job : j.all())
                 EXPECT_EQ(job->splitCount, 8);  // within the bound
             EXPECT_EQ(j.b.saveFolder, "/srv/f2");
         }},
        {"folder", [](DownloadJob& s) { s.saveFolder = "/srv/all"; },
         [](ThreeJobs& j) {
             for (DownloadJob* job : j.all())
                 EXPECT_EQ(job->saveFolder, "/srv/all");
             EXPECT_EQ(j.c.splitCount, 3);
         }},
        {"password", [](DownloadJob& s) { s.editTexts().password = "same"; },
         [](ThreeJobs& j) {
             for (DownloadJob* job : j.all())
                 EXPECT_EQ(job->password(), "same");
             EXPECT_EQ(j.a.userName(), "anna");
         }},
        {"decided switch",
         [](DownloadJob& s) {
             s.optionFlags &= ~(kOptFtpSubdirectories << kSeveralSwitchShift);
             s.optionFlags |= kOptFtpSubdirectories;
         },
         [](ThreeJobs& j) {
             for (DownloadJob* job : j.all())
                 EXPECT_NE(job->optionFlags & kOptFtpSubdirectories, 0u);
             EXPECT_NE(j.a.optionFlags & kOptResumeKnown, 0u);
         }},
        {"shared switch off", [](DownloadJob& s) { s.optionFlags &= ~kOptCreateCategory; },
         [](ThreeJobs& j) {
             for (DownloadJob* job : j.all())
                 EXPECT_EQ(job->optionFlags & kOptCreateCategory, 0u);
             EXPECT_NE(j.b.optionFlags & kOptFtpSubdirectories, 0u);
         }},
        {"proxy and start",
         [](DownloadJob& s) {
             s.streamProxyId = 0;
             s.startMode = StartMode::Schedule;
         },
         [](ThreeJobs& j) {
             for (DownloadJob* job : j.all()) {
                 EXPECT_EQ(job->streamProxyId, 0);
                 EXPECT_EQ(job->startMode, StartMode::Schedule);
                 EXPECT_EQ(job->ftpProxyId, 2);
             }
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ThreeJobs jobs;
        DownloadJob sample;
        MakeSharedSample(sample, jobs.all());
        const SharedJobFields before = SharedFieldsOf(sample);
        c.edit(sample);
        for (DownloadJob* job : jobs.all())
            ApplySharedChanges(before, sample, *job, 8);
        c.expect(jobs);
    }
}

TEST(FolderHistory, TheLastChosenFolderComesFirstOnceAndTheListStaysShort)
{
    Registry registry;
    EXPECT_TRUE(ReadFolderHistory(registry).empty());
    RememberFolder(registry, "/srv/a");
    RememberFolder(registry, "/srv/b");
    RememberFolder(registry, "");
    RememberFolder(registry, "/srv/a");
    EXPECT_EQ(ReadFolderHistory(registry), (std::vector<std::string>{"/srv/a", "/srv/b"}));
    EXPECT_EQ(registry.readString(Hive::CurrentUser, "Software\\Korvex\\Korvex\\SelFolder_Dlg", "Recent1"), "/srv/a");
    for (int i = 0; i < 15; ++i)
        RememberFolder(registry, "/srv/n" + std::to_string(i));
    const std::vector<std::string> folders = ReadFolderHistory(registry);
    ASSERT_EQ(folders.size(), kFolderHistorySize);
    EXPECT_EQ(folders.front(), "/srv/n14");
    EXPECT_EQ(folders.back(), "/srv/n5");
}

}  // namespace
}  // namespace fetchora
