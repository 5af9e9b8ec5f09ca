#include "engine/write_back.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace fetchora {

WriteBackThread::WriteBackThread(WriteBackCalls& calls, WriteBackPacing pacing) : m_calls(calls), m_pacing(pacing) { }

WriteBackThread::~WriteBackThread()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    for (const auto& [ticket, file] : m_files)
        m_calls.close(file.fd);
    for (const int fd : m_closing)
        m_calls.close(fd);
}

uint64_t WriteBackThread::watch(int fd)
{
    WatchedFile file;
    file.fd = m_calls.reopen(fd);
    file.ownDescription = file.fd >= 0;
    if (!file.ownDescription)
        file.fd = m_calls.duplicate(fd);
    if (file.fd < 0)
        return 0;
    std::lock_guard lock(m_mutex);
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    const uint64_t ticket = ++m_lastTicket;
    m_files.emplace(ticket, file);
    return ticket;
}

void WriteBackThread::noteWritten(uint64_t ticket, int64_t bytes)
{
    if (bytes <= 0)
        return;
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_files.find(ticket);
        if (found == m_files.end())
            return;
        WatchedFile& file = found->second;
        const bool due = syncDue(file);
        file.unsynced += bytes;
        wake = !due && syncDue(file);
    }
    if (wake)
        m_wake.notify_all();
}

void WriteBackThread::unwatch(uint64_t ticket)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_files.find(ticket);
    if (found == m_files.end())
        return;
    // Closed by the thread, which may be syncing it right now.
    m_closing.push_back(found->second.fd);
    m_files.erase(found);
}

bool WriteBackThread::syncDue(const WatchedFile& file) const
{
    return file.ownDescription && file.unsynced >= m_pacing.syncAfterBytes;
}

bool WriteBackThread::anySyncDue() const
{
    for (const auto& [ticket, file] : m_files) {
        if (syncDue(file))
            return true;
    }
    return false;
}

void WriteBackThread::run()
{
    std::unique_lock lock(m_mutex);
    auto nextKick = std::chrono::steady_clock::now() + m_pacing.kickEvery;
    while (!m_stopping) {
        if (m_files.empty() && m_closing.empty())
            m_wake.wait(lock, [this] { return m_stopping || !m_files.empty(); });
        else
            m_wake.wait_until(lock, nextKick, [this] { return m_stopping || anySyncDue(); });
        if (m_stopping)
            break;
        const auto now = std::chrono::steady_clock::now();
        const bool kickAll = now >= nextKick;
        if (kickAll)
            nextKick = now + m_pacing.kickEvery;
        std::vector<int> syncs;
        std::vector<int> kicks;
        for (auto& [ticket, file] : m_files) {
            if (syncDue(file))
                syncs.push_back(file.fd);
            else if (kickAll && file.unsynced > 0)
                kicks.push_back(file.fd);
            else
                continue;
            file.unsynced = 0;
        }
        std::vector<int> closing;
        closing.swap(m_closing);
        lock.unlock();
        for (const int fd : closing)
            m_calls.close(fd);
        // What a sync here reports, the owner's own sync reports again.
        for (const int fd : syncs)
            m_calls.sync(fd);
        for (const int fd : kicks)
            m_calls.startWriting(fd);
        lock.lock();
    }
}

namespace {

class SystemWriteBackCalls : public WriteBackCalls {
public:
    int reopen(int fd) override
    {
        // Read-only is enough for a sync.
        return ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    }
    int duplicate(int fd) override { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }
    void sync(int fd) override { ::fdatasync(fd); }
    void startWriting(int fd) override { ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); }
    void close(int fd) override { ::close(fd); }
};

WriteBackThread& writeBack()
{
    static WriteBackThread instance(systemWriteBackCalls());
    return instance;
}

}  // namespace

WriteBackCalls& systemWriteBackCalls()
{
    static SystemWriteBackCalls calls;
    return calls;
}

uint64_t watchFileForWriteBack(int fd)
{
    return writeBack().watch(fd);
}

void noteWrittenForWriteBack(uint64_t ticket, int64_t bytes)
{
    if (ticket != 0)
        writeBack().noteWritten(ticket, bytes);
}

void unwatchFileForWriteBack(uint64_t ticket)
{
    if (ticket != 0)
        writeBack().unwatch(ticket);
}

}  // namespace fetchora
