#include "lists/completed_file_export.h"

#include <gtest/gtest.h>

#include "lists/companion_file.h"
#include "support/scoped_language.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<DownloadJob> completedJob(const fs::path& folder, const std::string& name, bool completed)
{
    auto job = std::make_unique<DownloadJob>();
    job->SetUrl("http://h/" + name);
    job->saveFolder = folder.string();
    job->editTexts().comment = "job " + name;
    if (completed)
        job->SetState(JobState::Completed, false);
    return job;
}

TEST(CompletedFileExport, CopiesCompletedFilesWithCompanionsAndGoesOnAfterAFailure)
{
    test::TempDir dir;
    const fs::path from = dir / "from";
    const fs::path to = dir / "to";
    fs::create_directories(from);
    fs::create_directories(to);
    test::writeFile(from / "a.bin", "AAAA");
    test::writeFile(from / "c.bin", "CC");
    test::writeFile(to / "c.bin", "old contents");
    const auto a = completedJob(from, "a.bin", true);
    const auto missing = completedJob(from, "gone.bin", true);
    const auto unfinished = completedJob(from, "b.bin", false);
    const auto c = completedJob(from, "c.bin", true);

    const FileExportResult result = ExportCompletedFiles({a.get(), missing.get(), unfinished.get(), c.get()}, to);
    EXPECT_EQ(result.copied, 2);
    EXPECT_EQ(result.skipped, 1);
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_NE(result.failures[0].find("gone.bin"), std::string::npos);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(test::readFile(to / "a.bin"), "AAAA");
    EXPECT_EQ(test::readFile(to / "c.bin"), "CC");
    EXPECT_FALSE(fs::exists(to / "b.bin"));
    EXPECT_FALSE(fs::exists(to / "gone.bin.kxe"));

    const CompanionRead companion = ReadCompanionFile(to / "a.bin", {});
    ASSERT_EQ(companion.status, CompanionStatus::Loaded) << companion.error;
    EXPECT_EQ(companion.job->url, "http://h/a.bin");
    EXPECT_EQ(companion.job->comment(), "job a.bin");
}

TEST(CompletedFileExport, AFileIsNeverCopiedOntoItself)
{
    test::TempDir dir;
    test::writeFile(dir / "self.bin", "keep me");
    const auto job = completedJob(dir.path(), "self.bin", true);
    const FileExportResult result = ExportCompletedFiles({job.get()}, dir.path());
    EXPECT_EQ(result.copied, 0);
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(result.failures[0], (dir / "self.bin").string() + ": already in the export folder");
    EXPECT_EQ(test::readFile(dir / "self.bin"), "keep me");
    test::ScopedLanguage german("41791=%1: schon im Exportordner\n");
    const FileExportResult again = ExportCompletedFiles({job.get()}, dir.path());
    ASSERT_EQ(again.failures.size(), 1u);
    EXPECT_EQ(again.failures[0], (dir / "self.bin").string() + ": schon im Exportordner");
}

}  // namespace
}  // namespace fetchora
