#include "lists/page_url_history.h"

#include <algorithm>
#include <gtest/gtest.h>

#include "config/settings_key.h"
#include "platform/registry.h"

namespace fetchora {
namespace {

TEST(PageUrlHistory, KeepsTenNewestFirstWithoutRepeats)
{
    PageUrlHistory history;
    for (int i = 0; i < 12; ++i)
        history.Add("http://h/" + std::to_string(i));
    ASSERT_EQ(history.entries().size(), 10u);
    EXPECT_EQ(history.entries().front(), "http://h/11");
    EXPECT_EQ(history.entries().back(), "http://h/2");

    history.Add("  http://h/5 ");
    EXPECT_EQ(history.entries().size(), 10u);
    EXPECT_EQ(history.entries().front(), "http://h/5");
    EXPECT_EQ(std::count(history.entries().begin(), history.entries().end(), "http://h/5"), 1);
    history.Add("   ");
    EXPECT_EQ(history.entries().front(), "http://h/5");
}

TEST(PageUrlHistory, SavesListValuesAndReadsThemBack)
{
    Registry registry;
    const std::string key = settingsKey("ProcessWeb");
    registry.writeString(Hive::CurrentUser, key, "List0", "http://a/");
    registry.writeString(Hive::CurrentUser, key, "List3", "http://b/");
    registry.writeString(Hive::CurrentUser, key, "List7", "http://a/");
    registry.writeString(Hive::CurrentUser, key, "List9", "http://c/");
    PageUrlHistory history;
    history.Load(registry);
    EXPECT_EQ(history.entries(), (std::vector<std::string>{"http://a/", "http://b/", "http://c/"}));

    history.Add("http://new/");
    history.Save(registry);
    EXPECT_EQ(registry.readString(Hive::CurrentUser, key, "List0"), "http://new/");
    EXPECT_EQ(registry.readString(Hive::CurrentUser, key, "List3"), "http://c/");
    EXPECT_FALSE(registry.readString(Hive::CurrentUser, key, "List7"));
    EXPECT_FALSE(registry.readString(Hive::CurrentUser, key, "List9"));

    PageUrlHistory again;
    again.Load(registry);
    EXPECT_EQ(again.entries(), history.entries());
}

}  // namespace
}  // namespace fetchora
