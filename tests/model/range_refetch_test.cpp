// Handing ranges of a completed job back to it: its ranges, state and file.
#include "model/range_refetch.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "model/completed_range_ops.h"
#include "model/download_job.h"
#include "model/recording_sink.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;

class RangeRefetchTest : public ::testing::Test {
protected:
    RangeRefetchTest()
    {
        folder = dir.path() / "dl";
        fs::create_directories(folder);
        job.saveFolder = folder.string();
        job.SetUrl("http://h/archive.zip");
        job.formatFlags |= kFmtTempFile;
        job.SetFileSize(1000);
        job.optionFlags |= kOptSizeKnown;
        job.SetCompleted(1000);
        job.startMode = StartMode::Manual;
        job.SetState(JobState::Completed, false);
        job.completeTime = 1700000000;
        test::writeFile(at("archive.zip"), std::string(1000, 'z'));
        job.notifyWindow = &sink;
    }

    std::string at(const std::string& name) const { return (folder / name).string(); }

    test::TempDir dir;
    fs::path folder;
    test::RecordingSink sink;
    DownloadJob job;
};

TEST_F(RangeRefetchTest, TheSpansBecomeTheOnlyGapsAndTheJobIsReady)
{
    const FileSpan spans[] = {{100, 199}, {900, 999}, {0, 0}};
    ASSERT_EQ(RefetchRanges(job, spans), RefetchResult::Ready);
    EXPECT_EQ(job.completedRanges, (std::vector<CompletedRange>{{1, 100, 0, 0}, {200, 900, 0, 0}}));
    EXPECT_EQ(job.completedBytes, 1000 - 100 - 100 - 1);
    EXPECT_EQ(job.GetState(), JobState::Ready);
    EXPECT_EQ(job.startMode, StartMode::Immediately);
    EXPECT_EQ(job.completeTime, -1);

    RangeLimits limits;
    limits.fileSize = 1000;
    limits.sizeKnown = true;
    EXPECT_EQ(GetFreeRanges(job.completedRanges, limits),
              (std::vector<CompletedRange>{{0, 1, 0, 0}, {100, 200, 0, 0}, {900, 1000, 0, 0}}));
    // The run resumes from the working file, which holds the bytes.
    EXPECT_EQ(job.GetWorkingPath(), at("archive.zip.kx!"));
    EXPECT_EQ(test::readFile(at("archive.zip.kx!")), std::string(1000, 'z'));
    EXPECT_FALSE(fs::exists(at("archive.zip")));
    EXPECT_EQ(sink.masks(), std::vector<intptr_t>{kChangeAll});
}

TEST_F(RangeRefetchTest, AJobWithoutATemporaryNameKeepsItsFile)
{
    job.formatFlags &= ~kFmtTempFile;
    const FileSpan spans[] = {{10, 19}};
    ASSERT_EQ(RefetchRanges(job, spans), RefetchResult::Ready);
    EXPECT_EQ(job.GetWorkingPath(), at("archive.zip"));
    EXPECT_TRUE(fs::exists(at("archive.zip")));
}

TEST_F(RangeRefetchTest, ARecheckFlagIsDroppedSoOnlyTheGapsAreFetched)
{
    job.optionFlags |= kOptRecheck;
    const FileSpan spans[] = {{10, 19}};
    ASSERT_EQ(RefetchRanges(job, spans), RefetchResult::Ready);
    EXPECT_EQ(job.optionFlags & kOptRecheck, 0u);
}

TEST_F(RangeRefetchTest, RefusedHandBacksChangeNothing)
{
    const auto unchanged = [&](RefetchResult expected, std::vector<FileSpan> spans, const char* what) {
        const CompletedRangeList ranges = job.completedRanges;
        const JobState state = job.GetState();
        EXPECT_EQ(RefetchRanges(job, spans), expected) << what;
        EXPECT_EQ(job.completedRanges, ranges) << what;
        EXPECT_EQ(job.GetState(), state) << what;
        EXPECT_TRUE(fs::exists(at("archive.zip"))) << what;
    };
    unchanged(RefetchResult::OutOfRange, {{10, 19}, {990, 1000}}, "past the end");
    unchanged(RefetchResult::OutOfRange, {{-1, 5}}, "negative");
    unchanged(RefetchResult::OutOfRange, {{20, 10}}, "inverted");

    test::writeFile(at("archive.zip.kx!"), "someone else's");
    unchanged(RefetchResult::MoveFailed, {{10, 19}}, "a .kx! file is in the way");
    EXPECT_EQ(test::readFile(at("archive.zip.kx!")), "someone else's");
    fs::remove(at("archive.zip.kx!"));

    job.SetState(JobState::Failed, false);
    unchanged(RefetchResult::NotCompleted, {{10, 19}}, "not completed");
    job.SetState(JobState::Completed, false);
    job.optionFlags &= ~kOptSizeKnown;
    unchanged(RefetchResult::NotCompleted, {{10, 19}}, "size not known");
    job.optionFlags |= kOptSizeKnown;

    fs::remove(at("archive.zip"));
    EXPECT_EQ(RefetchRanges(job, std::vector<FileSpan>{{10, 19}}), RefetchResult::FileMissing);
    EXPECT_EQ(job.GetState(), JobState::Completed);
}

}  // namespace
}  // namespace fetchora
