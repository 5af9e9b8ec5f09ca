#pragma once
// What the explorer does with a finished fetch: the entries of an FTP folder
// listing and the links of a fetched page become nodes of the store.
//
// Thread: the explorer window's thread, under the job lock. Borrows the store.
#include <cstdint>
#include <ctime>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "explorer/explorer_node_store.h"
#include "net/ftp_list.h"

namespace fetchora {

// One page adds at most this many nodes: a hostile page of a million distinct
// deep links must not fill the memory with tree items.
inline constexpr size_t kMaxNewNodesPerPage = 50000;

// The time a listing states ("Mar 3 2021", "Jan 10 12:00", "04-27-00
// 09:09PM") as seconds since 1970, read as UTC so that it shows as listed;
// -1 when it cannot be read. A date without a year is in the year of now, or
// the year before when that would put it more than a day in the future.
int64_t ListingTime(std::string_view date, std::time_t now);

// A listed name (or, with keepSlash, a server path) as it is written in a
// URL: blanks, "#", "?", "%", control and non-ASCII bytes as %XX.
std::string EncodeListedName(std::string_view name, bool keepSlash);

// A folder listing is ready: the folder of finalUrl (the job's URL after
// redirection, "/" appended when missing) gets a node for every entry that is
// not known yet, folders with a trailing "/". reportedPath, when not empty,
// is the folder's path as the server reported it and replaces the URL's path.
// Returns the folder's node, or null when the URL cannot be split.
ExplorerNode* FolderListingReady(ExplorerNodeStore& store, std::string_view finalUrl, std::string_view reportedPath,
                                 const std::deque<FtpListEntry>& entries, std::time_t now);

// A page fetch ended. When it completed and the node of jobUrl is a page (or a
// web folder or site, which fetch their index page), the links of the
// downloaded file become nodes (titled with the link text, "from" the page)
// and the link list is stored on the node. Returns the node, or null when
// jobUrl has none.
ExplorerNode* PageFetchEnded(ExplorerNodeStore& store, std::string_view jobUrl, bool completed,
                             const std::filesystem::path& downloadedFile);

// The node of a fetched page (jobUrl, or jobUrl with "/" for a folder) and,
// in base, the URL its links resolve against.
ExplorerNode* PageNodeOf(ExplorerNodeStore& store, std::string_view jobUrl, std::string* base);
// Whether a fetch of the node gives a page to read links from: a page, or a
// web folder or site, which fetch their index page.
bool HoldsLinks(const ExplorerNode& node);
// The second half of PageFetchEnded, for links extracted elsewhere (a
// window extracts them on a worker thread).
ExplorerNode* PageLinksReady(ExplorerNodeStore& store, std::string_view jobUrl, std::vector<ExtractedLink> links);

// PageLinksReady a batch of links at a time, for a page of tens of thousands
// of links: each step runs under the job lock, and the window answers in
// between. The links go to the node with the last step, so that the node
// never shows links without their nodes. Borrows the store, whose nodes
// stay valid; a node of jobUrl that goes away cannot happen (nodes are never
// removed).
class PageLinkNodes {
public:
    PageLinkNodes(ExplorerNodeStore& store, std::string_view jobUrl, std::vector<ExtractedLink> links);
    // The page's node, null when jobUrl has none.
    ExplorerNode* node() const { return m_node; }
    // Adds the nodes of up to count more links; false once every link is
    // done and the list is stored on the node.
    bool step(size_t count);

private:
    ExplorerNodeStore& m_store;
    ExplorerNode* m_node = nullptr;
    std::vector<ExtractedLink> m_links;
    size_t m_next = 0;
    size_t m_limit = 0;
    bool m_done = false;
};

// The log pane's line for an ended fetch: "Download success" or "Download
// failure", a space and the URL, in the current language.
inline constexpr uint32_t kStrFetchSucceeded = 41391;  // "%1" the URL
inline constexpr uint32_t kStrFetchFailed = 41392;
std::string FetchEndedLogLine(bool completed, std::string_view url);

}  // namespace fetchora
