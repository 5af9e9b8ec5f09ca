// The job operations that touch the job's files on disk: renaming, moving to
// another folder and starting over.
#include <filesystem>
#include <system_error>

#include "model/download_job.h"
#include "model/file_moves.h"

namespace fetchora {
namespace {

constexpr std::string_view kLogSuffix = ".log";

bool fileExists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found && !error;
}

}  // namespace

bool DownloadJob::SetFileName(std::string_view newName)
{
    std::string stored = newName.empty() ? std::string() : SanitizeFileName(newName);
    if (stored == defaultName())
        stored.clear();
    if (stored == fileName)
        return true;
    if (hasData) {
        const std::string from = GetWorkingPath();
        const std::string previous = fileName;
        fileName = stored;
        const std::string to = GetWorkingPath();
        fileName = previous;
        std::error_code error;
        if (from != to && !MoveFileNoReplace(from, to, error))
            return false;
    }
    fileName = std::move(stored);
    Notify(kChangeName);
    return true;
}

bool DownloadJob::MoveFilesTo(std::string_view folder)
{
    if (folder == saveFolder)
        return true;
    const std::string name = SanitizeFileName(GetDisplayName());
    const std::string localPath = GetLocalPath();
    const std::string sources[] = {localPath, GetTempPath(), localPath + std::string(kLogSuffix)};
    const std::string targets[] = {JoinPath(folder, name), JoinPath(folder, name + std::string(kTempSuffix)),
                                   JoinPath(folder, name + std::string(kLogSuffix))};
    bool ok = true;
    bool done[3] = {false, false, false};
    for (size_t i = 0; i < 3 && ok; ++i) {
        if (!fileExists(sources[i]))
            continue;
        std::error_code error;
        ok = MoveFileNoReplace(sources[i], targets[i], error);
        done[i] = ok;
    }
    if (!ok) {
        for (size_t i = 0; i < 3; ++i) {
            std::error_code ignored;
            if (done[i])
                MoveFileNoReplace(targets[i], sources[i], ignored);
        }
        return false;
    }
    saveFolder = folder;
    Notify(kChangeName);
    return true;
}

bool DownloadJob::ResetForRedownload()
{
    if (runner())
        return false;
    // Only a job that has written something owns files at its paths; a file
    // of the same name that it never wrote belongs to someone else.
    if (hasData || completedBytes > 0) {
        std::error_code ignored;
        std::filesystem::remove(GetLocalPath(), ignored);
        std::filesystem::remove(GetTempPath(), ignored);
    }
    completedRanges.clear();
    completedBytes = 0;
    totalTime = 0;
    completeTime = -1;
    remoteFileTime = -1;
    fileSize = -1;
    optionFlags &= ~(kOptResumeKnown | kOptFileTimeKnown | kOptSizeKnown);
    hasData = false;
    state = (state & ~0xFFu) | static_cast<uint32_t>(JobState::Ready);
    if (startMode == StartMode::Manual)
        startMode = StartMode::Immediately;
    Notify(kChangeAll);
    return true;
}

}  // namespace fetchora
