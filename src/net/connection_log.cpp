#include "net/connection_log.h"

#include "lang/string_table.h"

namespace fetchora {

ConnectionLog::~ConnectionLog() = default;

std::string ConnectionLog::messageText(uint32_t messageId) const
{
    return std::string(builtinString(messageId));
}

void ConnectionLog::logMessage(ConnectionLogKind kind, uint32_t messageId, std::initializer_list<std::string_view> args)
{
    const std::string pattern = messageText(messageId);
    if (pattern.find("%1") != std::string::npos)
        logLine(kind, formatMessage(pattern, args));
    else
        logLine(kind, fillPrintfFields(pattern, args));
}

std::string hostAndPort(std::string_view host, uint16_t port)
{
    std::string text;
    if (host.find(':') != std::string_view::npos)
        text.append("[").append(host).append("]");
    else
        text.append(host);
    return text + ":" + std::to_string(port);
}

}  // namespace fetchora
