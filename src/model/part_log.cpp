#include "model/part_log.h"

#include "lang/string_table.h"
#include "platform/atomic_file.h"

namespace fetchora {

namespace {

bool hasNumberedPlaceholder(std::string_view pattern)
{
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == '%' && pattern[i + 1] >= '1' && pattern[i + 1] <= '9')
            return true;
    }
    return false;
}

std::string messageText(uint32_t messageId, std::initializer_list<std::string_view> args)
{
    const std::string_view pattern = builtinString(messageId);
    if (args.size() == 0)
        return std::string(pattern);
    return hasNumberedPlaceholder(pattern) ? formatMessage(pattern, args) : fillPrintfFields(pattern, args);
}

}  // namespace

PartLogSink::~PartLogSink() = default;

const LogEntry& PartLog::add(LogKind kind, std::string text, std::time_t when, PartLogSink* sink)
{
    if (m_entries.size() >= kMaxEntries)
        m_entries.pop_front();
    m_entries.push_back(LogEntry{kind, when, std::move(text)});
    const LogEntry& entry = m_entries.back();
    if (sink != nullptr) {
        try {
            sink->partLogged(*this, entry);
        } catch (...) {
            // The window's trouble drawing a line must not stop the transfer
            // that logged it.
        }
    }
    return entry;
}

const LogEntry& PartLog::addMessage(uint32_t messageId, LogKind kind, std::time_t when, PartLogSink* sink,
                                    std::initializer_list<std::string_view> args)
{
    return add(kind, messageText(messageId, args), when, sink);
}

const LogEntry& PartLog::addMessage(uint32_t messageId, std::time_t when, PartLogSink* sink,
                                    std::initializer_list<std::string_view> args)
{
    return addMessage(messageId, messageKind(messageId).value_or(LogKind::Status), when, sink, args);
}

bool logOnJob(PartLog* firstPartLog, LogKind kind, std::string text, std::time_t when, PartLogSink* sink)
{
    if (firstPartLog == nullptr)
        return false;
    firstPartLog->add(kind, std::move(text), when, sink);
    return true;
}

bool logMessageOnJob(PartLog* firstPartLog, uint32_t messageId, std::time_t when, PartLogSink* sink,
                     std::initializer_list<std::string_view> args)
{
    if (firstPartLog == nullptr)
        return false;
    firstPartLog->addMessage(messageId, when, sink, args);
    return true;
}

std::optional<LogKind> messageKind(uint32_t messageId)
{
    switch (messageId) {
    case 61212:
    case 61216:
    case 61218:
    case 61220:
    case 61241:
    case 61250:
    case 61252:
    case 61272:
    case 61277:
    case 61287:
    case 61288:
    case 61299:
    case 61346:
    case 61360:
    case 61425:
    case 61426: return LogKind::Error;
    case 61214:
    case 61219:
    case 61244:
    case 61276:
    case 61293:
    case 61294:
    case 61298:
    case 61313: return LogKind::Status;
    case 61362: return LogKind::Sent;
    default: return std::nullopt;
    }
}

std::string formatLogTime(std::time_t when)
{
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr)
        return {};
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

std::string savedLogText(const PartLog& log)
{
    std::string text;
    for (const LogEntry& entry : log.entries()) {
        text += formatLogTime(entry.time);
        text += ' ';
        text += entry.text;
        text += "\r\n";
    }
    return text;
}

bool saveLogFile(const PartLog& log, const std::filesystem::path& file)
{
    return writeFileAtomically(file, savedLogText(log));
}

}  // namespace fetchora
