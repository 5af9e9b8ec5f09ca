#include "engine/closed_file_syncs.h"

#include <cerrno>
#include <unistd.h>

namespace fetchora {

ClosedFileSyncs::~ClosedFileSyncs()
{
    syncAll();
}

void ClosedFileSyncs::add(int32_t jobId, int fd)
{
    std::lock_guard lock(m_mutex);
    m_files.push_back({jobId, fd});
}

std::vector<PendingSync> ClosedFileSyncs::take()
{
    std::lock_guard lock(m_mutex);
    std::vector<PendingSync> files;
    files.swap(m_files);
    return files;
}

std::vector<std::pair<int32_t, int>> ClosedFileSyncs::syncAll()
{
    std::vector<std::pair<int32_t, int>> failed;
    for (const PendingSync& file : take()) {
        OutputFileCalls& calls = systemOutputFileCalls();
        if ((m_syncFailures ? m_syncFailures->syncHere(calls, file.fd) : calls.fdatasync(file.fd)) != 0)
            failed.emplace_back(file.jobId, errno);
        ::close(file.fd);
    }
    return failed;
}

}  // namespace fetchora
