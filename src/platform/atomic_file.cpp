#include "platform/atomic_file.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fetchora {

namespace {

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

void syncFolder(const std::filesystem::path& folder)
{
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

class SystemAtomicWriteCalls final : public AtomicWriteCalls {
public:
    int makeTemporary(std::string& pattern) override { return ::mkstemp(pattern.data()); }
    bool writeAll(int fd, std::string_view bytes) override { return fetchora::writeAll(fd, bytes); }
    bool sync(int fd) override { return ::fsync(fd) == 0; }
    void keepMode(int fd, const std::filesystem::path& target) override
    {
        struct stat old { };
        ::fchmod(fd, ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0600);
    }
    bool close(int fd) override { return ::close(fd) == 0; }
    bool rename(const std::string& from, const std::string& to) override
    {
        return ::rename(from.c_str(), to.c_str()) == 0;
    }
    void unlink(const std::string& path) override { ::unlink(path.c_str()); }
    void syncFolder(const std::filesystem::path& folder) override { fetchora::syncFolder(folder); }
};

AtomicWriteCalls& systemAtomicWriteCalls()
{
    static SystemAtomicWriteCalls calls;
    return calls;
}

bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes)
{
    return writeFileAtomically(target, bytes, systemAtomicWriteCalls());
}

bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes, AtomicWriteCalls& calls)
{
    std::string temporary = target.string() + ".tmp-XXXXXX";
    int fd = calls.makeTemporary(temporary);
    if (fd < 0)
        return false;
    bool ok = calls.writeAll(fd, bytes) && calls.sync(fd);
    // Keep the permissions of the file we replace; a new one is private.
    calls.keepMode(fd, target);
    ok = calls.close(fd) && ok;
    if (ok)
        ok = calls.rename(temporary, target.string());
    if (!ok) {
        calls.unlink(temporary);
        return false;
    }
    calls.syncFolder(target.parent_path());
    return true;
}

bool replaceWithHardLink(const std::filesystem::path& source, const std::filesystem::path& target,
                         const std::filesystem::path& tempOwner, LinkCall link)
{
    // mkstemp picks a free name; link() needs it free again.
    std::string temporary = tempOwner.string() + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(temporary.c_str());
    if ((link ? link : ::link)(source.c_str(), temporary.c_str()) != 0)
        return false;
    const bool renamed = ::rename(temporary.c_str(), target.c_str()) == 0;
    // A target that already named the same file leaves the temporary name
    // in place (rename does nothing then).
    ::unlink(temporary.c_str());
    return renamed;
}

void removeStaleTemporaries(const std::filesystem::path& target)
{
    std::error_code error;
    const std::string prefix = target.filename().string() + ".tmp-";
    std::filesystem::path folder = target.parent_path().empty() ? "." : target.parent_path();
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == prefix.size() + 6 && name.starts_with(prefix))
            std::filesystem::remove(entry.path(), error);
    }
}

std::filesystem::path lockPathFor(const std::filesystem::path& file)
{
    return file.string() + ".lock";
}

FileLock::FileLock(const std::filesystem::path& lockFile)
{
    m_fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0)
        return;
    while (::flock(m_fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
    }
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

}  // namespace fetchora
