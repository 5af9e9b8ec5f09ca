#include "lists/previous_import.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <system_error>

#include "lang/string_table.h"
#include "lang/system_error_text.h"
#include "lists/companion_file.h"
#include "lists/companion_texts.h"
#include "lists/file_error.h"
#include "model/file_moves.h"
#include "net/url.h"

namespace fetchora {

namespace {

DownloadJob* chosenCategory(CZoviradDoc& doc, DownloadJob* category)
{
    if (category && category->IsCategory() && doc.tree().Contains(category))
        return category;
    return doc.downloaded();
}

// The job's name is the file's own, so that its local path is the file.
void setFileName(DownloadJob& job, const std::filesystem::path& file)
{
    const std::string name = file.filename().string();
    job.fileName = name == job.defaultName() ? std::string() : name;
}

// Sets the URL when it parses; an empty text clears it.
bool applyUrl(DownloadJob& job, const std::string& url)
{
    if (url.empty()) {
        job.url.clear();
        return true;
    }
    return job.SetUrl(url);
}

void fillFromFile(DownloadJob& job, const DiskFile& file)
{
    job.fileSize = file.size;
    job.optionFlags |= kOptSizeKnown;
    job.SetCompleted(file.size);
    job.remoteFileTime = file.modified;
    job.optionFlags |= kOptFileTimeKnown;
}

// Moves the file into folder when asked; the folder the job is filed in.
// Runs without the job lock: a move across file systems copies the whole
// file, and transfer threads must not wait for that.
std::string placeFile(const DiskFile& file, const std::string& categoryFolder, bool moveFile, ImportResult& result)
{
    const std::string ownFolder = file.path.parent_path().string();
    if (!moveFile || categoryFolder.empty())
        return ownFolder;
    std::error_code ec;
    if (std::filesystem::equivalent(file.path.parent_path(), categoryFolder, ec))
        return ownFolder;
    const std::string target = JoinPath(categoryFolder, file.path.filename().string());
    std::error_code moveError;
    if (!MoveFileNoReplace(file.path.string(), target, moveError)) {
        result.warning = builtinText(kStrImportFileStays, {file.path.string(), systemErrorText(moveError.value())});
        return ownFolder;
    }
    result.moved = true;
    return categoryFolder;
}

}  // namespace

bool StatDiskFile(const std::filesystem::path& path, DiskFile& out, std::string* error)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0) {
        if (error)
            *error = FileErrorText(path, errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        if (error)
            *error = builtinText(kStrImportNotRegularFile, {path.string()});
        return false;
    }
    out.path = path;
    out.size = static_cast<int64_t>(info.st_size);
    out.modified = static_cast<int32_t>(std::clamp<int64_t>(info.st_mtime, 0, INT32_MAX));
    return true;
}

ImportResult ImportPreviousFile(CZoviradDoc& doc, const JobDefaults& defaults, int32_t now, const DiskFile& file,
                                const ImportChoice& choice, std::unique_ptr<DownloadJob> loaded)
{
    ImportResult result;
    std::unique_lock<JobLock> lock(doc.jobLock());
    DownloadJob* category = chosenCategory(doc, choice.category);
    if (!category) {
        result.error = builtinText(kStrImportNoCategory);
        return result;
    }
    std::unique_ptr<DownloadJob> job = std::move(loaded);
    if (!job)
        job = doc.NewRecord(NodeKind::Job, defaults, now);
    // The record is not in the tree yet: its fields are set directly, so
    // that nothing is renamed on disk and nothing is posted for it.
    job->notifyWindow = nullptr;
    if (!applyUrl(*job, choice.url)) {
        result.error = builtinText(kStrImportNotValidUrl, {choice.url});
        return result;
    }
    job->referer = choice.referer;
    job->SetComment(choice.comment);
    setFileName(*job, file.path);
    // The file is the whole download, also for a companion record written
    // while its job was still running: size, time and state follow the file.
    fillFromFile(*job, file);
    job->SetState(JobState::Completed, false);
    job->hasData = true;
    job->categoryId = category->id;
    const std::string categoryFolder = category->saveFolder;
    lock.unlock();
    job->saveFolder = placeFile(file, categoryFolder, choice.moveFile, result);
    lock.lock();
    job->notifyWindow = doc.notifyWindow();
    result.job = doc.AddJob(std::move(job), category);
    if (!result.job)
        result.error = builtinText(kStrImportNotAdded);
    return result;
}

ImportResult ImportBrokenDownload(CZoviradDoc& doc, const JobDefaults& defaults, int32_t now, const DiskFile& file,
                                  const ImportChoice& choice)
{
    ImportResult result;
    const auto entry = ParseUrl(choice.url);
    if (!entry || !IsTransferable(entry->service)) {
        result.error = builtinText(kStrImportNotValidUrl, {choice.url});
        return result;
    }
    std::unique_lock<JobLock> lock(doc.jobLock());
    DownloadJob* queue = doc.downloading();
    if (!queue) {
        result.error = builtinText(kStrImportNoDownloadCategory);
        return result;
    }
    std::unique_ptr<DownloadJob> job = doc.NewRecord(NodeKind::Job, defaults, now);
    job->notifyWindow = nullptr;
    if (!job->SetUrl(choice.url)) {
        result.error = builtinText(kStrImportNotValidUrl, {choice.url});
        return result;
    }
    job->referer = choice.referer;
    job->SetComment(choice.comment);
    setFileName(*job, file.path);
    job->SetCompleted(file.size);
    job->hasData = file.size > 0;
    job->optionFlags &= ~kOptResumeKnown;
    job->formatFlags &= ~kFmtTempFile;
    job->startMode = StartMode::Manual;
    job->SetState(JobState::Ready, false);
    const DownloadJob* chosen = choice.category ? chosenCategory(doc, choice.category) : nullptr;
    job->categoryId = chosen ? chosen->id : job->categoryId;
    const std::string categoryFolder = chosen ? chosen->saveFolder : std::string();
    lock.unlock();
    job->saveFolder = placeFile(file, categoryFolder, choice.moveFile, result);
    lock.lock();
    job->notifyWindow = doc.notifyWindow();
    result.job = doc.AddJob(std::move(job), queue);
    if (!result.job)
        result.error = builtinText(kStrImportNotAdded);
    return result;
}

FolderImportResult ImportFolder(CZoviradDoc& doc, const JobDefaults& defaults, int32_t now,
                                const FolderImportOptions& options)
{
    FolderImportResult result;
    DownloadJob* top = nullptr;
    {
        JobLockGuard lock(doc.jobLock());
        top = chosenCategory(doc, options.category);
    }
    struct Pending {
        std::filesystem::path folder;
        DownloadJob* parentCategory;
    };
    std::vector<Pending> pending{{options.folder, top}};
    while (!pending.empty() && top) {
        const Pending current = pending.back();
        pending.pop_back();

        std::vector<std::filesystem::path> files;
        std::vector<std::filesystem::path> folders;
        std::error_code ec;
        std::filesystem::directory_iterator it(current.folder, ec);
        for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            std::error_code typeError;
            const auto status = it->symlink_status(typeError);
            if (std::filesystem::is_directory(status))
                folders.push_back(it->path());
            else if (it->is_regular_file(typeError) && !IsCompanionFile(it->path()))
                files.push_back(it->path());
        }
        if (ec) {
            result.problems.push_back(current.folder.string() + ": " + systemErrorText(ec.value()));
            continue;
        }
        std::sort(files.begin(), files.end());
        std::sort(folders.begin(), folders.end());

        DownloadJob* category = current.parentCategory;
        if (options.autoCreateCategory) {
            std::string name = current.folder.filename().string();
            if (name.empty())
                name = current.folder.parent_path().filename().string();
            JobLockGuard lock(doc.jobLock());
            if (DownloadJob* created = doc.AddCategory(name, current.folder.string(), current.parentCategory)) {
                category = created;
                ++result.categoriesCreated;
            }
        }
        for (const auto& path : files) {
            DiskFile file;
            std::string error;
            if (!StatDiskFile(path, file, &error)) {
                result.problems.push_back(error);
                continue;
            }
            CompanionRead companion = ReadCompanionFile(path, options.companion);
            if (companion.status == CompanionStatus::Damaged)
                result.problems.push_back(companion.error);
            ImportChoice choice;
            choice.category = category;
            if (companion.job) {
                choice.url = companion.job->url;
                choice.referer = companion.job->referer;
                choice.comment = companion.job->comment();
                fillFromFile(*companion.job, file);
                companion.job->SetState(JobState::Completed, false);
            }
            ImportResult added = ImportPreviousFile(doc, defaults, now, file, choice, std::move(companion.job));
            if (added.job)
                ++result.added;
            else
                result.problems.push_back(path.string() + ": " + added.error);
        }
        if (options.includeSubFolders) {
            for (auto it2 = folders.rbegin(); it2 != folders.rend(); ++it2)
                pending.push_back(Pending{*it2, category});
        }
    }
    result.message = fillPrintfFields(kTextTotalAdded, {std::to_string(result.added)});
    return result;
}

}  // namespace fetchora
