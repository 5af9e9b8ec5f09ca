#include "config/scrambled_password.h"

#include <gtest/gtest.h>

#include "config/unless_default.h"
#include "platform/registry.h"

namespace fetchora {
namespace {

constexpr std::string_view kDialUp = "Software\\Korvex\\Korvex\\DialUp";

TEST(ScrambledPassword, RecordXorsTextWithKeyAndFillsFromThePreviousByte) {
    const std::vector<uint8_t> record = scramblePassword("ab");
    ASSERT_EQ(record.size(), 41u);
    EXPECT_EQ(record[0], 'T' ^ 2);
    EXPECT_EQ(record[1], 'a' ^ 'a');
    EXPECT_EQ(record[2], 'b' ^ 'v');
    EXPECT_EQ(record[3], 'o' ^ record[2]);
    EXPECT_EQ(record[4], 'l' ^ record[3]);
    EXPECT_EQ(record[5], 'T' ^ record[4]);
    EXPECT_EQ(record[40], 'T' ^ record[39]);
}

TEST(ScrambledPassword, TextsUpToFortyBytesSurviveAndLongerOnesAreCut) {
    for (const std::string& text : {std::string("x"), std::string(39, 'q'), std::string("p@ss w\xc3\xb6rd!"),
                                   std::string("0123456789012345678901234567890123456789")}) {
        EXPECT_EQ(unscramblePassword(scramblePassword(text)), text);
    }
    const std::string longText = "0123456789012345678901234567890123456789ABCDE";
    EXPECT_EQ(unscramblePassword(scramblePassword(longText)), longText.substr(0, 40));
}

TEST(ScrambledPassword, MalformedRecordsReadAsEmpty) {
    std::vector<uint8_t> record = scramblePassword("secret");
    EXPECT_EQ(unscramblePassword(std::vector<uint8_t>(record.begin(), record.end() - 1)), "");
    std::vector<uint8_t> longer = record;
    longer.push_back(0);
    EXPECT_EQ(unscramblePassword(longer), "");
    record[0] = static_cast<uint8_t>('T' ^ 41);
    EXPECT_EQ(unscramblePassword(record), "");
    record[0] = static_cast<uint8_t>('T' ^ 255);
    EXPECT_EQ(unscramblePassword(record), "");
    EXPECT_EQ(unscramblePassword({}), "");
}

TEST(ScrambledPassword, StoreWritesBinaryAndEmptyTextAsEmptyBinary) {
    Registry registry;
    WriteScrambled(registry, "DialUp", "New", "hunter2");
    const auto stored = registry.readBinary(Hive::CurrentUser, kDialUp, "New");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 41u);
    EXPECT_EQ(ReadScrambled(registry, "DialUp", "New"), "hunter2");

    WriteScrambled(registry, "DialUp", "New", "");
    EXPECT_EQ(registry.readBinary(Hive::CurrentUser, kDialUp, "New"), std::vector<uint8_t>{});
    EXPECT_EQ(ReadScrambled(registry, "DialUp", "New"), "");
}

TEST(ScrambledPassword, MissingOrWronglyTypedValuesReadAsEmpty) {
    Registry registry;
    EXPECT_EQ(ReadScrambled(registry, "DialUp", "New"), "");
    registry.writeString(Hive::CurrentUser, kDialUp, "New", std::string(41, 'x'));
    EXPECT_EQ(ReadScrambled(registry, "DialUp", "New"), "");
    registry.writeDword(Hive::CurrentUser, kDialUp, "New", 41);
    EXPECT_EQ(ReadScrambled(registry, "DialUp", "New"), "");
}

TEST(UnlessDefault, ValuesEqualToTheirDefaultAreDeletedOthersWritten) {
    Registry registry;
    const std::string key = "Software\\Korvex\\Korvex\\General";
    WriteIntUnlessDefault(registry, "General", "Scexit", 1, 0);
    EXPECT_EQ(registry.readDword(Hive::CurrentUser, key, "Scexit"), 1u);
    WriteIntUnlessDefault(registry, "General", "Scexit", 0, 0);
    EXPECT_FALSE(registry.read(Hive::CurrentUser, key, "Scexit"));
    WriteIntUnlessDefault(registry, "General", "Scexit", -1, 0);
    EXPECT_EQ(registry.readDword(Hive::CurrentUser, key, "Scexit"), 0xFFFFFFFFu);

    WriteTextUnlessDefault(registry, "General", "Open Types", ".ISO", ".MP3;.AVI");
    EXPECT_EQ(registry.readString(Hive::CurrentUser, key, "Open Types"), ".ISO");
    WriteTextUnlessDefault(registry, "General", "Open Types", ".mp3;.avi", ".MP3;.AVI");
    EXPECT_FALSE(registry.read(Hive::CurrentUser, key, "Open Types"));
    // Deleting what is not there is no error and creates nothing.
    WriteTextUnlessDefault(registry, "Mirrors", "Code", "US", "us");
    EXPECT_FALSE(registry.keyExists(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Mirrors"));
}

}  // namespace
}  // namespace fetchora
