#pragma once
// Registry helpers shared by the proxy list, the site rules and the download
// rules: typed reads with defaults, and the bound on how many stored entries a
// load walks.
//
// Thread: the caller's (borrows the Registry, which the caller serialises).
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace fetchora {

class Registry;

// No list loads more entries than this, whatever its stored "Count" says.
inline constexpr size_t kMaxListEntries = 10000;

// `section` is a subkey of the settings root. A missing value or one of another
// type gives the default.
int32_t readListInt(const Registry& registry, std::string_view section, std::string_view name, int32_t defaultValue);
std::string readListText(const Registry& registry, std::string_view section, std::string_view name,
                         std::string_view defaultValue = {});
void writeListInt(Registry& registry, std::string_view section, std::string_view name, int32_t value);
void writeListText(Registry& registry, std::string_view section, std::string_view name, std::string_view value);

// One past the highest N for which a subkey named prefix + N (N in decimal,
// without leading zeros) exists below the section; 0 when there is none.
size_t numberedSubkeyExtent(const Registry& registry, std::string_view section, std::string_view prefix);

// One past the highest N for which a value named one of the prefixes + N
// exists in the section; 0 when there is none.
size_t numberedValueExtent(const Registry& registry, std::string_view section,
                           std::initializer_list<std::string_view> prefixes);

// How many entries a load reads: the stored count, but never past the last
// entry actually present nor past kMaxListEntries. A corrupt count therefore
// costs neither memory nor time, and a gap inside the list still reads as a
// default entry, keeping later entries at their indices.
size_t entriesToLoad(uint32_t storedCount, size_t presentExtent);

}  // namespace fetchora
