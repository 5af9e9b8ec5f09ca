#include "config/pattern_list.h"

#include <gtest/gtest.h>

#include <string>

namespace fetchora {
namespace {

struct PatternCase {
    const char* patterns;
    const char* extension;
    bool matches;
};

TEST(PatternList, MatchesExtensionsAsTheSettingsWriteThem)
{
    const PatternCase cases[] = {
        // Plain patterns: the same text, any case, with or without the dot.
        {".ZIP;.EXE", ".zip", true},
        {".ZIP;.EXE", "exe", true},
        {".zip", ".ZIP", true},
        {".ZIP", ".ZIPX", false},
        {".ZIP", ".ZI", false},
        {".Z", ".ZIP", false},
        {".GZ;;", ".GZ", true},
        {";", ".", false},
        // "?" is exactly one character.
        {".DO?", ".DOC", true},
        {".DO?", ".DO", false},
        {".DO?", ".DOCX", false},
        {".HTM?", ".HTML", true},
        // Classes: items, ranges, both.
        {".R[0-9][0-9]", ".R00", true},
        {".R[0-9][0-9]", ".r99", true},
        {".R[0-9][0-9]", ".R1", false},
        {".R[0-9][0-9]", ".RAR", false},
        {".A[0-9]?", ".A01", true},
        {".A[0-9]?", ".A1", false},
        {".A[0-9]?", ".AB1", false},
        {".[A-C,X]Z", ".XZ", true},
        {".[A-C,X]Z", ".bz", true},
        {".[A-C,X]Z", ".DZ", false},
        {".[a-c]", ".B", true},
        // A malformed class never matches, nor does an odd item.
        {".R[0-9", ".R0", false},
        {".R[", ".R", false},
        {".R[0-9", ".R[0-9", false},
        {".[AB]", ".A", false},
        {".[]", ".A", false},
        // No run wildcard: "*" is an ordinary character.
        {".*", ".ZIP", false},
        {".*", ".*", true},
    };
    for (const PatternCase& c : cases)
        EXPECT_EQ(matchPatternList(c.patterns, c.extension), c.matches) << c.patterns << " vs " << c.extension;
}

TEST(PatternList, PatternsAndExtensionsAreCutToSixtyCharacters)
{
    const std::string longExtension = "." + std::string(70, 'X');
    const std::string cutPattern = "." + std::string(59, 'X');
    EXPECT_TRUE(matchPatternList(cutPattern, longExtension));
    EXPECT_TRUE(matchPatternList(longExtension, longExtension));
    EXPECT_TRUE(matchPatternList(cutPattern + "YYY", "." + std::string(59, 'x')));
    EXPECT_TRUE(matchPattern(std::string(60, '?'), std::string(70, 'A')));
    // A class cut open by the limit matches nothing.
    EXPECT_TRUE(matchPattern("." + std::string(54, '?') + "[A-Z]", "." + std::string(55, 'A')));
    EXPECT_FALSE(matchPattern("." + std::string(55, '?') + "[A-Z]", "." + std::string(56, 'A')));
}

TEST(PatternList, FileExtensionIsTheTextFromTheLastDot)
{
    EXPECT_EQ(fileExtension("archive.tar.gz"), ".gz");
    EXPECT_EQ(fileExtension("README"), "");
    EXPECT_EQ(fileExtension("name."), ".");
}

}  // namespace
}  // namespace fetchora
