#include "lists/link_selection.h"

#include <algorithm>
#include <cctype>

#include "net/url.h"
#include "platform/text_utils.h"

namespace fetchora {

LinkKeys LinkKeysOf(std::string_view url)
{
    LinkKeys keys;
    const auto entry = ParseUrl(url);
    if (!entry)
        return keys;
    std::string host = entry->host;
    host = asciiLower(host);
    keys.host = host + ":" + std::to_string(entry->port);

    std::string_view path = entry->object;
    const std::size_t query = path.find_first_of("?#");
    if (query != std::string_view::npos)
        path = path.substr(0, query);
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size())
        keys.extension = kNoExtension;
    else
        keys.extension = name.substr(dot + 1);
    return keys;
}

std::size_t TickList::Add(const std::string& entry)
{
    const auto found = std::find(m_entries.begin(), m_entries.end(), entry);
    if (found != m_entries.end())
        return static_cast<std::size_t>(found - m_entries.begin());
    m_entries.push_back(entry);
    m_ticked.push_back(true);
    return m_entries.size() - 1;
}

bool TickList::IsTicked(std::string_view entry) const
{
    const auto found = std::find(m_entries.begin(), m_entries.end(), entry);
    return found != m_entries.end() && m_ticked[static_cast<std::size_t>(found - m_entries.begin())];
}

void TickList::Toggle(std::size_t index)
{
    if (index < m_ticked.size())
        m_ticked[index] = !m_ticked[index];
}

TriState TickList::AllState() const
{
    const auto ticked = std::count(m_ticked.begin(), m_ticked.end(), true);
    if (ticked == 0)
        return TriState::Unticked;
    return static_cast<std::size_t>(ticked) == m_ticked.size() ? TriState::Ticked : TriState::Mixed;
}

void TickList::ClickAll()
{
    SetAll(AllState() != TriState::Ticked);
}

void TickList::SetAll(bool ticked)
{
    std::fill(m_ticked.begin(), m_ticked.end(), ticked);
}

LinkSelection::LinkSelection(const std::vector<std::string>& links)
{
    for (const std::string& url : links) {
        LinkKeys keys = LinkKeysOf(url);
        if (keys.host.empty())
            continue;
        m_hosts.Add(keys.host);
        m_extensions.Add(keys.extension);
        m_links.push_back(Link{url, std::move(keys)});
    }
}

std::vector<std::string> LinkSelection::SelectedLinks() const
{
    std::vector<std::string> out;
    for (const Link& link : m_links) {
        if (m_hosts.IsTicked(link.keys.host) && m_extensions.IsTicked(link.keys.extension))
            out.push_back(link.url);
    }
    return out;
}

}  // namespace fetchora
