// The main view (behind the window and the daemon) killed the moment a
// finished file took its final name, before a save recorded the finish: the
// disk as it was at that moment is taken, and the next start over it ends the
// job from its file, without a second fetch or a second copy. Likewise a kill
// right after a finished job's file was moved to another folder or renamed:
// the next start finds the job where its file went.
#include "model/finish_journal.h"
#include "shell/job_list_model.h"
#include "support/real_peers.h"
#include "support/test_files.h"
#include "support/view_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>

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

    // The journal as the disk holds it now (the database as it was kept).
    void keepTheJournal()
    {
        std::error_code error;
        fs::remove(killed() / "Default.kxd.fin", error);
        if (fs::exists(profile() / "Default.kxd.fin"))
            fs::copy_file(profile() / "Default.kxd.fin", killed() / "Default.kxd.fin");
    }

    // The notes of moves made since the disk was kept, added to the kept
    // journal: a kill right after the moves, with no save since.
    void keepTheMoveNotes()
    {
        std::ifstream live(profile() / "Default.kxd.fin");
        std::ofstream kept(killed() / "Default.kxd.fin", std::ios::app);
        int moves = 0;
        for (std::string line; std::getline(live, line);) {
            if (line.starts_with("m ")) {
                kept << line << "\n";
                ++moves;
            }
        }
        EXPECT_GT(moves, 0) << "the move left no note";
    }

    // Downloads the file to its end; the job's id.
    int32_t downloadWhole(ViewSession& session, const std::function<void()>& atRename = {})
    {
        std::atomic<bool> renamed{false};
        session.view->setAfterFinalRename([&](const DownloadJob&) {
            if (atRename)
                atRename();
            renamed = true;
        });
        AddDownloadRequest add;
        add.text = url();
        const AddDownloadOutcome outcome = session.view->addDownload(add);
        EXPECT_EQ(outcome.result, AddDownloadResult::Added);
        if (outcome.job == nullptr)
            return 0;
        DownloadJob* job = outcome.job;
        EXPECT_TRUE(session.view->save());
        session.view->startJob(*job, false);
        EXPECT_TRUE(session.app.loop().runUntil(
            [&] {
                JobLockGuard lock(session.app.jobLock());
                return renamed.load() && job->GetState() == JobState::Completed && !session.view->isActive(*job);
            },
            60s));
        session.view->setAfterFinalRename({});
        return job->id;
    }

    // Moves the job, with its file, into a new category of its own folder.
    static void moveIntoNewCategory(ViewSession& session, DownloadJob& job, const fs::path& folder)
    {
        fs::create_directories(folder);
        DownloadJob* target = session.doc().AddCategory("Target", folder.string(), session.doc().root());
        session.app.settings().SetOption(OptionId::MoveDownloaded, 2);
        session.view->list().openCategory(job.parent());
        session.view->list().setSelection({&job});
        session.view->moveSelectedJobs(*target);
        ASSERT_EQ(job.parent(), target);
        ASSERT_EQ(job.saveFolder, folder.string());
    }

    // The job of the next start, once it is complete.
    static DownloadJob* completedJob(ViewSession& session, int32_t jobId)
    {
        DownloadJob* job = session.doc().tree().FindById(jobId);
        if (job == nullptr)
            return nullptr;
        const bool completed = session.app.loop().runUntil(
            [&] {
                JobLockGuard lock(session.app.jobLock());
                return job->GetState() == JobState::Completed;
            },
            30s);
        return completed ? job : nullptr;
    }

    static size_t filesIn(const fs::path& folder)
    {
        size_t files = 0;
        for (const auto& entry : fs::directory_iterator(folder))
            files += entry.is_regular_file() ? 1 : 0;
        return files;
    }

    std::string servedBytes() const
    {
        std::string text(256 * 1024 + 33, '\0');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char>((i * 131) ^ (i >> 7));
        return text;
    }

    // The property sheet of a saved finished job, as the window runs it: the
    // sheet hands its new name and folder (none: the job's own) to the view;
    // a kill right after, and the next start finds the job where its file is.
    void sheetChangeIsFoundAfterAKill(const fs::path& folder, const std::string& name)
    {
        m_nginx.writeServedFile("files/whole.bin", servedBytes());
        if (!folder.empty())
            fs::create_directories(folder);
        int32_t jobId = 0;
        fs::path before;
        fs::path after;
        {
            ViewSession session(m_dir);
            jobId = downloadWhole(session);
            ASSERT_NE(jobId, 0);
            ASSERT_TRUE(session.view->save());
            keepTheDisk();
            DownloadJob* job = session.doc().tree().FindById(jobId);
            before = job->GetLocalPath();
            after = (folder.empty() ? before.parent_path() : folder) / name;
            session.view->list().openCategory(job->parent());
            session.view->list().setSelection({job});
            session.view->list().setFocusedJob(job);
            bool offered = false;
            session.prompts.sheetFileEdit = [&](DownloadJob& edited, const JobFileChange& changeFile) {
                offered = static_cast<bool>(changeFile);
                if (changeFile) {
                    EXPECT_TRUE(changeFile(edited, folder.empty() ? edited.saveFolder : folder.string(), name));
                }
            };
            ASSERT_TRUE(session.view->run(ViewCommand::Properties));
            session.prompts.sheetFileEdit = {};
            ASSERT_TRUE(offered) << "the sheet was not given the view's way to move files";
            ASSERT_EQ(job->GetLocalPath(), after.string());
            ASSERT_TRUE(fs::exists(after));
            ASSERT_FALSE(fs::exists(before));
            keepTheMoveNotes();
        }
        bringTheKilledDiskBack();

        ViewSession session(m_dir);
        DownloadJob* job = completedJob(session, jobId);
        ASSERT_NE(job, nullptr);
        EXPECT_EQ(job->GetLocalPath(), after.string());
        EXPECT_TRUE(sameFileBytes(m_nginx.www() / "files" / "whole.bin", after));
        EXPECT_FALSE(fs::exists(before));
        EXPECT_EQ(requestsForTheFile(), 1);
        ASSERT_TRUE(session.view->save());
        EXPECT_TRUE(ReadFinishJournal(profile() / "Default.kxd.fin").empty());
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

TEST_F(ViewFinishJournal, AFinishNotYetSavedThenMovedToAnotherFolderIsFoundThereAfterAKill)
{
    m_nginx.writeServedFile("files/whole.bin", servedBytes());
    const fs::path folder = m_dir / "elsewhere";
    int32_t jobId = 0;
    fs::path before;
    {
        ViewSession session(m_dir);
        // The database of the moment of the rename, and its journal with the
        // finish: no save recorded the finish before the move.
        jobId = downloadWhole(session, [this] { keepTheDisk(); });
        ASSERT_NE(jobId, 0);
        DownloadJob* job = session.doc().tree().FindById(jobId);
        before = job->GetLocalPath();
        moveIntoNewCategory(session, *job, folder);
        keepTheMoveNotes();
    }
    bringTheKilledDiskBack();
    ASSERT_TRUE(sameFileBytes(m_nginx.www() / "files" / "whole.bin", folder / "whole.bin"));
    ASSERT_FALSE(fs::exists(before));

    ViewSession session(m_dir);
    DownloadJob* job = completedJob(session, jobId);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->GetLocalPath(), (folder / "whole.bin").string());
    EXPECT_EQ(job->completedBytes, static_cast<int64_t>(servedBytes().size()));
    EXPECT_TRUE(sameFileBytes(m_nginx.www() / "files" / "whole.bin", folder / "whole.bin"));
    // Neither fetched again nor a second copy in either folder.
    EXPECT_EQ(requestsForTheFile(), 1);
    EXPECT_EQ(filesIn(folder), 1u);
    EXPECT_FALSE(fs::exists(before));
    EXPECT_FALSE(fs::exists(before.string() + ".kx!"));
    ASSERT_TRUE(session.view->save());
    EXPECT_TRUE(ReadFinishJournal(profile() / "Default.kxd.fin").empty());
}

TEST_F(ViewFinishJournal, ASavedFinishedJobMovedAndRenamedIsFoundUnderItsNewNameAfterAKill)
{
    m_nginx.writeServedFile("files/whole.bin", servedBytes());
    const fs::path folder = m_dir / "elsewhere";
    int32_t jobId = 0;
    {
        ViewSession session(m_dir);
        jobId = downloadWhole(session);
        ASSERT_NE(jobId, 0);
        // The finish is recorded; the journal is empty again.
        ASSERT_TRUE(session.view->save());
        keepTheDisk();
        ASSERT_TRUE(ReadFinishJournal(killed() / "Default.kxd.fin").empty());
        DownloadJob* job = session.doc().tree().FindById(jobId);
        moveIntoNewCategory(session, *job, folder);
        session.view->list().openCategory(job->parent());
        session.view->list().setFocusedJob(job);
        session.prompts.text = "renamed.bin";
        ASSERT_TRUE(session.view->run(ViewCommand::Rename));
        ASSERT_EQ(job->GetLocalPath(), (folder / "renamed.bin").string());
        keepTheJournal();
    }
    bringTheKilledDiskBack();

    ViewSession session(m_dir);
    DownloadJob* job = completedJob(session, jobId);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->GetLocalPath(), (folder / "renamed.bin").string());
    EXPECT_TRUE(sameFileBytes(m_nginx.www() / "files" / "whole.bin", folder / "renamed.bin"));
    EXPECT_EQ(filesIn(folder), 1u);
    EXPECT_EQ(requestsForTheFile(), 1);
}

TEST_F(ViewFinishJournal, ARenameInThePropertySheetIsFoundUnderTheNewNameAfterAKill)
{
    sheetChangeIsFoundAfterAKill({}, "renamed.bin");
}

TEST_F(ViewFinishJournal, AFolderChangeInThePropertySheetMovesTheFileAndIsFoundThereAfterAKill)
{
    sheetChangeIsFoundAfterAKill(m_dir / "sheet folder", "moved.bin");
}

// A relative folder lies wherever the working folder happens to be: a job's
// file is not moved there, by a category nor by the sheet, and no note
// names it.
TEST_F(ViewFinishJournal, AFolderThatIsNotAbsoluteGetsNoFileMovedIntoIt)
{
    m_nginx.writeServedFile("files/whole.bin", servedBytes());
    ViewSession session(m_dir);
    const int32_t jobId = downloadWhole(session);
    ASSERT_NE(jobId, 0);
    ASSERT_TRUE(session.view->save());
    DownloadJob* job = session.doc().tree().FindById(jobId);
    const std::string folder = job->saveFolder;
    const fs::path file = job->GetLocalPath();
    const uint64_t journalBytes = FinishJournalBytes(profile() / "Default.kxd.fin");

    DownloadJob* target = session.doc().AddCategory("Relative", "relative/place", session.doc().root());
    session.app.settings().SetOption(OptionId::MoveDownloaded, 2);
    session.view->list().openCategory(job->parent());
    session.view->list().setSelection({job});
    session.prompts.asked.clear();
    session.view->moveSelectedJobs(*target);
    EXPECT_EQ(session.prompts.texts("message"), std::vector<std::string>{"Some file(s) can't move!"});
    EXPECT_EQ(job->saveFolder, folder);

    session.view->list().openCategory(job->parent());
    session.view->list().setSelection({job});
    session.view->list().setFocusedJob(job);
    session.prompts.sheetFileEdit = [&](DownloadJob& edited, const JobFileChange& changeFile) {
        ASSERT_TRUE(changeFile);
        EXPECT_FALSE(changeFile(edited, "relative", "other.bin"));
    };
    ASSERT_TRUE(session.view->run(ViewCommand::Properties));
    session.prompts.sheetFileEdit = {};
    EXPECT_EQ(job->saveFolder, folder);
    EXPECT_EQ(job->GetLocalPath(), file.string());
    EXPECT_TRUE(sameFileBytes(m_nginx.www() / "files" / "whole.bin", file));
    EXPECT_FALSE(fs::exists("relative"));
    EXPECT_EQ(FinishJournalBytes(profile() / "Default.kxd.fin"), journalBytes);
}

}  // namespace
}  // namespace fetchora::test
