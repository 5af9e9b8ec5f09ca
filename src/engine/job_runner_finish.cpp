// How a run ends: the output file is closed (with the server's file time),
// the ".kx!" file takes its final name without replacing anything unless the
// settings say Overwrite, the parts stop, the job takes its new state and the
// list window is told.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "config/app_settings.h"
#include "engine/asf_header.h"
#include "engine/closed_file_syncs.h"
#include "engine/engine_texts.h"
#include "engine/finish_commits.h"
#include "engine/job_info_file.h"
#include "engine/job_runner.h"
#include "engine/job_window.h"
#include "engine/small_file_check.h"
#include "lang/system_error_text.h"
#include "model/browser_job_fields.h"
#include "model/completed_range_ops.h"
#include "model/file_moves.h"
#include "model/finish_journal.h"
#include "platform/message_loop.h"

namespace fetchora {

namespace {

bool pathTaken(const std::filesystem::path& path)
{
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

}  // namespace

void JobRunner::destroyWindow()
{
    if (!m_window)
        return;
    m_window->destroy();
    if (m_job.run().detailWindow == m_window.get())
        m_job.run().detailWindow = nullptr;
    // The object itself may be the one whose handler is running now.
    m_deadWindows.push_back(std::move(m_window));
}

bool JobRunner::nothingReceived() const
{
    return !m_job.hasData && m_job.completedBytes == 0 && !m_file.isOpen();
}

void JobRunner::finalizeStreamFile()
{
    // A live ASF recording gets the size, packet count and duration a
    // player needs; the header's length does not change, so the ranges stay.
    const int64_t length = m_job.completedBytes;
    std::vector<uint8_t> header(static_cast<std::size_t>(std::clamp<int64_t>(length, 0, kMaxAsfHeaderSize)));
    if (header.size() < 24 || m_file.Read(0, header) != static_cast<int64_t>(header.size()))
        return;
    const std::optional<std::size_t> size = AsfHeaderLength(header);
    if (!size || *size > header.size())
        return;
    header.resize(*size);
    const std::optional<AsfInfo> info = ParseAsfHeader(header);
    if (!info || info->onDemand || length < info->headerSize + info->packetLength)
        return;
    const int64_t packets = (length - info->headerSize) / info->packetLength;
    std::vector<uint8_t> last(info->packetLength);
    if (m_file.Read(info->headerSize + (packets - 1) * info->packetLength, last) != static_cast<int64_t>(last.size()))
        return;
    const std::optional<AsfPacketHead> head = ParseAsfPacketHead(last);
    if (head && FinalizeLiveAsfHeader(header, length, head->sendTime, head->duration))
        m_file.Write(0, header);
}

bool JobRunner::closeFile(StopReason reason, int* handOver)
{
    if (handOver != nullptr)
        *handOver = -1;
    if (!m_file.isOpen()) {
        if (reason != StopReason::Done || m_job.hasData || m_job.completedBytes > 0)
            return true;
        // An empty body: the job still ends with its (empty) file.
        JobWriteOutcome outcome = writeJobBlock(m_file, [this] { return outputRequest(); }, 0, {});
        for (FileLogLine& line : outcome.log)
            logOnJob(line.kind, std::move(line.text));
        if (!outcome.ok) {
            if (!outcome.systemError.empty())
                logOnJob(LogKind::Error, outcome.systemError);
            return false;
        }
        m_job.hasData = true;
    }
    std::optional<std::time_t> fileTime;
    if (reason == StopReason::Done && option(OptionId::FileTimeFromServer) > 0
        && (m_job.optionFlags & kOptFileTimeKnown) != 0 && m_job.remoteFileTime != -1)
        fileTime = m_job.remoteFileTime;
    if (handOver != nullptr) {
        // The committer syncs the file before its note and its rename.
        bool ok = true;
        *handOver = m_file.CloseForSyncElsewhere(fileTime, ok);
        if (ok)
            return true;
    } else if (m_ctx.closedFileSyncs != nullptr && m_ctx.finishJournal.empty()) {
        // The front end's saver syncs the file before it stores the job's
        // new state; the loop thread does not wait for the disk.
        bool ok = true;
        const int fd = m_file.CloseForSyncElsewhere(fileTime, ok);
        if (fd >= 0)
            m_ctx.closedFileSyncs->add(m_job.id, fd);
        if (ok)
            return true;
    } else if (m_file.Close(fileTime)) {
        return true;
    }
    // Cached blocks that never reached the disk are not done after all.
    for (const CompletedRange& lost : m_file.unwrittenRanges())
        RemoveCompletedRange(m_job.completedRanges, lost.start, lost.end);
    m_job.RecomputeCompletedBytes();
    logMessageOnJob(kMsgWriteFileError);
    logOnJob(LogKind::Error, systemErrorText(m_file.lastError()));
    return false;
}

bool JobRunner::FlushForSave()
{
    JobLockGuard guard(*m_ctx.jobLock);
    // The file's data goes to the disk before the database records its
    // ranges; a file unchanged since its last sync costs nothing.
    if (!m_file.isOpen() || m_file.Sync())
        return true;
    for (const CompletedRange& lost : m_file.unwrittenRanges())
        RemoveCompletedRange(m_job.completedRanges, lost.start, lost.end);
    m_job.RecomputeCompletedBytes();
    logMessageOnJob(kMsgWriteFileError);
    logOnJob(LogKind::Error, systemErrorText(m_file.lastError()));
    if (m_job.GetState() == JobState::Downloading)
        Finish(StopReason::Error);
    return false;
}

int JobRunner::FlushForBackgroundSave()
{
    JobLockGuard guard(*m_ctx.jobLock);
    if (!m_file.isOpen())
        return -1;
    if (m_file.Flush()) {
        const int fd = m_file.DuplicateForSync();
        if (fd >= 0 || !m_file.needsSync())
            return fd;
        // No descriptor to hand over (out of descriptors): the file is
        // synced here instead, before the image records its ranges.
        if (m_file.Sync())
            return -1;
    }
    for (const CompletedRange& lost : m_file.unwrittenRanges())
        RemoveCompletedRange(m_job.completedRanges, lost.start, lost.end);
    m_job.RecomputeCompletedBytes();
    logMessageOnJob(kMsgWriteFileError);
    logOnJob(LogKind::Error, systemErrorText(m_file.lastError()));
    if (m_job.GetState() == JobState::Downloading)
        Finish(StopReason::Error);
    return -1;
}

void JobRunner::BackgroundSyncFailed(int error)
{
    JobLockGuard guard(*m_ctx.jobLock);
    m_file.SyncFailedElsewhere(error);
    for (const CompletedRange& lost : m_file.unwrittenRanges())
        RemoveCompletedRange(m_job.completedRanges, lost.start, lost.end);
    m_job.RecomputeCompletedBytes();
    logMessageOnJob(kMsgWriteFileError);
    logOnJob(LogKind::Error, systemErrorText(error));
    if (m_job.GetState() == JobState::Downloading)
        Finish(StopReason::Error);
}

bool JobRunner::finishedUnderFinalName() const
{
    if (!m_job.IsSizeKnown() || m_job.fileSize < 0 || m_job.completedRanges.size() != 1
        || m_job.completedRanges.front().start != 0 || m_job.completedRanges.front().end != m_job.fileSize)
        return false;
    if (pathTaken(m_job.GetTempPath()))
        return false;
    // Only a plain file of exactly the recorded size can be the renamed one;
    // anything else under that name belongs to someone else.
    const std::filesystem::path target = m_job.GetLocalPath();
    std::error_code error;
    if (std::filesystem::symlink_status(target, error).type() != std::filesystem::file_type::regular || error)
        return false;
    const auto size = std::filesystem::file_size(target, error);
    return !error && size == static_cast<std::uintmax_t>(m_job.fileSize);
}

bool JobRunner::noteFinish(const std::filesystem::path& to)
{
    if (m_ctx.finishJournal.empty())
        return true;
    std::string error;
    const FinishNote note{m_job.id, m_job.IsSizeKnown() ? m_job.fileSize : m_job.completedBytes,
                          to.filename().string()};
    if (RecordFinish(m_ctx.finishJournal, note, error))
        return true;
    // Without the note the file keeps its ".kx!" name, which the ranges
    // saved next describe truthfully.
    logOnJob(LogKind::Error, error);
    return false;
}

bool JobRunner::canCommitElsewhere() const
{
    if (m_ctx.finishCommits == nullptr || m_ctx.finishJournal.empty() || m_startFinishing || m_finalFileIsOurs
        || !m_file.isOpen() || (m_job.formatFlags & kFmtTempFile) == 0)
        return false;
    // Only the plain case: the ".kx!" file is there and its final name is
    // free, also of the finishes not yet made durable. Anything else (a name
    // taken, the Overwrite setting) is decided on the loop thread as before.
    const std::filesystem::path from = m_job.GetTempPath();
    const std::filesystem::path to = m_job.GetLocalPath();
    return from != to && from == m_file.path() && pathTaken(from) && !pathTaken(to)
        && !m_ctx.finishCommits->targetPending(to);
}

bool JobRunner::commitElsewhere()
{
    FinishCommit commit;
    commit.jobId = m_job.id;
    commit.from = m_job.GetTempPath();
    commit.to = m_job.GetLocalPath();
    if (!closeFile(StopReason::Done, &commit.fd))
        return false;
    commit.size = m_job.IsSizeKnown() ? m_job.fileSize : m_job.completedBytes;
    m_ctx.finishCommits->submit(std::move(commit));
    m_commitPending = true;
    return true;
}

void JobRunner::FinishCommitted(int error, bool syncFailed, const std::string& journalError)
{
    JobLockGuard guard(*m_ctx.jobLock);
    if (!m_commitPending)
        return;
    m_commitPending = false;
    StopReason reason = StopReason::Done;
    if (syncFailed) {
        // The file is closed: none of its bytes can be trusted.
        m_job.completedRanges.clear();
        m_job.RecomputeCompletedBytes();
        logMessageOnJob(kMsgWriteFileError);
        logOnJob(LogKind::Error, systemErrorText(error));
        reason = StopReason::Error;
    } else if (error != 0) {
        // Not noted or not renamed: the data stays in the ".kx!" file the
        // record names.
        logOnJob(LogKind::Error, journalError.empty() ? systemErrorText(error) : journalError);
        reason = StopReason::Error;
    } else {
        renamedToFinal();
    }
    concludeFinish(reason, nullptr);
}

void JobRunner::renamedToFinal()
{
    if (m_ctx.afterFinalRename)
        m_ctx.afterFinalRename(m_job);
}

bool JobRunner::renameToFinal()
{
    if (m_finalFileIsOurs)
        return true;
    std::filesystem::path from = m_job.GetTempPath();
    if (!pathTaken(from) && !m_file.path().empty() && pathTaken(m_file.path()))
        from = m_file.path();
    const std::filesystem::path folder = m_job.saveFolder.str();
    const std::filesystem::path to = m_job.GetLocalPath();
    if (from == to)
        return true;
    if (!pathTaken(from)) {
        // Nothing to rename: the data is gone, and whatever has the final
        // name is not taken for it.
        logOnJob(LogKind::Error, std::string(kResumeFileMissing) + " (" + from.filename().string() + ")");
        return false;
    }

    const auto policy = static_cast<DestinationPolicy>(std::clamp(option(OptionId::ExistingFileAction), 0, 2));
    const bool taken = pathTaken(to);
    std::error_code error;
    if ((!taken || policy == DestinationPolicy::Overwrite) && !noteFinish(to))
        return false;
    if (taken && policy == DestinationPolicy::Overwrite)
        std::filesystem::rename(from, to, error);
    else if (!taken)
        MoveFileNoReplace(from.string(), to.string(), error);
    if (!taken || policy == DestinationPolicy::Overwrite) {
        if (!error) {
            renamedToFinal();
            return true;
        }
        const bool errnoValue = error.category() == std::system_category() || error.category() == std::generic_category();
        logOnJob(LogKind::Error, errnoValue ? systemErrorText(error.value()) : error.message());
    }
    // A name taken (maybe meanwhile), or a target the move cannot replace:
    // a free name, with one more try when that is taken as well. The record
    // takes the new name only once the file has it, so that it never points
    // at a ".kx!" file that does not exist; otherwise the data stays in the
    // ".kx!" file the record names.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string name = FreeFileName(folder, m_job.GetDisplayName(), false);
        if (name.empty()) {
            logOnJob(LogKind::Error, systemErrorText(EEXIST));
            return false;
        }
        if (!noteFinish(folder / name))
            return false;
        std::error_code moveError;
        if (MoveFileNoReplace(from.string(), (folder / name).string(), moveError)) {
            logMessageOnJob(kMsgAutoRename);
            m_job.fileName = name;
            m_job.Notify(kChangeName);
            renamedToFinal();
            return true;
        }
        logOnJob(LogKind::Error, moveError.message());
    }
    return false;
}

bool JobRunner::smallFileRestart()
{
    if (!m_ctx.smallFiles || m_job.completedBytes >= kSmallFileLimit
        || m_job.run().smallFileRestarts >= kMaxSmallFileRestarts)
        return false;
    const std::filesystem::path file = m_job.GetLocalPath();
    const std::string link
        = SmallFileRedirect(m_job, file, static_cast<uint32_t>(option(OptionId::MonitorFlags)), *m_ctx.smallFiles);
    if (link.empty())
        return false;
    const std::string oldUrl = m_job.url;
    // The linked file is the same download: it keeps the browser's agent.
    const std::string agent = JobUserAgent(m_job);
    if (!m_job.SetUrl(link))
        return false;
    SetJobUserAgent(m_job, agent);
    ++m_job.run().smallFileRestarts;
    // The page the job fetched is not the file it is for.
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    m_job.completedRanges.clear();
    m_job.completedBytes = 0;
    m_job.hasData = false;
    m_job.optionFlags &= ~(kOptResumeKnown | kOptFileTimeKnown | kOptSizeKnown);
    m_job.fileSize = -1;
    m_job.remoteFileTime = -1;
    m_job.completeTime = -1;
    m_job.referer = oldUrl;
    m_job.formatFlags |= kFmtReferer;
    m_job.SetState(JobState::Ready);
    if (m_job.startMode == StartMode::Manual)
        m_job.startMode = StartMode::Immediately;
    // Started again from the loop, once the handler that got here has returned.
    m_restartPending = true;
    if (!m_window || !m_window->post(WM_JOB_RESTART))
        m_restartPending = false;
    return true;
}

void JobRunner::Finish(StopReason reason, JobPart* trigger)
{
    JobLockGuard guard(*m_ctx.jobLock);
    if (m_finishing)
        return;
    m_finishing = true;

    // A live recording that is stopped or fails keeps what it recorded as
    // the finished file. Not for the quiet stops of a delete, a re-download
    // or a database change, nor a job moved to the end of the queue: those
    // must not turn into a completed file.
    if (reason != StopReason::Done && reason != StopReason::Silent && reason != StopReason::MovedToEnd
        && streamEndReached())
        reason = StopReason::Done;
    // A finished live recording is as long as what was recorded.
    if (reason == StopReason::Done && m_job.streamMarker != 0 && !m_job.IsSizeKnown())
        m_job.SetFileSize(m_job.completedBytes);
    m_job.totalTime += static_cast<int32_t>(m_figures.runSeconds(tick()));
    if (reason == StopReason::Done && m_job.streamMarker != 0 && m_file.isOpen())
        finalizeStreamFile();
    bool committing = false;
    if (reason == StopReason::Done && canCommitElsewhere()) {
        committing = commitElsewhere();
        if (!committing)
            reason = StopReason::Error;
    } else {
        if (!closeFile(reason) && reason == StopReason::Done)
            reason = StopReason::Error;
        if (reason == StopReason::Done && (m_job.formatFlags & kFmtTempFile) != 0 && !renameToFinal())
            reason = StopReason::Error;
    }

    // Before the parts stop, so that a worker sees that its connection is
    // wanted as soon as it learns that its part has ended.
    if (reason == StopReason::Done)
        keepFtpConnectionForNextJob();
    for (const auto& part : m_parts) {
        if (part->isRunning())
            StopPart(*part, reason);
    }
    if (committing) {
        // The job stays downloading until its finish is on the disk; its
        // slot in the queue is free now.
        m_job.run().retryBase = 0;
        if (m_ctx.host)
            m_ctx.host->jobCommitting(m_job);
        return;
    }
    concludeFinish(reason, trigger);
}

void JobRunner::concludeFinish(StopReason reason, JobPart* trigger)
{
    if (reason != StopReason::MovedToEnd)
        m_job.run().retryBase = 0;

    JobState newState = JobState::Ready;
    switch (reason) {
    case StopReason::Done:
        if (smallFileRestart()) {
            m_figures.stop();
            m_job.run().startTick = 0xFFFFFFFFu;
            return;
        }
        m_job.completeTime = static_cast<int32_t>(now());
        newState = JobState::Completed;
        m_job.SetState(newState);
        destroyWindow();
        break;
    case StopReason::User:
        m_job.SetState(newState);
        m_job.startMode = StartMode::Manual;
        break;
    case StopReason::Schedule:
    case StopReason::MovedToEnd:
    case StopReason::NoConnectionSlot: m_job.SetState(newState); break;
    case StopReason::Silent:
        m_job.SetState(newState, false);
        m_figures.stop();
        m_job.run().startTick = 0xFFFFFFFFu;
        return;
    default:
        newState = JobState::Failed;
        if (m_job.lastError().empty())
            m_job.editTexts().lastError = messageText(kStrEngineDownloadFailed, {});
        if (reason == StopReason::MaxErrors)
            m_job.editTexts().lastError
                = messageText(kStrEngineGaveUp, {m_job.lastError().str(), std::to_string(m_job.retryCount)});
        m_job.SetState(newState);
        destroyWindow();
        break;
    }

    m_figures.stop();
    m_job.run().startTick = 0xFFFFFFFFu;

    m_job.Notify(kChangeRefresh);
    if (m_ctx.host)
        m_ctx.host->jobEnded(m_job, reason);
    if (reason == StopReason::Done && option(OptionId::SeparateLogFile) > 0) {
        JobInfo info;
        info.displayName = m_job.GetDisplayName();
        info.url = m_job.url;
        info.fileSize = m_job.IsSizeKnown() ? m_job.fileSize : -1;
        info.completedBytes = m_job.completedBytes;
        info.createTime = m_job.createTime;
        info.completeTime = m_job.completeTime;
        info.localPath = m_job.GetLocalPath();
        info.comment = m_job.comment();
        info.referer = m_job.referer;
        info.sizesInBytes = option(OptionId::SizesInBytes) > 0;
        writeJobInfoFile(info);
    }
    if (m_ctx.host)
        m_ctx.host->jobStopped(m_job, trigger, newState);
}

}  // namespace fetchora
