// Helpers shared by the fuzz programs: views of libFuzzer's input and a way
// to cut it into the pieces a network read would deliver.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace fetchora::fuzz {

inline std::string_view text(const uint8_t* data, size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

// Calls take(piece) on pieces of the input whose sizes come from its first
// byte, so the parsers see lines and frames split at every kind of place.
template <typename Take> void inPieces(const uint8_t* data, size_t size, Take take)
{
    if (size == 0)
        return;
    const size_t step = 1 + data[0] % 61;
    for (size_t at = 1; at < size; at += step) {
        const size_t length = step < size - at ? step : size - at;
        take(std::span<const uint8_t>(data + at, length));
    }
}

// The input up to the first line feed and the rest after it.
inline std::pair<std::string_view, std::string_view> splitAtLineFeed(std::string_view input)
{
    const size_t cut = input.find('\n');
    if (cut == std::string_view::npos)
        return {input, {}};
    return {input.substr(0, cut), input.substr(cut + 1)};
}

}  // namespace fetchora::fuzz
