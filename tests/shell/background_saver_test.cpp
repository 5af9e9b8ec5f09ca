// The saver's thread: images reach the disk in order, only after the files
// they were taken with were synced, and a failed sync keeps the image back
// and says which job it was.
#include "shell/background_saver.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <mutex>

namespace fetchora {
namespace {

using test::TempDir;

class ReportLog {
public:
    std::function<void(const BackgroundSaveReport&)> sink()
    {
        return [this](const BackgroundSaveReport& report) {
            std::lock_guard lock(m_mutex);
            m_reports.push_back(report);
        };
    }
    std::vector<BackgroundSaveReport> reports()
    {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }

private:
    std::mutex m_mutex;
    std::vector<BackgroundSaveReport> m_reports;
};

int openForSync(const std::filesystem::path& file)
{
    return ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

// A saver that has written one good image, "good", of dir/Default.kxd.
class BackgroundSaverAfterAGoodSave : public testing::Test {
protected:
    void SetUp() override
    {
        saver.submit(database, "good", {}, 0);
        saver.drain();
    }

    // A descriptor whose sync fails, as one of a disk that lost the data
    // would: a pipe cannot be synced.
    static int unsyncable()
    {
        int pipeEnds[2] = {-1, -1};
        EXPECT_EQ(::pipe(pipeEnds), 0);
        if (pipeEnds[1] >= 0)
            ::close(pipeEnds[1]);
        return pipeEnds[0];
    }

    TempDir dir;
    const std::filesystem::path database = dir / "Default.kxd";
    ReportLog log;
    BackgroundSaver saver{log.sink()};
};

TEST(BackgroundSaver, WritesTheNewestImageAfterSyncingItsFilesAndKeepsABackup)
{
    TempDir dir;
    const std::filesystem::path database = dir / "Default.kxd";
    ReportLog log;
    BackgroundSaver saver(log.sink());
    saver.submit(database, "first", {{1, openForSync(dir / "a.bin")}}, 0);
    saver.drain();
    EXPECT_EQ(test::readFile(database), "first");
    // Several quick saves: whatever was dropped, the newest is the one left.
    for (int i = 0; i < 20; ++i)
        saver.submit(database, "image " + std::to_string(i), {{2, openForSync(dir / "b.bin")}}, 0);
    saver.drain();
    EXPECT_EQ(test::readFile(database), "image 19");
    EXPECT_TRUE(std::filesystem::exists(database.string() + ".bak"));
    const auto reports = log.reports();
    ASSERT_FALSE(reports.empty());
    for (const BackgroundSaveReport& report : reports) {
        EXPECT_TRUE(report.save.ok) << report.save.error;
        EXPECT_TRUE(report.failedSyncs.empty());
    }
}

TEST_F(BackgroundSaverAfterAGoodSave, AFailedSyncKeepsTheImageBackAndNamesTheJob)
{
    saver.submit(database, "claims more than the disk holds", {{7, openForSync(dir / "ok.bin")}, {9, unsyncable()}}, 0);
    saver.drain();
    EXPECT_EQ(test::readFile(database), "good");
    const auto reports = log.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_FALSE(reports[1].save.ok);
    EXPECT_TRUE(reports[1].save.error.empty());
    ASSERT_EQ(reports[1].failedSyncs.size(), 1u);
    EXPECT_EQ(reports[1].failedSyncs[0].first, 9);
    EXPECT_NE(reports[1].failedSyncs[0].second, 0);
}

TEST_F(BackgroundSaverAfterAGoodSave, ImagesTakenBeforeAFailureWasTakenBackAreSkipped)
{
    // The kernel reports a failed sync once: the next sync of the same
    // file succeeds though the pages are gone. An image taken before the
    // loop took the failure back must not reach the disk on that success.
    saver.submit(database, "lost a sync", {{9, unsyncable()}}, 0);
    saver.drain();
    saver.submit(database, "taken before the failure was handled", {{9, openForSync(dir / "ok.bin")}}, 0);
    saver.drain();
    EXPECT_EQ(test::readFile(database), "good");
    saver.submit(database, "taken after", {{9, openForSync(dir / "ok.bin")}}, 1);
    saver.drain();
    EXPECT_EQ(test::readFile(database), "taken after");
    const auto reports = log.reports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_FALSE(reports[2].save.ok);
    EXPECT_TRUE(reports[2].failedSyncs.empty());
    EXPECT_TRUE(reports[3].save.ok) << reports[3].save.error;
}

TEST(BackgroundSaver, APendingSaveIsWrittenBeforeTheSaverGoes)
{
    TempDir dir;
    const std::filesystem::path database = dir / "Default.kxd";
    {
        BackgroundSaver saver({});
        saver.submit(database, "last words", {}, 0);
    }
    EXPECT_EQ(test::readFile(database), "last words");
}

}  // namespace
}  // namespace fetchora
