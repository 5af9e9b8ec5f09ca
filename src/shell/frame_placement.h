#pragma once
// The main window's stored placement, the "Frame" value under the window's
// section: "%04d %04d %04d %04d %4d %4d" with left, top, right and bottom of
// the normal position, 1 when the window is (or restores to) maximized, and
// 1 when it is minimized.
//
// Thread: any; pure functions, except the Registry helpers, which belong to
// the Registry's owner (the loop thread).
#include <optional>
#include <string>
#include <string_view>

namespace fetchora {

class Registry;

inline constexpr std::string_view kMainFrameSection = "Main Frame";

struct FramePlacement {
    int left = 100;
    int top = 100;
    int right = 715;
    int bottom = 500;
    bool maximized = false;
    bool minimized = false;

    friend bool operator==(const FramePlacement&, const FramePlacement&) = default;
};

std::string formatFramePlacement(const FramePlacement& placement);
// The stored placement; the default rectangle (not maximized) when the text
// is short, garbled or lies outside the screen area a window may have.
FramePlacement parseFramePlacement(std::string_view text);

// "Frame" under kSettingsRoot\section.
FramePlacement readFramePlacement(const Registry& registry, std::string_view section);
void writeFramePlacement(Registry& registry, std::string_view section, const FramePlacement& placement);

}  // namespace fetchora
