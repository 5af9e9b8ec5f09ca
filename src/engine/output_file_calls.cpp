#include "engine/output_file_calls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/write_back.h"

namespace fetchora {

namespace {

class SystemOutputFileCalls final : public OutputFileCalls {
public:
    int open(const std::filesystem::path& path, int flags, mode_t mode) override
    {
        return ::open(path.c_str(), flags, mode);
    }
    int stat(int fd, OutputFileStat& out) override
    {
        struct stat info { };
        if (::fstat(fd, &info) != 0)
            return -1;
        out.size = static_cast<int64_t>(info.st_size);
        out.regular = S_ISREG(info.st_mode);
        out.directory = S_ISDIR(info.st_mode);
        return 0;
    }
    ssize_t pwrite(int fd, std::span<const uint8_t> data, int64_t position) override
    {
        return ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(position));
    }
    ssize_t pread(int fd, std::span<uint8_t> out, int64_t position) override
    {
        return ::pread(fd, out.data(), out.size(), static_cast<off_t>(position));
    }
    int fdatasync(int fd) override { return ::fdatasync(fd); }
    int duplicate(int fd) override { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }
    int close(int fd) override { return ::close(fd); }
    int fallocate(int fd, int64_t size) override { return ::fallocate(fd, 0, 0, static_cast<off_t>(size)); }
    int ftruncate(int fd, int64_t size) override { return ::ftruncate(fd, static_cast<off_t>(size)); }
    void setTimes(int fd, std::time_t time) override
    {
        const struct timespec times[2] = {{time, 0}, {time, 0}};
        ::futimens(fd, times);
    }
    uint64_t watchWriteBack(int fd) override { return watchFileForWriteBack(fd); }
    void wroteForWriteBack(uint64_t ticket, int64_t bytes) override { noteWrittenForWriteBack(ticket, bytes); }
    void unwatchWriteBack(uint64_t ticket) override { unwatchFileForWriteBack(ticket); }
};

}  // namespace

OutputFileCalls& systemOutputFileCalls()
{
    static SystemOutputFileCalls calls;
    return calls;
}

}  // namespace fetchora
