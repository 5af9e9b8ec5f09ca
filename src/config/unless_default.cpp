#include "config/unless_default.h"

#include "config/settings_key.h"
#include "platform/registry.h"
#include "platform/text_utils.h"

namespace fetchora {

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
    if (!equalsIgnoringCase(value, defaultValue)) {
        registry.writeString(Hive::CurrentUser, key, name, value);
    } else {
        registry.deleteValue(Hive::CurrentUser, key, name);
    }
}

}  // namespace fetchora
