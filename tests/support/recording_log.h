#pragma once
// A connection log that keeps every line, for tests that check what a
// connection step logged.
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/connection_log.h"

namespace fetchora::test {

class RecordingLog final : public ConnectionLog {
public:
    void logLine(ConnectionLogKind kind, std::string_view text) override
    {
        std::lock_guard lock(m_mutex);
        m_lines.emplace_back(kind, std::string(text));
    }

    std::vector<std::pair<ConnectionLogKind, std::string>> lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

    std::vector<std::string> texts() const
    {
        std::vector<std::string> result;
        for (const auto& line : lines())
            result.push_back(line.second);
        return result;
    }

    bool has(ConnectionLogKind kind, std::string_view text) const
    {
        for (const auto& line : lines()) {
            if (line.first == kind && line.second == text)
                return true;
        }
        return false;
    }

    // Every line, one per row with its kind number, for failure messages.
    std::string dump() const
    {
        std::string text;
        for (const auto& line : lines())
            text += std::to_string(static_cast<int>(line.first)) + " " + line.second + "\n";
        return text;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<ConnectionLogKind, std::string>> m_lines;
};

}  // namespace fetchora::test
