#include "engine/write_back.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace fetchora {

namespace {

constexpr auto kKickEvery = std::chrono::milliseconds(200);

class WriteBack {
public:
    ~WriteBack()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        for (const auto& [ticket, fd] : m_files)
            ::close(fd);
        for (const int fd : m_closing)
            ::close(fd);
    }

    uint64_t watch(int fd)
    {
        const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            return 0;
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        const uint64_t ticket = ++m_lastTicket;
        m_files.emplace(ticket, copy);
        return ticket;
    }

    void unwatch(uint64_t ticket)
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_files.find(ticket);
        if (found == m_files.end())
            return;
        // Closed by the thread, which may be kicking it right now.
        m_closing.push_back(found->second);
        m_files.erase(found);
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            m_wake.wait_for(lock, kKickEvery, [this] { return m_stopping; });
            std::vector<int> kick;
            for (const auto& [ticket, fd] : m_files)
                kick.push_back(fd);
            std::vector<int> closing;
            closing.swap(m_closing);
            lock.unlock();
            for (const int fd : closing)
                ::close(fd);
            for (const int fd : kick)
                ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<uint64_t, int> m_files;
    std::vector<int> m_closing;
    uint64_t m_lastTicket = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

WriteBack& writeBack()
{
    static WriteBack instance;
    return instance;
}

}  // namespace

uint64_t watchFileForWriteBack(int fd)
{
    return writeBack().watch(fd);
}

void unwatchFileForWriteBack(uint64_t ticket)
{
    if (ticket != 0)
        writeBack().unwatch(ticket);
}

}  // namespace fetchora
