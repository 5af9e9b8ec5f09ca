#include "lang/string_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace fetchora {
namespace {

TEST(StringTable, EntriesAreSortedUniqueAndNonEmpty) {
    const auto table = builtinStringTable();
    ASSERT_GT(table.size(), 100u);
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_FALSE(table[i].text.empty()) << "id " << table[i].id;
        if (i > 0) {
            EXPECT_LT(table[i - 1].id, table[i].id) << "at index " << i;
        }
    }
}

TEST(StringTable, EveryEntryIsFoundByItsId) {
    for (const BuiltinString& entry : builtinStringTable()) {
        EXPECT_EQ(builtinString(entry.id), entry.text) << "id " << entry.id;
    }
}

TEST(StringTable, GivesExactTexts) {
    EXPECT_EQ(builtinString(57344), "Fetchora");
    EXPECT_EQ(builtinString(61204), "Download");
    EXPECT_EQ(builtinString(61296), "Software,Game,Driver,Mp3");
    EXPECT_EQ(builtinString(61219), "Wait %d second for retry");
    // Two spaces after the full stop, as the message has always been written.
    EXPECT_EQ(builtinString(61272), "Write to file error!  Please use SCANDISK utility to fix this error.");
    EXPECT_EQ(builtinString(61373),
              "Please put \"http://\" or \"ftp://\" before the address to tell what type of connection to use.");
    EXPECT_EQ(builtinString(61381),
              "The file '%1',already exists in your list.\r\n('%2')\r\n  Add this one as alternate(mirrored) URL?");
    EXPECT_EQ(builtinString(61344), "Change password state supported by RASPHONE.EXE.");
    EXPECT_EQ(builtinString(104), "Windows sockets initialization failed.");
}

TEST(StringTable, DialUpStatesFormAnUnbrokenRun) {
    for (uint32_t id = 61315; id <= 61344; ++id) {
        EXPECT_FALSE(builtinString(id).empty()) << "id " << id;
    }
}

TEST(StringTable, UnknownIdGivesEmptyText) {
    const auto table = builtinStringTable();
    EXPECT_TRUE(builtinString(0).empty());
    EXPECT_TRUE(builtinString(table.front().id - 1).empty());
    EXPECT_TRUE(builtinString(61205).empty());  // between two known ids
    EXPECT_TRUE(builtinString(table.back().id + 1).empty());
    EXPECT_TRUE(builtinString(std::numeric_limits<uint32_t>::max()).empty());
}

TEST(FormatMessage, FillsPlaceholdersByNumberNotByPosition) {
    EXPECT_EQ(formatMessage(builtinString(61210), {"example.org:21", "10.0.0.1"}),
              "Connecting example.org:21 [IP=10.0.0.1]");
    EXPECT_EQ(formatMessage("%2 before %1", {"a", "b"}), "b before a");
    EXPECT_EQ(formatMessage("%1 and %1 again", {"x"}), "x and x again");
    EXPECT_EQ(formatMessage("no placeholders", {"unused"}), "no placeholders");
    EXPECT_EQ(formatMessage("", {"unused"}), "");
    EXPECT_EQ(formatMessage("[%1]", {""}), "[]");
}

TEST(FormatMessage, LeavesPlaceholdersWithoutArgumentAsTheyStand) {
    EXPECT_EQ(formatMessage("%1 of %2 in %3", {"one", "two"}), "one of two in %3");
    EXPECT_EQ(formatMessage("Dial-up Error: %1", {}), "Dial-up Error: %1");
}

TEST(FormatMessage, DoesNotExpandPlaceholdersBroughtInByArguments) {
    EXPECT_EQ(formatMessage("%1 / %2", {"%2", "%1"}), "%2 / %1");
    EXPECT_EQ(formatMessage("file %1", {"100%1.zip"}), "file 100%1.zip");
}

TEST(FormatMessage, KeepsEveryOtherPercentSequence) {
    // A placeholder is a single digit: "%10" is the first argument and a "0".
    EXPECT_EQ(formatMessage("%10", {"a"}), "a0");
    EXPECT_EQ(formatMessage("%0 %d %s %% 50%", {"a"}), "%0 %d %s %% 50%");
    EXPECT_EQ(formatMessage("%", {"a"}), "%");
}

TEST(FillPrintfFields, FillsFieldsInOrder) {
    EXPECT_EQ(fillPrintfFields(builtinString(61219), {"5"}), "Wait 5 second for retry");
    EXPECT_EQ(fillPrintfFields(builtinString(61248), {"10.0.0.1", "2121"}), "Error Connected to 10.0.0.1 , Port 2121.");
    EXPECT_EQ(fillPrintfFields("%I64d bytes, %u%%", {"123", "50"}), "123 bytes, 50%");
    EXPECT_EQ(fillPrintfFields("%s  %dms", {"host", "12"}), "host  12ms");
}

TEST(FillPrintfFields, PadsToTheFieldWidth) {
    EXPECT_EQ(fillPrintfFields("%02d:%02d:%02d", {"1", "2", "34"}), "01:02:34");
    EXPECT_EQ(fillPrintfFields("[%-4s][%4s]", {"ab", "cd"}), "[ab  ][  cd]");
    EXPECT_EQ(fillPrintfFields("%05d", {"-42"}), "-0042");
    EXPECT_EQ(fillPrintfFields("%1d", {"1234"}), "1234");
    EXPECT_EQ(fillPrintfFields("%0.2fKB/s", {"1.50"}), "1.50KB/s");
}

TEST(FillPrintfFields, ToleratesHostileOrBrokenPatterns) {
    // More fields than arguments: the extra ones stay, nothing is read beyond the list.
    EXPECT_EQ(fillPrintfFields("%s%s%s", {"a"}), "a%s%s");
    EXPECT_EQ(fillPrintfFields("%n %*d %q %", {"a"}), "%n %*d %q %");
    const std::string wide = fillPrintfFields("%2000000000d", {"7"});
    EXPECT_LE(wide.size(), 256u);
    EXPECT_EQ(wide.back(), '7');
}

}  // namespace
}  // namespace fetchora
