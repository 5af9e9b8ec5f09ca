#pragma once
// The pane tree of a split view and its stored sizes, the "Splitter" value
// under the view's section ("Main Frame" for the main view).
//
// Each pane holds one child window or is split, across or along, into two
// panes; a pane is fixed (its size stays when the view resizes) or
// proportional. The stored text lists the size of every pane depth first (a
// pane, its children, then its next sibling), each as "%04d ".
//
// Thread: loop thread (the view that owns the tree). Pure except for the
// Registry helpers.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

class Registry;

enum class PaneSplit { None, Across, Along };

// Sizes read back are never below this unless the pane is fixed.
inline constexpr int kMinPaneSize = 10;
inline constexpr int kMaxPaneSize = 9999;

struct Pane {
    PaneSplit split = PaneSplit::None;
    bool fixed = false;
    int size = 0;
    // The child window's name when split is None.
    std::string window;
    // Two panes when split is not None, else none.
    std::vector<Pane> children;

    static Pane leaf(std::string window, int size, bool fixed = false);
    static Pane divided(PaneSplit split, Pane first, Pane second, int size, bool fixed = false);
};

std::string formatSplitterSizes(const Pane& root);
// Applies stored sizes to the tree. Returns false, and leaves every size as
// it was, when the text is short or a field is not a number.
bool applySplitterSizes(std::string_view text, Pane& root);

// "Splitter" under kSettingsRoot\section.
bool readSplitterSizes(const Registry& registry, std::string_view section, Pane& root);
void writeSplitterSizes(Registry& registry, std::string_view section, const Pane& root);

}  // namespace fetchora
