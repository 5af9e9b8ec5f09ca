#include "model/finish_journal.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "lang/system_error_text.h"

#include "model/category_tree.h"
#include "model/download_job.h"

namespace fetchora {

namespace {

std::string hexOf(const std::string& text)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() * 2);
    for (const unsigned char c : text) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0x0F];
    }
    return out;
}

bool textOfHex(const std::string& hex, std::string& out)
{
    if (hex.size() % 2 != 0)
        return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        if (error != std::errc{} || end != hex.data() + i + 2)
            return false;
        out += static_cast<char>(value);
    }
    return true;
}

bool plainFileOfSize(const std::filesystem::path& path, int64_t size)
{
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::regular || error)
        return false;
    const auto onDisk = std::filesystem::file_size(path, error);
    return !error && onDisk == static_cast<std::uintmax_t>(size);
}

bool safeName(const std::string& name)
{
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != ".."
        && name.find('\0') == std::string::npos;
}

bool pathTaken(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

bool plainFile(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::regular && !error;
}

// A finish note: the job's ".kx!" file became the noted final file.
bool applyFinish(DownloadJob& job, const FinishNote& note)
{
    if (job.IsComplete() || (job.formatFlags & kFmtTempFile) == 0)
        return false;
    if (job.IsSizeKnown() && job.fileSize != note.size)
        return false;
    if (pathTaken(job.GetTempPath()))
        return false;
    if (!plainFileOfSize(std::filesystem::path(job.saveFolder.str()) / note.name, note.size))
        return false;
    if (note.name != job.GetDisplayName())
        job.fileName = note.name;
    job.SetFileSize(note.size);
    job.completedRanges.clear();
    if (note.size > 0)
        job.completedRanges.push_back({0, note.size});
    job.RecomputeCompletedBytes();
    job.hasData = true;
    return true;
}

// A move note: the job's files went to the noted folder and name.
bool applyMove(DownloadJob& job, const FinishNote& note)
{
    // Where the database puts the job something of it is still there: the
    // move did not happen, or the files came back.
    if (pathTaken(job.GetLocalPath()) || pathTaken(job.GetTempPath()))
        return false;
    const std::filesystem::path local = std::filesystem::path(note.folder) / note.name;
    const bool there = note.unfinished
        ? plainFile(local.string() + std::string(kTempSuffix)) || plainFile(local)
        : plainFileOfSize(local, note.size);
    if (!there)
        return false;
    job.saveFolder = note.folder;
    if (SanitizeFileName(job.GetDisplayName()) != note.name)
        job.fileName = note.name;
    return true;
}

}  // namespace

std::filesystem::path FinishJournalPath(const std::filesystem::path& database)
{
    return database.string() + ".fin";
}

std::string FinishLine(const FinishNote& note)
{
    return std::to_string(note.jobId) + " " + std::to_string(note.size) + " " + hexOf(note.name) + "\n";
}

bool AppendFinishLines(const std::filesystem::path& journal, const std::string& lines, std::string& error,
                       const std::function<int(int)>& sync)
{
    const int fd = ::open(journal.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = systemErrorText(errno);
        return false;
    }
    // A journal this write creates needs its folder entry on the disk too.
    struct stat before{};
    const bool fresh = ::fstat(fd, &before) == 0 && before.st_size == 0;
    bool ok = true;
    for (size_t done = 0; ok && done < lines.size();) {
        const ssize_t wrote = ::write(fd, lines.data() + done, lines.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        ok = wrote > 0;
        if (ok)
            done += static_cast<size_t>(wrote);
        else if (wrote == 0)
            errno = ENOSPC;
    }
    if (ok && sync(fd) != 0)
        ok = false;
    if (!ok)
        error = systemErrorText(errno != 0 ? errno : EIO);
    ::close(fd);
    if (ok && fresh) {
        const std::filesystem::path folder = journal.parent_path();
        const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return ok;
}

bool RecordFinish(const std::filesystem::path& journal, const FinishNote& note, std::string& error)
{
    return AppendFinishLines(journal, FinishLine(note), error);
}

bool RecordFileMove(const std::filesystem::path& journal, const FinishNote& note, std::string& error)
{
    return AppendFinishLines(journal,
                      "m " + std::to_string(note.jobId) + " " + std::to_string(note.size) + " "
                          + (note.unfinished ? "u " : "f ") + hexOf(note.folder) + " " + hexOf(note.name) + "\n",
                      error);
}

std::vector<FinishNote> ReadFinishJournal(const std::filesystem::path& journal)
{
    std::vector<FinishNote> notes;
    std::ifstream in(journal, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    // Only lines with their newline count: the last may be torn.
    for (size_t end = all.find('\n'); end != std::string::npos; start = end + 1, end = all.find('\n', start)) {
        std::istringstream fields(all.substr(start, end - start));
        FinishNote note;
        std::string hex;
        std::string extra;
        if (all.compare(start, 2, "m ") == 0) {
            std::string marker;
            std::string kind;
            std::string folderHex;
            if (!(fields >> marker >> note.jobId >> note.size >> kind >> folderHex >> hex) || (fields >> extra)
                || note.size < 0 || (kind != "f" && kind != "u"))
                continue;
            note.unfinished = kind == "u";
            // The folder is an absolute path, as the job's folders are.
            if (!textOfHex(folderHex, note.folder) || note.folder.empty() || note.folder.front() != '/'
                || note.folder.find('\0') != std::string::npos)
                continue;
        } else if (!(fields >> note.jobId >> note.size >> hex) || (fields >> extra) || note.size < 0) {
            continue;
        }
        if (!textOfHex(hex, note.name) || !safeName(note.name))
            continue;
        notes.push_back(std::move(note));
    }
    return notes;
}

int ApplyFinishJournal(CComPtrTree& tree, const std::vector<FinishNote>& notes, std::vector<int32_t>* mended)
{
    int count = 0;
    // A finish noted before a move is found only once the move is applied:
    // the passes go on while moves change something. A move applied leaves
    // its job where its file is, so it never applies twice.
    for (size_t pass = 0; pass <= notes.size(); ++pass) {
        bool moved = false;
        for (const FinishNote& note : notes) {
            DownloadJob* job = tree.FindById(note.jobId);
            if (job == nullptr || job->IsCategory())
                continue;
            if (note.isMove()) {
                if (applyMove(*job, note)) {
                    moved = true;
                    ++count;
                }
                continue;
            }
            if (!applyFinish(*job, note))
                continue;
            ++count;
            if (mended != nullptr && std::find(mended->begin(), mended->end(), job->id) == mended->end())
                mended->push_back(job->id);
        }
        if (!moved)
            break;
    }
    return count;
}

void ClearFinishJournal(const std::filesystem::path& journal)
{
    std::error_code ignored;
    std::filesystem::remove(journal, ignored);
}

uint64_t FinishJournalBytes(const std::filesystem::path& journal)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(journal, error);
    return error ? 0 : static_cast<uint64_t>(size);
}

bool ClearFinishJournalIfUnchanged(const std::filesystem::path& journal, uint64_t bytesAtImage)
{
    if (journal.empty() || bytesAtImage == 0 || FinishJournalBytes(journal) != bytesAtImage)
        return false;
    ClearFinishJournal(journal);
    return true;
}

}  // namespace fetchora
