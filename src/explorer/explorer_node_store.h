#pragma once
// The nodes of one site-explorer window, looked up by their URL text, and the
// split of an address into its site root and folder, page or file nodes.
//
// Thread: the explorer window's thread, under the job lock. Owns every node;
// pointers to nodes stay valid for the store's lifetime.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "explorer/explorer_node.h"

namespace fetchora {

// Addresses split into more components than this are refused: no real site
// nests that deep, and a hostile page must not make thousands of nodes out of
// one link.
inline constexpr size_t kMaxAddressDepth = 64;

// An address cut into its site root ("http://user@host:8080/") and the path
// components after it; the last one keeps any query.
struct SplitAddress {
    std::string siteRoot;  // scheme, "://", authority and "/"
    std::vector<std::string> components;
    bool endsInSlash = false;
};

// Nothing when the text has no "scheme://host".
std::optional<SplitAddress> SplitExplorerAddress(std::string_view url);

// The site root as the tree shows it: scheme, "://" and host, ":" and the port
// when it is not the scheme's default, with the user name when the address
// has one ("ftp://anna@host:2121").
std::string SiteRootDisplayText(std::string_view url);

// Whether a file name is an HTML page (fetched and searched for links) rather
// than a file to download. extraTypes, a pattern list (".HTM?;.IDC"), names
// more page types beside the built-in ones.
bool IsPageName(std::string_view name, std::string_view extraTypes = {});

class ExplorerNodeStore {
public:
    ExplorerNode* find(std::string_view url);
    const ExplorerNode* find(std::string_view url) const;
    size_t size() const { return m_nodes.size(); }
    // The site roots in the order they were first seen.
    const std::vector<ExplorerNode*>& roots() const { return m_roots; }

    // Finds or creates the nodes of an address, site root first, each under
    // its parent: a component followed by more of the path, or one without
    // "." and without "*" or "?", is a folder; the last one with a "." or a
    // wildcard is a page or a file. Returns the last node (the site root for
    // "http://host/"), or null for an address that cannot be split. created
    // tells whether that node is new.
    ExplorerNode* addAddress(std::string_view url, bool* created = nullptr);

    // Creates a node under parent unless its URL is known; returns the node
    // of that URL either way.
    ExplorerNode* addChild(ExplorerNode& parent, std::string url, std::string displayName, ExplorerNodeKind kind,
                           bool* created = nullptr);

    // The user's page types (the explorer's settings), for nodes made from
    // now on.
    void setPageTypes(std::string types) { m_pageTypes = std::move(types); }

private:
    std::string m_pageTypes;
    std::map<std::string, std::unique_ptr<ExplorerNode>, std::less<>> m_nodes;
    std::vector<ExplorerNode*> m_roots;
};

}  // namespace fetchora
