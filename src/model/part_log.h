#pragma once
// The short log each part of a running job keeps about its connection, and
// the way lines reach the list window.
//
// A part's log holds the newest 200 lines; older ones fall out, so a long
// retry loop cannot grow memory. Lines that concern the whole job go into the
// log of the job's first part and are dropped when the job has no part.
//
// Thread: loop thread only (workers' reports reach a part through its job
// window). The log is owned by its part; the sink is borrowed.
#include <cstdint>
#include <ctime>
#include <deque>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace fetchora {

// The message that tells the list window about a new line (wParam the part,
// lParam the line).
inline constexpr uint32_t kPartLogMessage = 1225;  // WM_USER+201

enum class LogKind : uint32_t { Status = 0, Sent = 1, Error = 2, Received = 3 };

struct LogEntry {
    LogKind kind = LogKind::Status;
    std::time_t time = 0;
    std::string text;
};

class PartLog;

// The list window's side: told about every line added. Implementations are
// the job's notify window (message 1225) or, headless, the verbose printer.
class PartLogSink {
public:
    virtual ~PartLogSink();
    virtual void partLogged(const PartLog& log, const LogEntry& entry) = 0;
};

class PartLog {
public:
    static constexpr std::size_t kMaxEntries = 200;

    // index: the owning part's index in its job, for sinks that name it.
    explicit PartLog(uint32_t partIndex = 0) : m_partIndex(partIndex) { }

    // Adds a ready text and tells the sink, when there is one. A failure
    // inside the sink is the window's business and never reaches the caller.
    const LogEntry& add(LogKind kind, std::string text, std::time_t when, PartLogSink* sink = nullptr);

    // Adds the string-table text of a message id filled from args: its
    // "%1".."%9" placeholders, or for a message without them its printf-style
    // fields ("Wait %d second for retry"), in one pass.
    const LogEntry& addMessage(uint32_t messageId, LogKind kind, std::time_t when, PartLogSink* sink = nullptr,
                               std::initializer_list<std::string_view> args = {});
    // The same with the kind the message is always logged with.
    const LogEntry& addMessage(uint32_t messageId, std::time_t when, PartLogSink* sink = nullptr,
                               std::initializer_list<std::string_view> args = {});

    const std::deque<LogEntry>& entries() const { return m_entries; }
    uint32_t partIndex() const { return m_partIndex; }
    void clear() { m_entries.clear(); }

private:
    std::deque<LogEntry> m_entries;
    uint32_t m_partIndex;
};

// Job-level lines: added to the first part's log; false (line dropped) when
// the job has no part.
bool logOnJob(PartLog* firstPartLog, LogKind kind, std::string text, std::time_t when, PartLogSink* sink);
bool logMessageOnJob(PartLog* firstPartLog, uint32_t messageId, std::time_t when, PartLogSink* sink,
                     std::initializer_list<std::string_view> args = {});

// The kind a message id is always logged with; nothing for ids whose kind the
// caller chooses.
std::optional<LogKind> messageKind(uint32_t messageId);

// The save dialog of a part's log.
inline constexpr std::string_view kSaveLogTitle = "Save to log file";
inline constexpr std::string_view kSaveLogFilter = "Log File (*.log)|*.log|All Files (*.*)|*.*||";
inline constexpr std::string_view kSaveLogExtension = "log";

// The date column of the log list: the entry's local time as
// "%Y-%m-%d %H:%M:%S".
std::string formatLogTime(std::time_t when);

// The text a saved log file holds: per line the date column, one space, the text and CR LF, oldest first.
std::string savedLogText(const PartLog& log);

// Writes savedLogText to the file the user chose (the save dialog has asked
// about replacing an existing one). The file is replaced whole, never left
// half-written. False when it cannot be written.
bool saveLogFile(const PartLog& log, const std::filesystem::path& file);

}  // namespace fetchora
