#include "net/ftp_handover.h"

#include <algorithm>
#include <chrono>

namespace fetchora {

bool FtpHandover::want()
{
    std::lock_guard lock(m_mutex);
    if (m_state != State::Open)
        return m_state == State::Wanted || m_state == State::Delivered;
    m_state = State::Wanted;
    return true;
}

bool FtpHandover::wanted() const
{
    std::lock_guard lock(m_mutex);
    return m_state == State::Wanted;
}

void FtpHandover::deliver(std::unique_ptr<ByteStream> stream, uint32_t idleSince)
{
    std::unique_lock lock(m_mutex);
    if (m_state != State::Wanted || !stream) {
        if (m_state == State::Wanted)
            m_state = State::Declined;
        m_changed.notify_all();
        lock.unlock();
        if (stream)
            stream->close();
        return;
    }
    m_connection = {std::move(stream), idleSince};
    m_state = State::Delivered;
    m_changed.notify_all();
}

void FtpHandover::decline()
{
    std::lock_guard lock(m_mutex);
    if (m_state == State::Open || m_state == State::Wanted) {
        m_state = State::Declined;
        m_changed.notify_all();
    }
}

void FtpHandover::withdraw()
{
    std::unique_lock lock(m_mutex);
    if (m_state == State::Taken || m_state == State::Declined)
        return;
    m_state = State::Declined;
    std::unique_ptr<ByteStream> stream = std::move(m_connection.stream);
    m_connection = {};
    m_changed.notify_all();
    lock.unlock();
    if (stream)
        stream->close();
}

std::optional<FtpHandover::Taken> FtpHandover::take(int waitMs, const std::function<bool()>& keepWaiting)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_state == State::Delivered) {
            m_state = State::Taken;
            Taken taken = std::move(m_connection);
            m_connection = {};
            return taken;
        }
        if (m_state == State::Declined || m_state == State::Taken)
            return std::nullopt;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return std::nullopt;
        m_changed.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(100)));
        if (keepWaiting) {
            // The check may take other locks (the job lock); never hold ours
            // across it.
            lock.unlock();
            const bool goOn = keepWaiting();
            lock.lock();
            if (!goOn)
                return std::nullopt;
        }
    }
}

}  // namespace fetchora
