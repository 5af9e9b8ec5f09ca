#pragma once
// A stand-in for the disk and page cache of one machine, for tests that cut
// the power at a chosen call: every write not yet synced and every folder
// change not yet synced is kept in memory, and at a cut each such write is
// lost or reached the disk anyway, and the journal may have committed some
// of the folder changes, in order. A sync that fails loses what it was to
// write and is reported once to each open file, as the kernel does.
//
// The calls the code under test makes reach it through PowerCutDiskFiles
// (the output file's calls) and PowerCutDiskImages (the atomic file write's).
// Each call may be the one the power goes at: it then throws PowerCut, and
// every later call fails until reboot().
//
// Thread: one test thread.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "engine/output_file_calls.h"
#include "platform/atomic_file.h"

namespace fetchora::test {

// Thrown by the call the power goes at.
struct PowerCut { };

class PowerCutDisk {
public:
    explicit PowerCutDisk(uint32_t seed) : m_random(seed) { }

    // The power goes at the call with this number, counted from now (-1:
    // never).
    void cutAt(int call)
    {
        m_cutAt = call;
        m_calls = 0;
    }
    // Calls made since the last cutAt.
    int callsMade() const { return m_calls; }
    // One sync in `every` that has data to write fails (0: none does).
    void failSyncs(uint32_t every) { m_failEvery = every; }
    uint64_t syncsFailed() const { return m_syncsFailed; }

    // After a cut, what the disk holds becomes the whole state.
    void reboot();

    // What reading the file would give now (the page cache's view).
    std::optional<std::string> contents(const std::string& path) const;

    // Removes the ".bin" files below folder that `keep` does not name (only at
    // a boot, when nothing runs).
    void removeFilesExcept(const std::string& folder, const std::set<std::string>& keep);

    // ---- the calls; each may be the one the power goes at ---------------------
    int open(const std::string& path, int flags);
    int makeTemporary(std::string& pattern);
    // Appends when position is empty.
    ssize_t write(int fd, std::string_view bytes, std::optional<int64_t> position);
    int sync(int fd);
    int duplicate(int fd);
    int close(int fd);
    int64_t size(int fd);
    bool rename(const std::string& from, const std::string& to);
    void unlink(const std::string& path);
    void syncFolder();
    // A call that changes nothing on the disk still takes its time.
    bool step() { return live(); }

private:
    struct Write {
        int64_t position = 0;
        std::string bytes;
    };
    struct Inode {
        std::string synced;
        std::vector<Write> pending;
        uint32_t errors = 0;
    };
    struct Description {
        int inode = 0;
        uint32_t errorsSeen = 0;
    };
    struct NameChange {
        std::string name;
        int inode = -1;  // -1: the name goes
        std::string from;  // a rename also drops this name
    };

    bool live();
    static int fail(int error);
    int describe(int inode);
    Inode* inodeOf(int fd);
    static int64_t length(const Inode& inode);
    static void writeInto(std::string& data, const Write& write);
    void changeName(const NameChange& change);
    static void apply(std::map<std::string, int>& names, const NameChange& change);

    std::mt19937 m_random;
    std::map<int, Inode> m_inodes;
    std::map<std::string, int> m_names;
    std::map<std::string, int> m_durableNames;
    std::vector<NameChange> m_pendingNames;
    std::map<int, std::shared_ptr<Description>> m_descriptors;
    int m_nextInode = 1;
    int m_nextFd = 3;
    int m_calls = 0;
    int m_cutAt = -1;
    bool m_dead = false;
    uint32_t m_failEvery = 0;
    uint64_t m_syncsFailed = 0;
};

// The output file's calls on the stand-in disk. Reads, preallocation and
// truncation are refused, as on a file system without them.
class PowerCutDiskFiles : public OutputFileCalls {
public:
    explicit PowerCutDiskFiles(PowerCutDisk& disk) : m_disk(disk) { }
    int open(const std::filesystem::path& path, int flags, mode_t) override;
    int stat(int fd, OutputFileStat& out) override;
    ssize_t pwrite(int fd, std::span<const uint8_t> data, int64_t position) override;
    ssize_t pread(int, std::span<uint8_t>, int64_t) override;
    int fdatasync(int fd) override { return m_disk.sync(fd); }
    int duplicate(int fd) override { return m_disk.duplicate(fd); }
    int close(int fd) override { return m_disk.close(fd); }
    int fallocate(int, int64_t) override;
    int ftruncate(int, int64_t) override;
    void setTimes(int, std::time_t) override { m_disk.step(); }
    uint64_t watchWriteBack(int) override { return 0; }
    void wroteForWriteBack(uint64_t, int64_t) override { }
    void unwatchWriteBack(uint64_t) override { }

protected:
    PowerCutDisk& m_disk;
};

// The atomic file write's calls on the stand-in disk.
class PowerCutDiskImages : public AtomicWriteCalls {
public:
    explicit PowerCutDiskImages(PowerCutDisk& disk) : m_disk(disk) { }
    int makeTemporary(std::string& pattern) override { return m_disk.makeTemporary(pattern); }
    bool writeAll(int fd, std::string_view bytes) override
    {
        return m_disk.write(fd, bytes, std::nullopt) == static_cast<ssize_t>(bytes.size());
    }
    bool sync(int fd) override { return m_disk.sync(fd) == 0; }
    void keepMode(int, const std::filesystem::path&) override { m_disk.step(); }
    bool close(int fd) override { return m_disk.close(fd) == 0; }
    bool rename(const std::string& from, const std::string& to) override { return m_disk.rename(from, to); }
    void unlink(const std::string& path) override { m_disk.unlink(path); }
    void syncFolder(const std::filesystem::path&) override { m_disk.syncFolder(); }

private:
    PowerCutDisk& m_disk;
};

}  // namespace fetchora::test
