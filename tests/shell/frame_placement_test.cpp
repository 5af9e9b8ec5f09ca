#include "shell/frame_placement.h"

#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fetchora {
namespace {

const FramePlacement kDefault{100, 100, 715, 500, false, false};

TEST(FramePlacement, WritesTheFixedWidthFields)
{
    EXPECT_EQ(formatFramePlacement({12, 34, 1024, 768, true, false}), "0012 0034 1024 0768    1    0");
    EXPECT_EQ(formatFramePlacement({-4, -30, 600, 400, false, true}), "-004 -030 0600 0400    0    1");
}

TEST(FramePlacement, ReadsWhatItWroteExceptTheMinimizedFlag)
{
    const std::vector<FramePlacement> cases = {
        {12, 34, 1024, 768, true, false},
        {-998, -899, -998, -999, false, false},
        {1999, 1999, 1999, 1999, false, false},
        {-4, -30, 600, 400, false, false},
    };
    for (const FramePlacement& placement : cases) {
        SCOPED_TRACE(formatFramePlacement(placement));
        EXPECT_EQ(parseFramePlacement(formatFramePlacement(placement)), placement);
    }
    FramePlacement minimized{10, 20, 300, 400, true, true};
    FramePlacement restored = minimized;
    restored.minimized = false;
    EXPECT_EQ(parseFramePlacement(formatFramePlacement(minimized)), restored);
}

TEST(FramePlacement, RejectsRectanglesOutsideTheAllowedArea)
{
    const std::vector<FramePlacement> outside = {
        {100, -900, 700, 500, false, false},  // top below -899
        {2000, 100, 2100, 500, false, false},  // left not below 2000
        {-999, 100, 700, 500, false, false},  // left below -998
        {100, 100, -999, 500, false, false},  // right below -998
        {100, 100, 700, -1000, false, false},  // bottom below -999
        {100, 100, 2000, 500, false, false},  // right not below 2000
        {100, 2000, 700, 500, false, false},  // top not below 2000
        {100, 100, 700, 2000, false, false},  // bottom not below 2000
    };
    for (const FramePlacement& placement : outside) {
        SCOPED_TRACE(formatFramePlacement(placement));
        EXPECT_EQ(parseFramePlacement(formatFramePlacement(placement)), kDefault);
    }
}

TEST(FramePlacement, ShortOrGarbledTextGivesTheDefaultRectangle)
{
    const std::vector<std::string> bad = {
        "",
        "0012 0034 1024 0768",  // no state field
        "0012 0034 1024",
        "abcd 0034 1024 0768    1    0",
        "0012 xxxx 1024 0768    1    0",
        "0012 0034 1024 0768    -    0",
        "99999999999999999999999 0 0 0 0 0",
    };
    for (const std::string& text : bad) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseFramePlacement(text), kDefault);
    }
    // Integer parsing stops at the first non-digit, as the fields allow.
    EXPECT_EQ(parseFramePlacement("50xx 60xx 70xx 80xx 1"), (FramePlacement{50, 60, 70, 80, true, false}));
}

TEST(FramePlacement, StoredUnderTheWindowsSection)
{
    Registry registry;
    EXPECT_EQ(readFramePlacement(registry, kMainFrameSection), kDefault);
    const FramePlacement placement{40, 50, 900, 700, true, false};
    writeFramePlacement(registry, kMainFrameSection, placement);
    EXPECT_EQ(registry.readString(Hive::CurrentUser, "Software\\Korvex\\Korvex\\Main Frame", "Frame"),
              "0040 0050 0900 0700    1    0");
    EXPECT_EQ(readFramePlacement(registry, kMainFrameSection), placement);
}

}  // namespace
}  // namespace fetchora
