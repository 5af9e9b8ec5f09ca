#pragma once
// The job database on disk: opening the ".kxd" file (or a backup when it is
// damaged or missing), saving it, the ".bak" copy made before every save,
// the daily ".bk1" to ".bk3" rotation, and the once-a-minute checks of the
// main view's timer that decide when to save and when to rotate.
//
// A save writes the new file beside the old one and renames it into place
// after the ".bak" copy, so a crash or a full disk at any moment leaves the
// old database or the new one whole, never a torn one. Backup copies are
// made the same way and keep the modification time of what they copy, so
// that "newest" means the newest content.
//
// Thread: loop thread. The load and store passes hold the document's job
// lock; file copies of the rotation take it too. Borrows the document and
// the settings.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/job_database.h"
#include "model/kxd_format.h"
#include "platform/atomic_file.h"
#include "platform/job_lock.h"

namespace fetchora {

class AppSettings;

inline constexpr uint32_t kStrDatabaseNoBackup = 61428;  // "...corrupted, cannot find any backup database..."
inline constexpr uint32_t kStrRestoreDatabaseTitle = 61429;  // "Restore download database"
inline constexpr uint32_t kStrDatabaseCorrupted = 61430;  // "...is corrupted, please select one backup..."
inline constexpr uint32_t kStrDatabaseLost = 61431;  // "...is lost, please select one backup..."
inline constexpr uint32_t kStrBackupListColumns = 61374;  // labels of the backup list's columns

// database + ".bak": the previous file, copied before every save.
std::filesystem::path BakPathFor(const std::filesystem::path& database);
// The database path without its extension + ".bk<generation>", 1 to 3.
std::filesystem::path DailyBackupPathFor(const std::filesystem::path& database, int generation);
// database + ".damaged": where a damaged database is kept before a backup replaces it.
std::filesystem::path DamagedCopyPathFor(const std::filesystem::path& database);

struct BackupFile {
    std::filesystem::path path;
    std::string name;  // the file name, as the restore list shows it
    uint64_t size = 0;
    std::time_t modified = 0;
};

// The backups that exist beside the database: ".bak", ".bk1", ".bk2", ".bk3".
std::vector<BackupFile> ListBackups(const std::filesystem::path& database);
// Newest modification time first; equal times keep the order given.
std::vector<BackupFile> NewestFirst(std::vector<BackupFile> backups);

// The document's load pass: replaces the tree with the file image's nodes.
// A tree that comes out empty gets the default Categories (their folder
// problems are returned through folderProblems); a tree that lacks one of
// the special Categories gets it back, so that the rest of the program can
// rely on all four.
KxdLoadReport LoadDatabaseBytes(CZoviradDoc& doc, std::string_view bytes, const KxdLoadOptions& options,
                                std::vector<FolderProblem>* folderProblems = nullptr);

// Before a running job's record is stored, the engine flushes its write
// cache and file (and fails the job when that fails).
using FlushJobFile = std::function<void(DownloadJob& job)>;

struct SaveResult {
    bool ok = false;
    std::string error;  // why the file could not be written
    bool backupWritten = false;  // the previous file was kept as ".bak"
};

// Stores the tree under the job lock, keeps the existing file as ".bak"
// (a hard link, or a copy where there are none) and replaces the file with the new image. On failure the old file and
// its
// ".bak" copy stay as they were.
SaveResult SaveDatabase(CZoviradDoc& doc, const std::filesystem::path& path, const FlushJobFile& flushJobFile = {});

// The two halves of a save, for a save whose disk work runs on another
// thread: the image is taken under the job lock (after flushJobFile ran for
// every job that has a runner); writing it (".bak" copy, new file, sync)
// needs no lock. False with error when a text is too long to be stored.
bool StoreDatabaseImage(CZoviradDoc& doc, const FlushJobFile& flushJobFile, std::string& bytes, std::string& error);
// link stands in for link(2) in tests.
SaveResult WriteDatabaseImage(const std::filesystem::path& path, const std::string& bytes, LinkCall link = nullptr);
// As above, with the new file written through `calls` (a test's file system).
SaveResult WriteDatabaseImage(const std::filesystem::path& path, const std::string& bytes, AtomicWriteCalls& calls,
                              LinkCall link = nullptr);

// What the restore dialog shows.
struct BackupChoice {
    std::string title;  // 61429
    std::string message;  // 61430 or 61431 with the path
    std::vector<BackupFile> backups;  // newest first
};
// Returns the backup to restore, or none to keep what the damaged file gave
// (a new database when it is missing).
using ChooseBackup = std::function<std::optional<std::filesystem::path>(const BackupChoice& choice)>;

struct DatabaseOpenOptions {
    KxdLoadOptions load;
    StringLookup strings;  // the active language; built-in English without
    // Asks the user. Without it (headless) the newest backup that reads
    // without damage is restored; when none does, the most complete of the
    // damaged file and its backups is used.
    ChooseBackup chooseBackup;
};

enum class OpenStatus {
    Opened,  // the file read cleanly
    Created,  // there was no file and no backup: a new database
    Restored,  // the file was damaged or missing and a backup replaced it
    Damaged,  // the file was damaged and no backup replaced it: what could be read is loaded
};

struct OpenResult {
    OpenStatus status = OpenStatus::Opened;
    std::string message;  // for the user; empty when there is nothing to tell
    std::filesystem::path restoredFrom;
    std::filesystem::path damagedCopy;  // where the damaged file was kept, when it was
    KxdLoadReport report;  // of the bytes finally loaded
    std::vector<FolderProblem> folderProblems;
};

// Opens the database at start. A file counts as damaged when reading it
// fails, and also when it is empty or does not start with 0x48 while
// backups exist: saving such a file's empty tree would push the last good
// copy out of ".bak". A damaged file is kept as ".damaged" before a backup
// is copied over it.
OpenResult OpenDatabase(CZoviradDoc& doc, const std::filesystem::path& path, const DatabaseOpenOptions& options);

// ---- daily backups and automatic saving --------------------------------------

// year * 10000 + month * 100 + day of the UTC date.
int32_t BackupDateCode(std::time_t now);

// ".bk2" to ".bk3", ".bk1" to ".bk2", the database to ".bk1", under the job
// lock. Stops at the first copy that fails, so no generation is lost, and
// does nothing when the database file does not exist. True when all copies
// were made.
bool RotateDailyBackups(const std::filesystem::path& database, JobLock& jobLock);

// The daily rotation: at most once per program run, when "Flags1" 0x1 is
// set and today's date differs from "BackDate".
class DailyBackupCheck {
public:
    bool IsDue(bool enabled, int32_t today, int32_t backDate) const
    {
        return enabled && !m_doneThisRun && today != backDate;
    }
    // The once-a-minute step: when due, writes today to "BackDate" and
    // rotates. True when a rotation ran.
    bool RunIfDue(AppSettings& settings, JobLock& jobLock, const std::filesystem::path& database, std::time_t now);
    bool doneThisRun() const { return m_doneThisRun; }

private:
    bool m_doneThisRun = false;
};

// Automatic saving: the main view counts minutes while it is on ("Flags"
// 0x10) and saves after "AutoSaveTime" of them.
class AutoSaveClock {
public:
    // Called once a minute. True when the database is due for saving; the
    // count then starts again. Nothing is counted while saving is off.
    bool MinutePassed(bool enabled, int32_t autoSaveMinutes);
    bool MinutePassed(const AppSettings& settings);
    void Restart() { m_minutes = 0; }
    int32_t minutes() const { return m_minutes; }

private:
    int32_t m_minutes = 0;
};

}  // namespace fetchora
