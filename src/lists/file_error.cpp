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
    case kStrInvalidFileName:
    case kStrFileGeneric:
    case kStrFileNotFound:
    case kStrFileBadPath:
    case kStrFileTooManyOpen:
    case kStrFileAccessDenied:
    case kStrFileInvalidHandle: return std::string(builtinString(id));
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
