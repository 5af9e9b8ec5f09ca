#include "engine/sync_failures.h"

#include <cerrno>

namespace fetchora {

int SyncFailures::syncHere(OutputFileCalls& calls, int fd)
{
    // Held across the sync: see the header.
    std::lock_guard lock(m_mutex);
    const int result = calls.fdatasync(fd);
    if (result != 0) {
        const int error = errno;
        ++m_failed;
        ++m_handled;
        errno = error;
    }
    return result;
}

void SyncFailures::failedOnSaver(uint64_t count)
{
    std::lock_guard lock(m_mutex);
    m_failed += count;
}

void SyncFailures::takenBack(uint64_t count)
{
    std::lock_guard lock(m_mutex);
    m_handled += count;
}

uint64_t SyncFailures::handled() const
{
    std::lock_guard lock(m_mutex);
    return m_handled;
}

bool SyncFailures::imageMayBeWritten(uint64_t handledWhenTaken) const
{
    std::lock_guard lock(m_mutex);
    return m_failed <= handledWhenTaken;
}

uint64_t SyncFailures::failed() const
{
    std::lock_guard lock(m_mutex);
    return m_failed;
}

}  // namespace fetchora
