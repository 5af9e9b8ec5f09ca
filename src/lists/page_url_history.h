#pragma once
// The history of the "Enter URL" box used when a saved web page is
// processed: at most 10 base URLs, newest first, kept in the settings section
// "ProcessWeb" as the values "List0" to "List9".
//
// Thread: loop thread. Borrows the registry it loads from and saves to.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

class Registry;

inline constexpr std::string_view kPageUrlHistorySection = "ProcessWeb";
inline constexpr std::size_t kPageUrlHistorySize = 10;
inline constexpr std::string_view kTextEnterPageUrl
    = "Enter the URL where the page was located. Leaving it blank is OK, but any relative items may not be "
      "parsed correctly.";

class PageUrlHistory {
public:
    // Empty and repeated values are skipped.
    void Load(const Registry& registry);
    // Writes List0.. in order and deletes the values no longer used.
    void Save(Registry& registry) const;
    // Puts the URL first, removing an equal older entry and the oldest one
    // past 10. A blank URL is not remembered.
    void Add(std::string_view url);
    const std::vector<std::string>& entries() const { return m_entries; }

private:
    std::vector<std::string> m_entries;
};

}  // namespace fetchora
