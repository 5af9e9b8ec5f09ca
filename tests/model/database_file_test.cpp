#include "model/database_file.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "config/app_settings.h"
#include "model/category_tree.h"
#include "model/kxd_fixture.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

void setModified(const fs::path& path, std::time_t when)
{
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::time_t modifiedOf(const fs::path& path)
{
    struct stat info { };
    ::stat(path.c_str(), &info);
    return info.st_mtime;
}

std::vector<std::string> temporariesBeside(const fs::path& path)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(path.parent_path())) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(path.filename().string() + ".tmp-"))
            found.push_back(name);
    }
    return found;
}

int waitForExitCode(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class DatabaseFileTest : public ::testing::Test {
protected:
    DatabaseOpenOptions openOptions() const
    {
        DatabaseOpenOptions options;
        options.load.defaults.maxParallelNum = 10;
        options.load.defaults.defaultDownloadFolder = (dir / "Downloads").string();
        return options;
    }

    // A complete database image: the default tree plus `jobs` jobs, each
    // with a comment of commentBytes.
    std::string databaseWith(int jobs, size_t commentBytes = 10, uint32_t state = 1)
    {
        JobLock lock;
        CZoviradDoc doc(lock);
        doc.OnNewDocument("");
        for (int i = 0; i < jobs; ++i) {
            auto job = doc.NewRecord(NodeKind::Job, JobDefaults{}, 100);
            job->SetUrl("http://example.com/file" + std::to_string(i) + ".bin");
            job->editTexts().comment = std::string(commentBytes, static_cast<char>('a' + i % 26));
            job->startMode = StartMode::Manual;
            job->state = state;
            doc.AddJob(std::move(job));
        }
        return StoreTree(doc.tree());
    }

    // The fixture's document afresh, with `count` plain jobs after the
    // default categories.
    void newDocumentWithJobs(int count)
    {
        doc.OnNewDocument("");
        for (int i = 0; i < count; ++i) {
            auto job = doc.NewRecord(NodeKind::Job, JobDefaults{}, 100);
            job->SetUrl("http://example.com/" + std::to_string(i));
            doc.AddJob(std::move(job));
        }
    }

    size_t loadedJobs() const
    {
        size_t jobs = 0;
        for (const DownloadJob* node : doc.tree().nodes())
            jobs += node->IsCategory() ? 0 : 1;
        return jobs;
    }

    test::TempDir dir;
    fs::path db = dir / "Default.kxd";
    JobLock lock;
    CZoviradDoc doc{lock};
};

TEST_F(DatabaseFileTest, BackupNamesSitBesideTheDatabase)
{
    EXPECT_EQ(BakPathFor("/p/Default.kxd"), fs::path("/p/Default.kxd.bak"));
    EXPECT_EQ(DailyBackupPathFor("/p/Default.kxd", 1), fs::path("/p/Default.bk1"));
    EXPECT_EQ(DailyBackupPathFor("/p/jobs", 3), fs::path("/p/jobs.bk3"));
    EXPECT_EQ(DamagedCopyPathFor("/p/Default.kxd"), fs::path("/p/Default.kxd.damaged"));
}

TEST_F(DatabaseFileTest, SaveCopiesThePreviousFileToBakKeepingItsTime)
{
    const std::string old = databaseWith(1);
    writeFile(db, old);
    setModified(db, 1500000000);
    ASSERT_FALSE(LoadDatabaseBytes(doc, databaseWith(3), openOptions().load).damaged());

    const SaveResult result = SaveDatabase(doc, db);
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.backupWritten);
    EXPECT_EQ(readFile(BakPathFor(db)), old);
    EXPECT_EQ(modifiedOf(BakPathFor(db)), 1500000000);
    EXPECT_EQ(readFile(db), StoreTree(doc.tree()));
    EXPECT_TRUE(temporariesBeside(db).empty());
}

TEST_F(DatabaseFileTest, TheFirstSaveMakesNoBak)
{
    doc.OnNewDocument("");
    const SaveResult result = SaveDatabase(doc, db);
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(result.backupWritten);
    EXPECT_FALSE(fs::exists(BakPathFor(db)));
}

ino_t inodeOf(const fs::path& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

int refusingLink(const char*, const char*)
{
    errno = EPERM;
    return -1;
}

TEST_F(DatabaseFileTest, TheBakIsThePreviousFileItselfNotACopy)
{
    const std::string old = databaseWith(1);
    writeFile(db, old);
    ASSERT_FALSE(LoadDatabaseBytes(doc, databaseWith(3), openOptions().load).damaged());

    for (int save = 0; save < 2; ++save) {
        SCOPED_TRACE(save);
        const SaveResult result = SaveDatabase(doc, db);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_TRUE(result.backupWritten);
        EXPECT_EQ(readFile(db), StoreTree(doc.tree()));
        EXPECT_NE(inodeOf(db), inodeOf(BakPathFor(db)));
        EXPECT_TRUE(temporariesBeside(db).empty());
    }
    // After two saves the ".bak" holds the first one's image.
    EXPECT_EQ(readFile(BakPathFor(db)), StoreTree(doc.tree()));

    // The first save's ".bak" was the old file under a second name.
    JobLock otherLock;
    CZoviradDoc other(otherLock);
    writeFile(db, old);
    setModified(db, 1500000000);
    const ino_t again = inodeOf(db);
    ASSERT_FALSE(LoadDatabaseBytes(other, databaseWith(2), openOptions().load).damaged());
    ASSERT_TRUE(SaveDatabase(other, db).ok);
    EXPECT_EQ(inodeOf(BakPathFor(db)), again);
    EXPECT_EQ(readFile(BakPathFor(db)), old);
    EXPECT_EQ(modifiedOf(BakPathFor(db)), 1500000000);
}

TEST_F(DatabaseFileTest, WithoutHardLinksTheBakIsACopyKeepingItsTime)
{
    const std::string old = databaseWith(1);
    writeFile(db, old);
    setModified(db, 1500000000);
    const std::string image = databaseWith(2);

    const SaveResult result = WriteDatabaseImage(db, image, refusingLink);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.backupWritten);
    EXPECT_EQ(readFile(BakPathFor(db)), old);
    EXPECT_EQ(modifiedOf(BakPathFor(db)), 1500000000);
    EXPECT_EQ(readFile(db), image);
    EXPECT_TRUE(temporariesBeside(db).empty());
}

TEST_F(DatabaseFileTest, ASaveOverABakThatIsAlreadyTheSameFileLeavesNoTemporary)
{
    const std::string old = databaseWith(1);
    writeFile(db, old);
    ASSERT_EQ(::link(db.c_str(), BakPathFor(db).c_str()), 0);
    ASSERT_FALSE(LoadDatabaseBytes(doc, databaseWith(2), openOptions().load).damaged());

    ASSERT_TRUE(SaveDatabase(doc, db).ok);
    EXPECT_EQ(readFile(BakPathFor(db)), old);
    EXPECT_EQ(readFile(db), StoreTree(doc.tree()));
    EXPECT_TRUE(temporariesBeside(db).empty());
}

TEST_F(DatabaseFileTest, RunningJobsAreFlushedBeforeTheirRecordsAreStored)
{
    newDocumentWithJobs(2);
    DownloadJob* running = doc.tree().nodes()[2];
    int token = 0;
    running->setRunner(JobRunnerPtr(reinterpret_cast<JobRunner*>(&token)));  // no deleter: nothing to free

    std::vector<DownloadJob*> flushed;
    const SaveResult result = SaveDatabase(doc, db, [&](DownloadJob& job) {
        flushed.push_back(&job);
        job.completedRanges = {{0, 4096, 0, 0}};  // what the flush wrote
    });
    running->resetRunner();
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(flushed, std::vector<DownloadJob*>{running});

    JobLock otherLock;
    CZoviradDoc loaded(otherLock);
    LoadTree(readFile(db), loaded, openOptions().load);
    EXPECT_EQ(loaded.tree().nodes()[2]->completedBytes, 4096);
}

TEST_F(DatabaseFileTest, AJobAFlushTookOutOfTheTreeIsNeitherFlushedNorStored)
{
    newDocumentWithJobs(3);
    DownloadJob* first = doc.tree().nodes()[2];
    DownloadJob* second = doc.tree().nodes()[3];
    DownloadJob* third = doc.tree().nodes()[4];
    int token = 0;
    for (DownloadJob* job : {first, second, third})
        job->setRunner(JobRunnerPtr(reinterpret_cast<JobRunner*>(&token)));  // no deleter: nothing to free

    std::unique_ptr<DownloadJob> takenOut;
    std::vector<std::string> flushed;
    const SaveResult result = SaveDatabase(doc, db, [&](DownloadJob& job) {
        flushed.push_back(job.url);
        if (&job == first)
            takenOut = doc.tree().Detach(second);
    });
    for (DownloadJob* job : {first, third})
        job->resetRunner();
    takenOut->resetRunner();
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(flushed, (std::vector<std::string>{"http://example.com/0", "http://example.com/2"}));

    JobLock otherLock;
    CZoviradDoc loaded(otherLock);
    LoadTree(readFile(db), loaded, openOptions().load);
    EXPECT_EQ(loaded.tree().size(), doc.tree().size());
}

TEST_F(DatabaseFileTest, AWriteThatFailsHalfwayLeavesTheOldFileWhole)
{
    const std::string old = databaseWith(1);
    writeFile(db, old);
    ASSERT_FALSE(LoadDatabaseBytes(doc, databaseWith(4, 50000), openOptions().load).damaged());

    // The child may write files of at most 64 KiB: the ".bak" copy of the
    // small old file fits, the new database does not.
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const SaveResult result = SaveDatabase(doc, db);
        ::_exit(result.ok ? 1 : (result.error.empty() ? 2 : 0));
    }
    ASSERT_EQ(waitForExitCode(pid), 0) << "the save reports the failure with a reason";
    EXPECT_EQ(readFile(db), old);
    EXPECT_EQ(readFile(BakPathFor(db)), old);
    EXPECT_TRUE(temporariesBeside(db).empty());

    JobLock otherLock;
    CZoviradDoc reopened(otherLock);
    EXPECT_EQ(OpenDatabase(reopened, db, openOptions()).status, OpenStatus::Opened);
}

TEST_F(DatabaseFileTest, ASaveKilledAtAnyMomentLeavesTheOldOrTheNewFileWhole)
{
    const std::string bytesA = databaseWith(3, 400000);
    const std::string bytesB = databaseWith(5, 300000);
    JobLock lockA, lockB;
    CZoviradDoc a(lockA), b(lockB);
    LoadDatabaseBytes(a, bytesA, openOptions().load);
    LoadDatabaseBytes(b, bytesB, openOptions().load);
    ASSERT_EQ(StoreTree(a.tree()), bytesA);
    ASSERT_EQ(StoreTree(b.tree()), bytesB);
    writeFile(db, bytesA);

    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (;;) {
                if (!SaveDatabase(a, db).ok || !SaveDatabase(b, db).ok)
                    ::_exit(2);
            }
        }
        ::usleep(2000 + random() % 40000);
        ::kill(pid, SIGKILL);
        ASSERT_EQ(waitForExitCode(pid), 128 + SIGKILL);
        const std::string now = readFile(db);
        EXPECT_TRUE(now == bytesA || now == bytesB) << "round " << round << ": " << now.size() << " bytes";
        if (fs::exists(BakPathFor(db))) {
            const std::string bak = readFile(BakPathFor(db));
            EXPECT_TRUE(bak == bytesA || bak == bytesB) << "round " << round << ": .bak of " << bak.size();
        }
    }
    // Temporaries of killed saves go with the next save.
    EXPECT_TRUE(SaveDatabase(a, db).ok);
    EXPECT_TRUE(temporariesBeside(db).empty());
    EXPECT_EQ(readFile(db), bytesA);
}

TEST_F(DatabaseFileTest, NoFileAndNoBackupsGivesANewDatabase)
{
    const OpenResult result = OpenDatabase(doc, db, openOptions());
    EXPECT_EQ(result.status, OpenStatus::Created);
    EXPECT_TRUE(result.message.empty());
    EXPECT_EQ(doc.tree().size(), 8u);
    EXPECT_TRUE(fs::is_directory(dir / "Downloads" / "software"));
}

TEST_F(DatabaseFileTest, ACleanFileOpensAndItsDownloadingJobsComeBackReady)
{
    writeFile(db, databaseWith(2, 10, static_cast<uint32_t>(JobState::Downloading)));
    const OpenResult result = OpenDatabase(doc, db, openOptions());
    EXPECT_EQ(result.status, OpenStatus::Opened);
    EXPECT_TRUE(result.message.empty());
    ASSERT_EQ(loadedJobs(), 2u);
    for (const DownloadJob* node : doc.tree().nodes()) {
        if (!node->IsCategory()) {
            EXPECT_EQ(node->GetState(), JobState::Ready);
        }
    }
    EXPECT_FALSE(fs::exists(DamagedCopyPathFor(db)));
}

TEST_F(DatabaseFileTest, EmptyOrForeignFilesWithoutBackupsGetTheDefaultCategories)
{
    for (const std::string& bytes : {std::string(), std::string("PK\x03\x04", 4)}) {
        writeFile(db, bytes);
        const OpenResult result = OpenDatabase(doc, db, openOptions());
        EXPECT_EQ(result.status, OpenStatus::Opened);
        EXPECT_EQ(doc.tree().size(), 8u);
    }
}

TEST_F(DatabaseFileTest, ADamagedFileIsReplacedByTheNewestBackupThatReadsCleanly)
{
    const std::string good = databaseWith(3);
    const std::string older = databaseWith(1);
    const std::string damaged = good.substr(0, good.size() - 7);
    writeFile(db, damaged);
    writeFile(BakPathFor(db), good.substr(0, 40));  // newest, but damaged too
    setModified(BakPathFor(db), 1700000300);
    writeFile(DailyBackupPathFor(db, 1), good);
    setModified(DailyBackupPathFor(db, 1), 1700000200);
    writeFile(DailyBackupPathFor(db, 2), older);
    setModified(DailyBackupPathFor(db, 2), 1700000100);

    const OpenResult result = OpenDatabase(doc, db, openOptions());
    EXPECT_EQ(result.status, OpenStatus::Restored);
    EXPECT_EQ(result.restoredFrom, DailyBackupPathFor(db, 1));
    EXPECT_EQ(result.message,
              "Download database '" + db.string()
                  + "' is corrupted, please select one backup database and restore it.");
    EXPECT_FALSE(result.report.damaged());
    EXPECT_EQ(loadedJobs(), 3u);
    EXPECT_EQ(readFile(db), good);
    EXPECT_EQ(result.damagedCopy, DamagedCopyPathFor(db));
    EXPECT_EQ(readFile(DamagedCopyPathFor(db)), damaged);
}

TEST_F(DatabaseFileTest, AnEmptyFileIsTreatedAsDamagedWhenBackupsExist)
{
    const std::string good = databaseWith(2);
    writeFile(db, "");
    writeFile(BakPathFor(db), good);
    const OpenResult result = OpenDatabase(doc, db, openOptions());
    EXPECT_EQ(result.status, OpenStatus::Restored);
    EXPECT_EQ(loadedJobs(), 2u);
    EXPECT_EQ(readFile(db), good);
}

TEST_F(DatabaseFileTest, AMissingFileIsRestoredFromABackupWithTheLostMessage)
{
    const std::string good = databaseWith(2);
    writeFile(DailyBackupPathFor(db, 3), good);
    const OpenResult result = OpenDatabase(doc, db, openOptions());
    EXPECT_EQ(result.status, OpenStatus::Restored);
    EXPECT_EQ(result.restoredFrom, DailyBackupPathFor(db, 3));
    EXPECT_EQ(result.message,
              "Download database '" + db.string() + "' is lost, please select one backup database and restore it.");
    EXPECT_TRUE(result.damagedCopy.empty());
    EXPECT_EQ(readFile(db), good);
}

TEST_F(DatabaseFileTest, ADamagedFileWithoutBackupsKeepsWhatCouldBeRead)
{
    const std::string good = databaseWith(3);
    const std::string damaged = good.substr(0, good.size() - 7);  // the last record is cut
    writeFile(db, damaged);
    const OpenResult result = OpenDatabase(doc, db, openOptions());
    EXPECT_EQ(result.status, OpenStatus::Damaged);
    EXPECT_EQ(result.message,
              "Download database '" + db.string()
                  + "' is corrupted, cannot find any backup database, please delete it then restart "
                    "Fetchora.");
    EXPECT_TRUE(result.report.damaged());
    EXPECT_EQ(loadedJobs(), 3u);
    // The cut record is the last in flat order, Deleted; it comes back.
    EXPECT_EQ(result.report.nodesRead, 10u);
    EXPECT_NE(doc.deleted(), nullptr);
    EXPECT_EQ(doc.tree().size(), 11u);
    EXPECT_EQ(readFile(db), damaged);
    EXPECT_EQ(readFile(DamagedCopyPathFor(db)), damaged);
}

// A database of more than a megabyte is read by another path than a small
// one; its records and its damage must come out the same.
TEST_F(DatabaseFileTest, ALargeFileOpensWholeAndACutOneKeepsWhatCouldBeRead)
{
    const std::string good = databaseWith(1000, 1100);
    ASSERT_GT(good.size(), 1u << 20);
    writeFile(db, good);
    OpenResult result = OpenDatabase(doc, db, openOptions());
    EXPECT_EQ(result.status, OpenStatus::Opened);
    EXPECT_EQ(loadedJobs(), 1000u);
    EXPECT_EQ(StoreTree(doc.tree()), good);

    const std::string cut = good.substr(0, good.size() - 300);
    writeFile(db, cut);
    result = OpenDatabase(doc, db, openOptions());
    EXPECT_EQ(result.status, OpenStatus::Damaged);
    EXPECT_TRUE(result.report.damaged());
    EXPECT_GT(loadedJobs(), 990u);
    EXPECT_LT(loadedJobs(), 1000u);
    EXPECT_EQ(readFile(DamagedCopyPathFor(db)), cut);
}

TEST_F(DatabaseFileTest, MissingSpecialCategoriesComeBackWithFreeIds)
{
    // One user Category at top level, holding the largest id there is.
    test::KxdBytes b;
    b.u8(0x48).i32(1);
    b.i32(1).i32(0x7FFFFFFF).i32(6).i32(1).i32(-1).i32(0).i32(13).str("Mine").str("/data");
    const KxdLoadReport report = LoadDatabaseBytes(doc, b.data, openOptions().load);
    EXPECT_FALSE(report.damaged());
    ASSERT_NE(doc.root(), nullptr);
    ASSERT_NE(doc.downloading(), nullptr);
    ASSERT_NE(doc.downloaded(), nullptr);
    ASSERT_NE(doc.deleted(), nullptr);
    EXPECT_EQ(doc.tree().FindById(0x7FFFFFFF)->parent(), doc.root()) << "the new root adopts the top level";
    EXPECT_EQ(doc.downloading()->name, "Download");
    std::set<int32_t> ids;
    for (const DownloadJob* node : doc.tree().nodes()) {
        EXPECT_GT(node->id, 0);
        ids.insert(node->id);
    }
    EXPECT_EQ(ids.size(), 5u);
}

TEST_F(DatabaseFileTest, WhenEveryBackupIsDamagedTheMostCompleteCopyWins)
{
    const std::string good = databaseWith(4);
    writeFile(db, good.substr(0, 120));
    writeFile(BakPathFor(db), good.substr(0, good.size() - 7));
    setModified(BakPathFor(db), 1700000000);
    writeFile(DailyBackupPathFor(db, 1), good.substr(0, 60));
    setModified(DailyBackupPathFor(db, 1), 1700000100);

    const OpenResult result = OpenDatabase(doc, db, openOptions());
    EXPECT_EQ(result.status, OpenStatus::Restored);
    EXPECT_EQ(result.restoredFrom, BakPathFor(db));
    EXPECT_TRUE(result.report.damaged());
    EXPECT_EQ(loadedJobs(), 4u);

    // When the damaged file itself holds the most, it stays.
    writeFile(db, good.substr(0, good.size() - 3));
    JobLock otherLock;
    CZoviradDoc other(otherLock);
    const OpenResult kept = OpenDatabase(other, db, openOptions());
    EXPECT_EQ(kept.status, OpenStatus::Damaged);
    EXPECT_NE(kept.message.find("cannot find any backup"), std::string::npos);
}

TEST_F(DatabaseFileTest, TheChooserSeesEveryBackupNewestFirstAndItsChoiceIsRestored)
{
    const std::string good = databaseWith(2);
    const std::string other = databaseWith(5);
    writeFile(db, "H\x01");
    writeFile(BakPathFor(db), good);
    setModified(BakPathFor(db), 1700000000);
    writeFile(DailyBackupPathFor(db, 2), other);
    setModified(DailyBackupPathFor(db, 2), 1700000500);

    std::optional<BackupChoice> seen;
    DatabaseOpenOptions options = openOptions();
    options.chooseBackup = [&](const BackupChoice& choice) -> std::optional<fs::path> {
        seen = choice;
        return choice.backups.back().path;
    };
    const OpenResult result = OpenDatabase(doc, db, options);
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->title, "Restore download database");
    EXPECT_EQ(seen->message, result.message);
    ASSERT_EQ(seen->backups.size(), 2u);
    EXPECT_EQ(seen->backups[0].name, "Default.bk2");
    EXPECT_EQ(seen->backups[0].size, other.size());
    EXPECT_EQ(seen->backups[0].modified, 1700000500);
    EXPECT_EQ(seen->backups[1].name, "Default.kxd.bak");
    EXPECT_EQ(result.status, OpenStatus::Restored);
    EXPECT_EQ(result.restoredFrom, BakPathFor(db));
    EXPECT_EQ(loadedJobs(), 2u);

    // Declining keeps the damaged file as it is.
    writeFile(db, "H\x01");
    options.chooseBackup = [](const BackupChoice&) { return std::optional<fs::path>(); };
    JobLock otherLock;
    CZoviradDoc declined(otherLock);
    EXPECT_EQ(OpenDatabase(declined, db, options).status, OpenStatus::Damaged);
    EXPECT_EQ(readFile(db), "H\x01");
}

TEST_F(DatabaseFileTest, DailyRotationShiftsEachGenerationDown)
{
    writeFile(db, "today");
    writeFile(DailyBackupPathFor(db, 1), "yesterday");
    writeFile(DailyBackupPathFor(db, 2), "two days ago");
    writeFile(DailyBackupPathFor(db, 3), "three days ago");
    setModified(DailyBackupPathFor(db, 1), 1600000000);

    EXPECT_TRUE(RotateDailyBackups(db, lock));
    EXPECT_EQ(readFile(db), "today");
    EXPECT_EQ(readFile(DailyBackupPathFor(db, 1)), "today");
    EXPECT_EQ(readFile(DailyBackupPathFor(db, 2)), "yesterday");
    EXPECT_EQ(modifiedOf(DailyBackupPathFor(db, 2)), 1600000000);
    EXPECT_EQ(readFile(DailyBackupPathFor(db, 3)), "two days ago");

    // Without a database nothing moves, so no generation is lost.
    fs::remove(db);
    EXPECT_FALSE(RotateDailyBackups(db, lock));
    EXPECT_EQ(readFile(DailyBackupPathFor(db, 3)), "two days ago");
}

TEST_F(DatabaseFileTest, DailyBackupRunsOncePerRunWhenTheDateChanged)
{
    Registry registry;
    AppSettings settings(registry,
                         {"/opt/fetchora/bin/fetchora", "/opt/fetchora/share", (dir / "dl").string(),
                          (dir / "tmp").string(), "en_US.UTF-8"});
    settings.LoadSettings();
    settings.SetOption(OptionId::DailyBackup, 1);
    settings.setBackDate(20240228);
    writeFile(db, "database");

    const std::time_t march1 = 1709251200;  // 2024-03-01 00:00:00 UTC
    DailyBackupCheck check;
    EXPECT_TRUE(check.RunIfDue(settings, lock, db, march1));
    EXPECT_EQ(settings.backDate(), 20240301);
    EXPECT_EQ(readFile(DailyBackupPathFor(db, 1)), "database");

    writeFile(db, "changed");
    EXPECT_FALSE(check.RunIfDue(settings, lock, db, march1 + 86400)) << "at most once per run";
    EXPECT_EQ(readFile(DailyBackupPathFor(db, 1)), "database");

    DailyBackupCheck nextRun;
    EXPECT_FALSE(nextRun.RunIfDue(settings, lock, db, march1 + 60)) << "already done today";
    settings.SetOption(OptionId::DailyBackup, 0);
    EXPECT_FALSE(nextRun.RunIfDue(settings, lock, db, march1 + 86400)) << "switched off";
    EXPECT_FALSE(nextRun.doneThisRun());
}

TEST(DatabaseFileDates, BackupDateCodeIsTheUtcDate)
{
    EXPECT_EQ(BackupDateCode(1709251199), 20240229);
    EXPECT_EQ(BackupDateCode(1709251200), 20240301);
    EXPECT_EQ(BackupDateCode(0), 19700101);
}

TEST(DatabaseFileAutoSave, SavesEveryAutoSaveTimeMinutesWhileSwitchedOn)
{
    AutoSaveClock clock;
    std::vector<bool> due;
    for (int minute = 0; minute < 7; ++minute)
        due.push_back(clock.MinutePassed(true, 3));
    EXPECT_EQ(due, (std::vector<bool>{false, false, true, false, false, true, false}));

    EXPECT_FALSE(clock.MinutePassed(false, 3));
    EXPECT_EQ(clock.minutes(), 0) << "switching off drops the count";
    EXPECT_TRUE(clock.MinutePassed(true, 0)) << "a time below one minute saves every minute";
    clock.MinutePassed(true, 3);
    clock.Restart();
    EXPECT_FALSE(clock.MinutePassed(true, 2));
    EXPECT_TRUE(clock.MinutePassed(true, 2));
}

}  // namespace
}  // namespace fetchora
