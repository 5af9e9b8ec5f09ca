#pragma once
// Download rules: which category a new job is filed into, by the site it
// comes from or by its file-name extension. The first enabled rule that
// matches decides.
//
// Thread: loop thread only. Owns its rules; borrows the Registry during load
// and save.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

class Registry;

inline constexpr uint32_t kRuleEnabled = 0x80000000;
inline constexpr uint32_t kRuleConditionMask = 0xFF;
inline constexpr uint32_t kRuleFromSite = 1;  // Var1 is a host name
inline constexpr uint32_t kRuleExtension = 2;  // Var1 is a pattern list of extensions

struct DownloadRule {
    uint32_t flags = kRuleEnabled;
    std::string name;
    std::string var1;  // the condition's value
    std::string var2;  // the target category's id, in decimal
};

class DownloadRuleList {
public:
    // LoadDownloadRules / SaveDownloadRules (the "Rules" section; a save
    // deletes the key and writes it anew, without flushing). A load with a
    // stored count of 0 leaves no list.
    void load(const Registry& registry);
    void save(Registry& registry) const;

    // The rules in order; none when no rule was ever loaded or added.
    const std::vector<DownloadRule>* DownloadRules() const { return m_rules ? &*m_rules : nullptr; }
    std::vector<DownloadRule>* DownloadRules() { return m_rules ? &*m_rules : nullptr; }
    // Creates the list on first use; returns the stored copy, valid until the
    // list is next changed.
    DownloadRule& AddDownloadRule(const DownloadRule& rule);
    // `rule` must be an element of the list; false when it is not.
    bool RemoveDownloadRule(const DownloadRule& rule);

    // "New download rule #n" with the lowest n from 1 that no rule is named
    // with yet.
    std::string newDownloadRuleName() const;

private:
    std::optional<std::vector<DownloadRule>> m_rules;
};

// What the download rules read from a new job, and what they may change.
struct DownloadRuleJob {
    std::string host;
    std::string fileName;  // the job's display name
    uint32_t categoryId = 0;
    std::string saveFolder;
    // Whether the job would take a new folder now (a job whose file already
    // exists keeps its folder).
    bool acceptsNewFolder = true;
};

// The categories of the open job database, as far as the rules need them.
class CategoryFolders {
public:
    virtual ~CategoryFolders() = default;
    // The default folder of the category with that id; none when no such
    // category exists.
    virtual std::optional<std::string> categoryFolder(uint32_t id) const = 0;
};

// Walks the enabled rules in order and applies the first that matches: the
// job moves to the rule's category and, when it accepts a new folder, takes
// the category's folder. The first match ends the walk even when its category
// no longer exists. Returns the matching rule, or none.
const DownloadRule* ApplyDownloadRules(const DownloadRuleList& rules, DownloadRuleJob& job,
                                       const CategoryFolders& categories);

}  // namespace fetchora
