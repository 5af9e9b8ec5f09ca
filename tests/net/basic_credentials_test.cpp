#include "net/basic_credentials.h"

#include <gtest/gtest.h>

#include "net/base64_codec.h"

namespace fetchora {
namespace {

TEST(BasicCredentials, EncodesUserColonPassword)
{
    // The example of RFC 7617.
    EXPECT_EQ(BasicCredentials("Aladdin", "open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

TEST(BasicCredentials, EmptyPasswordStillSendsUserAndColon)
{
    EXPECT_EQ(BasicCredentials("user", ""), "dXNlcjo=");
}

TEST(BasicCredentials, KeepsColonsAndEightBitBytesOfThePasswordAsTheyAre)
{
    const std::string token = BasicCredentials("anna", "a:b\xC3\xA9");
    const std::vector<uint8_t> plain = Base64Codec().decode(token);
    EXPECT_EQ(std::string(plain.begin(), plain.end()), "anna:a:b\xC3\xA9");
}

}  // namespace
}  // namespace fetchora
