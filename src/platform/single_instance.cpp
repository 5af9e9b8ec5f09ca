#include "platform/single_instance.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fetchora {

namespace {

std::optional<std::filesystem::path> absolute(const Environment& env, const char* name)
{
    std::optional<std::string> value = env(name);
    if (!value || value->empty() || (*value)[0] != '/')
        return std::nullopt;
    return std::filesystem::path(*value).lexically_normal();
}

std::string errnoText(const std::string& what, const std::filesystem::path& path)
{
    return what + " " + path.string() + ": " + std::strerror(errno);
}

}  // namespace

FolderResult serviceFolder(const Environment& env)
{
    FolderResult result;
    if (std::optional<std::filesystem::path> runtime = absolute(env, "XDG_RUNTIME_DIR")) {
        std::error_code error;
        if (std::filesystem::is_directory(*runtime, error)) {
            result.path = *runtime;
            return result;
        }
        result.error = "XDG_RUNTIME_DIR " + runtime->string() + " is not a folder; ";
    }

    std::filesystem::path base = absolute(env, "TMPDIR").value_or("/tmp");
    const std::filesystem::path folder = base / ("fetchora-" + std::to_string(::geteuid()) + "-run");
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        result.error += errnoText("cannot create", folder);
        return result;
    }
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0) {
        result.error += errnoText("cannot read", folder);
        return result;
    }
    // Someone else's folder (or a symlink) under our name must never hold our
    // socket: refuse rather than use it.
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        result.error += folder.string() + " is not a folder of ours; remove it or set XDG_RUNTIME_DIR";
        return result;
    }
    if ((st.st_mode & 0077) != 0)
        ::chmod(folder.c_str(), 0700);
    result.path = folder;
    result.error.clear();
    return result;
}

SingleInstance::~SingleInstance()
{
    release();
}

void SingleInstance::release()
{
    // The file stays: removing it would let a process that opened the old
    // file lock it while another locks a new one.
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

SingleInstance::Result SingleInstance::acquire(const std::filesystem::path& folder, std::string& error)
{
    if (held())
        return Result::First;
    const std::filesystem::path file = folder / kSingleInstanceName;
    // A file replaced between open and lock would be locked by two instances
    // at once; the inode check after locking catches that.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            error = errnoText("cannot open the instance lock", file);
            return Result::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int why = errno;
            ::close(fd);
            if (why == EWOULDBLOCK)
                return Result::AnotherRuns;
            errno = why;
            error = errnoText("cannot lock", file);
            return Result::Failed;
        }
        struct stat opened;
        struct stat named;
        if (::fstat(fd, &opened) == 0 && ::lstat(file.c_str(), &named) == 0 && opened.st_ino == named.st_ino
            && opened.st_dev == named.st_dev) {
            m_fd = fd;
            return Result::First;
        }
        ::close(fd);
    }
    error = "the instance lock " + file.string() + " keeps being replaced";
    return Result::Failed;
}

}  // namespace fetchora
