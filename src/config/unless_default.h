#pragma once
// Writers that keep a value out of the settings store while it equals its
// default, so that a changed default applies at the next load.
//
// Thread: the caller's (borrows the Registry, which the caller serialises).
#include <cstdint>
#include <string_view>

namespace fetchora {

class Registry;

// `section` is a subkey of the settings root. When the value differs from the
// default it is written; otherwise the value is deleted from the section.
void WriteIntUnlessDefault(Registry& registry, std::string_view section, std::string_view name, int32_t value,
                           int32_t defaultValue);
// Texts are compared without regard to ASCII case.
void WriteTextUnlessDefault(Registry& registry, std::string_view section, std::string_view name,
                            std::string_view value, std::string_view defaultValue);

}  // namespace fetchora
