#include "model/job_database.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

#include "config/download_rules.h"
#include "model/job_defaults.h"
#include "model/recording_sink.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;

class JobDatabaseTest : public ::testing::Test {
protected:
    JobDefaults defaults() const
    {
        JobDefaults d;
        d.defaultDownloadFolder = folder.string();
        return d;
    }

    DownloadJob* addJob(const std::string& url, StartMode mode = StartMode::Immediately)
    {
        auto job = doc.NewRecord(NodeKind::Job, defaults(), 1000);
        job->SetUrl(url);
        job->startMode = mode;
        return doc.AddJob(std::move(job));
    }

    test::TempDir dir;
    fs::path folder = dir.path() / "Downloads";
    JobLock lock;
    CZoviradDoc doc{lock};
};

TEST_F(JobDatabaseTest, ANewDatabaseHasTheEightDefaultCategories)
{
    EXPECT_TRUE(doc.OnNewDocument(folder.string()).empty());
    struct Expected {
        int32_t id;
        int32_t parentId;
        CategoryKind kind;
        int32_t image;
        const char* name;
        std::string folder;
    };
    const std::string base = folder.string();
    const Expected expected[] = {
        {1, -1, CategoryKind::Root, 0, "Fetchora", base},
        {2, 1, CategoryKind::Downloading, 1, "Download", base},
        {3, 1, CategoryKind::Downloaded, 3, "Downloaded", base},
        {4, 3, CategoryKind::User, 6, "Software", base + "/software"},
        {5, 3, CategoryKind::User, 6, "Game", base + "/game"},
        {6, 3, CategoryKind::User, 6, "Driver", base + "/driver"},
        {7, 3, CategoryKind::User, 6, "Mp3", base + "/mp3"},
        {8, 1, CategoryKind::Deleted, 4, "Deleted", base},
    };
    const auto& nodes = doc.tree().nodes();
    ASSERT_EQ(nodes.size(), 8u);
    for (size_t i = 0; i < nodes.size(); ++i) {
        const DownloadJob& node = *nodes[i];
        EXPECT_TRUE(node.IsCategory()) << i;
        EXPECT_EQ(node.id, expected[i].id);
        EXPECT_EQ(node.parent() ? node.parent()->id : -1, expected[i].parentId) << i;
        EXPECT_EQ(node.GetCategoryKind(), expected[i].kind) << i;
        EXPECT_EQ(node.imageIndex, expected[i].image) << i;
        EXPECT_EQ(node.GetDisplayName(), expected[i].name);
        EXPECT_EQ(node.saveFolder, expected[i].folder) << i;
    }
    for (const char* sub : {"software", "game", "driver", "mp3"})
        EXPECT_TRUE(fs::is_directory(folder / sub)) << sub;
    EXPECT_EQ(doc.root()->id, kRootCategoryId);
    EXPECT_EQ(doc.downloading()->id, kDownloadingCategoryId);
    EXPECT_EQ(doc.downloaded()->id, kDownloadedCategoryId);
    EXPECT_EQ(doc.deleted()->id, kDeletedCategoryId);
}

TEST_F(JobDatabaseTest, FoldersThatCannotBeCreatedAreReportedNotFatal)
{
    test::writeFile(folder, "a file where the folder should be");
    const std::vector<FolderProblem> problems = doc.OnNewDocument(folder.string());
    ASSERT_EQ(problems.size(), 4u);
    EXPECT_EQ(problems[0].folder, (folder / "software").string());
    EXPECT_FALSE(problems[0].error.empty());
    EXPECT_EQ(doc.tree().size(), 8u);
}

TEST_F(JobDatabaseTest, WithoutADownloadFolderNothingIsCreatedInTheWorkingDirectory)
{
    const std::vector<FolderProblem> problems = doc.OnNewDocument("");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(doc.tree().size(), 8u);
    EXPECT_FALSE(fs::exists("software"));
}

TEST_F(JobDatabaseTest, DefaultCategoriesAreAddedOnlyToAnEmptyTree)
{
    doc.OnNewDocument(folder.string());
    addJob("http://h/a.zip");
    doc.CreateDefaultCategories(folder.string());
    EXPECT_EQ(doc.tree().size(), 9u);

    doc.DeleteContents();
    EXPECT_TRUE(doc.tree().empty());
    doc.CreateDefaultCategories(folder.string());
    EXPECT_EQ(doc.tree().size(), 8u);
}

TEST_F(JobDatabaseTest, SpecialCategoriesTakeTheirNamesFromTheActiveLanguage)
{
    doc.OnNewDocument(folder.string());
    doc.downloading()->name = "stale name from a file";
    std::map<uint32_t, std::string> german
        = {{kStrAppTitle, "Fetchora DE"}, {kStrDownloading, "Herunterladen"}, {kStrDeleted, "Papierkorb"}};
    CZoviradDoc localized(lock, [&](uint32_t id) { return german.count(id) ? german[id] : std::string(); });
    localized.OnNewDocument(folder.string());
    EXPECT_EQ(localized.downloading()->name, "Herunterladen");
    EXPECT_EQ(localized.downloaded()->name, "Downloaded") << "missing texts fall back to English";
    EXPECT_EQ(localized.tree().FindById(4)->name, "Software");

    german[kStrDownloading] = "Laden";
    localized.tree().FindById(4)->name = "Programme";
    localized.RefreshSpecialNames();
    EXPECT_EQ(localized.downloading()->name, "Laden");
    EXPECT_EQ(localized.deleted()->name, "Papierkorb");
    EXPECT_EQ(localized.tree().FindById(4)->name, "Programme") << "user categories keep their names";
}

TEST_F(JobDatabaseTest, TranslatedUserCategoryNamesGiveSafeFolders)
{
    CZoviradDoc localized(lock, [](uint32_t id) {
        return id == kStrDefaultCategories ? std::string(" Spiele , ../Treiber,,") : std::string();
    });
    EXPECT_TRUE(localized.OnNewDocument(folder.string()).empty());
    ASSERT_EQ(localized.tree().size(), 6u);
    EXPECT_EQ(localized.tree().FindById(4)->name, "Spiele");
    EXPECT_EQ(localized.tree().FindById(4)->saveFolder, (folder / "spiele").string());
    EXPECT_EQ(localized.tree().FindById(5)->saveFolder, (folder / ".._treiber").string());
    EXPECT_EQ(localized.deleted()->id, 6);
}

TEST_F(JobDatabaseTest, NewJobsQueueUnderDownloadInInsertionOrder)
{
    test::RecordingSink view;
    doc.SetNotifyWindow(&view);
    doc.OnNewDocument(folder.string());
    DownloadJob* first = addJob("http://h/1.zip");
    DownloadJob* second = addJob("http://h/2.zip");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->id, 9);
    EXPECT_EQ(second->id, 10);
    EXPECT_EQ(first->parent(), doc.downloading());
    EXPECT_EQ(doc.downloading()->firstChild(), first);
    EXPECT_EQ(first->nextSibling(), second);
    EXPECT_EQ(first->notifyWindow, &view);
    EXPECT_EQ(first->saveFolder, folder.string()) << "the folder of Downloaded";
    EXPECT_EQ(doc.AddJob(doc.NewRecord(NodeKind::Job, defaults(), 0), first), nullptr) << "a job is no category";
}

TEST_F(JobDatabaseTest, SettingTheNotifyWindowReachesEveryRecord)
{
    doc.OnNewDocument(folder.string());
    DownloadJob* job = addJob("http://h/1.zip");
    test::RecordingSink view;
    doc.SetNotifyWindow(&view);
    job->SetComment("x");
    EXPECT_EQ(view.masks(), (std::vector<intptr_t>{1024}));
    doc.SetNotifyWindow(nullptr);
    job->SetComment("y");
    EXPECT_EQ(view.messages.size(), 1u);
}

TEST_F(JobDatabaseTest, CategoryLookupGoesThroughTheJobsTree)
{
    doc.OnNewDocument(folder.string());
    DownloadJob* job = addJob("http://h/1.zip");
    EXPECT_EQ(job->GetCategory(), doc.downloaded());
    EXPECT_TRUE(job->SetCategory(5));
    EXPECT_EQ(job->GetCategory()->name, "Game");
    EXPECT_FALSE(job->SetCategory(99));
    EXPECT_FALSE(job->SetCategory(job->id)) << "a job is no category";
    EXPECT_EQ(job->categoryId, 5);
}

TEST_F(JobDatabaseTest, CompletedJobsMoveToTheirCategoryKeepingTheirId)
{
    doc.OnNewDocument(folder.string());
    DownloadJob* job = addJob("http://h/1.zip");
    const int32_t id = job->id;
    job->categoryId = 7;
    ASSERT_TRUE(doc.PlaceCompletedJob(*job));
    EXPECT_EQ(job->parent()->name, "Mp3");
    EXPECT_EQ(job->id, id);
    EXPECT_FALSE(doc.PlaceCompletedJob(*job)) << "already there";

    DownloadJob* orphan = addJob("http://h/2.zip");
    orphan->categoryId = 77;
    ASSERT_TRUE(doc.PlaceCompletedJob(*orphan));
    EXPECT_EQ(orphan->parent(), doc.downloaded());
}

TEST_F(JobDatabaseTest, ClosingStopsOnlyQueuedJobsThenDestroysEverything)
{
    doc.OnNewDocument(folder.string());
    DownloadJob* waiting = addJob("http://h/1.zip", StartMode::Immediately);
    DownloadJob* manual = addJob("http://h/2.zip", StartMode::Manual);
    DownloadJob* running = addJob("http://h/3.zip", StartMode::Manual);
    running->SetState(JobState::Downloading, false);
    DownloadJob* done = addJob("http://h/4.zip", StartMode::Immediately);
    done->SetState(JobState::Completed, false);
    (void)manual;
    std::vector<DownloadJob*> stopped;
    doc.DeleteContents([&](DownloadJob& job) { stopped.push_back(&job); });
    EXPECT_EQ(stopped, (std::vector<DownloadJob*>{waiting, running}));
    EXPECT_TRUE(doc.tree().empty());
}

TEST_F(JobDatabaseTest, DownloadRulesFileANewJob)
{
    doc.OnNewDocument(folder.string());
    DownloadRuleList rules;
    DownloadRule rule;
    rule.flags = kRuleEnabled | kRuleFromSite;
    rule.var1 = "games.example";
    rule.var2 = "5";
    rules.AddDownloadRule(rule);

    auto job = doc.NewRecord(NodeKind::Job, defaults(), 0);
    job->SetUrl("http://games.example/setup.exe");
    ASSERT_NE(ApplyDownloadRules(rules, *job, doc.tree()), nullptr);
    EXPECT_EQ(job->categoryId, 5);
    EXPECT_EQ(job->saveFolder, (folder / "game").string());

    auto other = doc.NewRecord(NodeKind::Job, defaults(), 0);
    other->SetUrl("http://elsewhere.example/setup.exe");
    EXPECT_EQ(ApplyDownloadRules(rules, *other, doc.tree()), nullptr);
    EXPECT_EQ(other->categoryId, kDownloadedCategoryId);
}

}  // namespace
}  // namespace fetchora
