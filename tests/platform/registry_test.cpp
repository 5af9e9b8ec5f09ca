#include "platform/registry.h"

#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

namespace fetchora {
namespace {

using test::ChildProcess;
using test::TempDir;

constexpr std::string_view kKey = "Software\\Korvex\\Korvex\\General";

TEST(Registry, TypedValuesSurviveAFlushAndReload)
{
    TempDir dir;
    Registry registry(dir / "settings.reg");
    registry.writeDword(Hive::CurrentUser, kKey, "Flags", 0x2001558);
    registry.writeString(Hive::CurrentUser, kKey, "AppPath", "C:\\Program Files\\\"quoted\"");
    registry.writeString(Hive::CurrentUser, kKey, "Control", std::string("line1\r\nline2\0tail", 17));
    registry.writeBinary(Hive::CurrentUser, "Software\\Korvex\\Korvex\\DialUp", "New",
                         std::vector<uint8_t>(41, 0xAB));
    registry.writeBinary(Hive::CurrentUser, "Software\\Korvex\\Korvex\\DialUp", "Empty", {});
    registry.writeDword(Hive::LocalMachine, "Software\\Other", "Number", 7);
    ASSERT_TRUE(registry.flush());

    Registry loaded(dir / "settings.reg");
    ASSERT_TRUE(loaded.load());
    EXPECT_EQ(loaded.readDword(Hive::CurrentUser, kKey, "Flags"), 0x2001558u);
    EXPECT_EQ(loaded.readString(Hive::CurrentUser, kKey, "AppPath"), "C:\\Program Files\\\"quoted\"");
    EXPECT_EQ(loaded.readString(Hive::CurrentUser, kKey, "Control"), std::string("line1\r\nline2\0tail", 17));
    EXPECT_EQ(loaded.readBinary(Hive::CurrentUser, "Software\\Korvex\\Korvex\\DialUp", "New"),
              std::vector<uint8_t>(41, 0xAB));
    EXPECT_EQ(loaded.readBinary(Hive::CurrentUser, "Software\\Korvex\\Korvex\\DialUp", "Empty"),
              std::vector<uint8_t>{});
    EXPECT_EQ(loaded.readDword(Hive::LocalMachine, "Software\\Other", "Number"), 7u);
    EXPECT_FALSE(loaded.readDword(Hive::CurrentUser, "Software\\Other", "Number"));
    EXPECT_EQ(loaded.toText(), registry.toText());
}

TEST(Registry, NamesCompareWithoutCaseAndKeepTheirFirstSpelling)
{
    Registry registry;
    registry.writeDword(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Procotol", "User-Agent", 4);
    registry.writeDword(Hive::CurrentUser, "SOFTWARE\\korvex\\KORVEX\\procotol", "user-agent", 5);
    EXPECT_EQ(registry.readDword(Hive::CurrentUser, "software\\KORVEX\\korvex\\Procotol", "USER-AGENT"), 5u);
    EXPECT_EQ(registry.valueNames(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Procotol"),
              std::vector<std::string>{"User-Agent"});
    EXPECT_EQ(registry.subkeyNames(Hive::CurrentUser, "Software\\Korvex\\Korvex"),
              std::vector<std::string>{"Procotol"});
}

TEST(Registry, TypedReadOfAnotherTypeGivesNothing)
{
    Registry registry;
    registry.writeString(Hive::CurrentUser, kKey, "Flags", "not a number");
    EXPECT_FALSE(registry.readDword(Hive::CurrentUser, kKey, "Flags"));
    EXPECT_FALSE(registry.readBinary(Hive::CurrentUser, kKey, "Flags"));
    EXPECT_EQ(registry.readString(Hive::CurrentUser, kKey, "Flags"), "not a number");
}

TEST(Registry, DeleteKeyTreeRemovesSubkeysButNotSiblingsWithTheSamePrefix)
{
    Registry registry;
    registry.writeDword(Hive::CurrentUser, "Software\\K\\Proxy", "Count", 2);
    registry.writeString(Hive::CurrentUser, "Software\\K\\Proxy\\Proxy1", "Title", "a");
    registry.writeString(Hive::CurrentUser, "Software\\K\\Proxy\\Proxy2", "Title", "b");
    registry.writeString(Hive::CurrentUser, "Software\\K\\ProxyExtra", "Title", "kept");
    EXPECT_EQ(registry.subkeyNames(Hive::CurrentUser, "Software\\K\\Proxy"),
              (std::vector<std::string>{"Proxy1", "Proxy2"}));
    EXPECT_TRUE(registry.deleteKeyTree(Hive::CurrentUser, "Software\\K\\Proxy"));
    EXPECT_FALSE(registry.keyExists(Hive::CurrentUser, "Software\\K\\Proxy"));
    EXPECT_FALSE(registry.keyExists(Hive::CurrentUser, "Software\\K\\Proxy\\Proxy1"));
    EXPECT_EQ(registry.readString(Hive::CurrentUser, "Software\\K\\ProxyExtra", "Title"), "kept");
    EXPECT_FALSE(registry.deleteKeyTree(Hive::CurrentUser, "Software\\K\\Proxy"));
    EXPECT_TRUE(registry.deleteValue(Hive::CurrentUser, "Software\\K\\ProxyExtra", "TITLE"));
    EXPECT_FALSE(registry.deleteValue(Hive::CurrentUser, "Software\\K\\ProxyExtra", "Title"));
}

TEST(Registry, ParsesRegeditTextWithContinuationsAndSkipsBrokenLines)
{
    const char* text =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Korvex\\Korvex\\General]\r\n"
        "\"Flags\"=dword:02001558\r\n"
        "\"Broken\"=dword:xyz\r\n"
        "\"TooLong\"=dword:123456789\r\n"
        "\"Unterminated=\"abc\r\n"
        "\"Blob\"=hex:01,02,\\\r\n"
        "  03,04\r\n"
        "\"BadHex\"=hex:01,0g\r\n"
        "\"Word\"=hex(4):78,56,34,12\r\n"
        "\"Text\"=\"a \\\"quoted\\\" \\\\ path\"\r\n"
        "garbage line without meaning\r\n"
        "[HKEY_NOWHERE\\Software]\r\n"
        "\"Lost\"=dword:00000001\r\n"
        "[HKEY_CURRENT_USER\\Software\\Korvex\\Korvex\\General\r\n"
        "\"AfterBrokenHeader\"=dword:00000001\r\n";
    Registry registry = Registry::fromText(text);
    EXPECT_EQ(registry.readDword(Hive::CurrentUser, kKey, "Flags"), 0x2001558u);
    EXPECT_EQ(registry.readBinary(Hive::CurrentUser, kKey, "Blob"), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(registry.readDword(Hive::CurrentUser, kKey, "Word"), 0x12345678u);
    EXPECT_EQ(registry.readString(Hive::CurrentUser, kKey, "Text"), "a \"quoted\" \\ path");
    for (const char* missing : {"Broken", "TooLong", "Unterminated", "BadHex", "AfterBrokenHeader"})
        EXPECT_FALSE(registry.read(Hive::CurrentUser, kKey, missing)) << missing;
    EXPECT_TRUE(registry.subkeyNames(Hive::CurrentUser, "").size() == 1);
}

TEST(Registry, RandomJunkNeverCrashesTheParser)
{
    std::mt19937 random(12345);
    const std::string alphabet = "[]\"=\\:,@-hexdword0123456789abcdefHKEY_CURRENT_USER\r\n\t ;";
    for (int round = 0; round < 300; ++round) {
        std::string junk;
        size_t length = random() % 600;
        for (size_t i = 0; i < length; ++i) {
            junk += (random() % 4 == 0) ? static_cast<char>(random() % 256)
                                        : alphabet[random() % alphabet.size()];
        }
        Registry registry = Registry::fromText("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\S]\n" + junk);
        // Whatever was understood must write out and read back unchanged.
        EXPECT_EQ(Registry::fromText(registry.toText()).toText(), registry.toText());
    }
}

TEST(Registry, MissingFileLoadsEmptyAndUnreadableFileFails)
{
    TempDir dir;
    Registry missing(dir / "none.reg");
    EXPECT_TRUE(missing.load());
    EXPECT_TRUE(missing.subkeyNames(Hive::CurrentUser, "").empty());

    std::filesystem::create_directory(dir / "folder.reg");
    Registry folder(dir / "folder.reg");
    EXPECT_FALSE(folder.load());
}

TEST(Registry, FlushKeepsValuesAnotherProcessWroteSinceOurLoad)
{
    TempDir dir;
    Registry first(dir / "s.reg");
    Registry second(dir / "s.reg");
    ASSERT_TRUE(first.load());
    ASSERT_TRUE(second.load());
    first.writeDword(Hive::CurrentUser, kKey, "A", 1);
    second.writeDword(Hive::CurrentUser, kKey, "B", 2);
    second.writeDword(Hive::CurrentUser, kKey, "A", 3);
    ASSERT_TRUE(first.flush());
    ASSERT_TRUE(second.flush());
    first.deleteValue(Hive::CurrentUser, kKey, "A");
    ASSERT_TRUE(first.flush());

    Registry result(dir / "s.reg");
    ASSERT_TRUE(result.load());
    EXPECT_FALSE(result.read(Hive::CurrentUser, kKey, "A"));
    EXPECT_EQ(result.readDword(Hive::CurrentUser, kKey, "B"), 2u);
    // The flushing store also sees the other process's values afterwards.
    EXPECT_EQ(first.readDword(Hive::CurrentUser, kKey, "B"), 2u);
}

TEST(Registry, RewritingHeldValuesLeavesValuesEditedOnDiskAlone)
{
    TempDir dir;
    {
        Registry setup(dir / "s.reg");
        setup.writeDword(Hive::CurrentUser, kKey, "Kept", 1);
        setup.writeString(Hive::CurrentUser, kKey, "Text", "old");
        setup.writeDword(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Proxy\\0", "Port", 8080);
        ASSERT_TRUE(setup.flush());
    }
    Registry program(dir / "s.reg");
    ASSERT_TRUE(program.load());

    // Someone edits the file while the program runs.
    Registry editor(dir / "s.reg");
    ASSERT_TRUE(editor.load());
    editor.writeDword(Hive::CurrentUser, kKey, "Kept", 7);
    editor.writeString(Hive::CurrentUser, kKey, "Text", "edited");
    editor.writeDword(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Proxy\\0", "Port", 3128);
    ASSERT_TRUE(editor.flush());

    // The program saves everything it holds, as a settings save does: the
    // same values, and a list section deleted and written back unchanged.
    program.writeDword(Hive::CurrentUser, kKey, "Kept", 1);
    program.writeString(Hive::CurrentUser, kKey, "Text", "old");
    ASSERT_TRUE(program.deleteKeyTree(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Proxy"));
    program.writeDword(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Proxy\\0", "Port", 8080);
    program.writeDword(Hive::CurrentUser, kKey, "Changed", 5);
    ASSERT_TRUE(program.flush());

    Registry result(dir / "s.reg");
    ASSERT_TRUE(result.load());
    EXPECT_EQ(result.readDword(Hive::CurrentUser, kKey, "Kept"), 7u);
    EXPECT_EQ(result.readString(Hive::CurrentUser, kKey, "Text"), "edited");
    EXPECT_EQ(result.readDword(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Proxy\\0", "Port"), 3128u);
    EXPECT_EQ(result.readDword(Hive::CurrentUser, kKey, "Changed"), 5u);
}

TEST(Registry, ValuesChangedOrRemovedInMemoryReachTheFile)
{
    TempDir dir;
    Registry store(dir / "s.reg");
    store.writeDword(Hive::CurrentUser, kKey, "A", 1);
    store.writeDword(Hive::CurrentUser, kKey, "B", 2);
    store.writeDword(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Gone", "C", 3);
    ASSERT_TRUE(store.flush());
    // A change and a change back is no change at all.
    store.writeDword(Hive::CurrentUser, kKey, "B", 9);
    store.writeDword(Hive::CurrentUser, kKey, "B", 2);
    // Another type under the same name is a change.
    store.writeString(Hive::CurrentUser, kKey, "A", "1");
    ASSERT_TRUE(store.deleteKeyTree(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Gone"));
    ASSERT_TRUE(store.flush());

    Registry result(dir / "s.reg");
    ASSERT_TRUE(result.load());
    EXPECT_EQ(result.readString(Hive::CurrentUser, kKey, "A"), "1");
    EXPECT_EQ(result.readDword(Hive::CurrentUser, kKey, "B"), 2u);
    EXPECT_FALSE(result.keyExists(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Gone"));
}

TEST(Registry, TwoProcessesSavingAtOnceLoseNothing)
{
    TempDir dir;
    const std::string file = (dir / "s.reg").string();
    constexpr int kRounds = 150;
    ChildProcess one({"registry-writer", file, "1", std::to_string(kRounds)});
    ChildProcess two({"registry-writer", file, "2", std::to_string(kRounds)});
    EXPECT_EQ(one.wait(), 0);
    EXPECT_EQ(two.wait(), 0);

    Registry result(file);
    ASSERT_TRUE(result.load());
    EXPECT_EQ(result.readDword(Hive::CurrentUser, "Software\\Test\\Writer1", "Round"), uint32_t(kRounds));
    EXPECT_EQ(result.readDword(Hive::CurrentUser, "Software\\Test\\Writer2", "Round"), uint32_t(kRounds));
}

TEST(Registry, KillDuringSaveLeavesTheOldOrTheNewFileWhole)
{
    TempDir dir;
    const std::string file = (dir / "s.reg").string();
    constexpr int kValues = 2000;
    std::mt19937 random(777);
    int checkedGenerations = 0;
    for (int attempt = 0; attempt < 12; ++attempt) {
        {
            ChildProcess churn({"registry-churn", file, std::to_string(kValues)});
            std::this_thread::sleep_for(std::chrono::milliseconds(150 + random() % 600));
            churn.kill();
            churn.wait();
        }
        Registry result(file);
        ASSERT_TRUE(result.load());
        if (!result.keyExists(Hive::CurrentUser, "Software\\Churn"))
            continue;  // killed before the first save completed
        auto generation = result.readDword(Hive::CurrentUser, "Software\\Churn\\Key0", "Value0");
        ASSERT_TRUE(generation);
        for (int i = 0; i < kValues; ++i) {
            ASSERT_EQ(result.readDword(Hive::CurrentUser, "Software\\Churn\\Key" + std::to_string(i % 17),
                                       "Value" + std::to_string(i)),
                      generation)
                << "value " << i << " after attempt " << attempt;
        }
        ++checkedGenerations;
    }
    EXPECT_GT(checkedGenerations, 0);

    // A later save clears the temporaries that killed writers left behind.
    Registry last(file);
    ASSERT_TRUE(last.load());
    last.writeDword(Hive::CurrentUser, "Software\\Churn", "Done", 1);
    ASSERT_TRUE(last.flush());
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace fetchora
