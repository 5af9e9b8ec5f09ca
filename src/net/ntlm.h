#pragma once
// The three NTLM (version 1) messages the RTSP client exchanges with a server
// that asks for NTLM: the type-1 negotiate message, the server's type-2
// challenge, and the type-3 authenticate message with the LM and NT responses.
//
// Texts in and out are UTF-8. Names and the password are sent as UTF-16LE;
// a byte that is not part of valid UTF-8 stands for the character of the same
// number (Latin-1), so 8-bit text from older settings still maps one byte to
// one character.
//
// The functions that need MD4 or DES return nothing (an empty text, an empty
// optional) when those algorithms are not available at run time; see
// `LegacyCrypto`.
//
// Thread: any; the functions keep no state between calls.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "net/legacy_crypto.h"

namespace fetchora {

// The 8-byte server challenge of a type-2 message.
struct NtlmChallenge {
    std::array<uint8_t, 8> bytes{};
};

using NtlmHash = std::array<uint8_t, 16>;
using NtlmResponse = std::array<uint8_t, 24>;

// Flags of the type-1 and type-3 messages: negotiate Unicode, OEM, request
// target, NTLM, always sign, negotiate 56-bit.
inline constexpr uint32_t kNtlmFlags = 0x80008207;

// Base64 of the 32-byte type-1 message; the same text every time.
std::string NtlmNegotiate();

// `headerValue` is the value of a WWW-Authenticate header. It must begin with
// "NTLM " exactly; the rest must decode to a type-2 message ("NTLMSSP", zero,
// type 2) of at least 32 bytes, whose bytes 24 to 31 are the challenge.
// Anything else returns false and leaves `challenge` untouched.
bool NtlmReadChallenge(std::string_view headerValue, NtlmChallenge& challenge);

// Base64 of the type-3 message. Empty when the crypto is unavailable or a
// name is too long for the message's 16-bit length fields.
std::string NtlmAuthenticate(std::string_view domain, std::string_view user, std::string_view workstation,
                             std::string_view password, const NtlmChallenge& challenge);
std::string NtlmAuthenticate(const LegacyCrypto& crypto, std::string_view domain, std::string_view user,
                             std::string_view workstation, std::string_view password, const NtlmChallenge& challenge);

// The building blocks of the responses, exposed for tests.

// Spreads 56 key bits over 8 bytes, 7 bits each in the high bits, and sets
// each byte's low bit for odd parity.
LegacyCrypto::DesKey NtlmDesKey(std::span<const uint8_t, 7> bits);

// LM hash: "KGS!@#$%" encrypted under the two halves of the password
// upper-cased (ASCII letters) and cut or zero-padded to 14 bytes.
std::optional<NtlmHash> NtlmLmHash(const LegacyCrypto& crypto, std::string_view password);
// NT hash: MD4 of the password in UTF-16LE.
std::optional<NtlmHash> NtlmNtHash(const LegacyCrypto& crypto, std::string_view password);
// The hash zero-padded to 21 bytes gives three DES keys; the challenge
// encrypted under each makes the 24-byte response.
std::optional<NtlmResponse> NtlmChallengeResponse(const LegacyCrypto& crypto, const NtlmHash& hash,
                                                  const NtlmChallenge& challenge);
std::optional<NtlmResponse> NtlmLmResponse(const LegacyCrypto& crypto, std::string_view password,
                                           const NtlmChallenge& challenge);
std::optional<NtlmResponse> NtlmNtResponse(const LegacyCrypto& crypto, std::string_view password,
                                           const NtlmChallenge& challenge);

}  // namespace fetchora
