#include "lists/previous_import.h"

#include <gtest/gtest.h>

#include "lists/companion_file.h"
#include "support/scoped_language.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;

class PreviousImportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(library);
        doc.OnNewDocument(library.string());
    }

    DiskFile makeFile(const fs::path& path, const std::string& bytes)
    {
        fs::create_directories(path.parent_path());
        test::writeFile(path, bytes);
        DiskFile file;
        EXPECT_TRUE(StatDiskFile(path, file));
        return file;
    }

    int jobsUnder(const DownloadJob* category) const { return doc.tree().CountJobs(category); }

    DownloadJob* userCategory(const std::string& name) const
    {
        for (DownloadJob* node : doc.tree().nodes()) {
            if (node->IsCategory() && !node->IsSpecialCategory() && node->name == name)
                return node;
        }
        return nullptr;
    }

    test::TempDir dir;
    fs::path library = dir / "library";
    JobLock lock;
    CZoviradDoc doc{lock};
    JobDefaults defaults;
};

TEST_F(PreviousImportTest, AFileBecomesACompletedJobWithItsSizeAndTime)
{
    const DiskFile file = makeFile(dir / "old" / "tool.zip", std::string(1500, 'x'));
    EXPECT_EQ(file.size, 1500);
    ImportChoice choice;
    choice.url = "http://h/pub/tool.zip";
    choice.referer = "http://h/";
    choice.comment = "found on disk";
    const ImportResult result = ImportPreviousFile(doc, defaults, 1000, file, choice);
    ASSERT_NE(result.job, nullptr) << result.error;
    const DownloadJob& job = *result.job;
    EXPECT_EQ(job.parent(), doc.downloaded());
    EXPECT_EQ(job.categoryId, doc.downloaded()->id);
    EXPECT_TRUE(job.IsComplete());
    EXPECT_EQ(job.fileSize, 1500);
    EXPECT_EQ(job.completedBytes, 1500);
    EXPECT_EQ(job.remoteFileTime, file.modified);
    EXPECT_EQ(job.url, "http://h/pub/tool.zip");
    EXPECT_EQ(job.comment(), "found on disk");
    EXPECT_EQ(job.GetLocalPath(), file.path.string());
    EXPECT_FALSE(result.moved);
}

TEST_F(PreviousImportTest, MoveFilesIntoTheCategoryFolderOrStaysWhenItCannot)
{
    DownloadJob* games = userCategory("Game");
    ASSERT_NE(games, nullptr);
    fs::create_directories(games->saveFolder.str());
    const DiskFile file = makeFile(dir / "old" / "g.iso", "data");
    ImportChoice choice;
    choice.category = games;
    choice.moveFile = true;
    ImportResult moved = ImportPreviousFile(doc, defaults, 1000, file, choice);
    ASSERT_NE(moved.job, nullptr) << moved.error;
    EXPECT_TRUE(moved.moved);
    EXPECT_EQ(moved.job->parent(), games);
    EXPECT_TRUE(fs::exists(fs::path(games->saveFolder.str()) / "g.iso"));
    EXPECT_FALSE(fs::exists(file.path));
    EXPECT_EQ(moved.job->GetLocalPath(), (fs::path(games->saveFolder.str()) / "g.iso").string());

    // A file of that name already in the folder is never replaced.
    const DiskFile second = makeFile(dir / "other" / "g.iso", "newer");
    ImportResult kept = ImportPreviousFile(doc, defaults, 1000, second, choice);
    ASSERT_NE(kept.job, nullptr);
    EXPECT_FALSE(kept.moved);
    EXPECT_FALSE(kept.warning.empty());
    EXPECT_EQ(kept.job->GetLocalPath(), second.path.string());
    EXPECT_EQ(test::readFile(fs::path(games->saveFolder.str()) / "g.iso"), "data");
}

TEST_F(PreviousImportTest, ABadUrlAddsNothing)
{
    const DiskFile file = makeFile(dir / "f.bin", "x");
    ImportChoice choice;
    choice.url = "no url here";
    EXPECT_EQ(ImportPreviousFile(doc, defaults, 1000, file, choice).job, nullptr);
    EXPECT_EQ(ImportBrokenDownload(doc, defaults, 1000, file, choice).job, nullptr);
    choice.url.clear();
    EXPECT_EQ(ImportBrokenDownload(doc, defaults, 1000, file, choice).job, nullptr);
    EXPECT_EQ(jobsUnder(doc.downloaded()), 0);
    EXPECT_EQ(jobsUnder(doc.downloading()), 0);

    // The reason is made in the current language.
    test::ScopedLanguage german("41787=keine g\xC3\xBCltige URL: %1\n41785=%1: keine gew\xC3\xB6hnliche Datei\n");
    choice.url = "no url here";
    EXPECT_EQ(ImportPreviousFile(doc, defaults, 1000, file, choice).error, "keine g\xC3\xBCltige URL: no url here");
    EXPECT_EQ(ImportBrokenDownload(doc, defaults, 1000, file, choice).error, "keine g\xC3\xBCltige URL: no url here");
    DiskFile folder;
    std::string error;
    EXPECT_FALSE(StatDiskFile(dir.path(), folder, &error));
    EXPECT_EQ(error, dir.path().string() + ": keine gew\xC3\xB6hnliche Datei");
}

TEST_F(PreviousImportTest, ACompanionJobKeepsItsHistory)
{
    auto loaded = std::make_unique<DownloadJob>();
    loaded->SetUrl("http://origin/x.bin");
    loaded->totalTime = 77;
    loaded->fileSize = 4;
    loaded->optionFlags |= kOptSizeKnown;
    loaded->SetCompleted(4);
    loaded->SetState(JobState::Completed, false);
    const DiskFile file = makeFile(dir / "x.bin", "abcd");
    ImportChoice choice;
    choice.url = "http://origin/x.bin";
    const ImportResult result = ImportPreviousFile(doc, defaults, 1000, file, choice, std::move(loaded));
    ASSERT_NE(result.job, nullptr);
    EXPECT_EQ(result.job->totalTime, 77);
    EXPECT_TRUE(result.job->IsComplete());
}

// The file on disk is the whole download: a companion record of a job that
// was still running when it was written is completed from the file, as the
// folder import does, instead of filing a Ready job that never runs.
TEST_F(PreviousImportTest, ACompanionJobOfAnUnfinishedRunIsCompletedFromTheFile)
{
    auto loaded = std::make_unique<DownloadJob>();
    loaded->SetUrl("http://origin/y.bin");
    loaded->totalTime = 12;
    loaded->fileSize = 9000;
    loaded->optionFlags |= kOptSizeKnown;
    loaded->SetCompleted(100);
    const DiskFile file = makeFile(dir / "y.bin", std::string(600, 'y'));
    ImportChoice choice;
    choice.url = "http://origin/y.bin";
    const ImportResult result = ImportPreviousFile(doc, defaults, 1000, file, choice, std::move(loaded));
    ASSERT_NE(result.job, nullptr) << result.error;
    EXPECT_EQ(result.job->GetState(), JobState::Completed);
    EXPECT_EQ(result.job->fileSize, 600);
    EXPECT_EQ(result.job->completedBytes, 600);
    EXPECT_EQ(result.job->remoteFileTime, file.modified);
    EXPECT_EQ(result.job->totalTime, 12);
    EXPECT_EQ(result.job->parent(), doc.downloaded());
}

TEST_F(PreviousImportTest, ABrokenDownloadResumesFromItsLengthInTheQueue)
{
    const DiskFile file = makeFile(dir / "partial" / "big.iso", std::string(700, 'p'));
    DownloadJob* games = userCategory("Game");
    ImportChoice choice;
    choice.url = "http://h/big.iso";
    choice.category = games;
    defaults.useTempFile = true;
    const ImportResult result = ImportBrokenDownload(doc, defaults, 1000, file, choice);
    ASSERT_NE(result.job, nullptr) << result.error;
    const DownloadJob& job = *result.job;
    EXPECT_EQ(job.parent(), doc.downloading());
    EXPECT_EQ(job.categoryId, games->id);
    EXPECT_EQ(job.GetState(), JobState::Ready);
    EXPECT_EQ(job.startMode, StartMode::Manual);
    EXPECT_EQ(job.completedBytes, 700);
    EXPECT_EQ(job.optionFlags & kOptResumeKnown, 0u);
    EXPECT_EQ(job.GetWorkingPath(), file.path.string());
}

TEST_F(PreviousImportTest, AFolderImportSkipsCompanionFilesAndCreatesCategoriesPerFolder)
{
    const fs::path root = dir / "stash";
    makeFile(root / "a.txt", "aa");
    makeFile(root / "b.txt", "bbb");
    makeFile(root / "sub" / "c.txt", "c");
    makeFile(root / "sub" / "deeper" / "d.txt", "dddd");
    auto described = std::make_unique<DownloadJob>();
    described->SetUrl("http://origin/b.txt");
    described->editTexts().comment = "from the companion";
    ASSERT_TRUE(WriteCompanionFile(root / "b.txt", *described));
    test::writeFile(root / "stray.KXE", "");
    fs::create_directory_symlink(root, root / "sub" / "loop");

    DownloadJob* software = userCategory("Software");
    FolderImportOptions options;
    options.folder = root;
    options.category = software;
    FolderImportResult flat = ImportFolder(doc, defaults, 1000, options);
    EXPECT_EQ(flat.added, 2);
    EXPECT_EQ(flat.message, "Total add 2 files.");
    EXPECT_EQ(jobsUnder(software), 2);
    DownloadJob* b = software->firstChild()->nextSibling();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->url, "http://origin/b.txt");
    EXPECT_EQ(b->comment(), "from the companion");
    EXPECT_EQ(b->completedBytes, 3);
    EXPECT_TRUE(b->IsComplete());

    options.includeSubFolders = true;
    options.autoCreateCategory = true;
    FolderImportResult deep = ImportFolder(doc, defaults, 1000, options);
    EXPECT_EQ(deep.added, 4);
    EXPECT_EQ(deep.categoriesCreated, 3);
    EXPECT_EQ(deep.message, "Total add 4 files.");
    DownloadJob* stash = userCategory("stash");
    DownloadJob* sub = userCategory("sub");
    DownloadJob* deeper = userCategory("deeper");
    ASSERT_TRUE(stash && sub && deeper);
    EXPECT_EQ(stash->parent(), software);
    EXPECT_EQ(sub->parent(), stash);
    EXPECT_EQ(deeper->parent(), sub);
    EXPECT_EQ(sub->saveFolder, (root / "sub").string());
    EXPECT_EQ(jobsUnder(stash), 2);
    EXPECT_EQ(jobsUnder(sub), 1);
    EXPECT_EQ(jobsUnder(deeper), 1);

    FolderImportOptions missing;
    missing.folder = dir / "absent";
    const FolderImportResult none = ImportFolder(doc, defaults, 1000, missing);
    EXPECT_EQ(none.added, 0);
    EXPECT_EQ(none.problems.size(), 1u);
    EXPECT_EQ(none.message, "Total add 0 files.");
}

}  // namespace
}  // namespace fetchora
