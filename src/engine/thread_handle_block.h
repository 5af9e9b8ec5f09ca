#pragma once
// What a part shares with its current thread(s): the alive flag, the socket
// and the last socket event reported for it, and the ids of the threads.
//
// A part makes a new block at every (re)start. When it stops or restarts it
// clears the flag and retires the block to the application's list instead of
// freeing it, so that a late message of an abandoned thread finds it dead and
// is ignored. The block is shared (the thread's channel holds a reference as
// well), so pruning the list never frees a block a thread can still read.
//
// Thread: the alive flag may be read on any thread without a lock; the socket
// fields are read and written under the job lock. The retirement list is
// owned by the application and used on the loop thread; it guards itself.
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace fetchora {

class Clock;

class ThreadHandleBlock {
public:
    static constexpr size_t kMaxThreads = 10;

    bool alive() const { return m_alive.load(std::memory_order_acquire); }
    void kill() { m_alive.store(false, std::memory_order_release); }

    // Remembers a thread started for the block; false when all ten slots are taken.
    bool addThread(std::thread::id id);
    size_t threadCount() const { return m_threadCount; }
    std::thread::id thread(size_t index) const { return m_threads.at(index); }

    // The last socket event (low 16 bits the event, high 16 bits the error)
    // and the socket it was for; both cleared before each connect.
    int socket = -1;
    uint32_t lastEvent = 0;

private:
    std::atomic<bool> m_alive{true};
    std::array<std::thread::id, kMaxThreads> m_threads{};
    size_t m_threadCount = 0;
};

using HandleBlockPtr = std::shared_ptr<ThreadHandleBlock>;

// Retired blocks are kept this long before they are let go.
inline constexpr uint32_t kRetiredBlockLifetimeMs = 300000;

class RetiredHandleBlocks {
public:
    explicit RetiredHandleBlocks(const Clock& clock) : m_clock(clock) { }
    RetiredHandleBlocks(const RetiredHandleBlocks&) = delete;
    RetiredHandleBlocks& operator=(const RetiredHandleBlocks&) = delete;

    // Clears the block's alive flag and keeps it; prunes old entries first.
    void retire(HandleBlockPtr block);
    // Lets go of entries retired more than kRetiredBlockLifetimeMs ago;
    // returns how many.
    size_t prune();
    size_t size() const;

private:
    struct Entry {
        uint32_t tick;
        HandleBlockPtr block;
    };
    size_t pruneLocked(uint32_t now);

    const Clock& m_clock;
    mutable std::mutex m_mutex;
    std::deque<Entry> m_entries;
};

}  // namespace fetchora
