#include "net/base64_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fetchora {
namespace {

std::vector<uint8_t> bytesOf(std::string_view text)
{
    return {text.begin(), text.end()};
}

struct Vector {
    std::string_view plain;
    std::string_view encoded;
};

// RFC 4648, section 10.
constexpr Vector kRfc4648Vectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(Base64Codec, EncodesRfc4648VectorsWithPaddingToMultipleOfFour)
{
    const Base64Codec codec;
    for (const auto& vector : kRfc4648Vectors)
        EXPECT_EQ(codec.encode(vector.plain), vector.encoded) << "plain: " << vector.plain;
}

TEST(Base64Codec, DecodesRfc4648VectorsBackAndReturnsByteCount)
{
    const Base64Codec codec;
    for (const auto& vector : kRfc4648Vectors) {
        std::vector<uint8_t> out;
        EXPECT_EQ(codec.decode(vector.encoded, out), vector.plain.size()) << vector.encoded;
        EXPECT_EQ(out, bytesOf(vector.plain)) << vector.encoded;
    }
}

TEST(Base64Codec, RoundTripsEveryByteValueWithoutLineBreaks)
{
    std::vector<uint8_t> all;
    for (int value = 255; value >= 0; --value)
        all.push_back(static_cast<uint8_t>(value));
    const Base64Codec codec;
    for (std::size_t length : {1u, 2u, 3u, 100u, 256u}) {
        const std::vector<uint8_t> input(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(length));
        const std::string text = codec.encode(input);
        EXPECT_EQ(text.size(), (length + 2) / 3 * 4);
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(codec.decode(text), input) << "length " << length;
    }
}

TEST(Base64Codec, DecodeStopsAtFirstCharacterOutsideAlphabet)
{
    const Base64Codec codec;
    EXPECT_EQ(codec.decode("Zm9v\r\nYmFy"), bytesOf("foo"));
    EXPECT_EQ(codec.decode("Zm9v YmFy"), bytesOf("foo"));
    EXPECT_EQ(codec.decode("Zm9vYm,Fy"), bytesOf("foob"));
    EXPECT_EQ(codec.decode(" Zm9v"), bytesOf(""));
    std::string withNul("Zm9v", 4);
    withNul += '\0';
    withNul += "YmFy";
    EXPECT_EQ(codec.decode(withNul), bytesOf("foo"));
}

TEST(Base64Codec, DecodeSkipsPaddingWhereverItStands)
{
    const Base64Codec codec;
    EXPECT_EQ(codec.decode("Zm=9v"), bytesOf("foo"));
    EXPECT_EQ(codec.decode("==Zm9vYmFy=="), bytesOf("foobar"));
    EXPECT_EQ(codec.decode("Zm9v=YmFy"), bytesOf("foobar"));
}

TEST(Base64Codec, DecodeSkipsHighBitBytesThatLookLikeLettersAndStopsAtOthers)
{
    const Base64Codec codec;
    // 0xDA carries 'Z' in its low bits, 0xE9 carries 'i': skipped, never decoded.
    EXPECT_EQ(codec.decode("\xDAZm9v"), bytesOf("foo"));
    EXPECT_EQ(codec.decode("Zm\xE9"
                           "9v"),
              bytesOf("foo"));
    // 0x80 carries NUL and 0xA0 carries a space: outside the alphabet, the end.
    EXPECT_EQ(codec.decode("Zm9v\x80YmFy"), bytesOf("foo"));
    EXPECT_EQ(codec.decode("Zm9v\xA0YmFy"), bytesOf("foo"));
    // 0xBD carries '=', which is not a letter of the alphabet.
    EXPECT_EQ(codec.decode("Zm9v\xBDYmFy"), bytesOf("foo"));
}

TEST(Base64Codec, DecodeReplacesPreviousBufferContents)
{
    const Base64Codec codec;
    std::vector<uint8_t> out = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(codec.decode("Zg==", out), 1u);
    EXPECT_EQ(out, bytesOf("f"));
    EXPECT_EQ(codec.decode("", out), 0u);
    EXPECT_TRUE(out.empty());
}

TEST(Base64Codec, DecodeDropsALoneTrailingCharacter)
{
    const Base64Codec codec;
    EXPECT_EQ(codec.decode("Zm9vY"), bytesOf("foo"));
    EXPECT_EQ(codec.decode("Z"), bytesOf(""));
}

}  // namespace
}  // namespace fetchora
