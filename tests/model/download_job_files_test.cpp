// Job operations that touch real files in a temporary folder.
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "model/download_job.h"
#include "model/file_moves.h"
#include "model/recording_sink.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;

class JobFilesTest : public ::testing::Test {
protected:
    JobFilesTest()
    {
        folder = dir.path() / "dl";
        fs::create_directories(folder);
        job.notifyWindow = &sink;
        job.saveFolder = folder.string();
        job.SetUrl("http://h/old.zip");
        job.hasData = true;
        sink.messages.clear();
    }

    std::string at(const std::string& name) const { return (folder / name).string(); }

    test::TempDir dir;
    fs::path folder;
    test::RecordingSink sink;
    DownloadJob job;
};

TEST_F(JobFilesTest, RenamingAnUnfinishedJobMovesItsTemporaryFile)
{
    job.formatFlags |= kFmtTempFile;
    test::writeFile(at("old.zip.kx!"), "partial");
    ASSERT_TRUE(job.SetFileName("new.zip"));
    EXPECT_EQ(job.fileName, "new.zip");
    EXPECT_FALSE(fs::exists(at("old.zip.kx!")));
    EXPECT_EQ(test::readFile(at("new.zip.kx!")), "partial");
    EXPECT_EQ(sink.masks(), (std::vector<intptr_t>{2}));
}

TEST_F(JobFilesTest, RenamingACompletedJobMovesTheFinalFile)
{
    job.formatFlags |= kFmtTempFile;
    job.SetState(JobState::Completed, false);
    test::writeFile(at("old.zip"), "done");
    ASSERT_TRUE(job.SetFileName("new.zip"));
    EXPECT_EQ(test::readFile(at("new.zip")), "done");
    EXPECT_FALSE(fs::exists(at("old.zip")));
}

TEST_F(JobFilesTest, RenamingWithoutTemporaryFilesMovesTheFinalFile)
{
    job.formatFlags &= ~kFmtTempFile;
    test::writeFile(at("old.zip"), "partial");
    ASSERT_TRUE(job.SetFileName("new.zip"));
    EXPECT_EQ(test::readFile(at("new.zip")), "partial");
}

TEST_F(JobFilesTest, RenamingBackToTheDefaultNameMovesTheFileBack)
{
    job.formatFlags &= ~kFmtTempFile;
    test::writeFile(at("old.zip"), "x");
    ASSERT_TRUE(job.SetFileName("other.zip"));
    ASSERT_TRUE(job.SetFileName("old.zip"));
    EXPECT_EQ(job.fileName, "");
    EXPECT_EQ(test::readFile(at("old.zip")), "x");
    EXPECT_FALSE(fs::exists(at("other.zip")));
}

TEST_F(JobFilesTest, RenamingNeverReplacesAnExistingFile)
{
    job.formatFlags &= ~kFmtTempFile;
    test::writeFile(at("old.zip"), "mine");
    test::writeFile(at("taken.zip"), "someone else's");
    EXPECT_FALSE(job.SetFileName("taken.zip"));
    EXPECT_EQ(job.fileName, "");
    EXPECT_EQ(test::readFile(at("old.zip")), "mine");
    EXPECT_EQ(test::readFile(at("taken.zip")), "someone else's");
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(JobFilesTest, RenamingFailsAndKeepsTheNameWhenTheFileIsMissing)
{
    job.formatFlags &= ~kFmtTempFile;
    EXPECT_FALSE(job.SetFileName("new.zip"));
    EXPECT_EQ(job.GetDisplayName(), "old.zip");
}

TEST_F(JobFilesTest, AJobWithoutDataOnlyStoresTheName)
{
    job.hasData = false;
    job.formatFlags &= ~kFmtTempFile;
    test::writeFile(at("old.zip"), "unrelated");
    ASSERT_TRUE(job.SetFileName("new.zip"));
    EXPECT_EQ(test::readFile(at("old.zip")), "unrelated");
    EXPECT_FALSE(fs::exists(at("new.zip")));
}

TEST_F(JobFilesTest, AHostileNewNameIsRenamedInsideTheFolder)
{
    job.formatFlags &= ~kFmtTempFile;
    test::writeFile(at("old.zip"), "data");
    ASSERT_TRUE(job.SetFileName("../../escape.zip"));
    EXPECT_EQ(test::readFile(at(".._.._escape.zip")), "data");
    EXPECT_FALSE(fs::exists(dir.path() / "escape.zip"));
    EXPECT_FALSE(fs::exists(folder.parent_path().parent_path() / "escape.zip"));
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        entries.push_back(entry.path().filename());
    EXPECT_EQ(entries, (std::vector<fs::path>{"dl"}));
}

TEST_F(JobFilesTest, MovingToAnotherFolderTakesFinalTemporaryAndLogFiles)
{
    test::writeFile(at("old.zip"), "final");
    test::writeFile(at("old.zip.kx!"), "partial");
    test::writeFile(at("old.zip.log"), "log");
    const fs::path target = dir.path() / "music";
    fs::create_directories(target);
    ASSERT_TRUE(job.MoveFilesTo(target.string()));
    EXPECT_EQ(job.saveFolder, target.string());
    EXPECT_EQ(test::readFile(target / "old.zip"), "final");
    EXPECT_EQ(test::readFile(target / "old.zip.kx!"), "partial");
    EXPECT_EQ(test::readFile(target / "old.zip.log"), "log");
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(JobFilesTest, AFailedMoveToAnotherFolderPutsEverythingBack)
{
    test::writeFile(at("old.zip"), "final");
    test::writeFile(at("old.zip.log"), "log");
    const fs::path target = dir.path() / "music";
    fs::create_directories(target);
    test::writeFile(target / "old.zip.log", "other log");
    EXPECT_FALSE(job.MoveFilesTo(target.string()));
    EXPECT_EQ(job.saveFolder, folder.string());
    EXPECT_EQ(test::readFile(at("old.zip")), "final");
    EXPECT_EQ(test::readFile(at("old.zip.log")), "log");
    EXPECT_EQ(test::readFile(target / "old.zip.log"), "other log");
    EXPECT_FALSE(fs::exists(target / "old.zip"));
}

TEST_F(JobFilesTest, RedownloadDeletesTheJobsFilesAndForgetsWhatWasKnown)
{
    test::writeFile(at("old.zip"), "final");
    test::writeFile(at("old.zip.kx!"), "partial");
    job.completedRanges = {{0, 10, 0, 0}};
    job.completedBytes = 10;
    job.totalTime = 99;
    job.completeTime = 5;
    job.SetRemoteFileTime(6);
    job.SetFileSize(10);
    job.SetResumable(true);
    job.SetState(JobState::Completed, false);
    job.startMode = StartMode::Manual;
    sink.messages.clear();

    ASSERT_TRUE(job.ResetForRedownload());
    EXPECT_FALSE(fs::exists(at("old.zip")));
    EXPECT_FALSE(fs::exists(at("old.zip.kx!")));
    EXPECT_TRUE(job.completedRanges.empty());
    EXPECT_EQ(job.completedBytes, 0);
    EXPECT_EQ(job.totalTime, 0);
    EXPECT_EQ(job.completeTime, -1);
    EXPECT_EQ(job.remoteFileTime, -1);
    EXPECT_EQ(job.fileSize, -1);
    EXPECT_EQ(job.optionFlags & (kOptResumeKnown | kOptFileTimeKnown | kOptSizeKnown), 0u);
    EXPECT_EQ(job.GetState(), JobState::Ready);
    EXPECT_EQ(job.startMode, StartMode::Immediately);
    EXPECT_EQ(sink.masks(), (std::vector<intptr_t>{0xFFFF}));
}

TEST_F(JobFilesTest, RedownloadOfAJobThatNeverWroteLeavesSameNamedFilesAlone)
{
    job.hasData = false;
    test::writeFile(at("old.zip"), "not ours");
    ASSERT_TRUE(job.ResetForRedownload());
    EXPECT_EQ(test::readFile(at("old.zip")), "not ours");
}

TEST(MoveFileNoReplace, MovesAndRefusesExistingTargets)
{
    test::TempDir dir;
    const std::string a = (dir.path() / "a").string();
    const std::string b = (dir.path() / "b").string();
    test::writeFile(a, "A");
    std::error_code error;
    ASSERT_TRUE(MoveFileNoReplace(a, b, error)) << error.message();
    EXPECT_EQ(test::readFile(b), "A");
    test::writeFile(a, "A2");
    EXPECT_FALSE(MoveFileNoReplace(a, b, error));
    EXPECT_EQ(error, std::errc::file_exists);
    EXPECT_EQ(test::readFile(b), "A");
    EXPECT_FALSE(MoveFileNoReplace((dir.path() / "missing").string(), (dir.path() / "c").string(), error));
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

TEST(MoveFileNoReplace, CopiesAcrossFileSystemsKeepingTheFileTime)
{
    test::TempDir dir;
    struct stat tmpStat { };
    struct stat shmStat { };
    if (::stat(dir.path().c_str(), &tmpStat) != 0 || ::stat("/dev/shm", &shmStat) != 0
        || tmpStat.st_dev == shmStat.st_dev)
        GTEST_SKIP() << "no second file system to move to";
    const fs::path other = fs::path("/dev/shm") / dir.path().filename();
    fs::create_directories(other);
    struct Cleanup {
        fs::path path;
        ~Cleanup()
        {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } cleanup{other};

    const std::string from = (dir.path() / "file").string();
    test::writeFile(from, "across");
    const auto time = fs::file_time_type::clock::now() - std::chrono::hours(48);
    fs::last_write_time(from, time);
    std::error_code error;
    ASSERT_TRUE(MoveFileNoReplace(from, (other / "file").string(), error)) << error.message();
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(test::readFile(other / "file"), "across");
    EXPECT_EQ(fs::last_write_time(other / "file"), time);

    test::writeFile(from, "second");
    EXPECT_FALSE(MoveFileNoReplace(from, (other / "file").string(), error));
    EXPECT_EQ(test::readFile(other / "file"), "across");
    EXPECT_EQ(test::readFile(from), "second");
}

}  // namespace
}  // namespace fetchora
