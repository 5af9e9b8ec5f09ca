#include "model/database_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <limits>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include "config/app_settings.h"
#include "lang/string_table.h"
#include "lang/system_error_text.h"
#include "model/category_tree.h"
#include "model/database_texts.h"
#include "platform/atomic_file.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;

// Reads a whole regular file. False, with errno set, when it cannot.
bool readWholeFile(const fs::path& path, std::string& bytes)
{
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info { };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return false;
    }
    // One read of the known size, without the string growing step by step;
    // a file that grows meanwhile is read on to its end.
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t filled = 0;
    for (;;) {
        if (filled == bytes.size())
            bytes.resize(filled + 65536);
        const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            bytes.clear();
            errno = error;
            return false;
        }
        if (got == 0)
            break;
        filled += static_cast<size_t>(got);
    }
    bytes.resize(filled);
    ::close(fd);
    return true;
}

// A whole database read for an open. A large file lands in memory mapped
// and populated in one call, which spares the zeroing of a string of its
// size and a page fault for every 4 KiB of it; a small one, or one that
// grows while it is read, goes through the string.
class DatabaseBytes {
public:
    DatabaseBytes() = default;
    DatabaseBytes(const DatabaseBytes&) = delete;
    DatabaseBytes& operator=(const DatabaseBytes&) = delete;
    ~DatabaseBytes() { unmap(); }

    // False, with errno set, when the file cannot be read.
    bool read(const fs::path& path);
    std::string_view view() const { return m_map ? std::string_view(m_map, m_size) : std::string_view(m_text); }

private:
    static constexpr size_t kMapFrom = 1 << 20;
    void unmap()
    {
        if (m_map)
            ::munmap(m_map, m_capacity);
        m_map = nullptr;
    }

    char* m_map = nullptr;
    size_t m_capacity = 0;
    size_t m_size = 0;
    std::string m_text;
};

bool DatabaseBytes::read(const fs::path& path)
{
    unmap();
    m_text.clear();
    struct stat info { };
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && static_cast<size_t>(info.st_size) >= kMapFrom) {
        // One page more than the size tells a file that grew from one that did not.
        const size_t capacity = static_cast<size_t>(info.st_size) + 4096;
        void* map
            = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        const int fd = map == MAP_FAILED ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            size_t filled = 0;
            ssize_t got = 0;
            while (filled < capacity
                   && ((got = ::read(fd, static_cast<char*>(map) + filled, capacity - filled)) > 0
                       || (got < 0 && errno == EINTR)))
                filled += got > 0 ? static_cast<size_t>(got) : 0;
            ::close(fd);
            if (got == 0 && filled < capacity) {
                m_map = static_cast<char*>(map);
                m_capacity = capacity;
                m_size = filled;
                return true;
            }
        }
        if (map != MAP_FAILED)
            ::munmap(map, capacity);
    }
    return readWholeFile(path, m_text);
}

// A crash-safe copy that keeps the source's modification time.
bool copyFileKeepingTime(const fs::path& from, const fs::path& to)
{
    std::string bytes;
    if (!readWholeFile(from, bytes) || !writeFileAtomically(to, bytes))
        return false;
    std::error_code error;
    const fs::file_time_type modified = fs::last_write_time(from, error);
    if (!error)
        fs::last_write_time(to, modified, error);
    return true;
}

bool isFile(const fs::path& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

std::string lookup(const StringLookup& strings, uint32_t id)
{
    std::string text = strings ? strings(id) : std::string();
    if (text.empty())
        text = std::string(builtinString(id));
    return text;
}

std::string databaseMessage(const StringLookup& strings, uint32_t id, const fs::path& path)
{
    return formatMessage(lookup(strings, id), {path.string()});
}

std::unique_ptr<DownloadJob> newSpecialCategory(CategoryKind kind, int32_t image, const std::string& folder,
                                                JobNotifySink* notifyWindow)
{
    auto category = std::make_unique<DownloadJob>();
    category->nodeFlags = kNodeCategory;
    category->kind = static_cast<uint32_t>(kind);
    category->imageIndex = image;
    category->saveFolder = folder;
    category->notifyWindow = notifyWindow;
    return category;
}

// An id no node has. A damaged file may already hold the largest id there is.
int32_t unusedId(const CComPtrTree& tree)
{
    const int32_t largest = tree.LargestId();
    if (largest < std::numeric_limits<int32_t>::max())
        return largest + 1;
    std::unordered_set<int32_t> taken;
    for (const DownloadJob* node : tree.nodes())
        taken.insert(node->id);
    int32_t id = 1;
    while (taken.count(id))
        ++id;
    return id;
}

DownloadJob* insertSpecial(CComPtrTree& tree, DownloadJob* parent, std::unique_ptr<DownloadJob> category)
{
    category->id = unusedId(tree);
    return tree.Insert(parent, std::move(category), CComPtrTree::kInsertKeepId);
}

// A damaged file can lose a special Category (a changed kind field reads
// as a user Category). The rest of the program relies on all four, so the
// missing ones come back; a new root adopts every top-level node.
void addMissingSpecialCategories(CZoviradDoc& doc, const std::string& folder)
{
    CComPtrTree& tree = doc.tree();
    DownloadJob* root = doc.root();
    if (!root) {
        std::vector<DownloadJob*> topLevel;
        for (DownloadJob* node : tree.nodes()) {
            if (!node->parent())
                topLevel.push_back(node);
        }
        root = insertSpecial(tree, nullptr,
                             newSpecialCategory(CategoryKind::Root, kImageRoot, folder, doc.notifyWindow()));
        for (DownloadJob* node : topLevel)
            tree.Move(root, node);
    }
    const struct {
        CategoryKind kind;
        int32_t image;
    } wanted[] = {
        {CategoryKind::Downloading, kImageDownloading},
        {CategoryKind::Downloaded, kImageDownloaded},
        {CategoryKind::Deleted, kImageDeleted},
    };
    for (const auto& special : wanted) {
        if (!tree.FindCategory(special.kind))
            insertSpecial(tree, root, newSpecialCategory(special.kind, special.image, folder, doc.notifyWindow()));
    }
    doc.RefreshSpecialNames();
}

// Headless choice: the newest backup that reads cleanly; failing that the
// backup that gives the most records, if it gives more than the damaged
// file did.
std::optional<fs::path> pickBackup(const std::vector<BackupFile>& backups, size_t currentNodes,
                                   const KxdLoadOptions& options)
{
    JobLock scratchLock;
    CZoviradDoc scratch(scratchLock);
    std::optional<fs::path> best;
    size_t bestNodes = currentNodes;
    for (const BackupFile& backup : backups) {
        std::string bytes;
        if (!readWholeFile(backup.path, bytes))
            continue;
        const KxdLoadReport report = LoadTree(bytes, scratch, options);
        if (report.signature && !report.damaged())
            return backup.path;
        if (report.nodesRead > bestNodes) {
            best = backup.path;
            bestNodes = report.nodesRead;
        }
    }
    return best;
}

}  // namespace

fs::path BakPathFor(const fs::path& database)
{
    return fs::path(database.string() + ".bak");
}

fs::path DailyBackupPathFor(const fs::path& database, int generation)
{
    fs::path backup = database;
    backup.replace_extension(".bk" + std::to_string(generation));
    return backup;
}

fs::path DamagedCopyPathFor(const fs::path& database)
{
    return fs::path(database.string() + ".damaged");
}

std::vector<BackupFile> ListBackups(const fs::path& database)
{
    std::vector<BackupFile> backups;
    const fs::path candidates[] = {
        BakPathFor(database),
        DailyBackupPathFor(database, 1),
        DailyBackupPathFor(database, 2),
        DailyBackupPathFor(database, 3),
    };
    for (const fs::path& candidate : candidates) {
        struct stat info { };
        if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        BackupFile backup;
        backup.path = candidate;
        backup.name = candidate.filename().string();
        backup.size = static_cast<uint64_t>(info.st_size);
        backup.modified = info.st_mtime;
        backups.push_back(std::move(backup));
    }
    return backups;
}

std::vector<BackupFile> NewestFirst(std::vector<BackupFile> backups)
{
    std::stable_sort(backups.begin(), backups.end(),
                     [](const BackupFile& a, const BackupFile& b) { return a.modified > b.modified; });
    return backups;
}

// Below this many records the scratch memory of a load is not worth a trim.
constexpr size_t kTrimAfterNodes = 10000;

KxdLoadReport LoadDatabaseBytes(CZoviradDoc& doc, std::string_view bytes, const KxdLoadOptions& options,
                                std::vector<FolderProblem>* folderProblems)
{
    JobLockGuard guard(doc.jobLock());
    const KxdLoadReport report = LoadTree(bytes, doc, options);
    std::vector<FolderProblem> problems;
    if (doc.tree().empty())
        problems = doc.CreateDefaultCategories(options.defaults.defaultDownloadFolder);
    else
        addMissingSpecialCategories(doc, options.defaults.defaultDownloadFolder);
    if (folderProblems)
        *folderProblems = std::move(problems);
#ifdef __GLIBC__
    // The load's scratch arrays of a large database end up inside the heap
    // (the allocator raises its mapping threshold once the first of them is
    // freed) and would stay resident for good: about 4 MiB for 100,000 jobs.
    if (report.nodesRead >= kTrimAfterNodes)
        ::malloc_trim(0);
#endif
    return report;
}

bool StoreDatabaseImage(CZoviradDoc& doc, const FlushJobFile& flushJobFile, std::string& bytes, std::string& error)
{
    JobLockGuard guard(doc.jobLock());
    if (flushJobFile) {
        // The running jobs are gathered first: asking the tree whether each
        // of a large database's nodes is still in it made every save
        // quadratic. A flush may still take a later one out of the tree.
        std::vector<DownloadJob*> running;
        for (DownloadJob* node : doc.tree().nodes()) {
            if (!node->IsCategory() && node->runner())
                running.push_back(node);
        }
        for (DownloadJob* node : running) {
            if (doc.tree().Contains(node))
                flushJobFile(*node);
        }
    }
    bool stored = false;
    bytes = StoreTree(doc.tree(), &stored);
    if (!stored) {
        error = std::string(builtinString(kStrDatabaseTextTooLong));
        return false;
    }
    return true;
}

SaveResult WriteDatabaseImage(const fs::path& path, const std::string& bytes, LinkCall link)
{
    return WriteDatabaseImage(path, bytes, systemAtomicWriteCalls(), link);
}

SaveResult WriteDatabaseImage(const fs::path& path, const std::string& bytes, AtomicWriteCalls& calls, LinkCall link)
{
    SaveResult result;
    // Keeps another process's save from interleaving its ".bak" copy and
    // rename with ours; proceeding without it is still crash-safe.
    FileLock fileLock(lockPathFor(path));
    if (fileLock.locked())
        removeStaleTemporaries(path);
    // The ".bak" becomes a second name of the current file (whose bytes were
    // synced when it was written), which the new file then replaces: no
    // copy of the whole database. A file system without hard links gets
    // the copy.
    if (isFile(path)) {
        result.backupWritten
            = replaceWithHardLink(path, BakPathFor(path), path, link) || copyFileKeepingTime(path, BakPathFor(path));
    }
    errno = 0;
    if (!writeFileAtomically(path, bytes, calls)) {
        const int error = errno;
        result.error = builtinText(kStrDatabaseCannotWrite,
                                   {path.string(), error ? systemErrorText(error) : std::string(builtinString(kStrDatabaseWriteFailed))});
        return result;
    }
    result.ok = true;
    return result;
}

SaveResult SaveDatabase(CZoviradDoc& doc, const fs::path& path, const FlushJobFile& flushJobFile)
{
    std::string bytes;
    std::string error;
    if (!StoreDatabaseImage(doc, flushJobFile, bytes, error)) {
        SaveResult result;
        result.error = std::move(error);
        return result;
    }
    // The tree's image is a copy: the disk work no longer holds up the
    // transfer threads waiting for the job lock.
    return WriteDatabaseImage(path, bytes);
}

OpenResult OpenDatabase(CZoviradDoc& doc, const fs::path& path, const DatabaseOpenOptions& options)
{
    OpenResult result;
    const std::vector<BackupFile> backups = NewestFirst(ListBackups(path));
    const bool exists = isFile(path);
    const std::string& defaultFolder = options.load.defaults.defaultDownloadFolder;

    if (!exists && backups.empty()) {
        result.folderProblems = doc.OnNewDocument(defaultFolder);
        result.status = OpenStatus::Created;
        return result;
    }
    if (exists) {
        DatabaseBytes bytes;
        const bool readable = bytes.read(path);
        result.report = LoadDatabaseBytes(doc, bytes.view(), options.load, &result.folderProblems);
        const bool damaged = !readable || result.report.damaged() || (!result.report.signature && !backups.empty());
        if (!damaged)
            return result;
    }

    result.message = databaseMessage(options.strings, exists ? kStrDatabaseCorrupted : kStrDatabaseLost, path);
    std::optional<fs::path> chosen;
    if (options.chooseBackup) {
        chosen = options.chooseBackup({lookup(options.strings, kStrRestoreDatabaseTitle), result.message, backups});
    } else {
        chosen = pickBackup(backups, exists ? result.report.nodesRead : 0, options.load);
        if (!chosen && exists)
            result.message = databaseMessage(options.strings, kStrDatabaseNoBackup, path);
    }

    std::string backupBytes;
    if (chosen && !readWholeFile(*chosen, backupBytes))
        chosen.reset();
    if (exists && copyFileKeepingTime(path, DamagedCopyPathFor(path)))
        result.damagedCopy = DamagedCopyPathFor(path);
    if (!chosen) {
        if (exists) {
            result.status = OpenStatus::Damaged;
        } else {
            result.folderProblems = doc.OnNewDocument(defaultFolder);
            result.status = OpenStatus::Created;
        }
        return result;
    }
    // The damaged file is kept aside, so the restored copy may replace it.
    if (!exists || !result.damagedCopy.empty())
        writeFileAtomically(path, backupBytes);
    result.report = LoadDatabaseBytes(doc, backupBytes, options.load, &result.folderProblems);
    result.status = OpenStatus::Restored;
    result.restoredFrom = *chosen;
    return result;
}

// ---- daily backups and automatic saving --------------------------------------

int32_t BackupDateCode(std::time_t now)
{
    std::tm date{};
    ::gmtime_r(&now, &date);
    return (date.tm_year + 1900) * 10000 + (date.tm_mon + 1) * 100 + date.tm_mday;
}

bool RotateDailyBackups(const fs::path& database, JobLock& jobLock)
{
    JobLockGuard guard(jobLock);
    if (!isFile(database))
        return false;
    for (int generation = 2; generation >= 1; --generation) {
        const fs::path from = DailyBackupPathFor(database, generation);
        if (isFile(from) && !copyFileKeepingTime(from, DailyBackupPathFor(database, generation + 1)))
            return false;
    }
    return copyFileKeepingTime(database, DailyBackupPathFor(database, 1));
}

bool DailyBackupCheck::RunIfDue(AppSettings& settings, JobLock& jobLock, const fs::path& database, std::time_t now)
{
    const int32_t today = BackupDateCode(now);
    if (!IsDue(settings.GetOption(OptionId::DailyBackup) != 0, today, settings.backDate()))
        return false;
    m_doneThisRun = true;
    settings.setBackDate(today);
    return RotateDailyBackups(database, jobLock);
}

bool AutoSaveClock::MinutePassed(bool enabled, int32_t autoSaveMinutes)
{
    if (!enabled) {
        m_minutes = 0;
        return false;
    }
    if (++m_minutes < std::max(autoSaveMinutes, 1))
        return false;
    m_minutes = 0;
    return true;
}

bool AutoSaveClock::MinutePassed(const AppSettings& settings)
{
    return MinutePassed(settings.GetOption(OptionId::AutoSave) != 0, settings.GetOption(OptionId::AutoSaveTime));
}

}  // namespace fetchora
