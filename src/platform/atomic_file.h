#pragma once
// Crash-safe file replacement and an advisory inter-process lock.
//
// writeFileAtomically writes the bytes to a temporary file beside the target,
// syncs it, renames it over the target and syncs the folder, so that a crash
// or kill at any moment leaves either the old file or the new one whole.
#include <filesystem>
#include <string>
#include <string_view>

namespace fetchora {

bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// The system calls writeFileAtomically makes, so that a test can stand in a
// file system that loses what was not synced when the power goes.
class AtomicWriteCalls {
public:
    virtual ~AtomicWriteCalls() = default;
    // mkstemp(3): fills in the pattern's XXXXXX; -1 on failure.
    virtual int makeTemporary(std::string& pattern) = 0;
    virtual bool writeAll(int fd, std::string_view bytes) = 0;
    virtual bool sync(int fd) = 0;
    // Gives the file the permissions of `target` when it exists, else 0600.
    virtual void keepMode(int fd, const std::filesystem::path& target) = 0;
    virtual bool close(int fd) = 0;
    virtual bool rename(const std::string& from, const std::string& to) = 0;
    virtual void unlink(const std::string& path) = 0;
    virtual void syncFolder(const std::filesystem::path& folder) = 0;
};

// The real system calls.
AtomicWriteCalls& systemAtomicWriteCalls();
bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes, AtomicWriteCalls& calls);

// link(2), or a stand-in for it in tests.
using LinkCall = int (*)(const char* from, const char* to);

// Makes `target` a second name of the file `source` names, replacing what
// `target` named, without copying a byte: the name is made beside `target`
// (as a temporary that removeStaleTemporaries(tempOwner) clears) and renamed
// over it, so a crash leaves `target` either as it was or naming `source`'s
// file. The caller syncs the folder. False, with nothing changed, when the
// file system refuses hard links.
bool replaceWithHardLink(const std::filesystem::path& source, const std::filesystem::path& target,
                         const std::filesystem::path& tempOwner, LinkCall link = nullptr);

// Removes temporary files that writeFileAtomically left beside `target` when
// its process died mid-write. Call it only while holding the target's lock.
void removeStaleTemporaries(const std::filesystem::path& target);

// The lock file that guards `file` against other processes.
std::filesystem::path lockPathFor(const std::filesystem::path& file);

// Holds an exclusive flock() on a lock file for its lifetime. Blocks until the
// lock is granted; `locked()` is false when the lock file cannot be opened.
class FileLock {
public:
    explicit FileLock(const std::filesystem::path& lockFile);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool locked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

}  // namespace fetchora
