#pragma once
// A PartChannel that stands for a job window with one part, for driving a
// transfer worker without threads of a runner: blocks are written into a
// buffer at their offsets, a block that does not continue the part is
// refused as the job window refuses it, and a part whose data reaches the
// known size ends (alive false, Stop).
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "net/connection_log.h"
#include "net/transfer_channel.h"

namespace fetchora::test {

class FakePartChannel final : public PartChannel {
public:
    explicit FakePartChannel(int64_t start = 0, int64_t knownSize = -1) : m_position(start), m_size(knownSize) { }

    // ---- what the job window answers ------------------------------------------
    int responseAnswer = 1;
    // How many error messages are answered with "retry".
    int retriesAllowed = 0;
    // The part's range ends here (exclusive): data reaching it ends the part.
    int64_t rangeEnd = -1;
    // The part has nothing left to fetch (another part has it, or it
    // stopped), from the start or from its first error on.
    std::atomic<bool> nothingLeft{false};
    bool nothingLeftAfterError = false;

    bool alive() const override { return m_alive; }
    void stop() { m_alive = false; }

    int response(const ResponseInfo& info, ProtocolKind) override
    {
        std::lock_guard lock(m_mutex);
        m_responses.push_back(info);
        if (info.outcome == ResponseOutcome::Success && m_size < 0 && info.size >= 0)
            m_size = info.size;
        return responseAnswer;
    }

    WriteResult data(int64_t position, std::span<const uint8_t> block) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_alive)
            return WriteResult::Stop;
        if (position != m_position) {
            ++m_refused;
            return WriteResult::Reconnect;
        }
        const auto end = static_cast<std::size_t>(position) + block.size();
        if (m_file.size() < end)
            m_file.resize(end);
        std::copy(block.begin(), block.end(), m_file.begin() + position);
        m_position += static_cast<int64_t>(block.size());
        ++m_blocks;
        const int64_t limit = rangeEnd >= 0 ? rangeEnd : m_size;
        if (limit >= 0 && m_position >= limit) {
            m_alive = false;
            return WriteResult::Stop;
        }
        return WriteResult::Continue;
    }

    bool error(const PartFailure& failure) override
    {
        std::lock_guard lock(m_mutex);
        if (nothingLeftAfterError)
            nothingLeft = true;
        ++m_errors;
        m_failures.push_back(failure);
        return m_errors <= retriesAllowed;
    }

    void done() override { ++m_done; }
    void markResumable(bool canResume) override { m_resumeMark = canResume ? 1 : 2; }
    void markLoginFailed() override { m_loginFailed = true; }
    void markLoginByUserAlone() override { m_loginByUserAlone = true; }
    bool loginByUserAlone() const { return m_loginByUserAlone; }
    bool learnSiteLimit(int32_t limit) override
    {
        ++m_siteLimitCalls;
        m_siteLimit = limit;
        return true;
    }
    void resolved(const std::string&, bool) override { }

    int64_t rangeStart() const override
    {
        std::lock_guard lock(m_mutex);
        return nothingLeft ? kNoRangeLeft : m_position;
    }
    int64_t knownSize() const override
    {
        std::lock_guard lock(m_mutex);
        return m_size;
    }

    void logLine(ConnectionLogKind kind, std::string_view text) override
    {
        std::lock_guard lock(m_mutex);
        m_lines.emplace_back(kind, std::string(text));
    }

    // ---- what the test reads --------------------------------------------------
    std::string file() const
    {
        std::lock_guard lock(m_mutex);
        return {m_file.begin(), m_file.end()};
    }
    std::vector<ResponseInfo> responses() const
    {
        std::lock_guard lock(m_mutex);
        return m_responses;
    }
    int errors() const { return m_errors; }
    // What each error report said, in order.
    std::vector<PartFailure> failures() const
    {
        std::lock_guard lock(m_mutex);
        return m_failures;
    }
    int doneCount() const { return m_done; }
    int refused() const { return m_refused; }
    int blocks() const { return m_blocks; }
    int64_t position() const
    {
        std::lock_guard lock(m_mutex);
        return m_position;
    }
    // 0 never marked, 1 can resume, 2 cannot.
    int resumeMark() const { return m_resumeMark; }
    bool loginFailed() const { return m_loginFailed; }
    int32_t siteLimit() const { return m_siteLimit; }
    int siteLimitCalls() const { return m_siteLimitCalls; }

    bool logged(ConnectionLogKind kind, std::string_view text) const
    {
        std::lock_guard lock(m_mutex);
        for (const auto& line : m_lines) {
            if (line.first == kind && line.second == text)
                return true;
        }
        return false;
    }
    bool loggedContaining(std::string_view part) const
    {
        std::lock_guard lock(m_mutex);
        for (const auto& line : m_lines) {
            if (line.second.find(part) != std::string::npos)
                return true;
        }
        return false;
    }
    std::string dump() const
    {
        std::lock_guard lock(m_mutex);
        std::string text;
        for (const auto& line : m_lines)
            text += std::to_string(static_cast<int>(line.first)) + " " + line.second + "\n";
        return text;
    }

private:
    mutable std::mutex m_mutex;
    std::atomic<bool> m_alive{true};
    int64_t m_position;
    int64_t m_size;
    std::vector<uint8_t> m_file;
    std::vector<ResponseInfo> m_responses;
    std::vector<PartFailure> m_failures;
    std::vector<std::pair<ConnectionLogKind, std::string>> m_lines;
    std::atomic<int> m_errors{0};
    std::atomic<int> m_done{0};
    std::atomic<int> m_refused{0};
    std::atomic<int> m_blocks{0};
    std::atomic<int> m_resumeMark{0};
    std::atomic<bool> m_loginFailed{false};
    std::atomic<bool> m_loginByUserAlone{false};
    std::atomic<int32_t> m_siteLimit{0};
    std::atomic<int> m_siteLimitCalls{0};
};

}  // namespace fetchora::test
