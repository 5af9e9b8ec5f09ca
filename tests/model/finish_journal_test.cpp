// The journal of finishes a save may not have recorded: what it keeps across
// a torn write, and which jobs it may complete from a file on disk.
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

#include "model/category_tree.h"
#include "model/download_job.h"
#include "model/finish_journal.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kSize = 4000;

class FinishJournalTest : public ::testing::Test {
public:
    FinishJournalTest()
    {
        folder = dir.path() / "dl";
        fs::create_directories(folder);
        journal = FinishJournalPath(dir.path() / "Default.kxd");
        auto node = std::make_unique<DownloadJob>();
        node->SetUrl("http://h/file.bin");
        node->saveFolder = folder.string();
        node->formatFlags |= kFmtTempFile;
        node->SetFileSize(kSize);
        node->completedRanges.push_back({0, 1000});
        node->RecomputeCompletedBytes();
        job = tree.Insert(nullptr, std::move(node));
    }

    void writeFinal(const std::string& name, int64_t size) const
    {
        test::writePseudoRandomFile(folder / name, size, 3);
    }

    bool wholeRanges() const
    {
        return job->completedRanges.size() == 1 && job->completedRanges[0].start == 0
            && job->completedRanges[0].end == kSize && job->completedBytes == kSize;
    }

    test::TempDir dir;
    fs::path folder;
    fs::path journal;
    CComPtrTree tree;
    DownloadJob* job = nullptr;
};

TEST_F(FinishJournalTest, NotesReadBackWithAnyNameAndATornLastLineIsDropped)
{
    std::string error;
    ASSERT_TRUE(RecordFinish(journal, {3, 10, "plain.bin"}, error)) << error;
    ASSERT_TRUE(RecordFinish(journal, {4, 0, "with space\nand newline.bin"}, error)) << error;
    {
        std::ofstream torn(journal, std::ios::app);
        torn << "5 77 6162";  // killed mid-write: no newline
    }
    const std::vector<FinishNote> notes = ReadFinishJournal(journal);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].jobId, 3);
    EXPECT_EQ(notes[0].size, 10);
    EXPECT_EQ(notes[0].name, "plain.bin");
    EXPECT_EQ(notes[1].jobId, 4);
    EXPECT_EQ(notes[1].name, "with space\nand newline.bin");

    ClearFinishJournal(journal);
    EXPECT_TRUE(ReadFinishJournal(journal).empty());
}

TEST_F(FinishJournalTest, NamesThatLeaveTheFolderOrLinesThatDoNotParseAreIgnored)
{
    {
        std::ofstream out(journal);
        out << "1 10 2e2e2f6574632f706173737764\n"  // "../etc/passwd"
            << "1 10 2e2e\n"  // ".."
            << "1 -5 61\n"
            << "x 10 61\n"
            << "1 10 6\n"  // odd hex
            << "1 10 61 extra\n"
            << "1 10 61\n";
    }
    const std::vector<FinishNote> notes = ReadFinishJournal(journal);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].name, "a");
}

TEST_F(FinishJournalTest, AJobWhoseTemporaryFileIsGoneCompletesFromTheNotedFile)
{
    writeFinal("file.bin", kSize);
    EXPECT_EQ(ApplyFinishJournal(tree, {{job->id, kSize, "file.bin"}}), 1);
    EXPECT_TRUE(wholeRanges());
    EXPECT_EQ(job->GetDisplayName(), "file.bin");
}

TEST_F(FinishJournalTest, AFreeNameTheFinishChoseBecomesTheJobsName)
{
    writeFinal("file.bin", kSize);  // someone else's
    writeFinal("file(1).bin", kSize);
    EXPECT_EQ(ApplyFinishJournal(tree, {{job->id, kSize, "file(1).bin"}}), 1);
    EXPECT_TRUE(wholeRanges());
    EXPECT_EQ(job->GetDisplayName(), "file(1).bin");
    EXPECT_EQ(job->GetLocalPath(), (folder / "file(1).bin").string());
}

TEST_F(FinishJournalTest, NothingChangesUnlessTheNotedFileIsProvablyTheJobs)
{
    struct Case {
        const char* what;
        std::function<void(FinishJournalTest&)> arrange;
        FinishNote note;
    };
    const std::vector<Case> cases = {
        {"the temporary file is still there",
         [](FinishJournalTest& t) {
             t.writeFinal("file.bin", kSize);
             t.writeFinal("file.bin.kx!", kSize);
         },
         {0, kSize, "file.bin"}},
        {"no file under the noted name", [](FinishJournalTest&) {}, {0, kSize, "file.bin"}},
        {"the file is shorter",
         [](FinishJournalTest& t) { t.writeFinal("file.bin", kSize - 1); },
         {0, kSize, "file.bin"}},
        {"the note's size is not the job's",
         [](FinishJournalTest& t) { t.writeFinal("file.bin", kSize + 1); },
         {0, kSize + 1, "file.bin"}},
        {"a link under the name",
         [](FinishJournalTest& t) {
             t.writeFinal("elsewhere.bin", kSize);
             fs::create_symlink(t.folder / "elsewhere.bin", t.folder / "file.bin");
         },
         {0, kSize, "file.bin"}},
        {"another job's note", [](FinishJournalTest& t) { t.writeFinal("file.bin", kSize); }, {999, kSize, "file.bin"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& entry : fs::directory_iterator(folder))
            fs::remove(entry.path());
        c.arrange(*this);
        FinishNote note = c.note;
        if (note.jobId == 0)
            note.jobId = job->id;
        EXPECT_EQ(ApplyFinishJournal(tree, {note}), 0);
        ASSERT_EQ(job->completedRanges.size(), 1u);
        EXPECT_EQ(job->completedRanges[0].end, 1000);
        EXPECT_EQ(job->fileName, "");
    }
}

TEST_F(FinishJournalTest, AFinishTheDatabaseRecordedIsLeftAlone)
{
    writeFinal("other.bin", kSize);
    job->SetState(JobState::Completed, false);
    job->completedRanges = {{0, kSize}};
    EXPECT_EQ(ApplyFinishJournal(tree, {{job->id, kSize, "other.bin"}}), 0);
    EXPECT_EQ(job->GetDisplayName(), "file.bin");
}

TEST_F(FinishJournalTest, OnlyAJournalThatDidNotGrowSinceTheImageIsEmptied)
{
    std::string error;
    EXPECT_EQ(FinishJournalBytes(journal), 0u);
    EXPECT_FALSE(ClearFinishJournalIfUnchanged(journal, 0));
    ASSERT_TRUE(RecordFinish(journal, {1, 10, "a.bin"}, error)) << error;
    const uint64_t atImage = FinishJournalBytes(journal);
    ASSERT_GT(atImage, 0u);
    // A finish noted after the image was taken is not in it: the note stays.
    ASSERT_TRUE(RecordFinish(journal, {2, 20, "b.bin"}, error)) << error;
    EXPECT_FALSE(ClearFinishJournalIfUnchanged(journal, atImage));
    EXPECT_EQ(ReadFinishJournal(journal).size(), 2u);
    EXPECT_TRUE(ClearFinishJournalIfUnchanged(journal, FinishJournalBytes(journal)));
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_TRUE(ReadFinishJournal(journal).empty());
}

TEST_F(FinishJournalTest, TheMendedJobsAreNamedOnceEach)
{
    writeFinal("file.bin", kSize);
    std::vector<int32_t> mended;
    EXPECT_EQ(ApplyFinishJournal(tree, {{job->id, kSize, "file.bin"}, {job->id, kSize, "file.bin"}, {job->id + 99, 1, "x"}},
                                 &mended),
              2);
    EXPECT_EQ(mended, std::vector<int32_t>{job->id});
    EXPECT_TRUE(wholeRanges());
}

// ---- moves -------------------------------------------------------------------------------

class FileMoveJournalTest : public FinishJournalTest {
public:
    FileMoveJournalTest()
    {
        moved = dir.path() / "moved";
        fs::create_directories(moved);
    }

    FinishNote moveNote(const fs::path& to, const std::string& name, int64_t size, bool unfinished = false) const
    {
        return {job->id, size, name, to.string(), unfinished};
    }

    void completeJob() const
    {
        job->SetState(JobState::Completed, false);
        job->completedRanges = {{0, kSize}};
        job->RecomputeCompletedBytes();
    }

    fs::path moved;
};

TEST_F(FileMoveJournalTest, MoveNotesReadBackBesideFinishesAndBadOnesAreDropped)
{
    std::string error;
    ASSERT_TRUE(RecordFinish(journal, {3, 10, "a.bin"}, error)) << error;
    ASSERT_TRUE(RecordFileMove(journal, {3, 10, "b c.bin", "/some where", true}, error)) << error;
    {
        std::ofstream out(journal, std::ios::app);
        out << "m 3 10 f 72656c 61\n"  // a relative folder ("rel")
            << "m 3 10 x 2f61 61\n"  // neither finished nor unfinished
            << "m 3 10 f 2f61\n"  // no name
            << "m 3 10 f 2f61 2e2e\n"  // ".."
            << "m 3 10 f 2f61 61 extra\n";
    }
    const std::vector<FinishNote> notes = ReadFinishJournal(journal);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_FALSE(notes[0].isMove());
    EXPECT_TRUE(notes[1].isMove());
    EXPECT_EQ(notes[1].jobId, 3);
    EXPECT_EQ(notes[1].size, 10);
    EXPECT_EQ(notes[1].folder, "/some where");
    EXPECT_EQ(notes[1].name, "b c.bin");
    EXPECT_TRUE(notes[1].unfinished);
}

TEST_F(FileMoveJournalTest, AMovedJobTakesTheNotedPlaceOnlyWhenItsFileIsThereAndNothingIsLeftBehind)
{
    struct Case {
        const char* what;
        std::function<void(FileMoveJournalTest&)> arrange;
        std::vector<std::pair<std::string, std::string>> notes;  // folder ("moved", "other" or "dl"), name
        std::string folder;  // where the job ends up
        std::string name;
    };
    const std::vector<Case> cases = {
        {"moved", [](FileMoveJournalTest& t) { test::writePseudoRandomFile(t.moved / "file.bin", kSize, 3); },
         {{"moved", "file.bin"}}, "moved", "file.bin"},
        {"moved and renamed",
         [](FileMoveJournalTest& t) { test::writePseudoRandomFile(t.moved / "new.bin", kSize, 3); },
         {{"moved", "new.bin"}}, "moved", "new.bin"},
        {"renamed in its folder", [](FileMoveJournalTest& t) { t.writeFinal("new.bin", kSize); },
         {{"dl", "new.bin"}}, "dl", "new.bin"},
        {"the move never happened",
         [](FileMoveJournalTest& t) {
             t.writeFinal("file.bin", kSize);
             test::writePseudoRandomFile(t.moved / "file.bin", kSize, 3);  // someone else's
         },
         {{"moved", "file.bin"}}, "dl", "file.bin"},
        {"moved and back again",
         [](FileMoveJournalTest& t) { t.writeFinal("file.bin", kSize); },
         {{"moved", "file.bin"}, {"dl", "file.bin"}}, "dl", "file.bin"},
        {"moved twice",
         [](FileMoveJournalTest& t) {
             fs::create_directories(t.dir.path() / "other");
             test::writePseudoRandomFile(t.dir.path() / "other" / "file.bin", kSize, 3);
         },
         {{"moved", "file.bin"}, {"other", "file.bin"}}, "other", "file.bin"},
        {"another size at the new place",
         [](FileMoveJournalTest& t) { test::writePseudoRandomFile(t.moved / "file.bin", kSize + 1, 3); },
         {{"moved", "file.bin"}}, "dl", "file.bin"},
        {"nothing at the new place", [](FileMoveJournalTest&) {}, {{"moved", "file.bin"}}, "dl", "file.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const fs::path& each : {folder, moved, dir.path() / "other"}) {
            std::error_code ignored;
            for (const auto& entry : fs::directory_iterator(each, ignored))
                fs::remove(entry.path());
        }
        job->saveFolder = folder.string();
        job->fileName.clear();
        completeJob();
        c.arrange(*this);
        std::vector<FinishNote> notes;
        for (const auto& [where, name] : c.notes)
            notes.push_back(moveNote(dir.path() / where, name, kSize));
        std::vector<int32_t> mended;
        ApplyFinishJournal(tree, notes, &mended);
        EXPECT_EQ(job->saveFolder, (dir.path() / c.folder).string());
        EXPECT_EQ(job->GetDisplayName(), c.name);
        EXPECT_TRUE(job->IsComplete());
        // A move finishes nothing: the job is not started again for it.
        EXPECT_TRUE(mended.empty());
    }
}

TEST_F(FileMoveJournalTest, AFinishNotedBeforeTheMoveCompletesTheJobInTheFolderItMovedTo)
{
    test::writePseudoRandomFile(moved / "file.bin", kSize, 3);
    std::vector<int32_t> mended;
    EXPECT_GE(ApplyFinishJournal(tree, {{job->id, kSize, "file.bin"}, moveNote(moved, "file.bin", kSize)}, &mended),
              2);
    EXPECT_TRUE(wholeRanges());
    EXPECT_EQ(job->GetLocalPath(), (moved / "file.bin").string());
    EXPECT_EQ(mended, std::vector<int32_t>{job->id});
}

TEST_F(FileMoveJournalTest, AnUnfinishedFileMovedResumesThereAndItsLaterFinishIsFound)
{
    // Moved while paused: only the ".kx!" file is at the new place.
    test::writePseudoRandomFile(moved / "file.bin.kx!", 1000, 3);
    EXPECT_EQ(ApplyFinishJournal(tree, {moveNote(moved, "file.bin", 1000, true)}), 1);
    EXPECT_EQ(job->GetTempPath(), (moved / "file.bin.kx!").string());
    EXPECT_EQ(job->completedBytes, 1000);

    // Resumed there and finished, before any save.
    job->saveFolder = folder.string();
    fs::remove(moved / "file.bin.kx!");
    test::writePseudoRandomFile(moved / "file.bin", kSize, 3);
    std::vector<int32_t> mended;
    ApplyFinishJournal(tree, {moveNote(moved, "file.bin", 1000, true), {job->id, kSize, "file.bin"}}, &mended);
    EXPECT_TRUE(wholeRanges());
    EXPECT_EQ(job->GetLocalPath(), (moved / "file.bin").string());
    EXPECT_EQ(mended, std::vector<int32_t>{job->id});
}

}  // namespace
}  // namespace fetchora
