#include "explorer/explorer_list_state.h"

#include <gtest/gtest.h>

#include "config/settings_key.h"
#include "platform/registry.h"

namespace fetchora {
namespace {

std::vector<uint8_t> le32s(std::initializer_list<uint32_t> values)
{
    std::vector<uint8_t> bytes;
    for (const uint32_t value : values) {
        for (int b = 0; b < 4; ++b)
            bytes.push_back(static_cast<uint8_t>(value >> (8 * b)));
    }
    return bytes;
}

TEST(ExplorerListStateTest, StyleWidthAndOrderAreReadAsStoredAndWrittenBack)
{
    Registry registry;
    const std::string key = settingsKey("Explore List");
    registry.writeDword(Hive::CurrentUser, key, "Style", 0x106);  // only the low two bits count
    registry.writeBinary(Hive::CurrentUser, key, "Width", le32s({120, 40, 100, 200, 60, 90, 150}));
    registry.writeBinary(Hive::CurrentUser, key, "Order", le32s({3, 0, 1, 2, 4, 5, 6}));
    const ExplorerListState state = readExplorerListState(registry, kExploreListSection);
    EXPECT_EQ(state.style, ExplorerViewStyle::List);
    ASSERT_TRUE(state.widths);
    EXPECT_EQ((*state.widths)[0], 120);
    EXPECT_EQ((*state.widths)[6], 150);
    ASSERT_TRUE(state.order);
    EXPECT_EQ((*state.order)[0], 3);

    Registry other;
    writeExplorerListState(other, kOfflineListSection, state);
    const std::string offline = settingsKey("Offline List");
    EXPECT_EQ(other.readDword(Hive::CurrentUser, offline, "Style"), 2u);
    EXPECT_EQ(other.readBinary(Hive::CurrentUser, offline, "Width"), le32s({120, 40, 100, 200, 60, 90, 150}));
    EXPECT_EQ(other.readBinary(Hive::CurrentUser, offline, "Order"), le32s({3, 0, 1, 2, 4, 5, 6}));
}

TEST(ExplorerListStateTest, ShortOrBadArraysAreIgnored)
{
    Registry registry;
    const std::string key = settingsKey("Explore List");
    registry.writeBinary(Hive::CurrentUser, key, "Width", le32s({1, 2, 3}));
    registry.writeBinary(Hive::CurrentUser, key, "Order", le32s({0, 0, 1, 2, 4, 5, 6}));
    ExplorerListState state = readExplorerListState(registry, kExploreListSection);
    EXPECT_EQ(state.style, ExplorerViewStyle::Details);
    EXPECT_FALSE(state.widths);
    EXPECT_FALSE(state.order) << "a column named twice";
    registry.writeBinary(Hive::CurrentUser, key, "Order", le32s({6, 5, 4, 3, 2, 1}));
    EXPECT_FALSE(readExplorerListState(registry, kExploreListSection).order) << "fewer than 28 bytes";
    registry.writeBinary(Hive::CurrentUser, key, "Width", le32s({1, 2, 3, 4, 5, 6, 0xFFFFFFFFu}));
    state = readExplorerListState(registry, kExploreListSection);
    ASSERT_TRUE(state.widths);
    EXPECT_EQ((*state.widths)[6], 0) << "a negative width";
}

}  // namespace
}  // namespace fetchora
