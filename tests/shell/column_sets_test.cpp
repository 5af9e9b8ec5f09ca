#include "shell/column_sets.h"

#include <gtest/gtest.h>

#include "config/settings_key.h"
#include "platform/registry.h"

namespace fetchora {
namespace {

const std::string kKey = settingsKey("MLStatus");

ColumnSet customSet()
{
    ColumnSet set;
    for (size_t i = 0; i < kJobColumnCount; ++i) {
        set.widths[i] = i % 3 == 0 ? 0 : static_cast<uint32_t>(10 + i * 7);
        set.positions[i] = static_cast<uint16_t>(kJobColumnCount - 1 - i);  // reversed
    }
    return set;
}

TEST(ColumnSets, ValuesAreLittleEndianWidthsAndPositions)
{
    ColumnSet set = defaultColumnSet(1);
    set.widths[0] = 0x01020304;
    set.widths[14] = 300;
    set.positions[0] = 14;
    set.positions[14] = 0;
    const std::vector<uint8_t> show = encodeColumnWidths(set);
    const std::vector<uint8_t> order = encodeColumnPositions(set);
    ASSERT_EQ(show.size(), 60u);
    ASSERT_EQ(order.size(), 30u);
    EXPECT_EQ(std::vector<uint8_t>(show.begin(), show.begin() + 4), (std::vector<uint8_t>{4, 3, 2, 1}));
    EXPECT_EQ(std::vector<uint8_t>(show.end() - 4, show.end()), (std::vector<uint8_t>{0x2C, 0x01, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(order.begin(), order.begin() + 4), (std::vector<uint8_t>{14, 0, 1, 0}));
    EXPECT_EQ(std::vector<uint8_t>(order.end() - 2, order.end()), (std::vector<uint8_t>{0, 0}));
}

TEST(ColumnSets, BothSetsRoundTripThroughTheStoreIndependently)
{
    Registry registry;
    const ColumnSet first = customSet();
    ColumnSet second = defaultColumnSet(2);
    second.widths[columnIndex(JobColumn::Comment)] = 0;
    second.widths[columnIndex(JobColumn::Speed)] = 77;
    saveColumnSet(registry, 1, first);
    saveColumnSet(registry, 2, second);
    EXPECT_TRUE(registry.readBinary(Hive::CurrentUser, kKey, "Show1"));
    EXPECT_TRUE(registry.readBinary(Hive::CurrentUser, kKey, "Order2"));
    // Through the text form too, as the store is saved and read back.
    const Registry reread = Registry::fromText(registry.toText());
    EXPECT_EQ(loadColumnSet(reread, 1), first);
    EXPECT_EQ(loadColumnSet(reread, 2), second);
}

TEST(ColumnSets, VisibleColumnsFollowThePositions)
{
    const ColumnSet set = customSet();
    const std::vector<JobColumn> visible = set.visibleColumns();
    ASSERT_FALSE(visible.empty());
    EXPECT_EQ(visible.front(), JobColumn::CompleteTime);  // position 0
    EXPECT_EQ(visible.back(), JobColumn::Resume);  // column 0 is hidden, column 1 is last
    EXPECT_EQ(visible.size(), 10u);
}

TEST(ColumnSets, DefaultsShowProgressInTheQueueAndTimesElsewhere)
{
    const ColumnSet queue = defaultColumnSet(1);
    const ColumnSet finished = defaultColumnSet(2);
    EXPECT_TRUE(queue.visible(JobColumn::Speed));
    EXPECT_TRUE(queue.visible(JobColumn::Left));
    EXPECT_FALSE(queue.visible(JobColumn::CompleteTime));
    EXPECT_FALSE(finished.visible(JobColumn::Speed));
    EXPECT_TRUE(finished.visible(JobColumn::CompleteTime));
    EXPECT_TRUE(decodeColumnSet(encodeColumnWidths(queue), encodeColumnPositions(queue)));
    EXPECT_TRUE(decodeColumnSet(encodeColumnWidths(finished), encodeColumnPositions(finished)));
}

TEST(ColumnSets, MissingShortOrGarbledValuesFallBackToTheDefault)
{
    const ColumnSet good = customSet();
    const std::vector<uint8_t> show = encodeColumnWidths(good);
    const std::vector<uint8_t> order = encodeColumnPositions(good);

    struct Case {
        const char* what;
        std::optional<std::vector<uint8_t>> show;
        std::optional<std::vector<uint8_t>> order;
    };
    auto edited = [](std::vector<uint8_t> bytes, size_t at, uint8_t value) {
        bytes[at] = value;
        return bytes;
    };
    std::vector<uint8_t> allHidden(60, 0);
    std::vector<uint8_t> tooWide = show;
    tooWide[4] = 0x11;  // column 1: 10001 pixels
    tooWide[5] = 0x27;
    const Case cases[] = {
        {"show missing", std::nullopt, order},
        {"order missing", show, std::nullopt},
        {"show 59 bytes", std::vector<uint8_t>(show.begin(), show.end() - 1), order},
        {"order 29 bytes", show, std::vector<uint8_t>(order.begin(), order.end() - 1)},
        {"order empty", show, std::vector<uint8_t>{}},
        {"position twice", show, edited(order, 0, order[2])},
        {"position 15", show, edited(order, 0, 15)},
        {"position high byte", show, edited(order, 1, 1)},
        {"every column hidden", allHidden, order},
        {"width beyond the limit", tooWide, order},
    };
    for (const Case& c : cases) {
        Registry registry;
        saveColumnSet(registry, 2, good);  // the other set stays sound
        if (c.show)
            registry.writeBinary(Hive::CurrentUser, kKey, "Show1", *c.show);
        if (c.order)
            registry.writeBinary(Hive::CurrentUser, kKey, "Order1", *c.order);
        EXPECT_EQ(loadColumnSet(registry, 1), defaultColumnSet(1)) << c.what;
        EXPECT_EQ(loadColumnSet(registry, 2), good) << c.what;
    }
}

TEST(ColumnSets, LongerValuesAreReadAndAStringValueIsIgnored)
{
    const ColumnSet good = customSet();
    std::vector<uint8_t> show = encodeColumnWidths(good);
    std::vector<uint8_t> order = encodeColumnPositions(good);
    show.resize(64, 0xFF);
    order.resize(32, 0xFF);
    Registry registry;
    registry.writeBinary(Hive::CurrentUser, kKey, "Show2", show);
    registry.writeBinary(Hive::CurrentUser, kKey, "Order2", order);
    EXPECT_EQ(loadColumnSet(registry, 2), good);

    registry.writeString(Hive::CurrentUser, kKey, "Show2", std::string(60, 'x'));
    EXPECT_EQ(loadColumnSet(registry, 2), defaultColumnSet(2));
}

TEST(ColumnSets, MainMenuFlagsKeepTheBitsTheViewDoesNotUse)
{
    Registry registry;
    ViewLayoutFlags flags = loadViewLayoutFlags(registry);
    EXPECT_EQ(flags.raw, 2u);
    EXPECT_TRUE(flags.detailVisible());
    EXPECT_FALSE(flags.secondFlag());

    registry.writeDword(Hive::CurrentUser, settingsKey("Main Menu"), "Flags", 0x11);
    flags = loadViewLayoutFlags(registry);
    EXPECT_FALSE(flags.detailVisible());
    EXPECT_TRUE(flags.secondFlag());
    flags.setDetailVisible(true);
    saveViewLayoutFlags(registry, flags);
    EXPECT_EQ(registry.readDword(Hive::CurrentUser, settingsKey("Main Menu"), "Flags"), 0x13u);
    flags.setDetailVisible(false);
    saveViewLayoutFlags(registry, flags);
    EXPECT_EQ(loadViewLayoutFlags(registry).raw, 0x11u);
}

}  // namespace
}  // namespace fetchora
