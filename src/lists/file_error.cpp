#include "lists/file_error.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

#include "lang/string_table.h"

namespace fetchora {

uint32_t FileErrorStringId(const std::filesystem::path& file, int errorNumber)
{
    if (file.empty() || file.filename().empty())
        return kStrInvalidFileName;
    switch (errorNumber) {
    case ENOENT: {
        std::error_code error;
        const std::filesystem::path folder = file.parent_path();
        if (!folder.empty() && !std::filesystem::is_directory(folder, error))
            return kStrFileBadPath;
        return kStrFileNotFound;
    }
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return kStrFileBadPath;
    case EMFILE:
    case ENFILE: return kStrFileTooManyOpen;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kStrFileAccessDenied;
    case EBADF: return kStrFileInvalidHandle;
    case EINVAL: return kStrInvalidFileName;
    default: return kStrFileGeneric;
    }
}

std::string FileErrorPattern(uint32_t id)
{
    switch (id) {
    case kStrInvalidFileName: return "Invalid filename.";
    case kStrFileGeneric: return "An unknown error occurred while accessing %1.";
    case kStrFileNotFound: return "%1 was not found.";
    case kStrFileBadPath: return "%1 contains an incorrect path.";
    case kStrFileTooManyOpen: return "%1 could not be opened because there are too many open files.";
    case kStrFileAccessDenied: return "Access to %1 was denied.";
    case kStrFileInvalidHandle: return "An incorrect file handle was associated with %1.";
    default: return {};
    }
}

std::string FileErrorText(const std::filesystem::path& file, int errorNumber)
{
    return formatMessage(FileErrorPattern(FileErrorStringId(file, errorNumber)), {file.string()});
}

int ReadErrorNumber(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // A folder opens but cannot be read as a file.
    char byte = 0;
    const int result = ::read(fd, &byte, 1) < 0 ? errno : 0;
    ::close(fd);
    return result;
}

}  // namespace fetchora
