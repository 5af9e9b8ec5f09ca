#include "net/legacy_crypto.h"

#include <gtest/gtest.h>

#include <string_view>

#include <openssl/err.h>

namespace fetchora {
namespace {

std::span<const uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(LegacyCrypto, Md4MatchesRfc1320Vectors)
{
    const LegacyCrypto crypto;
    ASSERT_TRUE(crypto.available()) << "the OpenSSL legacy provider could not be loaded";
    const std::pair<std::string_view, LegacyCrypto::Md4Digest> vectors[] = {
        {"", {0x31, 0xd6, 0xcf, 0xe0, 0xd1, 0x6a, 0xe9, 0x31, 0xb7, 0x3c, 0x59, 0xd7, 0xe0, 0xc0, 0x89, 0xc0}},
        {"abc", {0xa4, 0x48, 0x01, 0x7a, 0xaf, 0x21, 0xd8, 0x52, 0x5f, 0xc1, 0x0a, 0xe8, 0x7a, 0xa6, 0x72, 0x9d}},
        {"message digest",
         {0xd9, 0x13, 0x0a, 0x81, 0x64, 0x54, 0x9f, 0xe8, 0x18, 0x87, 0x48, 0x06, 0xe1, 0xc7, 0x01, 0x4b}},
    };
    for (const auto& [input, digest] : vectors)
        EXPECT_EQ(crypto.md4(bytesOf(input)), digest) << "input: " << input;
}

TEST(LegacyCrypto, DesEncryptsKnownAnswerBlocksIncludingWeakKey)
{
    const LegacyCrypto crypto;
    ASSERT_TRUE(crypto.available());
    EXPECT_EQ(crypto.desEncryptBlock({0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1},
                                     {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}),
              (LegacyCrypto::DesBlock{0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05}));
    // The all-zero key (odd parity set) is weak but must be accepted.
    EXPECT_EQ(crypto.desEncryptBlock({1, 1, 1, 1, 1, 1, 1, 1}, {}),
              (LegacyCrypto::DesBlock{0x8C, 0xA6, 0x4D, 0xE9, 0xC1, 0xB1, 0x23, 0xA7}));
}

TEST(LegacyCrypto, MissingProviderFailsCleanlyWithoutLeavingErrors)
{
    ERR_clear_error();
    const LegacyCrypto crypto("fetchora-no-such-provider");
    EXPECT_FALSE(crypto.available());
    EXPECT_FALSE(crypto.md4(bytesOf("abc")).has_value());
    EXPECT_FALSE(crypto.desEncryptBlock({}, {}).has_value());
    EXPECT_EQ(ERR_peek_error(), 0u);
}

}  // namespace
}  // namespace fetchora
