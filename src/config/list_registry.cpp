#include "config/list_registry.h"

#include "config/settings_key.h"
#include "platform/registry.h"
#include "platform/text_utils.h"

#include <algorithm>
#include <optional>

namespace fetchora {

namespace {

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

}  // namespace fetchora
