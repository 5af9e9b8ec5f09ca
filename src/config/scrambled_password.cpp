#include "config/scrambled_password.h"

#include "config/settings_key.h"
#include "platform/registry.h"

#include <algorithm>

namespace fetchora {
namespace {

constexpr std::string_view kKey = "Tavol";

uint8_t keyByte(size_t index) {
    return static_cast<uint8_t>(kKey[index % kKey.size()]);
}

}  // namespace

std::vector<uint8_t> scramblePassword(std::string_view text) {
    const size_t length = std::min(text.size(), kScrambledMaxLength);
    if (length == 0) {
        return {};
    }
    std::vector<uint8_t> record(kScrambledRecordSize);
    record[0] = static_cast<uint8_t>(keyByte(0) ^ length);
    for (size_t i = 0; i < kScrambledMaxLength; ++i) {
        const uint8_t key = keyByte(i + 1);
        record[i + 1] = i < length ? static_cast<uint8_t>(static_cast<uint8_t>(text[i]) ^ key)
                                   : static_cast<uint8_t>(key ^ record[i]);
    }
    return record;
}

std::string unscramblePassword(const std::vector<uint8_t>& record) {
    if (record.size() != kScrambledRecordSize) {
        return {};
    }
    const size_t length = static_cast<uint8_t>(record[0] ^ keyByte(0));
    if (length > kScrambledMaxLength) {
        return {};
    }
    std::string text(length, '\0');
    for (size_t i = 0; i < length; ++i) {
        text[i] = static_cast<char>(record[i + 1] ^ keyByte(i + 1));
    }
    return text;
}

std::string ReadScrambled(const Registry& registry, std::string_view section, std::string_view name) {
    const auto record = registry.readBinary(Hive::CurrentUser, settingsKey(section), name);
    return record ? unscramblePassword(*record) : std::string();
}

void WriteScrambled(Registry& registry, std::string_view section, std::string_view name, std::string_view text) {
    registry.writeBinary(Hive::CurrentUser, settingsKey(section), name, scramblePassword(text));
}

}  // namespace fetchora
