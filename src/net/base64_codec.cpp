#include "net/base64_codec.h"

#include <array>

namespace fetchora {

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr int8_t kNotInAlphabet = -1;

constexpr std::array<int8_t, 128> makeDecodeTable()
{
    std::array<int8_t, 128> table{};
    table.fill(kNotInAlphabet);
    for (std::size_t i = 0; i < kAlphabet.size(); ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return table;
}

constexpr std::array<int8_t, 128> kDecodeTable = makeDecodeTable();

}  // namespace

std::string Base64Codec::encode(std::span<const uint8_t> bytes) const
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        text += kAlphabet[(group >> 18) & 0x3F];
        text += kAlphabet[(group >> 12) & 0x3F];
        text += kAlphabet[(group >> 6) & 0x3F];
        text += kAlphabet[group & 0x3F];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        const uint32_t group = uint32_t{bytes[i]} << 16;
        text += kAlphabet[(group >> 18) & 0x3F];
        text += kAlphabet[(group >> 12) & 0x3F];
        text += "==";
    } else if (rest == 2) {
        const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8);
        text += kAlphabet[(group >> 18) & 0x3F];
        text += kAlphabet[(group >> 12) & 0x3F];
        text += kAlphabet[(group >> 6) & 0x3F];
        text += '=';
    }
    return text;
}

std::string Base64Codec::encode(std::string_view bytes) const
{
    return encode(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

std::size_t Base64Codec::decode(std::string_view text, std::vector<uint8_t>& out) const
{
    out.clear();
    out.reserve(text.size() / 4 * 3 + 2);
    uint32_t bits = 0;
    int bitCount = 0;
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (ch == '=')
            continue;
        if (byte >= 0x80) {
            // A byte with the high bit set is never Base64 data. Looked up by
            // its low seven bits it would read as an alphabet letter; such a
            // byte is stray 8-bit noise and is skipped like padding, never
            // decoded as that letter (which would silently change the
            // output). Any other high-bit byte is simply outside the
            // alphabet and ends the text below.
            if (kDecodeTable[byte & 0x7F] != kNotInAlphabet)
                continue;
            break;
        }
        const int8_t value = kDecodeTable[byte];
        if (value == kNotInAlphabet)
            break;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            out.push_back(static_cast<uint8_t>(bits >> bitCount));
            bits &= (1u << bitCount) - 1;
        }
    }
    return out.size();
}

std::vector<uint8_t> Base64Codec::decode(std::string_view text) const
{
    std::vector<uint8_t> out;
    decode(text, out);
    return out;
}

}  // namespace fetchora
