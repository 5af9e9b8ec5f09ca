#include "net/http_date.h"

#include <array>
#include <limits>
#include <string>
#include <vector>

#include "platform/text_utils.h"

namespace fetchora {

namespace {

constexpr std::array<std::string_view, 12> kMonths{"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::vector<std::string_view> tokens(std::string_view text)
{
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (c == ' ' || c == '\t' || c == ',' || c == '-') {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != ',' && text[end] != '-')
            ++end;
        out.push_back(text.substr(at, end - at));
        at = end;
    }
    return out;
}

std::optional<int> month(std::string_view token)
{
    if (token.size() < 3)
        return std::nullopt;
    for (char c : token) {
        if (!isLetter(c))
            return std::nullopt;
    }
    const std::string prefix{asciiLowerChar(token[0]), asciiLowerChar(token[1]), asciiLowerChar(token[2])};
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (kMonths[i] == prefix)
            return static_cast<int>(i) + 1;
    }
    return std::nullopt;
}

std::optional<int> number(std::string_view token)
{
    if (token.empty() || token.size() > 4)
        return std::nullopt;
    int value = 0;
    for (char c : token) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "hh:mm" or "hh:mm:ss" as seconds of the day.
std::optional<int> timeOfDay(std::string_view token)
{
    int fields[3] = {0, 0, 0};
    int count = 0;
    for (;;) {
        const std::size_t colon = token.find(':');
        const std::string_view part = token.substr(0, colon);
        if (count == 3 || part.empty() || part.size() > 2)
            return std::nullopt;
        const std::optional<int> value = number(part);
        if (!value)
            return std::nullopt;
        fields[count++] = *value;
        if (colon == std::string_view::npos)
            break;
        token.remove_prefix(colon + 1);
    }
    if (count < 2 || fields[0] > 23 || fields[1] > 59 || fields[2] > 60)
        return std::nullopt;
    return fields[0] * 3600 + fields[1] * 60 + fields[2];
}

bool isLeap(int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned daysInMonth(int64_t year, int month)
{
    static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

}  // namespace

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

std::optional<int32_t> HttpDateSeconds(std::string_view text)
{
    std::optional<int> monthValue;
    std::optional<int> seconds;
    std::vector<std::string_view> numbers;
    for (std::string_view token : tokens(text)) {
        if (token.find(':') != std::string_view::npos) {
            if (seconds)
                return std::nullopt;
            seconds = timeOfDay(token);
            if (!seconds)
                return std::nullopt;
        } else if (isDigit(token.front())) {
            if (!number(token))
                return std::nullopt;
            numbers.push_back(token);
        } else if (const std::optional<int> found = month(token)) {
            if (monthValue)
                return std::nullopt;
            monthValue = found;
        }
        // Other words (the weekday, "GMT") carry nothing.
    }
    if (!monthValue || !seconds || numbers.size() != 2)
        return std::nullopt;
    // A four-digit number is the year; otherwise the day comes first.
    std::size_t yearIndex = 1;
    if (numbers[0].size() == 4 && numbers[1].size() <= 2)
        yearIndex = 0;
    else if (numbers[0].size() > 2)
        return std::nullopt;
    const std::string_view yearText = numbers[yearIndex];
    const std::string_view dayText = numbers[1 - yearIndex];
    if (dayText.size() > 2 || (yearText.size() != 4 && yearText.size() != 2))
        return std::nullopt;
    int64_t year = *number(yearText);
    if (yearText.size() == 2)
        year += year >= 70 ? 1900 : 2000;
    const int day = *number(dayText);
    if (day < 1 || static_cast<unsigned>(day) > daysInMonth(year, *monthValue))
        return std::nullopt;
    const int64_t time
        = DaysFromCivil(year, static_cast<unsigned>(*monthValue), static_cast<unsigned>(day)) * 86400 + *seconds;
    if (time < 0 || time > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(time);
}

}  // namespace fetchora
