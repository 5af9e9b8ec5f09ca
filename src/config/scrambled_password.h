#pragma once
// The password store used for the dial-up password and for the passwords of
// proxies and site rules: a 41-byte REG_BINARY record, the text XORed with a
// fixed five-character key and padded with a key-derived filler. It hides a
// password from a casual look at the settings file; it is not encryption.
//
// Thread: any (pure functions plus reads/writes of a borrowed Registry, which
// the caller serialises).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

class Registry;

inline constexpr size_t kScrambledRecordSize = 41;
inline constexpr size_t kScrambledMaxLength = 40;

// The record for a password: empty for an empty text, else 41 bytes. Texts
// longer than 40 bytes are cut to their first 40 bytes.
std::vector<uint8_t> scramblePassword(std::string_view text);

// The text of a record; empty unless the record is exactly 41 bytes long and
// its length byte decodes to at most 40.
std::string unscramblePassword(const std::vector<uint8_t>& record);

// `section` is a subkey of the settings root (for example "DialUp" or
// "Proxy\\Proxy2"). A missing value, a value of another type or a malformed
// record reads as empty.
std::string ReadScrambled(const Registry& registry, std::string_view section, std::string_view name);
void WriteScrambled(Registry& registry, std::string_view section, std::string_view name, std::string_view text);

}  // namespace fetchora
