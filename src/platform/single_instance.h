#pragma once
// Whether this process is the first instance of the program: an exclusive,
// non-blocking file lock on "Korvex Class" in the service folder, held for
// the life of the object. A second instance finds it held and hands its work
// over through the service socket in the same folder.
//
// The service folder is $XDG_RUNTIME_DIR, else "<TMPDIR or /tmp>/fetchora-
// <uid>-run" (mode 0700, ours). It is not the temporary folder: that one is
// removed by every instance at its exit, and would take the running
// instance's socket with it.
//
// Thread: any; the object is used by one thread. Owns the lock's file
// descriptor; the lock goes when the object (or the process) does.
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/paths.h"

namespace fetchora {

inline constexpr std::string_view kSingleInstanceName = "Korvex Class";

// The folder for the lock and the socket, created when missing. An existing
// fallback folder is used only when it is a real folder owned by us.
FolderResult serviceFolder(const Environment& env = processEnvironment());

class SingleInstance {
public:
    enum class Result {
        First,  // the lock is ours
        AnotherRuns,  // another process holds it
        Failed,  // the lock file cannot be used; error says why
    };

    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Result acquire(const std::filesystem::path& folder, std::string& error);
    void release();
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

}  // namespace fetchora
