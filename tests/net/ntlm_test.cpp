#include "net/ntlm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "net/base64_codec.h"

namespace fetchora {
namespace {

// Hex digits in pairs; blanks anywhere are ignored.
std::vector<uint8_t> hex(std::string_view text)
{
    std::string digits;
    for (const char ch : text) {
        if (ch != ' ')
            digits += ch;
    }
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

template <std::size_t N> std::vector<uint8_t> vec(const std::optional<std::array<uint8_t, N>>& value)
{
    return value ? std::vector<uint8_t>(value->begin(), value->end()) : std::vector<uint8_t>{};
}

uint32_t le32(const std::vector<uint8_t>& message, std::size_t at)
{
    return message[at] | (message[at + 1] << 8) | (message[at + 2] << 16) | (uint32_t{message[at + 3]} << 24);
}

uint16_t le16(const std::vector<uint8_t>& message, std::size_t at)
{
    return static_cast<uint16_t>(message[at] | (message[at + 1] << 8));
}

std::string base64(const std::vector<uint8_t>& bytes)
{
    return Base64Codec().encode(bytes);
}

// [MS-NLMP] section 4.2.2 (NTLM v1 without extended session security), user
// "User", domain "Domain", password "Password".
const NtlmChallenge kPublishedChallenge{{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
const auto kPublishedNtHash = hex("a4 f4 9c 40 65 10 bd ca b6 82 4e e7 c3 0f d8 52");
const auto kPublishedLmHash = hex("e5 2c ac 67 41 9a 9a 22 4a 3b 10 8f 3f a6 cb 6d");
const auto kPublishedNtResponse = hex("67 c4 30 11 f3 02 98 a2 ad 35 ec e6 4f 16 33 1c 44 bd be d9 27 84 1f 94");
const auto kPublishedLmResponse = hex("98 de f7 b8 7f 88 aa 5d af e2 df 77 96 88 a1 72 de f1 1c 7d 5c cd ef 13");

class Ntlm : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_crypto.available()) << "the OpenSSL legacy provider could not be loaded"; }

    std::vector<uint8_t> authenticate(std::string_view domain, std::string_view user, std::string_view workstation,
                                      std::string_view password, const NtlmChallenge& challenge)
    {
        const std::string text = NtlmAuthenticate(m_crypto, domain, user, workstation, password, challenge);
        EXPECT_FALSE(text.empty());
        return Base64Codec().decode(text);
    }

    LegacyCrypto m_crypto;
};

TEST(NtlmDesKey, SpreadsFiftySixBitsOverEightOddParityBytes)
{
    const std::array<uint8_t, 7> inputs[] = {
        {0, 0, 0, 0, 0, 0, 0},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {'P', 'A', 'S', 'S', 'W', 'O', 'R'},
        {0x80, 0x01, 0x40, 0x02, 0x20, 0x04, 0x10},
        {0xa4, 0xf4, 0x9c, 0x40, 0x65, 0x10, 0xbd},
    };
    for (const auto& input : inputs) {
        const auto key = NtlmDesKey(input);
        uint64_t spread = 0;
        for (const uint8_t byte : key) {
            EXPECT_EQ(std::popcount(byte) % 2, 1) << "byte " << int(byte) << " lacks odd parity";
            spread = (spread << 7) | (byte >> 1);
        }
        uint64_t original = 0;
        for (const uint8_t byte : input)
            original = (original << 8) | byte;
        EXPECT_EQ(spread, original);
    }
    EXPECT_EQ(NtlmDesKey(inputs[0]), (LegacyCrypto::DesKey{1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(NtlmDesKey(inputs[1]), (LegacyCrypto::DesKey{0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE}));
}

TEST_F(Ntlm, MatchesPublishedVersionOneVectors)
{
    EXPECT_EQ(vec(NtlmNtHash(m_crypto, "Password")), kPublishedNtHash);
    EXPECT_EQ(vec(NtlmLmHash(m_crypto, "Password")), kPublishedLmHash);
    EXPECT_EQ(vec(NtlmNtResponse(m_crypto, "Password", kPublishedChallenge)), kPublishedNtResponse);
    EXPECT_EQ(vec(NtlmLmResponse(m_crypto, "Password", kPublishedChallenge)), kPublishedLmResponse);
}

TEST_F(Ntlm, MatchesWellKnownHashesOfCommonPasswords)
{
    EXPECT_EQ(vec(NtlmLmHash(m_crypto, "password")), hex("e5 2c ac 67 41 9a 9a 22 4a 3b 10 8f 3f a6 cb 6d"));
    EXPECT_EQ(vec(NtlmNtHash(m_crypto, "password")), hex("88 46 f7 ea ee 8f b1 17 ad 06 bd d8 30 b7 58 6c"));
    EXPECT_EQ(vec(NtlmLmHash(m_crypto, "")), hex("aa d3 b4 35 b5 14 04 ee aa d3 b4 35 b5 14 04 ee"));
    EXPECT_EQ(vec(NtlmNtHash(m_crypto, "")), hex("31 d6 cf e0 d1 6a e9 31 b7 3c 59 d7 e0 c0 89 c0"));
}

TEST_F(Ntlm, LmHashUsesOnlyTheFirstFourteenCharacters)
{
    const auto fourteen = NtlmLmHash(m_crypto, "abcdefghijklmn");
    ASSERT_TRUE(fourteen.has_value());
    EXPECT_EQ(NtlmLmHash(m_crypto, "abcdefghijklmnopqrstuvwxyz"), fourteen);
    EXPECT_EQ(NtlmLmHash(m_crypto, "ABCDEFGHIJKLMN"), fourteen);
    EXPECT_NE(NtlmLmHash(m_crypto, "abcdefghijklm"), fourteen);
    EXPECT_NE(NtlmNtHash(m_crypto, "abcdefghijklmnopqrstuvwxyz"), NtlmNtHash(m_crypto, "abcdefghijklmn"));
}

TEST(NtlmNegotiate, IsTheSameThirtyTwoBytesEveryTime)
{
    const std::string text = NtlmNegotiate();
    EXPECT_EQ(text, "TlRMTVNTUAABAAAAB4IAgAAAAAAAAAAAAAAAAAAAAAA=");
    EXPECT_EQ(NtlmNegotiate(), text);
    EXPECT_EQ(Base64Codec().decode(text),
              hex("4e 54 4c 4d 53 53 50 00  01 00 00 00  07 82 00 80"
                  "00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00"));
}

TEST(NtlmReadChallenge, TakesTheEightBytesAtOffsetTwentyFour)
{
    // A type-2 message with a target name, as a server sends it.
    const auto message = hex("4e 54 4c 4d 53 53 50 00 02 00 00 00 0c 00 0c 00 38 00 00 00 33 82 02 e2"
                             "01 23 45 67 89 ab cd ef 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
                             "06 00 70 17 00 00 00 0f 53 00 65 00 72 00 76 00 65 00 72 00");
    NtlmChallenge challenge;
    ASSERT_TRUE(NtlmReadChallenge("NTLM " + base64(message) + "\r\n", challenge));
    EXPECT_EQ(challenge.bytes, kPublishedChallenge.bytes);

    std::vector<uint8_t> minimal(message.begin(), message.begin() + 32);
    NtlmChallenge fromMinimal;
    ASSERT_TRUE(NtlmReadChallenge("NTLM " + base64(minimal), fromMinimal));
    EXPECT_EQ(fromMinimal.bytes, kPublishedChallenge.bytes);
}

TEST(NtlmReadChallenge, RejectsOtherSchemesAndGarbledMessagesWithoutTouchingTheChallenge)
{
    const auto valid = hex("4e 54 4c 4d 53 53 50 00 02 00 00 00 00 00 00 00 00 00 00 00 07 82 00 80"
                           "01 23 45 67 89 ab cd ef");
    auto shortMessage = valid;
    shortMessage.resize(valid.size() - 1);
    auto wrongSignature = valid;
    wrongSignature[4] = 'X';
    auto wrongType = valid;
    wrongType[8] = 1;

    const std::string rejected[] = {
        "ntlm " + base64(valid),
        " NTLM " + base64(valid),
        "NTLM" + base64(valid),
        "Negotiate " + base64(valid),
        "Basic realm=\"x\"",
        "NTLM",
        "NTLM ",
        "NTLM !!!!",
        "NTLM  " + base64(valid),
        "NTLM " + base64(shortMessage),
        "NTLM " + base64(wrongSignature),
        "NTLM " + base64(wrongType),
        "",
    };
    for (const auto& value : rejected) {
        NtlmChallenge challenge{{9, 9, 9, 9, 9, 9, 9, 9}};
        EXPECT_FALSE(NtlmReadChallenge(value, challenge)) << value;
        EXPECT_THAT(challenge.bytes, ::testing::Each(9)) << value;
    }
}

TEST_F(Ntlm, AuthenticateForFourLetterUserIsOneHundredTwentyBytes)
{
    const auto message = authenticate("", "User", "", "Password", kPublishedChallenge);
    auto expected = hex("4e 54 4c 4d 53 53 50 00  03 00 00 00"
                        "18 00 18 00 48 00 00 00"  // LM response at 72
                        "18 00 18 00 60 00 00 00"  // NT response at 96
                        "00 00 00 00 40 00 00 00"  // empty domain at 64
                        "08 00 08 00 40 00 00 00"  // user at 64
                        "00 00 00 00 48 00 00 00"  // empty workstation at 72
                        "00 00 00 00 78 00 00 00"  // session key, at the end
                        "07 82 00 80"
                        "55 00 73 00 65 00 72 00");
    expected.insert(expected.end(), kPublishedLmResponse.begin(), kPublishedLmResponse.end());
    expected.insert(expected.end(), kPublishedNtResponse.begin(), kPublishedNtResponse.end());
    ASSERT_EQ(expected.size(), 120u);
    EXPECT_EQ(message, expected);
}

TEST_F(Ntlm, AuthenticatePlacesDomainUserAndWorkstationInOrderBeforeTheResponses)
{
    const auto message = authenticate("Domain", "User", "COMPUTER", "Password", kPublishedChallenge);
    ASSERT_EQ(message.size(), 64u + 12 + 8 + 16 + 48);
    const struct {
        std::size_t at;
        uint16_t length;
        uint32_t offset;
    } buffers[] = {{12, 24, 100}, {20, 24, 124}, {28, 12, 64}, {36, 8, 76}, {44, 16, 84}, {52, 0, 148}};
    for (const auto& buffer : buffers) {
        EXPECT_EQ(le16(message, buffer.at), buffer.length) << "buffer at " << buffer.at;
        EXPECT_EQ(le16(message, buffer.at + 2), buffer.length) << "buffer at " << buffer.at;
        EXPECT_EQ(le32(message, buffer.at + 4), buffer.offset) << "buffer at " << buffer.at;
    }
    EXPECT_EQ(le32(message, 60), kNtlmFlags);
    const std::string names(message.begin() + 64, message.begin() + 100);
    EXPECT_EQ(names, std::string("D\0o\0m\0a\0i\0n\0U\0s\0e\0r\0C\0O\0M\0P\0U\0T\0E\0R\0", 36));
    EXPECT_EQ(std::vector<uint8_t>(message.begin() + 100, message.begin() + 124), kPublishedLmResponse);
    EXPECT_EQ(std::vector<uint8_t>(message.begin() + 124, message.end()), kPublishedNtResponse);
}

TEST_F(Ntlm, NamesAndPasswordAreSentAsUtf16)
{
    // "Jürgen" in UTF-8, a lone Latin-1 byte, and a character beyond U+FFFF.
    const auto message = authenticate("", "J\xC3\xBCrgen", "\xFC\xF0\x9F\x98\x80", "", kPublishedChallenge);
    EXPECT_EQ(le16(message, 36), 12);
    EXPECT_EQ(std::vector<uint8_t>(message.begin() + 64, message.begin() + 76),
              hex("4a 00 fc 00 72 00 67 00 65 00 6e 00"));
    EXPECT_EQ(le16(message, 44), 6);
    EXPECT_EQ(std::vector<uint8_t>(message.begin() + 76, message.begin() + 82), hex("fc 00 3d d8 00 de"));

    // The NT hash is MD4 over the same UTF-16: "é" must not hash as two bytes.
    EXPECT_EQ(NtlmNtHash(m_crypto, "\xC3\xA9"), NtlmNtHash(m_crypto, "\xE9"));
    EXPECT_NE(NtlmNtHash(m_crypto, "\xC3\xA9"), NtlmNtHash(m_crypto, "\xC3\xC3"));
}

TEST_F(Ntlm, AuthenticateRefusesNamesTooLongForTheLengthField)
{
    EXPECT_FALSE(NtlmAuthenticate(m_crypto, "", std::string(32767, 'u'), "", "pw", kPublishedChallenge).empty());
    EXPECT_TRUE(NtlmAuthenticate(m_crypto, "", std::string(32768, 'u'), "", "pw", kPublishedChallenge).empty());
    EXPECT_TRUE(NtlmAuthenticate(m_crypto, std::string(40000, 'd'), "u", "", "pw", kPublishedChallenge).empty());
}

TEST(NtlmWithoutCrypto, GivesNothingInsteadOfWrongResponses)
{
    const LegacyCrypto missing("fetchora-no-such-provider");
    ASSERT_FALSE(missing.available());
    EXPECT_FALSE(NtlmLmHash(missing, "Password").has_value());
    EXPECT_FALSE(NtlmNtHash(missing, "Password").has_value());
    EXPECT_FALSE(NtlmLmResponse(missing, "Password", kPublishedChallenge).has_value());
    EXPECT_TRUE(NtlmAuthenticate(missing, "", "User", "", "Password", kPublishedChallenge).empty());
}

TEST(NtlmAuthenticate, DefaultCryptoProducesThePublishedResponses)
{
    const auto message = Base64Codec().decode(NtlmAuthenticate("", "User", "", "Password", kPublishedChallenge));
    ASSERT_EQ(message.size(), 120u);
    EXPECT_EQ(std::vector<uint8_t>(message.begin() + 96, message.end()), kPublishedNtResponse);
}

}  // namespace
}  // namespace fetchora
