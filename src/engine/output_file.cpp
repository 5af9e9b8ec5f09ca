#include "engine/output_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include "lang/string_table.h"
#include "lang/system_error_text.h"
#include "model/download_job.h"

namespace fetchora {

static_assert(sizeof(off_t) == 8, "output files need 64-bit offsets");

namespace {

constexpr int kMaxRenameCounter = 9999;

std::string errorText(int error)
{
    return systemErrorText(error);
}

bool pathTaken(const std::filesystem::path& path)
{
    std::error_code ec;
    // A dangling symbolic link counts as taken: creating through it would
    // write somewhere else.
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// A name that stays inside its folder.
bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

std::filesystem::path workingPath(const std::filesystem::path& folder, const std::string& name, bool temp)
{
    return folder / (temp ? name + std::string(kTempSuffix) : name);
}

OutputFileResult failure(OutputFileResult result, int error)
{
    result.ok = false;
    if (error != 0)
        result.systemError = errorText(error);
    return result;
}

}  // namespace

OutputFile::~OutputFile()
{
    if (isOpen())
        Close();
}

int OutputFile::open(const std::filesystem::path& path, OpenMode mode, bool readWrite)
{
    if (isOpen())
        Close();
    int flags = (readWrite ? O_RDWR : O_WRONLY) | O_CLOEXEC | O_NOFOLLOW;
    if (mode == OpenMode::Create)
        flags |= O_CREAT | O_TRUNC;
    else if (mode == OpenMode::Keep)
        flags |= O_CREAT;
    const int fd = m_calls->open(path, flags, 0666);
    if (fd < 0) {
        m_lastError = errno;
        return m_lastError;
    }
    OutputFileStat info;
    if (m_calls->stat(fd, info) != 0 || !info.regular) {
        m_lastError = info.directory ? EISDIR : EINVAL;
        m_calls->close(fd);
        return m_lastError;
    }
    m_fd = fd;
    m_path = path;
    // The kernel starts writing the data while the download goes on.
    if (readWrite || mode != OpenMode::Existing)
        m_writeBack = m_calls->watchWriteBack(fd);
    m_unwritten.clear();
    m_unsynced.clear();
    m_dirty = false;
    m_lastError = 0;
    return 0;
}

void OutputFile::useCache(size_t capacity)
{
    m_cache = std::make_unique<WriteCache>(capacity);
}

int64_t OutputFile::Read(int64_t position, std::span<uint8_t> out)
{
    if (!isOpen() || !Flush())
        return -1;
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = m_calls->pread(m_fd, out.subspan(done), position + static_cast<int64_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

bool OutputFile::writeDirect(int64_t position, std::span<const uint8_t> data)
{
    if (!isOpen()) {
        m_lastError = EBADF;
        return false;
    }
    size_t done = 0;
    int failures = 0;
    while (done < data.size()) {
        const ssize_t n = m_calls->pwrite(m_fd, data.subspan(done), position + static_cast<int64_t>(done));
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // One more try before the write counts as failed.
        m_lastError = n < 0 ? errno : ENOSPC;
        if (++failures >= 2)
            return false;
    }
    noteWritten(position, static_cast<int64_t>(data.size()));
    return true;
}

void OutputFile::noteWritten(int64_t position, int64_t length)
{
    m_dirty = true;
    if (length <= 0)
        return;
    m_calls->wroteForWriteBack(m_writeBack, length);
    for (CompletedRange& range : m_unsynced) {
        if (range.end == position) {
            range.end += length;
            return;
        }
    }
    m_unsynced.push_back({position, position + length, 0, 0});
}

bool OutputFile::Write(int64_t position, std::span<const uint8_t> data)
{
    if (m_cache) {
        if (m_cache->append(position, data))
            return true;
        if (!Flush())
            return false;
    }
    return writeDirect(position, data);
}

bool OutputFile::Flush()
{
    if (!m_cache)
        return true;
    if (m_cache->drain([this](int64_t position, std::span<const uint8_t> data) { return writeDirect(position, data); }))
        return true;
    m_unwritten = m_cache->pendingRanges();
    return false;
}

int OutputFile::DuplicateForSync() const
{
    if (!isOpen() || !m_dirty)
        return -1;
    return m_calls->duplicate(m_fd);
}

void OutputFile::SyncFailedElsewhere(int error)
{
    m_lastError = error;
    m_unwritten.insert(m_unwritten.end(), m_unsynced.begin(), m_unsynced.end());
    m_unsynced.clear();
}

bool OutputFile::Sync()
{
    if (!isOpen())
        return true;
    // What did reach the file is synced even when the cache could not be
    // written out; the cached rest is in unwrittenRanges then.
    const bool flushed = Flush();
    if (!m_dirty)
        return flushed;
    const int synced = m_syncFailures ? m_syncFailures->syncHere(*m_calls, m_fd) : m_calls->fdatasync(m_fd);
    if (synced != 0) {
        m_lastError = errno;
        // The kernel may have dropped any page written since the last sync.
        if (flushed)
            m_unwritten.clear();
        m_unwritten.insert(m_unwritten.end(), m_unsynced.begin(), m_unsynced.end());
        return false;
    }
    ++m_syncs;
    m_dirty = false;
    m_unsynced.clear();
    return flushed;
}

bool OutputFile::Close(std::optional<std::time_t> fileTime)
{
    if (!isOpen())
        return true;
    bool ok = Sync();
    if (!ok && m_cache)
        m_cache->clear();
    if (fileTime)
        m_calls->setTimes(m_fd, *fileTime);
    m_calls->unwatchWriteBack(m_writeBack);
    m_writeBack = 0;
    if (m_calls->close(m_fd) != 0) {
        m_lastError = errno;
        ok = false;
    }
    m_fd = -1;
    m_cache.reset();
    m_unsynced.clear();
    m_dirty = false;
    return ok;
}

int OutputFile::CloseForSyncElsewhere(std::optional<std::time_t> fileTime, bool& ok)
{
    ok = true;
    if (!isOpen())
        return -1;
    if (!Flush()) {
        // Nothing half-written is handed on: the plain close reports it.
        ok = Close(fileTime);
        return -1;
    }
    const int copy = DuplicateForSync();
    if (copy < 0 && m_dirty) {
        // No descriptor to hand over: sync here after all.
        ok = Close(fileTime);
        return -1;
    }
    if (fileTime)
        m_calls->setTimes(m_fd, *fileTime);
    m_calls->unwatchWriteBack(m_writeBack);
    m_writeBack = 0;
    if (m_calls->close(m_fd) != 0) {
        m_lastError = errno;
        ok = false;
    }
    m_fd = -1;
    m_cache.reset();
    m_unsynced.clear();
    m_dirty = false;
    return copy;
}

bool OutputFile::allocate(int64_t size)
{
    if (!isOpen() || size <= 0)
        return size == 0;
    if (m_calls->fallocate(m_fd, size) == 0) {
        m_dirty = true;
        return true;
    }
    const int error = errno;
    if (error != EOPNOTSUPP && error != ENOSYS) {
        m_lastError = error;
        return false;
    }
    const uint8_t zero = 0;
    return writeDirect(size - 1, std::span<const uint8_t>(&zero, 1));
}

bool OutputFile::setLength(int64_t size)
{
    if (!isOpen() || m_calls->ftruncate(m_fd, size) != 0) {
        m_lastError = isOpen() ? errno : EBADF;
        return false;
    }
    m_dirty = true;
    return true;
}

int64_t OutputFile::length() const
{
    OutputFileStat info;
    if (!isOpen() || m_calls->stat(m_fd, info) != 0)
        return -1;
    return info.size;
}

std::string FreeFileName(const std::filesystem::path& folder, const std::string& name, bool alsoTemp)
{
    const size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    for (int n = 1; n <= kMaxRenameCounter; ++n) {
        std::string candidate = stem + "(" + std::to_string(n) + ")" + extension;
        if (pathTaken(folder / candidate))
            continue;
        if (alsoTemp && pathTaken(workingPath(folder, candidate, true)))
            continue;
        return candidate;
    }
    return {};
}

OutputFileResult OpenOutputFile(OutputFile& file, const OutputFileRequest& request)
{
    OutputFileResult result;
    result.fileName = request.fileName;
    if (!isPlainName(request.fileName))
        return failure(result, EINVAL);

    const bool resume = request.completedBytes > 0;
    const bool fresh = !request.hasData && !resume;

    if (fresh && pathTaken(request.folder / request.fileName)) {
        if (request.destination == DestinationPolicy::Stop) {
            result.log.push_back({LogKind::Status, std::string(builtinString(kMsgDestinationExists))});
            return failure(result, 0);
        }
        if (request.destination == DestinationPolicy::AutoRename) {
            result.fileName = FreeFileName(request.folder, request.fileName, request.useTempName);
            if (result.fileName.empty())
                return failure(result, EEXIST);
        }
    }

    result.path = workingPath(request.folder, result.fileName, request.useTempName);
    if (resume) {
        if (const int error = file.open(result.path, OutputFile::OpenMode::Existing, request.stream)) {
            if (error == ENOENT)
                result.log.push_back({LogKind::Error, kResumeFileMissing});
            return failure(result, error);
        }
        result.existingLength = file.length();
    } else {
        std::error_code ec;
        std::filesystem::create_directories(request.folder, ec);
        if (ec)
            return failure(result, ec.value());
        // Bytes of a job with data whose ranges were taken back are
        // overwritten in place: truncating them would make the database on
        // disk claim bytes the file no longer holds until the next save.
        const bool keep = request.hasData && request.sizeKnown && request.fileSize >= 0;
        const OutputFile::OpenMode mode = keep ? OutputFile::OpenMode::Keep : OutputFile::OpenMode::Create;
        if (const int error = file.open(result.path, mode, request.stream))
            return failure(result, error);
        // Nothing lies beyond the size: what an older, longer file left there goes.
        if (keep && file.length() > request.fileSize && !file.setLength(request.fileSize)) {
            const int error = file.lastError();
            file.Close();
            return failure(result, error);
        }
    }

    if (fresh && request.sizeKnown && request.fileSize > 0 && request.preallocate) {
        bool reserved;
        if (request.stream) {
            reserved = file.setLength(request.fileSize);
        } else {
            const bool notice = request.allocationNotice && request.fileSize > kAllocationNoticeSize;
            if (notice && request.showAllocationNotice)
                request.showAllocationNotice();
            reserved = file.allocate(request.fileSize);
            if (notice && request.hideAllocationNotice)
                request.hideAllocationNotice();
        }
        if (!reserved) {
            const int error = file.lastError();
            // Give the space back: the file holds no data yet.
            file.setLength(0);
            file.Close();
            return failure(result, error);
        }
    }

    if (request.useCache && request.sizeKnown && request.fileSize > kCacheMinimumSize)
        file.useCache(static_cast<size_t>(request.bufferSizeKb) * WriteCache::kBytesPerBufferKb);
    result.ok = true;
    return result;
}

JobWriteOutcome writeJobBlock(OutputFile& file, const std::function<OutputFileRequest()>& request, int64_t position,
                              std::span<const uint8_t> data)
{
    JobWriteOutcome outcome;
    if (!file.isOpen()) {
        OutputFileResult opened = OpenOutputFile(file, request());
        outcome.log = opened.log;
        outcome.systemError = opened.systemError;
        const bool ok = opened.ok;
        outcome.open = std::move(opened);
        if (!ok) {
            outcome.log.push_back({LogKind::Error, std::string(builtinString(kMsgCreateFileError))});
            return outcome;
        }
        outcome.opened = true;
    }
    if (!file.Write(position, data)) {
        outcome.log.push_back({LogKind::Error, std::string(builtinString(kMsgWriteFileError))});
        outcome.systemError = errorText(file.lastError());
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

}  // namespace fetchora
