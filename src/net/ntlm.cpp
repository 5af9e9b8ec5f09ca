#include "net/ntlm.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "net/base64_codec.h"

namespace fetchora {

namespace {

constexpr std::array<uint8_t, 8> kSignature = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr std::string_view kSchemePrefix = "NTLM ";
constexpr LegacyCrypto::DesBlock kLmMagic = {'K', 'G', 'S', '!', '@', '#', '$', '%'};

constexpr std::size_t kNegotiateSize = 32;
constexpr std::size_t kChallengeMinSize = 32;
constexpr std::size_t kChallengeOffset = 24;
constexpr std::size_t kAuthenticateHeaderSize = 64;
constexpr std::size_t kLmPasswordSize = 14;
constexpr std::size_t kMaxFieldLength = 0xFFFF;

void put16(std::vector<uint8_t>& message, std::size_t at, std::size_t value)
{
    message[at] = static_cast<uint8_t>(value);
    message[at + 1] = static_cast<uint8_t>(value >> 8);
}

void put32(std::vector<uint8_t>& message, std::size_t at, std::size_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        message[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get32(std::span<const uint8_t> message, std::size_t at)
{
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= uint32_t{message[at + i]} << (8 * i);
    return value;
}

// A security buffer descriptor: length and maximum (16-bit), offset (32-bit).
void putBuffer(std::vector<uint8_t>& message, std::size_t at, std::size_t length, std::size_t offset)
{
    put16(message, at, length);
    put16(message, at + 2, length);
    put32(message, at + 4, offset);
}

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// Decodes one UTF-8 sequence at `at`; a byte that does not start a valid,
// shortest-form sequence is taken as the Latin-1 character of its value.
char32_t nextCodePoint(std::string_view text, std::size_t& at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    const auto byteAt
        = [&](std::size_t i) { return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0; };
    std::size_t length = 0;
    char32_t codePoint = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || byteAt(1) < low || byteAt(1) > high) {
        ++at;
        return lead;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (!isContinuation(byteAt(i))) {
            ++at;
            return lead;
        }
        codePoint = (codePoint << 6) | (byteAt(i) & 0x3F);
    }
    at += length;
    return codePoint;
}

std::vector<uint8_t> toUtf16Le(std::string_view text)
{
    std::vector<uint8_t> out;
    out.reserve(text.size() * 2);
    const auto putUnit = [&out](char32_t unit) {
        out.push_back(static_cast<uint8_t>(unit));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    };
    for (std::size_t at = 0; at < text.size();) {
        const char32_t codePoint = nextCodePoint(text, at);
        if (codePoint < 0x10000) {
            putUnit(codePoint);
        } else {
            putUnit(0xD800 + ((codePoint - 0x10000) >> 10));
            putUnit(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        }
    }
    return out;
}

}  // namespace

LegacyCrypto::DesKey NtlmDesKey(std::span<const uint8_t, 7> bits)
{
    LegacyCrypto::DesKey key{};
    key[0] = bits[0];
    for (std::size_t i = 1; i < 7; ++i)
        key[i] = static_cast<uint8_t>((bits[i - 1] << (8 - i)) | (bits[i] >> i));
    key[7] = static_cast<uint8_t>(bits[6] << 1);
    for (uint8_t& byte : key) {
        byte &= 0xFE;
        if (std::popcount(byte) % 2 == 0)
            byte |= 0x01;
    }
    return key;
}

std::optional<NtlmHash> NtlmLmHash(const LegacyCrypto& crypto, std::string_view password)
{
    std::array<uint8_t, kLmPasswordSize> upper{};
    const std::size_t used = std::min(password.size(), upper.size());
    for (std::size_t i = 0; i < used; ++i) {
        const auto byte = static_cast<unsigned char>(password[i]);
        upper[i] = byte >= 'a' && byte <= 'z' ? static_cast<uint8_t>(byte - 'a' + 'A') : byte;
    }
    NtlmHash hash{};
    for (std::size_t half = 0; half < 2; ++half) {
        const auto key = NtlmDesKey(std::span<const uint8_t, 7>(upper.data() + 7 * half, 7));
        const auto block = crypto.desEncryptBlock(key, kLmMagic);
        if (!block)
            return std::nullopt;
        std::copy(block->begin(), block->end(), hash.begin() + 8 * half);
    }
    return hash;
}

std::optional<NtlmHash> NtlmNtHash(const LegacyCrypto& crypto, std::string_view password)
{
    return crypto.md4(toUtf16Le(password));
}

std::optional<NtlmResponse> NtlmChallengeResponse(const LegacyCrypto& crypto, const NtlmHash& hash,
                                                  const NtlmChallenge& challenge)
{
    std::array<uint8_t, 21> keyBits{};
    std::copy(hash.begin(), hash.end(), keyBits.begin());
    NtlmResponse response{};
    for (std::size_t third = 0; third < 3; ++third) {
        const auto key = NtlmDesKey(std::span<const uint8_t, 7>(keyBits.data() + 7 * third, 7));
        const auto block = crypto.desEncryptBlock(key, challenge.bytes);
        if (!block)
            return std::nullopt;
        std::copy(block->begin(), block->end(), response.begin() + 8 * third);
    }
    return response;
}

std::optional<NtlmResponse> NtlmLmResponse(const LegacyCrypto& crypto, std::string_view password,
                                           const NtlmChallenge& challenge)
{
    const auto hash = NtlmLmHash(crypto, password);
    return hash ? NtlmChallengeResponse(crypto, *hash, challenge) : std::nullopt;
}

std::optional<NtlmResponse> NtlmNtResponse(const LegacyCrypto& crypto, std::string_view password,
                                           const NtlmChallenge& challenge)
{
    const auto hash = NtlmNtHash(crypto, password);
    return hash ? NtlmChallengeResponse(crypto, *hash, challenge) : std::nullopt;
}

std::string NtlmNegotiate()
{
    // Type 1 with empty domain and workstation buffers (length, maximum and
    // offset all zero) at bytes 16 and 24.
    std::vector<uint8_t> message(kNegotiateSize, 0);
    std::copy(kSignature.begin(), kSignature.end(), message.begin());
    put32(message, 8, 1);
    put32(message, 12, kNtlmFlags);
    return Base64Codec().encode(message);
}

bool NtlmReadChallenge(std::string_view headerValue, NtlmChallenge& challenge)
{
    if (!headerValue.starts_with(kSchemePrefix))
        return false;
    const std::vector<uint8_t> message = Base64Codec().decode(headerValue.substr(kSchemePrefix.size()));
    if (message.size() < kChallengeMinSize || !std::equal(kSignature.begin(), kSignature.end(), message.begin())
        || get32(message, 8) != 2)
        return false;
    std::copy_n(message.begin() + kChallengeOffset, challenge.bytes.size(), challenge.bytes.begin());
    return true;
}

std::string NtlmAuthenticate(std::string_view domain, std::string_view user, std::string_view workstation,
                             std::string_view password, const NtlmChallenge& challenge)
{
    const LegacyCrypto crypto;
    return NtlmAuthenticate(crypto, domain, user, workstation, password, challenge);
}

std::string NtlmAuthenticate(const LegacyCrypto& crypto, std::string_view domain, std::string_view user,
                             std::string_view workstation, std::string_view password, const NtlmChallenge& challenge)
{
    const std::array<std::vector<uint8_t>, 3> names = {toUtf16Le(domain), toUtf16Le(user), toUtf16Le(workstation)};
    for (const auto& name : names) {
        if (name.size() > kMaxFieldLength)
            return {};
    }
    const auto lmResponse = NtlmLmResponse(crypto, password, challenge);
    const auto ntResponse = NtlmNtResponse(crypto, password, challenge);
    if (!lmResponse || !ntResponse)
        return {};

    std::vector<uint8_t> message(kAuthenticateHeaderSize, 0);
    std::copy(kSignature.begin(), kSignature.end(), message.begin());
    put32(message, 8, 3);
    // Domain, user and workstation buffers sit at 28, 36 and 44; an empty
    // name has length 0 and the offset where it would have started.
    std::size_t nameBufferAt = 28;
    for (const auto& name : names) {
        putBuffer(message, nameBufferAt, name.size(), message.size());
        message.insert(message.end(), name.begin(), name.end());
        nameBufferAt += 8;
    }
    const std::size_t lmOffset = message.size();
    const std::size_t ntOffset = lmOffset + lmResponse->size();
    putBuffer(message, 12, lmResponse->size(), lmOffset);
    putBuffer(message, 20, ntResponse->size(), ntOffset);
    putBuffer(message, 52, 0, ntOffset + ntResponse->size());
    put32(message, 60, kNtlmFlags);
    message.insert(message.end(), lmResponse->begin(), lmResponse->end());
    message.insert(message.end(), ntResponse->begin(), ntResponse->end());
    return Base64Codec().encode(message);
}

}  // namespace fetchora
