#include "net/ftp_list.h"

#include <array>
#include <vector>

#include "net/ftp_reply.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

struct Token {
    std::string_view text;
    std::size_t end = 0;  // offset just past the token in the line
};

std::vector<Token> tokens(std::string_view line, std::size_t maxTokens)
{
    std::vector<Token> out;
    std::size_t at = 0;
    while (at < line.size() && out.size() < maxTokens) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
            ++at;
        const std::size_t start = at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t')
            ++at;
        if (at > start)
            out.push_back({line.substr(start, at - start), at});
    }
    return out;
}

bool allDigits(std::string_view text)
{
    if (text.empty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// The rest of the line after a token and the blanks that follow it.
std::string_view restAfter(std::string_view line, const Token& token)
{
    std::size_t at = token.end;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
        ++at;
    std::string_view rest = line.substr(at);
    while (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n'))
        rest.remove_suffix(1);
    return rest;
}

bool safeName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (const char c : name) {
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

// "04-27-00" or "04-27-2000".
bool isDosDate(std::string_view text)
{
    if (text.size() != 8 && text.size() != 10)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 2 || i == 5;
        if (dash ? text[i] != '-' : (text[i] < '0' || text[i] > '9'))
            return false;
    }
    return true;
}

// "09:09PM", "9:09AM" or "21:09".
bool isDosTime(std::string_view text)
{
    if (text.size() >= 2 && (text.ends_with("AM") || text.ends_with("PM") || text.ends_with("am")
                             || text.ends_with("pm")))
        text.remove_suffix(2);
    const std::size_t colon = text.find(':');
    return colon != std::string_view::npos && colon > 0 && colon <= 2 && allDigits(text.substr(0, colon))
        && text.size() - colon - 1 == 2 && allDigits(text.substr(colon + 1));
}

bool isMonth(std::string_view text)
{
    static constexpr std::array<std::string_view, 12> kMonths
        = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    if (text.size() != 3)
        return false;
    const std::string lowered = asciiLower(text);
    for (const std::string_view month : kMonths) {
        if (lowered == month)
            return true;
    }
    return false;
}

// A year ("2021") or a time of day ("12:00").
bool isYearOrTime(std::string_view text)
{
    if (text.size() == 4 && allDigits(text))
        return true;
    const std::size_t colon = text.find(':');
    return colon != std::string_view::npos && colon > 0 && colon <= 2 && allDigits(text.substr(0, colon))
        && text.size() - colon - 1 == 2 && allDigits(text.substr(colon + 1));
}

std::optional<FtpListEntry> parseDos(std::string_view line)
{
    const std::vector<Token> parts = tokens(line, 3);
    if (parts.size() < 3 || !isDosDate(parts[0].text) || !isDosTime(parts[1].text))
        return std::nullopt;
    FtpListEntry entry;
    entry.date = std::string(parts[0].text) + " " + std::string(parts[1].text);
    if (parts[2].text == "<DIR>") {
        entry.isDirectory = true;
    } else {
        const std::optional<int64_t> size = ParseFtpNumber(parts[2].text);
        if (!size)
            return std::nullopt;
        entry.size = *size;
    }
    entry.name = std::string(restAfter(line, parts[2]));
    if (!safeName(entry.name))
        return std::nullopt;
    return entry;
}

std::optional<FtpListEntry> parseUnix(std::string_view line)
{
    // Permissions, links, owner, group, size, month, day, year or time: the
    // owner or group column may be missing, so the date is looked for.
    const std::vector<Token> parts = tokens(line, 9);
    if (parts.size() < 6)
        return std::nullopt;
    const char kind = parts[0].text.front();
    if (kind != '-' && kind != 'd' && kind != 'l')
        return std::nullopt;
    for (std::size_t month = 2; month + 2 < parts.size(); ++month) {
        const Token& day = parts[month + 1];
        const Token& yearOrTime = parts[month + 2];
        if (!isMonth(parts[month].text) || !allDigits(day.text) || day.text.size() > 2
            || !isYearOrTime(yearOrTime.text))
            continue;
        const std::optional<int64_t> size = ParseFtpNumber(parts[month - 1].text);
        if (!size)
            return std::nullopt;
        FtpListEntry entry;
        entry.isDirectory = kind == 'd';
        entry.isLink = kind == 'l';
        entry.size = entry.isDirectory ? 0 : *size;
        entry.date = std::string(parts[month].text) + " " + std::string(day.text) + " " + std::string(yearOrTime.text);
        std::string_view name = restAfter(line, yearOrTime);
        if (entry.isLink) {
            const std::size_t arrow = name.find(" -> ");
            if (arrow != std::string_view::npos)
                name = name.substr(0, arrow);
        }
        entry.name = std::string(name);
        if (!safeName(entry.name))
            return std::nullopt;
        return entry;
    }
    return std::nullopt;
}

}  // namespace

std::optional<FtpListEntry> ParseListLine(std::string_view line)
{
    // A DOS listing begins with its date; a Unix one with its permissions.
    if (std::optional<FtpListEntry> dos = parseDos(line))
        return dos;
    return parseUnix(line);
}

bool ParseListLine(std::string_view line, std::deque<FtpListEntry>& entries)
{
    std::optional<FtpListEntry> entry = ParseListLine(line);
    if (!entry)
        return false;
    entries.push_front(std::move(*entry));
    return true;
}

}  // namespace fetchora
