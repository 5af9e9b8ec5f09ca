#include "model/kxd_archive.h"

#include <gtest/gtest.h>
#include <string>

namespace fetchora {
namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int value : values)
        out.push_back(static_cast<char>(value));
    return out;
}

TEST(KxdArchive, IntegersAreLittleEndianWithTheLowWordOfA64BitValueFirst)
{
    KxdWriter writer;
    writer.writeU8(0xAB);
    writer.writeI16(-2);
    writer.writeU32(0x11223344);
    writer.writeI64(0x0000000500000001LL);
    EXPECT_EQ(writer.bytes(),
              bytes({0xAB, 0xFE, 0xFF, 0x44, 0x33, 0x22, 0x11, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00}));

    KxdReader reader(writer.bytes());
    EXPECT_EQ(reader.readU8(), 0xAB);
    EXPECT_EQ(reader.readI16(), -2);
    EXPECT_EQ(reader.readU32(), 0x11223344u);
    EXPECT_EQ(reader.readI64(), 0x0000000500000001LL);
    EXPECT_TRUE(reader.ok());
    EXPECT_EQ(reader.remaining(), 0u);
}

TEST(KxdArchive, StringLengthsUseTheShortestOfTheThreeForms)
{
    struct Case {
        size_t length;
        std::string prefix;
    };
    const Case cases[] = {
        {0, bytes({0x00})},
        {254, bytes({0xFE})},
        {255, bytes({0xFF, 0xFF, 0x00})},
        {65533, bytes({0xFF, 0xFD, 0xFF})},
        // 0xFFFE would read as a wide-string marker, so 65534 already takes the long form.
        {65534, bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
        {70000, bytes({0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00})},
    };
    for (const Case& c : cases) {
        const std::string text(c.length, 'x');
        KxdWriter writer;
        writer.writeString(text);
        EXPECT_EQ(writer.bytes().substr(0, c.prefix.size()), c.prefix) << c.length;
        EXPECT_EQ(writer.bytes().size(), c.prefix.size() + c.length) << c.length;
        KxdReader reader(writer.bytes());
        EXPECT_EQ(reader.readString(), text) << c.length;
        EXPECT_TRUE(reader.ok());
        EXPECT_EQ(reader.remaining(), 0u);
    }
}

TEST(KxdArchive, ReaderAcceptsLongerLengthFormsThanNeededAndKeepsBytesAsStored)
{
    // "ab" with a 16-bit length, then "\xE9t\xE9" (Windows-1252 bytes) with a 32-bit length.
    const std::string data
        = bytes({0xFF, 0x02, 0x00, 'a', 'b', 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0x00, 0xE9, 't', 0xE9});
    KxdReader reader(data);
    EXPECT_EQ(reader.readString(), "ab");
    EXPECT_EQ(reader.readString(), "\xE9t\xE9");
    EXPECT_TRUE(reader.ok());
}

TEST(KxdArchive, ReadsPastTheEndFailOnceAndStayFailed)
{
    const std::string data = bytes({0x01, 0x02, 0x03});
    KxdReader reader(data);
    EXPECT_EQ(reader.readU8(), 1);
    EXPECT_EQ(reader.readU32(), 0u);
    EXPECT_EQ(reader.error(), ArchiveError::EndOfFile);
    EXPECT_EQ(reader.errorOffset(), 1u);
    // Later reads give nothing, even ones that would fit, and the first error stays.
    EXPECT_EQ(reader.readU8(), 0);
    EXPECT_EQ(reader.readString(), "");
    EXPECT_EQ(reader.errorOffset(), 1u);
    EXPECT_EQ(reader.offset(), 1u);
}

TEST(KxdArchive, StringLengthsBeyondTheDataOrOfUnknownFormsAreDamage)
{
    struct Case {
        std::string data;
        ArchiveError error;
    };
    const Case cases[] = {
        {bytes({0x05, 'a', 'b'}), ArchiveError::EndOfFile},
        {bytes({0xFF, 0x10}), ArchiveError::EndOfFile},
        {bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 'a'}), ArchiveError::EndOfFile},  // 4 GiB - 2 claimed
        {bytes({0xFF, 0xFE, 0xFF, 0x01, 'a'}), ArchiveError::BadLength},  // wide-string marker
        {bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0, 0, 0, 0, 0}), ArchiveError::BadLength},
    };
    for (const Case& c : cases) {
        KxdReader reader(c.data);
        EXPECT_EQ(reader.readString(), "");
        EXPECT_EQ(reader.error(), c.error);
        EXPECT_EQ(reader.errorOffset(), 0u);
    }
}

TEST(KxdArchive, CountsAreCheckedAgainstTheRemainingBytes)
{
    const std::string data(40, '\0');
    {
        KxdReader reader(data);
        EXPECT_TRUE(reader.checkCount(5, 8, 0));
        EXPECT_TRUE(reader.checkCount(0, 8, 0));
        EXPECT_FALSE(reader.checkCount(6, 8, 0));
        EXPECT_EQ(reader.error(), ArchiveError::BadCount);
    }
    {
        KxdReader reader(data);
        EXPECT_FALSE(reader.checkCount(-1, 1, 7));
        EXPECT_EQ(reader.error(), ArchiveError::BadCount);
        EXPECT_EQ(reader.errorOffset(), 7u);
    }
    {
        KxdReader reader(data);
        EXPECT_FALSE(reader.checkCount(0x7FFFFFFF, 16, 0));
    }
}

}  // namespace
}  // namespace fetchora
