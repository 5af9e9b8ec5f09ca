#pragma once
// The desktop program taking the profile over from a headless daemon: the
// daemon is asked to stop its jobs, save and end; the caller then waits for
// the single-instance lock the daemon held and takes it. Once the window
// opens the saved database, the queue starts the jobs that were running.
//
// Thread: the caller's. The wait polls; keepWaiting (may be empty) runs at
// every poll, so a window can show progress and offer to give up.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

class SingleInstance;

// Served by the daemon only: it answers "1" and the ids of the jobs it was
// downloading ("1 12 15"), then stops as on SIGTERM.
inline constexpr std::string_view kTopicTakeOver = "TakeOver";

enum class TakeOverResult {
    TookOver,  // the daemon ended and the lock is ours
    Refused,  // the instance there does not hand over (it is not a daemon)
    GaveUp,  // keepWaiting said stop, or the time ran out
    Failed,  // no answer, or the lock cannot be used; error says why
};

// The daemon's answer: "1" and the ids of the jobs that were running.
std::string TakeOverReply(const std::vector<int32_t>& runningJobs);
// The ids of such an answer; anything that is no id is skipped.
std::vector<int32_t> ReadTakeOverReply(std::string_view reply);

// folder: the service folder holding the lock and the socket. runningJobs
// receives the ids of the jobs the daemon was downloading, for the window to
// start again (they load as stopped jobs).
TakeOverResult TakeOverFromDaemon(const std::filesystem::path& folder, const std::filesystem::path& socket,
                                  SingleInstance& instance, std::chrono::milliseconds timeout,
                                  const std::function<bool()>& keepWaiting, std::vector<int32_t>& runningJobs,
                                  std::string& error);

}  // namespace fetchora
