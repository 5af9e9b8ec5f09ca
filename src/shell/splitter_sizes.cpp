#include "shell/splitter_sizes.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <utility>

#include "platform/registry.h"

namespace fetchora {
namespace {

constexpr std::string_view kSplitterValue = "Splitter";
constexpr size_t kFieldWidth = 5;

void collect(const Pane& pane, std::vector<const Pane*>& out)
{
    out.push_back(&pane);
    for (const Pane& child : pane.children)
        collect(child, out);
}

void collect(Pane& pane, std::vector<Pane*>& out)
{
    out.push_back(&pane);
    for (Pane& child : pane.children)
        collect(child, out);
}

std::optional<int> parseField(std::string_view field)
{
    size_t pos = 0;
    while (pos < field.size() && field[pos] == ' ')
        ++pos;
    int value = 0;
    const char* begin = field.data() + pos;
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop == begin)
        return std::nullopt;
    return value;
}

std::string sectionKey(std::string_view section)
{
    std::string key(kSettingsRoot);
    key += '\\';
    key += section;
    return key;
}

}  // namespace

Pane Pane::leaf(std::string window, int size, bool fixed)
{
    Pane pane;
    pane.window = std::move(window);
    pane.size = size;
    pane.fixed = fixed;
    return pane;
}

Pane Pane::divided(PaneSplit split, Pane first, Pane second, int size, bool fixed)
{
    Pane pane;
    pane.split = split;
    pane.size = size;
    pane.fixed = fixed;
    pane.children.push_back(std::move(first));
    pane.children.push_back(std::move(second));
    return pane;
}

std::string formatSplitterSizes(const Pane& root)
{
    std::vector<const Pane*> panes;
    collect(root, panes);
    std::string text;
    for (const Pane* pane : panes) {
        char field[16];
        std::snprintf(field, sizeof field, "%04d ", std::clamp(pane->size, 0, kMaxPaneSize));
        text += field;
    }
    return text;
}

bool applySplitterSizes(std::string_view text, Pane& root)
{
    std::vector<Pane*> panes;
    collect(root, panes);
    std::vector<int> sizes;
    sizes.reserve(panes.size());
    for (size_t i = 0; i < panes.size(); ++i) {
        const size_t offset = i * kFieldWidth;
        if (offset >= text.size())
            return false;
        const std::optional<int> size = parseField(text.substr(offset, kFieldWidth));
        if (!size)
            return false;
        sizes.push_back(std::clamp(*size, 0, kMaxPaneSize));
    }
    for (size_t i = 0; i < panes.size(); ++i)
        panes[i]->size = panes[i]->fixed ? sizes[i] : std::max(sizes[i], kMinPaneSize);
    return true;
}

bool readSplitterSizes(const Registry& registry, std::string_view section, Pane& root)
{
    const std::optional<std::string> text = registry.readString(Hive::CurrentUser, sectionKey(section), kSplitterValue);
    return text && applySplitterSizes(*text, root);
}

void writeSplitterSizes(Registry& registry, std::string_view section, const Pane& root)
{
    registry.writeString(Hive::CurrentUser, sectionKey(section), kSplitterValue, formatSplitterSizes(root));
}

}  // namespace fetchora
