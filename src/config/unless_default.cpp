#include "config/unless_default.h"

#include "config/settings_key.h"
#include "platform/registry.h"

namespace fetchora {

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

void WriteIntUnlessDefault(Registry& registry, std::string_view section, std::string_view name, int32_t value,
                           int32_t defaultValue) {
    const std::string key = settingsKey(section);
    if (value != defaultValue) {
        registry.writeDword(Hive::CurrentUser, key, name, static_cast<uint32_t>(value));
    } else {
        registry.deleteValue(Hive::CurrentUser, key, name);
    }
}

void WriteTextUnlessDefault(Registry& registry, std::string_view section, std::string_view name,
                            std::string_view value, std::string_view defaultValue) {
    const std::string key = settingsKey(section);
    if (!equalsNoCase(value, defaultValue)) {
        registry.writeString(Hive::CurrentUser, key, name, value);
    } else {
        registry.deleteValue(Hive::CurrentUser, key, name);
    }
}

}  // namespace fetchora
