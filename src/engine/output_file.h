#pragma once
// The file side of a running job: the output file with its write cache, how
// it is opened (temporary ".kx!" name, resume check, an existing destination,
// preallocation) and the job write path that opens it on the first block.
//
// Positions are 64-bit throughout; files larger than 4 GiB need nothing
// special.
//
// Thread: loop thread, under the job lock (the allocation notice callbacks
// are called on it too; showing a window elsewhere is theirs to arrange).
// An OutputFile is owned by the job's runner.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/output_file_calls.h"
#include "engine/sync_failures.h"
#include "engine/write_cache.h"
#include "model/completed_range.h"
#include "model/part_log.h"

namespace fetchora {

// String-table ids of the file messages.
inline constexpr uint32_t kMsgCreateFileError = 61216;  // "Create or Open file error."
inline constexpr uint32_t kMsgWriteFileError = 61272;  // "Write to file error!  ..."
inline constexpr uint32_t kMsgDestinationExists = 61294;  // "Destination file exists, download job is halted."
inline constexpr const char* kResumeFileMissing = "Not find downloaded file, can't resume!";

// Files larger than this show the allocation notice while space is reserved.
inline constexpr int64_t kAllocationNoticeSize = 104857600;
// Smaller files are written without the cache.
inline constexpr int64_t kCacheMinimumSize = 102400;

// "If destination file exists"
enum class DestinationPolicy : uint32_t { Overwrite = 0, AutoRename = 1, Stop = 2 };

class OutputFile {
public:
    // Every call on the file goes through `calls` (the system's by default).
    // A failed sync counts in syncFailures when given (a front end whose
    // saver syncs the same files on its own thread): the caller takes back
    // unwrittenRanges at once, as every caller of Sync and Close must.
    explicit OutputFile(OutputFileCalls& calls = systemOutputFileCalls(), SyncFailures* syncFailures = nullptr)
        : m_calls(&calls), m_syncFailures(syncFailures)
    {
    }
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    enum class OpenMode {
        Create,  // create, or truncate an existing file
        Existing,  // open an existing file as it is; fails when it is missing
        Keep,  // create when missing, else open as it is (never truncated)
    };
    // 0 on success, else the errno value. The last path component is never
    // followed when it is a symbolic link.
    int open(const std::filesystem::path& path, OpenMode mode, bool readWrite);
    bool isOpen() const { return m_fd >= 0; }
    const std::filesystem::path& path() const { return m_path; }

    // Gathers later writes in a cache of `capacity` bytes.
    void useCache(size_t capacity);
    const WriteCache* cache() const { return m_cache.get(); }

    // Caches the block when the cache has room, else flushes and writes it
    // directly. False when the data could not be written.
    bool Write(int64_t position, std::span<const uint8_t> data);
    // Writes every cached record at its position, in the order they came.
    // On failure the records not written stay cached (see unwrittenRanges).
    bool Flush();
    // For a sync on another thread: a duplicate of the descriptor (the
    // caller closes it) when something was written since the last sync of
    // this object, else -1.
    int DuplicateForSync() const;
    // Something was written since the last sync of this object.
    bool needsSync() const { return isOpen() && m_dirty; }
    // Closes the file like Close but without its sync: the data is written
    // out and a duplicate of the descriptor is returned for a sync elsewhere
    // (-1 when nothing needs one, or when writing out failed: then false
    // comes back through ok, as from Close).
    int CloseForSyncElsewhere(std::optional<std::time_t> fileTime, bool& ok);
    // That sync failed: what was written since this object's last sync may
    // not be on the disk (see unwrittenRanges).
    void SyncFailedElsewhere(int error);
    // Flushes the cache and then the file's data to the disk (fdatasync), so
    // that a database saved next records only ranges that are on disk. A file
    // with nothing written since its last sync is not synced again. On
    // failure unwrittenRanges says what may not have reached the disk.
    bool Sync();
    // Syncs (as Sync), sets the modification time when given, closes and
    // drops the cache. False when the flush, the sync or the close failed.
    bool Close(std::optional<std::time_t> fileTime = std::nullopt);
    // How many times the file's data was synced to the disk.
    uint64_t syncCount() const { return m_syncs; }

    // Byte ranges that were accepted by Write but are not on disk (after a
    // failed Flush, Sync or Close). Their completed ranges must be taken back.
    const std::vector<CompletedRange>& unwrittenRanges() const { return m_unwritten; }

    // Reserves size bytes of disk space; falls back to writing one byte at
    // size - 1 where the file system cannot reserve.
    bool allocate(int64_t size);
    bool setLength(int64_t size);
    // The file's current length; -1 when it cannot be read.
    int64_t length() const;
    // Reads what the file holds at position (the cache written out first);
    // the number of bytes read, -1 on failure.
    int64_t Read(int64_t position, std::span<uint8_t> out);

    int lastError() const { return m_lastError; }
    OutputFileCalls& calls() const { return *m_calls; }

private:
    bool writeDirect(int64_t position, std::span<const uint8_t> data);
    void noteWritten(int64_t position, int64_t length);

    OutputFileCalls* m_calls;
    SyncFailures* m_syncFailures;
    int m_fd = -1;
    std::filesystem::path m_path;
    std::unique_ptr<WriteCache> m_cache;
    std::vector<CompletedRange> m_unwritten;
    // What was written since the last sync, merged where blocks continue
    // each other: one entry per part in the usual case.
    std::vector<CompletedRange> m_unsynced;
    bool m_dirty = false;  // written (or resized) since the last sync
    uint64_t m_writeBack = 0;  // ticket of the write-back watch
    uint64_t m_syncs = 0;
    int m_lastError = 0;
};

struct OutputFileRequest {
    std::filesystem::path folder;
    std::string fileName;  // the job's display name, already sanitised
    bool useTempName = false;  // formatFlags bit 1: write "<name>.kx!"
    bool stream = false;  // MMS and RTSP jobs open for reading too
    bool hasData = false;  // the job has data (hasData, or completedBytes > 0)
    int64_t completedBytes = 0;  // > 0: resume into the existing file
    bool sizeKnown = false;
    int64_t fileSize = -1;
    DestinationPolicy destination = DestinationPolicy::Overwrite;
    bool preallocate = false;  // "Allocates disk space after get filesize"
    bool allocationNotice = true;  // "allocdiskpop" under "General"
    bool useCache = false;  // bit 0x10000 of "Flags1"
    uint32_t bufferSizeKb = 200;  // "BufferSize"
    // Called around the reservation of space for a file above 100 MiB.
    std::function<void()> showAllocationNotice;
    std::function<void()> hideAllocationNotice;
};

struct FileLogLine {
    LogKind kind = LogKind::Status;
    std::string text;
};

struct OutputFileResult {
    bool ok = false;
    std::filesystem::path path;  // the file opened (the ".kx!" path or the final one)
    std::string fileName;  // the name in use; differs from the request after an auto rename
    int64_t existingLength = -1;  // length of a resumed file when it was opened
    std::vector<FileLogLine> log;  // for the job's first part, in order
    std::string systemError;  // why the system refused, when it did
};

// Opens (creating the folder when needed) the job's output file. A failed
// open never truncates or replaces an existing file: every check is made
// before anything is created. A resumed file shorter than the end of the
// job's completed ranges has lost data: the caller takes back the ranges
// beyond existingLength. The file of a job that has data but no completed
// bytes (a failed sync took them all back) is not truncated: a database
// saved before may still claim its bytes until the next one is on disk.
OutputFileResult OpenOutputFile(OutputFile& file, const OutputFileRequest& request);

// A free name for a file in folder: "name(n).ext", n = 1, 2, ..., such that
// neither it nor (with alsoTemp) its ".kx!" file exists. Empty when none is
// found.
std::string FreeFileName(const std::filesystem::path& folder, const std::string& name, bool alsoTemp);

struct JobWriteOutcome {
    bool ok = false;
    bool opened = false;  // this block opened the file (the database is saved next)
    std::optional<OutputFileResult> open;
    std::vector<FileLogLine> log;  // for the job's first part; the job fails when !ok
    std::string systemError;
};

// The job write path for one block: open the file on the first block
// (request is asked only then), then write through the cache.
JobWriteOutcome writeJobBlock(OutputFile& file, const std::function<OutputFileRequest()>& request, int64_t position,
                              std::span<const uint8_t> data);

}  // namespace fetchora
