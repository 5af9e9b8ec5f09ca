#include "lists/companion_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "lang/string_table.h"
#include "lang/system_error_text.h"
#include "lists/companion_texts.h"
#include "lists/file_error.h"
#include "model/database_texts.h"
#include "model/kxd_archive.h"
#include "platform/atomic_file.h"
#include "platform/text_utils.h"

namespace fetchora {

std::filesystem::path CompanionPathFor(const std::filesystem::path& dataFile)
{
    std::filesystem::path path = dataFile;
    path += std::string(kCompanionExtension);
    return path;
}

bool IsCompanionFile(const std::filesystem::path& file)
{
    std::string extension = file.extension().string();
    extension = asciiLower(extension);
    return extension == kCompanionExtension;
}

std::string StoreCompanionJob(const DownloadJob& job)
{
    KxdWriter writer;
    StoreNode(writer, job, false);
    return writer.ok() ? writer.take() : std::string();
}

CompanionRead LoadCompanionJob(std::string_view bytes, const KxdLoadOptions& options)
{
    CompanionRead result;
    if (bytes.empty()) {
        result.status = CompanionStatus::Empty;
        return result;
    }
    result.status = CompanionStatus::Damaged;
    KxdReader reader(bytes);
    const int32_t tag = reader.readI32();
    if (!reader.ok()) {
        result.error = builtinText(kStrCompanionCutShort);
        return result;
    }
    if ((tag & 3) != kTagJob) {
        result.error = builtinText(kStrCompanionNoJobRecord);
        return result;
    }
    auto job = std::make_unique<DownloadJob>();
    job->ApplyDefaults(NodeKind::Job, options.defaults, nullptr, options.now);
    LoadNode(reader, *job, options);
    if (!reader.ok()) {
        result.error = builtinText(kStrFileDamagedAt,
                                   {shownArchiveError(reader.error()), std::to_string(reader.errorOffset())});
        return result;
    }
    if (job->IsCategory()) {
        result.error = builtinText(kStrCompanionHoldsCategory);
        return result;
    }
    if (reader.remaining() != 0) {
        result.error = builtinText(kStrCompanionBytesFollow, {std::to_string(reader.remaining())});
        return result;
    }
    job->AfterLoad(options.defaults.maxParallelNum, options.startUnfinishedJobs);
    result.status = CompanionStatus::Loaded;
    result.job = std::move(job);
    return result;
}

CompanionRead ReadCompanionFile(const std::filesystem::path& dataFile, const KxdLoadOptions& options)
{
    const std::filesystem::path path = CompanionPathFor(dataFile);
    CompanionRead result;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return result;
    result.status = CompanionStatus::Damaged;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        result.error = FileErrorText(path, ec.value());
        return result;
    }
    if (size > kCompanionFileLimit) {
        result.error = builtinText(kStrCompanionTooLargeToRead, {path.string()});
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        result.error = FileErrorText(path, errno);
        return result;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        result.error = builtinText(kStrFileReadError, {path.string()});
        return result;
    }
    result = LoadCompanionJob(bytes, options);
    if (result.status == CompanionStatus::Damaged)
        result.error = path.string() + ": " + result.error;
    return result;
}

bool WriteCompanionFile(const std::filesystem::path& dataFile, const DownloadJob& job, std::string* error)
{
    const std::string bytes = StoreCompanionJob(job);
    const std::filesystem::path path = CompanionPathFor(dataFile);
    if (bytes.empty()) {
        if (error)
            *error = builtinText(kStrCompanionTooLargeToStore, {path.string()});
        return false;
    }
    errno = 0;
    if (!writeFileAtomically(path, bytes)) {
        if (error)
            *error = errno ? FileErrorText(path, errno) : builtinText(kStrFileCannotBeWritten, {path.string()});
        return false;
    }
    return true;
}

}  // namespace fetchora
