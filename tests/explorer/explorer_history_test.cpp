#include "explorer/explorer_history.h"

#include <gtest/gtest.h>

#include "config/settings_key.h"
#include "explorer/explorer_entries.h"
#include "platform/registry.h"

namespace fetchora {
namespace {

TEST(ExplorerHistoryTest, AnEmptyFilterHistoryGivesTheDefaultPatternsAndAStoredOneDoesNot)
{
    Registry registry;
    ExplorerHistory filters{std::string(kExplorerFilterSection), std::string(kDefaultExplorerFilter)};
    filters.load(registry);
    EXPECT_EQ(filters.entries(), (std::vector<std::string>{std::string(kDefaultExplorerFilter)}));

    registry.writeString(Hive::CurrentUser, settingsKey("Explorer Filter"), "List2", ".ISO");
    filters.load(registry);
    EXPECT_EQ(filters.entries(), (std::vector<std::string>{".ISO"}));
}

TEST(ExplorerHistoryTest, AddressesKeepTenNewestFirstInTheirOwnSection)
{
    Registry registry;
    ExplorerHistory addresses{std::string(kExploreHistorySection)};
    for (int i = 0; i < 12; ++i)
        addresses.add("ftp://h/" + std::to_string(i) + "/");
    addresses.add(" ftp://h/4/ ");
    addresses.add("  ");
    ASSERT_EQ(addresses.entries().size(), 10u);
    EXPECT_EQ(addresses.entries()[0], "ftp://h/4/");
    EXPECT_EQ(addresses.entries()[1], "ftp://h/11/");
    EXPECT_EQ(addresses.entries()[9], "ftp://h/2/");
    addresses.save(registry);
    const std::string key = settingsKey("Explore");
    EXPECT_EQ(registry.readString(Hive::CurrentUser, key, "List0"), "ftp://h/4/");
    EXPECT_EQ(registry.readString(Hive::CurrentUser, key, "List9"), "ftp://h/2/");

    ExplorerHistory again{std::string(kExploreHistorySection)};
    again.load(registry);
    EXPECT_EQ(again.entries(), addresses.entries());
    // "Clear history lists" leaves nothing stored.
    again.clear();
    again.save(registry);
    EXPECT_FALSE(registry.readString(Hive::CurrentUser, key, "List0"));
    ExplorerHistory cleared{std::string(kExploreHistorySection)};
    cleared.load(registry);
    EXPECT_TRUE(cleared.entries().empty());
}

}  // namespace
}  // namespace fetchora
