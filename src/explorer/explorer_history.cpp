#include "explorer/explorer_history.h"

#include <algorithm>

#include "config/list_registry.h"
#include "config/settings_key.h"
#include "platform/registry.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

std::string valueName(std::size_t index)
{
    return "List" + std::to_string(index);
}

}  // namespace

void ExplorerHistory::load(const Registry& registry)
{
    m_entries.clear();
    for (std::size_t i = 0; i < kExplorerHistorySize; ++i) {
        const std::string value = readListText(registry, m_section, valueName(i));
        if (value.empty() || std::find(m_entries.begin(), m_entries.end(), value) != m_entries.end())
            continue;
        m_entries.push_back(value);
    }
    if (m_entries.empty() && !m_emptyDefault.empty())
        m_entries.push_back(m_emptyDefault);
}

void ExplorerHistory::save(Registry& registry) const
{
    for (std::size_t i = 0; i < kExplorerHistorySize; ++i) {
        if (i < m_entries.size())
            writeListText(registry, m_section, valueName(i), m_entries[i]);
        else
            registry.deleteValue(Hive::CurrentUser, settingsKey(m_section), valueName(i));
    }
}

void ExplorerHistory::add(std::string_view text)
{
    const std::string_view trimmed = trimBoth(text, kSpaceTab);
    if (trimmed.empty())
        return;
    const auto old = std::find(m_entries.begin(), m_entries.end(), trimmed);
    if (old != m_entries.end())
        m_entries.erase(old);
    m_entries.insert(m_entries.begin(), std::string(trimmed));
    if (m_entries.size() > kExplorerHistorySize)
        m_entries.resize(kExplorerHistorySize);
}

}  // namespace fetchora
