#pragma once
// A drop-down history of the explorer window: at most 10 texts, newest
// first, kept in a settings section as the values "List0" to "List9" (the
// "Explore" address history, the "Explorer Filter" pattern history).
//
// Thread: the GUI thread. Borrows the registry it loads from and saves to.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

class Registry;

inline constexpr std::string_view kExploreHistorySection = "Explore";
inline constexpr std::string_view kExplorerFilterSection = "Explorer Filter";
inline constexpr std::size_t kExplorerHistorySize = 10;

class ExplorerHistory {
public:
    // emptyDefault: the one entry an empty stored history gives.
    explicit ExplorerHistory(std::string section, std::string emptyDefault = {})
        : m_section(std::move(section)), m_emptyDefault(std::move(emptyDefault))
    {
    }

    // Empty and repeated values are skipped.
    void load(const Registry& registry);
    // Writes List0.. in order and deletes the values no longer used.
    void save(Registry& registry) const;
    // Puts the text first (blanks trimmed), removing an equal older entry
    // and the oldest past 10; a blank text is not remembered.
    void add(std::string_view text);
    void clear() { m_entries.clear(); }
    const std::vector<std::string>& entries() const { return m_entries; }

private:
    std::string m_section;
    std::string m_emptyDefault;
    std::vector<std::string> m_entries;
};

}  // namespace fetchora
