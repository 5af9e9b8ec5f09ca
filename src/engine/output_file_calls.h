#pragma once
// The system calls a job's output file makes, so that a test can run the
// real write path against a file system that keeps unsynced bytes in memory
// and loses them when the power goes.
//
// Each call returns what its system call does: a descriptor, a byte count or
// 0, and -1 with errno set on failure.
//
// Thread: the real calls are safe from any thread; a stand-in says what it
// allows.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <span>
#include <sys/types.h>

namespace fetchora {

struct OutputFileStat {
    int64_t size = 0;
    bool regular = false;
    bool directory = false;
};

class OutputFileCalls {
public:
    virtual ~OutputFileCalls() = default;
    virtual int open(const std::filesystem::path& path, int flags, mode_t mode) = 0;
    virtual int stat(int fd, OutputFileStat& out) = 0;
    virtual ssize_t pwrite(int fd, std::span<const uint8_t> data, int64_t position) = 0;
    virtual ssize_t pread(int fd, std::span<uint8_t> out, int64_t position) = 0;
    virtual int fdatasync(int fd) = 0;
    // A second descriptor of the same open file (F_DUPFD_CLOEXEC).
    virtual int duplicate(int fd) = 0;
    virtual int close(int fd) = 0;
    virtual int fallocate(int fd, int64_t size) = 0;
    virtual int ftruncate(int fd, int64_t size) = 0;
    virtual void setTimes(int fd, std::time_t time) = 0;
    // The kernel's write-back of the file started while it is written (see
    // write_back.h); 0 when it is not watched.
    virtual uint64_t watchWriteBack(int fd) = 0;
    virtual void wroteForWriteBack(uint64_t ticket, int64_t bytes) = 0;
    virtual void unwatchWriteBack(uint64_t ticket) = 0;
};

// The real system calls.
OutputFileCalls& systemOutputFileCalls();

}  // namespace fetchora
