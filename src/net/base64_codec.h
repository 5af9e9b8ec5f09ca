#pragma once
// Base64 over the standard alphabet "A-Z a-z 0-9 + /" with "=" padding, as
// used by the Basic and NTLM authorization headers.
//
// Encoding never inserts line breaks. Decoding is lenient in the way header
// values need: "=" is skipped wherever it stands, a byte with the high bit
// set whose low seven bits name an alphabet character is skipped as noise,
// and the first other character outside the alphabet (a space, CR, a comma)
// ends the text.
//
// Thread: any; the codec holds no state and may be shared freely.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

class Base64Codec {
public:
    // Every 3 bytes become 4 characters; the text is padded with "=" to a
    // multiple of 4. An empty input gives an empty text.
    std::string encode(std::span<const uint8_t> bytes) const;
    std::string encode(std::string_view bytes) const;

    // Replaces the contents of `out` with the decoded bytes and returns how
    // many there are. Trailing bits that do not make up a whole byte (a
    // single character left over after the last group) are dropped.
    std::size_t decode(std::string_view text, std::vector<uint8_t>& out) const;
    std::vector<uint8_t> decode(std::string_view text) const;
};

}  // namespace fetchora
