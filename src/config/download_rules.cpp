#include "config/download_rules.h"

#include "config/list_registry.h"
#include "config/pattern_list.h"
#include "config/settings_key.h"
#include "lang/string_table.h"
#include "platform/registry.h"
#include "platform/text_utils.h"

#include <charconv>
#include <unordered_set>

namespace fetchora {

namespace {

constexpr std::string_view kSection = "Rules";
constexpr uint32_t kNewRuleName = 61403;

std::string numbered(std::string_view name, size_t index)
{
    return std::string(name) + std::to_string(index);
}

// The whole text must be a decimal number that fits 32 bits.
std::optional<uint32_t> parseCategoryId(std::string_view text)
{
    text = trimBoth(text, kSpaceTab);
    uint32_t id = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return id;
}

bool ruleMatches(const DownloadRule& rule, const DownloadRuleJob& job)
{
    switch (rule.flags & kRuleConditionMask) {
    case kRuleFromSite: return equalsIgnoringCase(rule.var1, job.host);
    case kRuleExtension: {
        const std::string_view extension = fileExtension(job.fileName);
        return !extension.empty() && matchPatternList(rule.var1, extension);
    }
    default: return false;
    }
}

}  // namespace

void DownloadRuleList::load(const Registry& registry)
{
    m_rules.reset();
    const auto count = static_cast<uint32_t>(readListInt(registry, kSection, "Count", 0));
    if (count == 0)
        return;
    m_rules.emplace();
    const size_t toLoad
        = entriesToLoad(count, numberedValueExtent(registry, kSection, {"Flags", "Name", "Var1", "Var2"}));
    for (size_t i = 0; i < toLoad; ++i) {
        DownloadRule rule;
        rule.flags = static_cast<uint32_t>(readListInt(registry, kSection, numbered("Flags", i), 0));
        rule.name = readListText(registry, kSection, numbered("Name", i));
        rule.var1 = readListText(registry, kSection, numbered("Var1", i));
        rule.var2 = readListText(registry, kSection, numbered("Var2", i));
        m_rules->push_back(std::move(rule));
    }
}

void DownloadRuleList::save(Registry& registry) const
{
    registry.deleteKeyTree(Hive::CurrentUser, settingsKey(kSection));
    writeListInt(registry, kSection, "Count", m_rules ? static_cast<int32_t>(m_rules->size()) : 0);
    if (!m_rules)
        return;
    for (size_t i = 0; i < m_rules->size(); ++i) {
        const DownloadRule& rule = (*m_rules)[i];
        writeListText(registry, kSection, numbered("Name", i), rule.name);
        writeListInt(registry, kSection, numbered("Flags", i), static_cast<int32_t>(rule.flags));
        writeListText(registry, kSection, numbered("Var1", i), rule.var1);
        writeListText(registry, kSection, numbered("Var2", i), rule.var2);
    }
}

DownloadRule& DownloadRuleList::AddDownloadRule(const DownloadRule& rule)
{
    if (!m_rules)
        m_rules.emplace();
    m_rules->push_back(rule);
    return m_rules->back();
}

bool DownloadRuleList::RemoveDownloadRule(const DownloadRule& rule)
{
    if (!m_rules || m_rules->empty())
        return false;
    const DownloadRule* first = m_rules->data();
    if (&rule < first || &rule >= first + m_rules->size())
        return false;
    m_rules->erase(m_rules->begin() + (&rule - first));
    return true;
}

std::string DownloadRuleList::newDownloadRuleName() const
{
    const std::string prefix = std::string(builtinString(kNewRuleName)) + " #";
    std::unordered_set<size_t> used;
    if (m_rules) {
        for (const DownloadRule& rule : *m_rules) {
            if (rule.name.size() <= prefix.size() || rule.name.compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::string_view digits = std::string_view(rule.name).substr(prefix.size());
            size_t number = 0;
            auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
            if (error == std::errc{} && end == digits.data() + digits.size() && digits[0] != '0')
                used.insert(number);
        }
    }
    size_t number = 1;
    while (used.count(number))
        ++number;
    return prefix + std::to_string(number);
}

const DownloadRule* ApplyDownloadRules(const DownloadRuleList& rules, DownloadRuleJob& job,
                                       const CategoryFolders& categories)
{
    const std::vector<DownloadRule>* list = rules.DownloadRules();
    if (!list)
        return nullptr;
    for (const DownloadRule& rule : *list) {
        if (!(rule.flags & kRuleEnabled) || !ruleMatches(rule, job))
            continue;
        const std::optional<uint32_t> target = parseCategoryId(rule.var2);
        const std::optional<std::string> folder = target ? categories.categoryFolder(*target) : std::nullopt;
        if (!folder)
            return &rule;
        if (job.categoryId == *target && job.saveFolder == *folder)
            return &rule;
        job.categoryId = *target;
        if (job.saveFolder != *folder && job.acceptsNewFolder)
            job.saveFolder = *folder;
        return &rule;
    }
    return nullptr;
}

}  // namespace fetchora
