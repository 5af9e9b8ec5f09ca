#pragma once
// The "Select links" filter: the distinct hosts ("%s:%d", host in lower
// case) and file extensions ("(None)" for a name without one) of a list of
// links, each with a tick, an "All" box per list, and the links that survive
// the ticks.
//
// Thread: loop thread (the dialog's). Owns copies of the links.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

inline constexpr std::string_view kNoExtension = "(None)";

// The two keys of a link; empty host when the link is not a URL.
struct LinkKeys {
    std::string host;
    std::string extension;
};
LinkKeys LinkKeysOf(std::string_view url);

enum class TriState { Unticked, Ticked, Mixed };

// One list of the dialog: distinct entries in the order first seen, all ticked.
class TickList {
public:
    // Adds an entry unless present; returns its index.
    std::size_t Add(const std::string& entry);
    std::size_t size() const { return m_entries.size(); }
    const std::string& entry(std::size_t index) const { return m_entries[index]; }
    bool IsTicked(std::size_t index) const { return m_ticked[index]; }
    // Whether the entry is present and ticked.
    bool IsTicked(std::string_view entry) const;
    void Toggle(std::size_t index);
    // The "All" box.
    TriState AllState() const;
    // Clicking "All": a box that shows ticked unticks every entry, otherwise
    // every entry is ticked.
    void ClickAll();
    void SetAll(bool ticked);

private:
    std::vector<std::string> m_entries;
    std::vector<bool> m_ticked;
};

class LinkSelection {
public:
    // Links that are not URLs are dropped: they have no host to list.
    explicit LinkSelection(const std::vector<std::string>& links);

    TickList& hosts() { return m_hosts; }
    TickList& extensions() { return m_extensions; }
    const TickList& hosts() const { return m_hosts; }
    const TickList& extensions() const { return m_extensions; }
    // The links whose host and extension are both ticked, in their order.
    std::vector<std::string> SelectedLinks() const;

private:
    struct Link {
        std::string url;
        LinkKeys keys;
    };
    std::vector<Link> m_links;
    TickList m_hosts;
    TickList m_extensions;
};

}  // namespace fetchora
