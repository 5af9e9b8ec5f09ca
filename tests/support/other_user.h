#pragma once
// Runs part of a test as another, unprivileged user: a forked child that
// drops to uid and gid 65534 ("nobody") before it runs the given code. Only
// root can switch users, so tests check otherUserUnavailable() first and
// skip with its reason.
//
// The child is forked from a process with threads: it should use little more
// than system calls and return an exit code; it never touches gtest.
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>

namespace fetchora::test {

inline constexpr uid_t kOtherUid = 65534;
inline constexpr gid_t kOtherGid = 65534;

// Why code cannot run as another user here, or empty when it can.
std::string otherUserUnavailable();

// Runs body as the other user and returns its exit code; -1 when it died of a
// signal or had to be killed at the timeout; 120 when the switch failed.
int runAsOtherUser(const std::function<int()>& body,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));

// A folder everyone may write but only the owner of an entry may remove, as
// /tmp is, made under parent (whose mode is opened to 0711 so the other user
// can reach it).
std::filesystem::path makeSharedFolder(const std::filesystem::path& parent, const std::string& name);

}  // namespace fetchora::test
