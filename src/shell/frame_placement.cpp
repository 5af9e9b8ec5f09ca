#include "shell/frame_placement.h"

#include <charconv>
#include <cstdio>

#include "platform/registry.h"

namespace fetchora {
namespace {

constexpr std::string_view kFrameValue = "Frame";

// Integer parsing as the stored form expects: blanks, an optional sign and
// at least one digit, from offset on. Nothing when no number starts there.
std::optional<int> intAt(std::string_view text, size_t offset)
{
    if (offset >= text.size())
        return std::nullopt;
    size_t pos = offset;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    if (pos < text.size() && text[pos] == '+')
        ++pos;
    int value = 0;
    const char* begin = text.data() + pos;
    const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
    if (error != std::errc() || end == begin)
        return std::nullopt;
    return value;
}

bool acceptable(const FramePlacement& p)
{
    return p.left >= -998 && p.right >= -998 && p.top >= -899 && p.bottom >= -999 && p.left < 2000 && p.right < 2000
        && p.top < 2000 && p.bottom < 2000;
}

std::string sectionKey(std::string_view section)
{
    std::string key(kSettingsRoot);
    key += '\\';
    key += section;
    return key;
}

}  // namespace

std::string formatFramePlacement(const FramePlacement& p)
{
    char text[96];
    std::snprintf(text, sizeof text, "%04d %04d %04d %04d %4d %4d", p.left, p.top, p.right, p.bottom,
                  p.maximized ? 1 : 0, p.minimized ? 1 : 0);
    return text;
}

FramePlacement parseFramePlacement(std::string_view text)
{
    const std::optional<int> left = intAt(text, 0), top = intAt(text, 5), right = intAt(text, 10),
                             bottom = intAt(text, 15), maximized = intAt(text, 20);
    if (!left || !top || !right || !bottom || !maximized)
        return {};
    FramePlacement placement{*left, *top, *right, *bottom, *maximized != 0, false};
    if (!acceptable(placement))
        return {};
    // The minimized flag (offset 25) is read and ignored: a window always
    // comes back restored or maximized.
    return placement;
}

FramePlacement readFramePlacement(const Registry& registry, std::string_view section)
{
    const std::optional<std::string> text = registry.readString(Hive::CurrentUser, sectionKey(section), kFrameValue);
    return text ? parseFramePlacement(*text) : FramePlacement{};
}

void writeFramePlacement(Registry& registry, std::string_view section, const FramePlacement& placement)
{
    registry.writeString(Hive::CurrentUser, sectionKey(section), kFrameValue, formatFramePlacement(placement));
}

}  // namespace fetchora
