#include "engine/thread_handle_block.h"

#include "platform/tick.h"

namespace fetchora {

bool ThreadHandleBlock::addThread(std::thread::id id)
{
    if (m_threadCount >= kMaxThreads)
        return false;
    m_threads[m_threadCount++] = id;
    return true;
}

void RetiredHandleBlocks::retire(HandleBlockPtr block)
{
    if (!block)
        return;
    block->kill();
    std::lock_guard lock(m_mutex);
    const uint32_t now = m_clock.tick();
    pruneLocked(now);
    m_entries.push_back({now, std::move(block)});
}

size_t RetiredHandleBlocks::prune()
{
    std::lock_guard lock(m_mutex);
    return pruneLocked(m_clock.tick());
}

size_t RetiredHandleBlocks::pruneLocked(uint32_t now)
{
    size_t pruned = 0;
    // Entries are in retirement order, so the old ones are at the front.
    while (!m_entries.empty() && ticksSince(m_entries.front().tick, now) > kRetiredBlockLifetimeMs) {
        m_entries.pop_front();
        ++pruned;
    }
    return pruned;
}

size_t RetiredHandleBlocks::size() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

}  // namespace fetchora
