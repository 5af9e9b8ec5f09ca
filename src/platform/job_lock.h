#pragma once
// The application-wide lock that guards jobs, categories, parts, ranges, URL
// entries, proxies and site rules. Loop-thread handlers hold it while they walk
// or change jobs; transfer threads take it only for short steps and never
// across a send, a message or a sleep. Owned by the application object.
#include <mutex>

namespace fetchora {

using JobLock = std::recursive_mutex;
using JobLockGuard = std::lock_guard<JobLock>;

}  // namespace fetchora
