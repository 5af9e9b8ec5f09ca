#include "config/list_registry.h"

#include "config/settings_key.h"
#include "platform/registry.h"

#include <algorithm>
#include <optional>

namespace fetchora {

namespace {

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char upperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// The number written by "%d" after a name: decimal digits without a leading
// zero (except "0" itself), small enough never to overflow.
std::optional<size_t> canonicalNumber(std::string_view digits)
{
    if (digits.empty() || digits.size() > 9)
        return std::nullopt;
    if (digits.size() > 1 && digits[0] == '0')
        return std::nullopt;
    size_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<size_t>(c - '0');
    }
    return value;
}

}  // namespace

int32_t readListInt(const Registry& registry, std::string_view section, std::string_view name, int32_t defaultValue)
{
    auto value = registry.readDword(Hive::CurrentUser, settingsKey(section), name);
    return value ? static_cast<int32_t>(*value) : defaultValue;
}

std::string readListText(const Registry& registry, std::string_view section, std::string_view name,
                         std::string_view defaultValue)
{
    auto value = registry.readString(Hive::CurrentUser, settingsKey(section), name);
    return value ? *value : std::string(defaultValue);
}

void writeListInt(Registry& registry, std::string_view section, std::string_view name, int32_t value)
{
    registry.writeDword(Hive::CurrentUser, settingsKey(section), name, static_cast<uint32_t>(value));
}

void writeListText(Registry& registry, std::string_view section, std::string_view name, std::string_view value)
{
    registry.writeString(Hive::CurrentUser, settingsKey(section), name, value);
}

size_t numberedSubkeyExtent(const Registry& registry, std::string_view section, std::string_view prefix)
{
    size_t extent = 0;
    for (const std::string& name : registry.subkeyNames(Hive::CurrentUser, settingsKey(section))) {
        if (!startsWithIgnoringCase(name, prefix))
            continue;
        if (auto number = canonicalNumber(std::string_view(name).substr(prefix.size())))
            extent = std::max(extent, *number + 1);
    }
    return extent;
}

size_t numberedValueExtent(const Registry& registry, std::string_view section,
                           std::initializer_list<std::string_view> prefixes)
{
    size_t extent = 0;
    for (const std::string& name : registry.valueNames(Hive::CurrentUser, settingsKey(section))) {
        for (std::string_view prefix : prefixes) {
            if (!startsWithIgnoringCase(name, prefix))
                continue;
            if (auto number = canonicalNumber(std::string_view(name).substr(prefix.size())))
                extent = std::max(extent, *number + 1);
        }
    }
    return extent;
}

size_t entriesToLoad(uint32_t storedCount, size_t presentExtent)
{
    return std::min({static_cast<size_t>(storedCount), presentExtent, kMaxListEntries});
}

std::string asciiLower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lowerAscii);
    return out;
}

std::string asciiUpper(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), upperAscii);
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

}  // namespace fetchora
