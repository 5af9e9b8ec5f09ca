#include "config/download_rules.h"

#include "config/settings_key.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>

namespace fetchora {
namespace {

class FakeCategories : public CategoryFolders {
public:
    std::map<uint32_t, std::string> folders;
    std::optional<std::string> categoryFolder(uint32_t id) const override
    {
        auto it = folders.find(id);
        if (it == folders.end())
            return std::nullopt;
        return it->second;
    }
};

DownloadRule rule(uint32_t flags, std::string var1, std::string var2)
{
    DownloadRule r;
    r.flags = flags;
    r.var1 = std::move(var1);
    r.var2 = std::move(var2);
    return r;
}

DownloadRuleJob job(std::string host, std::string fileName)
{
    DownloadRuleJob j;
    j.host = std::move(host);
    j.fileName = std::move(fileName);
    j.categoryId = 3;
    j.saveFolder = "/home/u/Downloads";
    return j;
}

constexpr uint32_t kByExtension = kRuleEnabled | kRuleExtension;
constexpr uint32_t kBySite = kRuleEnabled | kRuleFromSite;

class ApplyDownloadRulesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        categories.folders = {{3, "/home/u/Downloads"}, {20, "/home/u/Archives"}, {21, "/home/u/Music"}};
    }
    DownloadRuleList rules;
    FakeCategories categories;
};

TEST_F(ApplyDownloadRulesTest, ExtensionRuleFilesMatchingNamesIntoItsCategory)
{
    rules.AddDownloadRule(rule(kByExtension, ".ZIP;.R[0-9][0-9]", "20"));
    struct Case {
        const char* fileName;
        uint32_t category;
        const char* folder;
    };
    const Case cases[] = {
        {"a.zip", 20, "/home/u/Archives"},
        {"b.r01", 20, "/home/u/Archives"},
        {"c.r1", 3, "/home/u/Downloads"},
        {"zip", 3, "/home/u/Downloads"},
    };
    for (const Case& c : cases) {
        DownloadRuleJob j = job("host", c.fileName);
        ApplyDownloadRules(rules, j, categories);
        EXPECT_EQ(j.categoryId, c.category) << c.fileName;
        EXPECT_EQ(j.saveFolder, c.folder) << c.fileName;
    }
}

TEST_F(ApplyDownloadRulesTest, SiteRuleComparesTheHostWithoutRegardToCase)
{
    const DownloadRule& music = rules.AddDownloadRule(rule(kBySite, "Music.Example.COM", "21"));
    DownloadRuleJob j = job("music.example.com", "song.ogg");
    EXPECT_EQ(ApplyDownloadRules(rules, j, categories), &music);
    EXPECT_EQ(j.categoryId, 21u);

    DownloadRuleJob other = job("music.example.com.evil", "song.ogg");
    EXPECT_EQ(ApplyDownloadRules(rules, other, categories), nullptr);
    EXPECT_EQ(other.categoryId, 3u);
}

TEST_F(ApplyDownloadRulesTest, DisabledRulesNeverMatchAndTheFirstMatchEndsTheWalk)
{
    rules.AddDownloadRule(rule(kRuleExtension, ".ZIP", "21"));  // disabled
    rules.AddDownloadRule(rule(kByExtension, ".ZIP", "99"));  // no such category
    rules.AddDownloadRule(rule(kByExtension, ".ZIP", "20"));
    DownloadRuleJob j = job("host", "a.zip");
    EXPECT_EQ(ApplyDownloadRules(rules, j, categories), &(*rules.DownloadRules())[1]);
    EXPECT_EQ(j.categoryId, 3u);
    EXPECT_EQ(j.saveFolder, "/home/u/Downloads");
}

TEST_F(ApplyDownloadRulesTest, UnreadableCategoryIdsChangeNothing)
{
    for (const char* var2 : {"", "abc", "20x", "-20", "99999999999", " "}) {
        DownloadRuleList list;
        list.AddDownloadRule(rule(kByExtension, ".ZIP", var2));
        DownloadRuleJob j = job("host", "a.zip");
        EXPECT_NE(ApplyDownloadRules(list, j, categories), nullptr) << var2;
        EXPECT_EQ(j.categoryId, 3u) << var2;
    }
}

TEST_F(ApplyDownloadRulesTest, FolderFollowsTheCategoryOnlyWhenTheJobAcceptsIt)
{
    rules.AddDownloadRule(rule(kByExtension, ".ZIP", "20"));
    DownloadRuleJob kept = job("host", "a.zip");
    kept.acceptsNewFolder = false;
    ApplyDownloadRules(rules, kept, categories);
    EXPECT_EQ(kept.categoryId, 20u);
    EXPECT_EQ(kept.saveFolder, "/home/u/Downloads");

    // Already in the category with another folder: the folder follows.
    DownloadRuleJob inside = job("host", "a.zip");
    inside.categoryId = 20;
    ApplyDownloadRules(rules, inside, categories);
    EXPECT_EQ(inside.categoryId, 20u);
    EXPECT_EQ(inside.saveFolder, "/home/u/Archives");
}

TEST_F(ApplyDownloadRulesTest, NoListOrAnUnknownConditionMatchesNothing)
{
    DownloadRuleJob j = job("host", "a.zip");
    EXPECT_EQ(rules.DownloadRules(), nullptr);
    EXPECT_EQ(ApplyDownloadRules(rules, j, categories), nullptr);
    rules.AddDownloadRule(rule(kRuleEnabled | 3, ".ZIP", "20"));
    rules.AddDownloadRule(rule(kRuleEnabled, "host", "20"));
    EXPECT_EQ(ApplyDownloadRules(rules, j, categories), nullptr);
    EXPECT_EQ(j.categoryId, 3u);
}

TEST(DownloadRuleStore, RoundTripsAndZeroCountLeavesNoList)
{
    Registry reg;
    DownloadRuleList list;
    list.load(reg);
    EXPECT_EQ(list.DownloadRules(), nullptr);
    list.save(reg);
    EXPECT_EQ(reg.readDword(Hive::CurrentUser, settingsKey("Rules"), "Count"), 0u);

    DownloadRule first = rule(kByExtension, ".ZIP;.RAR", "20");
    first.name = "Archives";
    list.AddDownloadRule(first);
    DownloadRule second = rule(kRuleFromSite, "example.org", "21");
    second.name = "Site";
    list.AddDownloadRule(second);
    list.save(reg);

    DownloadRuleList reloaded;
    reloaded.load(reg);
    ASSERT_NE(reloaded.DownloadRules(), nullptr);
    const auto& rules = *reloaded.DownloadRules();
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[0].name, "Archives");
    EXPECT_EQ(rules[0].flags, kByExtension);
    EXPECT_EQ(rules[0].var1, ".ZIP;.RAR");
    EXPECT_EQ(rules[0].var2, "20");
    EXPECT_EQ(rules[1].flags, uint32_t{kRuleFromSite});
    EXPECT_EQ(rules[1].var1, "example.org");

    // Removing a rule and saving drops the stale values.
    reloaded.RemoveDownloadRule(rules[0]);
    reloaded.save(reg);
    EXPECT_EQ(reg.readDword(Hive::CurrentUser, settingsKey("Rules"), "Count"), 1u);
    EXPECT_FALSE(reg.readString(Hive::CurrentUser, settingsKey("Rules"), "Name1"));
    EXPECT_EQ(reg.readString(Hive::CurrentUser, settingsKey("Rules"), "Name0"), "Site");
}

TEST(DownloadRuleStore, CorruptCountReadsOnlyTheRulesPresent)
{
    Registry reg;
    const std::string key = settingsKey("Rules");
    reg.writeDword(Hive::CurrentUser, key, "Count", 0xFFFFFFFF);
    reg.writeString(Hive::CurrentUser, key, "Name0", "a");
    reg.writeString(Hive::CurrentUser, key, "Var11", ".ZIP");
    const auto start = std::chrono::steady_clock::now();
    DownloadRuleList list;
    list.load(reg);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ASSERT_NE(list.DownloadRules(), nullptr);
    ASSERT_EQ(list.DownloadRules()->size(), 2u);
    EXPECT_EQ((*list.DownloadRules())[1].var1, ".ZIP");
    EXPECT_EQ((*list.DownloadRules())[1].flags, 0u);
}

TEST(DownloadRuleEdit, NewRulesTakeTheLowestUnusedNumber)
{
    DownloadRuleList list;
    EXPECT_EQ(list.newDownloadRuleName(), "New download rule #1");
    for (const char* name : {"New download rule #1", "New download rule #3", "New download rule #02",
                             "new download rule #2", "New download rule #2x"}) {
        DownloadRule r;
        r.name = name;
        list.AddDownloadRule(r);
    }
    EXPECT_EQ(list.newDownloadRuleName(), "New download rule #2");
    DownloadRule two;
    two.name = "New download rule #2";
    list.AddDownloadRule(two);
    EXPECT_EQ(list.newDownloadRuleName(), "New download rule #4");

    DownloadRule outside;
    EXPECT_FALSE(list.RemoveDownloadRule(outside));
    EXPECT_TRUE(list.RemoveDownloadRule((*list.DownloadRules())[0]));
    EXPECT_EQ(list.newDownloadRuleName(), "New download rule #1");
}

}  // namespace
}  // namespace fetchora
