#include "explorer/explorer_node_store.h"

#include "config/pattern_list.h"
#include "explorer/link_url.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

// File types fetched as pages and searched for links.
constexpr std::string_view kPageTypes = ".HTM;.HTML;.SHTML;.XHTML;.PHP;.PHP3;.ASP;.ASPX;.JSP;.CGI;.PL;.CFM";

std::string_view defaultPort(std::string_view scheme)
{
    if (scheme == "http")
        return "80";
    if (scheme == "https")
        return "443";
    if (scheme == "ftp")
        return "21";
    return {};
}

}  // namespace

std::optional<SplitAddress> SplitExplorerAddress(std::string_view url)
{
    if (!IsUsableBase(url))
        return std::nullopt;
    const size_t hostStart = url.find("://") + 3;
    const size_t hostEnd = std::min(url.find_first_of("/?#", hostStart), url.size());
    if (hostEnd == hostStart)
        return std::nullopt;
    SplitAddress split;
    split.siteRoot.assign(url.substr(0, hostEnd));
    split.siteRoot += '/';
    std::string_view rest = url.substr(hostEnd);
    rest = rest.substr(0, rest.find('#'));
    const size_t queryAt = rest.find('?');
    const std::string_view query = queryAt == std::string_view::npos ? std::string_view() : rest.substr(queryAt);
    std::string_view path = rest.substr(0, queryAt);
    split.endsInSlash = !path.empty() && path.back() == '/';
    while (!path.empty()) {
        const size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty())
            split.components.emplace_back(part);
        if (slash == std::string_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    if (!query.empty()) {
        if (split.endsInSlash || split.components.empty())
            split.components.emplace_back(query);
        else
            split.components.back() += query;
        split.endsInSlash = false;
    }
    if (split.components.size() > kMaxAddressDepth)
        return std::nullopt;
    return split;
}

std::string SiteRootDisplayText(std::string_view url)
{
    const std::optional<SplitAddress> split = SplitExplorerAddress(url);
    if (!split)
        return std::string(url);
    const std::string_view root = std::string_view(split->siteRoot).substr(0, split->siteRoot.size() - 1);
    const size_t schemeEnd = root.find("://");
    const std::string scheme = asciiLower(root.substr(0, schemeEnd));
    std::string_view authority = root.substr(schemeEnd + 3);
    std::string_view user;
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        user = authority.substr(0, at);
        user = user.substr(0, user.find(':'));
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    std::string_view port;
    // A bracketed IPv6 host holds colons of its own.
    const size_t portColon = authority.rfind(':');
    if (portColon != std::string_view::npos && authority.find(']', portColon) == std::string_view::npos) {
        host = authority.substr(0, portColon);
        port = authority.substr(portColon + 1);
    }
    std::string text = scheme + "://";
    if (!user.empty()) {
        text += user;
        text += '@';
    }
    text += asciiLower(host);
    if (!port.empty() && port != defaultPort(scheme)) {
        text += ':';
        text += port;
    }
    return text;
}

bool IsPageName(std::string_view name, std::string_view extraTypes)
{
    if (name.find('?') != std::string_view::npos)
        return true;
    const std::string_view extension = fileExtension(name);
    return !extension.empty()
        && (matchPatternList(kPageTypes, extension)
            || (!extraTypes.empty() && matchPatternList(extraTypes, extension)));
}

ExplorerNode* ExplorerNodeStore::find(std::string_view url)
{
    const auto it = m_nodes.find(url);
    return it == m_nodes.end() ? nullptr : it->second.get();
}

const ExplorerNode* ExplorerNodeStore::find(std::string_view url) const
{
    const auto it = m_nodes.find(url);
    return it == m_nodes.end() ? nullptr : it->second.get();
}

ExplorerNode* ExplorerNodeStore::addChild(ExplorerNode& parent, std::string url, std::string displayName,
                                          ExplorerNodeKind kind, bool* created)
{
    if (created != nullptr)
        *created = false;
    if (ExplorerNode* known = find(url))
        return known;
    auto node = std::make_unique<ExplorerNode>();
    node->url = std::move(url);
    node->displayName = std::move(displayName);
    node->kind = kind;
    node->parent = &parent;
    ExplorerNode* raw = node.get();
    parent.children.push_back(raw);
    m_nodes.emplace(raw->url, std::move(node));
    if (created != nullptr)
        *created = true;
    return raw;
}

ExplorerNode* ExplorerNodeStore::addAddress(std::string_view url, bool* created)
{
    if (created != nullptr)
        *created = false;
    const std::optional<SplitAddress> split = SplitExplorerAddress(url);
    if (!split)
        return nullptr;
    ExplorerNode* node = find(split->siteRoot);
    bool isNew = false;
    if (node == nullptr) {
        auto root = std::make_unique<ExplorerNode>();
        root->url = split->siteRoot;
        root->displayName = SiteRootDisplayText(split->siteRoot);
        root->kind = ExplorerNodeKind::SiteRoot;
        node = root.get();
        m_nodes.emplace(node->url, std::move(root));
        m_roots.push_back(node);
        isNew = true;
    }
    const bool ftp = asciiLower(std::string_view(split->siteRoot).substr(0, 4)) == "ftp:";
    for (size_t k = 0; k < split->components.size(); ++k) {
        const std::string& part = split->components[k];
        const bool last = k + 1 == split->components.size();
        const bool named = part.find_first_of(".*?") != std::string::npos;
        ExplorerNodeKind kind = ExplorerNodeKind::Folder;
        if (last && !split->endsInSlash && named)
            kind = !ftp && IsPageName(part, m_pageTypes) ? ExplorerNodeKind::Page : ExplorerNodeKind::File;
        std::string childUrl = node->url + part;
        if (kind == ExplorerNodeKind::Folder)
            childUrl += '/';
        node = addChild(*node, std::move(childUrl), part, kind, &isNew);
    }
    if (created != nullptr)
        *created = isNew;
    return node;
}

}  // namespace fetchora
