#include "explorer/explorer_entries.h"

#include "config/pattern_list.h"
#include "explorer/link_url.h"

#include <ctime>
#include <limits>

namespace fetchora {

namespace {

bool isFolderLike(const ExplorerNode& node)
{
    return node.kind == ExplorerNodeKind::Folder || node.kind == ExplorerNodeKind::SiteRoot;
}

std::string sizeText(int64_t size, bool sizesInBytes)
{
    if (size < 0)
        return {};
    if (sizesInBytes || size < 1024)
        return std::to_string(size);
    return std::to_string(size / 1024) + "KB";
}

std::string timeText(int64_t seconds)
{
    if (seconds < 0)
        return {};
    const auto value = static_cast<std::time_t>(seconds);
    std::tm fields{};
    if (gmtime_r(&value, &fields) == nullptr)
        return {};
    char buffer[64];
    const size_t length = std::strftime(buffer, sizeof buffer, "%x %X", &fields);
    return std::string(buffer, length);
}

std::string_view rowUrl(const EntryRow& row)
{
    if (row.node != nullptr)
        return row.node->url;
    return row.link != nullptr ? std::string_view(row.link->url) : std::string_view();
}

std::string_view rowName(const EntryRow& row)
{
    if (row.node != nullptr)
        return row.node->displayName;
    return UrlFileName(rowUrl(row));
}

}  // namespace

std::string_view UrlFileName(std::string_view url)
{
    url = url.substr(0, url.find_first_of("?#"));
    const size_t slash = url.rfind('/');
    return slash == std::string_view::npos ? url : url.substr(slash + 1);
}

bool FilterPasses(const ExplorerFilter& filter, std::string_view fileName)
{
    if (filter.mode == ExplorerFilterMode::None)
        return true;
    const std::string_view extension = fileExtension(fileName);
    const bool matches = !extension.empty() && matchPatternList(filter.patterns, extension);
    return filter.mode == ExplorerFilterMode::ShowOnly ? matches : !matches;
}

EntryRowsBuilder::EntryRowsBuilder(const ExplorerNodeStore& store, const ExplorerNode& node, ExplorerFilter filter)
    : m_store(store), m_node(node), m_filter(std::move(filter))
{
}

bool EntryRowsBuilder::done() const
{
    return m_next >= m_node.children.size() + m_node.links.size();
}

void EntryRowsBuilder::add(const EntryRow& row, std::vector<EntryRow>& out)
{
    if (!m_seen.insert(rowUrl(row)).second)
        return;
    const bool file = row.node == nullptr || row.node->kind == ExplorerNodeKind::File;
    if (file && !FilterPasses(m_filter, rowName(row)))
        return;
    out.push_back(row);
}

bool EntryRowsBuilder::next(size_t count, std::vector<EntryRow>& out)
{
    const size_t children = m_node.children.size();
    const size_t total = children + m_node.links.size();
    for (size_t n = 0; n < count && m_next < total; ++n, ++m_next) {
        if (m_next < children) {
            add({m_node.children[m_next], nullptr, &m_node}, out);
            continue;
        }
        const ExtractedLink& link = m_node.links[m_next - children];
        const ExplorerNode* linked = m_store.find(link.url);
        // A link to a folder names it without its "/".
        if (linked == nullptr && !link.url.ends_with('/')) {
            m_probe.assign(link.url).push_back('/');
            linked = m_store.find(m_probe);
        }
        add({linked, linked == nullptr ? &link : nullptr, &m_node}, out);
    }
    return !done();
}

std::vector<EntryRow> EntryRows(const ExplorerNodeStore& store, const ExplorerNode& node, const ExplorerFilter& filter)
{
    std::vector<EntryRow> rows;
    EntryRowsBuilder builder(store, node, filter);
    while (builder.next(std::numeric_limits<size_t>::max(), rows))
        ;
    return rows;
}

std::string EntryCellText(const EntryRow& row, EntryColumn column, bool sizesInBytes)
{
    const ExplorerNode* node = row.node;
    switch (column) {
    case EntryColumn::Name: return std::string(rowName(row));
    case EntryColumn::Type: {
        if (node != nullptr && isFolderLike(*node))
            return {};
        const std::string_view extension = fileExtension(rowName(row));
        return std::string(extension.empty() ? extension : extension.substr(1));
    }
    case EntryColumn::Title:
        if (node != nullptr)
            return node->title;
        return row.link != nullptr ? row.link->title : std::string();
    case EntryColumn::Url: return std::string(rowUrl(row));
    case EntryColumn::Size:
        if (node == nullptr || isFolderLike(*node))
            return {};
        return sizeText(node->size, sizesInBytes);
    case EntryColumn::Modified: return node != nullptr ? timeText(node->modified) : std::string();
    case EntryColumn::From:
        if (node != nullptr)
            return node->from;
        return row.page != nullptr ? row.page->url : std::string();
    case EntryColumn::Count: break;
    }
    return {};
}

std::optional<PickedDownload> PickedDownloadOf(const EntryRow& row)
{
    if (row.node != nullptr)
        return PickedDownload{row.node->url, row.node->title, row.node->from};
    if (row.link == nullptr)
        return std::nullopt;
    const std::string_view page = row.page != nullptr ? std::string_view(row.page->url) : std::string_view();
    std::optional<std::string> url = LinkTarget(row.link->url, page);
    if (!url)
        return std::nullopt;
    return PickedDownload{std::move(*url), row.link->title, std::string(page)};
}

}  // namespace fetchora
