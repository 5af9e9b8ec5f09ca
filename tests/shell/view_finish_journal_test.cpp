// The main view (behind the window and the daemon) killed the moment a
// finished file took its final name, before a save recorded the finish: the
// disk as it was at that moment is taken, and the next start over it ends the
// job from its file, without a second fetch or a second copy.
#include "model/finish_journal.h"
#include "support/real_peers.h"
#include "support/test_files.h"
#include "support/view_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

namespace fetchora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ViewFinishJournal : public testing::Test {
protected:
    fs::path profile() const { return m_dir / "profile"; }
    fs::path killed() const { return m_dir / "killed"; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_nginx.httpPort()) + "/files/whole.bin"; }

    int requestsForTheFile() const
    {
        std::ifstream log(m_nginx.accessLogFile());
        int count = 0;
        for (std::string line; std::getline(log, line);)
            count += line.find("GET /files/whole.bin ") != std::string::npos ? 1 : 0;
        return count;
    }

    // What a kill leaves of the profile: the database and the journal as
    // the disk holds them now.
    void keepTheDisk()
    {
        fs::create_directories(killed());
        for (const char* name : {"Default.kxd", "Default.kxd.fin"}) {
            std::error_code error;
            fs::remove(killed() / name, error);
            if (fs::exists(profile() / name))
                fs::copy_file(profile() / name, killed() / name);
        }
    }

    void bringTheKilledDiskBack()
    {
        for (const char* name : {"Default.kxd", "Default.kxd.fin"}) {
            std::error_code error;
            fs::remove(profile() / name, error);
            if (fs::exists(killed() / name))
                fs::copy_file(killed() / name, profile() / name);
        }
    }

    TempDir m_dir;
    NginxPeer m_nginx;
};

TEST_F(ViewFinishJournal, AKillRightAfterTheRenameLeavesAJobTheNextStartCompletesFromItsFile)
{
    const std::string bytes = [] {
        std::string text(256 * 1024 + 33, '\0');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char>((i * 131) ^ (i >> 7));
        return text;
    }();
    m_nginx.writeServedFile("files/whole.bin", bytes);

    fs::path output;
    int32_t jobId = 0;
    {
        ViewSession session(m_dir);
        std::atomic<bool> renamed{false};
        session.view->setAfterFinalRename([&](const DownloadJob&) {
            keepTheDisk();
            renamed = true;
        });
        AddDownloadRequest add;
        add.text = url();
        const AddDownloadOutcome outcome = session.view->addDownload(add);
        ASSERT_EQ(outcome.result, AddDownloadResult::Added);
        jobId = outcome.job->id;
        output = outcome.job->GetLocalPath();
        // The record is on the disk before the job's file is.
        ASSERT_TRUE(session.view->save());
        session.view->startJob(*outcome.job, false);
        ASSERT_TRUE(session.app.loop().runUntil([&] { return renamed.load(); }, 60s));
    }
    bringTheKilledDiskBack();
    ASSERT_TRUE(sameFileBytes(m_nginx.www() / "files" / "whole.bin", output));
    ASSERT_FALSE(fs::exists(output.string() + ".kx!"));
    ASSERT_FALSE(ReadFinishJournal(profile() / "Default.kxd.fin").empty());

    ViewSession session(m_dir);
    DownloadJob* job = session.doc().tree().FindById(jobId);
    ASSERT_NE(job, nullptr);
    // The journal names the file: the job has its ranges at once, and ends at
    // its start without a byte fetched.
    EXPECT_EQ(job->completedBytes, static_cast<int64_t>(bytes.size()));
    const auto completed = [&] {
        JobLockGuard lock(session.app.jobLock());
        return job->GetState() == JobState::Completed;
    };
    EXPECT_TRUE(session.app.loop().runUntil(completed, 30s));
    EXPECT_EQ(job->GetLocalPath(), output.string());
    EXPECT_TRUE(sameFileBytes(m_nginx.www() / "files" / "whole.bin", output));
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(output.parent_path()))
        files += entry.path().filename().string().starts_with("whole") ? 1 : 0;
    EXPECT_EQ(files, 1u);
    EXPECT_EQ(requestsForTheFile(), 1);
    // A save that recorded the finish empties the journal.
    ASSERT_TRUE(session.view->save());
    EXPECT_TRUE(ReadFinishJournal(profile() / "Default.kxd.fin").empty());
}

}  // namespace
}  // namespace fetchora::test
