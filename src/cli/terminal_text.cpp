#include "cli/terminal_text.h"

#include <cstdint>
#include <cstdio>

namespace fetchora {

namespace {

// The length of the valid UTF-8 sequence at the start of text and its code
// point; 0 when the first byte does not start one.
std::size_t utf8Sequence(std::string_view text, uint32_t& codePoint)
{
    const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t first = byte(0);
    std::size_t length = 0;
    uint32_t minimum = 0;
    if (first < 0x80) {
        codePoint = first;
        return 1;
    }
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
        codePoint = first & 0x1Fu;
        minimum = 0x80;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        codePoint = first & 0x0Fu;
        minimum = 0x800;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        codePoint = first & 0x07u;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (byte(i) & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (codePoint < minimum || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
        return 0;
    return length;
}

void appendEscape(std::string& out, const char* format, unsigned value)
{
    char text[12];
    std::snprintf(text, sizeof text, format, value);
    out += text;
}

}  // namespace

std::string terminalSafe(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        uint32_t codePoint = 0;
        const std::size_t length = utf8Sequence(text, codePoint);
        if (length == 0) {
            appendEscape(out, "\\x%02x", static_cast<uint8_t>(text.front()));
            text.remove_prefix(1);
            continue;
        }
        if (codePoint < 0x20 || codePoint == 0x7F)
            appendEscape(out, "\\x%02x", codePoint);
        else if (codePoint >= 0x80 && codePoint <= 0x9F)
            appendEscape(out, "\\u%04x", codePoint);
        else
            out.append(text.substr(0, length));
        text.remove_prefix(length);
    }
    return out;
}

std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    std::size_t cut = maxBytes;
    // Back off continuation bytes to the start of the sequence they belong to.
    while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

std::size_t utf8Length(std::string_view text)
{
    std::size_t count = 0;
    for (const char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

}  // namespace fetchora
