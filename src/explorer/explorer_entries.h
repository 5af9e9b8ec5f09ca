#pragma once
// The entry list of a site-explorer window as data: which rows a node shows,
// the text of each cell, the file-type filter and the records handed to the
// main window when the selection is downloaded.
//
// Thread: the explorer window's thread, under the job lock. Rows borrow the
// nodes and links of the store; they are rebuilt whenever the store changes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "explorer/explorer_node_store.h"

namespace fetchora {

enum class EntryColumn { Name = 0, Type, Title, Url, Size, Modified, From, Count };

// The pattern history's first entry when it is empty.
inline constexpr std::string_view kDefaultExplorerFilter = ".ZIP;.EXE;.BIN;.GZ;.Z;.TAR;.ARJ;.LZH;.MP3;.A[0-9]?;.RAR";

enum class ExplorerFilterMode { None, ShowOnly, ShowAllExcept };

struct ExplorerFilter {
    ExplorerFilterMode mode = ExplorerFilterMode::None;
    std::string patterns;  // ".ZIP;.A[0-9]?"
};

// One row of the entry list: a node, or a bare link of the page being shown
// (a link whose URL has no node).
struct EntryRow {
    const ExplorerNode* node = nullptr;
    const ExtractedLink* link = nullptr;
    const ExplorerNode* page = nullptr;  // the node whose entries these are
};

// The rows of a node: its children, then the links of its page that are not
// among them, each URL once; the filter hides file rows by extension (folders
// and pages stay, so that the site can still be walked).
std::vector<EntryRow> EntryRows(const ExplorerNodeStore& store, const ExplorerNode& node, const ExplorerFilter& filter);

// EntryRows a batch at a time, so that a window can show the first rows of a
// page of tens of thousands of links at once. Borrows the store and the
// node, whose children and links must not change until it is done or
// dropped (the window starts a new one whenever they do).
class EntryRowsBuilder {
public:
    EntryRowsBuilder(const ExplorerNodeStore& store, const ExplorerNode& node, ExplorerFilter filter);
    // Appends the rows of up to count more children and links; false once
    // every one has been looked at.
    bool next(size_t count, std::vector<EntryRow>& out);
    bool done() const;

private:
    void add(const EntryRow& row, std::vector<EntryRow>& out);

    const ExplorerNodeStore& m_store;
    const ExplorerNode& m_node;
    ExplorerFilter m_filter;
    size_t m_next = 0;  // children first, then links
    std::unordered_set<std::string_view> m_seen;
    std::string m_probe;
};

// Whether the filter lets a file name through.
bool FilterPasses(const ExplorerFilter& filter, std::string_view fileName);

// The text of one cell. sizesInBytes is the setting that shows every size in
// bytes; otherwise sizes from 1024 bytes on show as whole kilobytes ("12KB").
std::string EntryCellText(const EntryRow& row, EntryColumn column, bool sizesInBytes);

// The file name part of a URL: what follows its last "/" (before a query).
std::string_view UrlFileName(std::string_view url);

// A picked entry as the main window receives it.
struct PickedDownload {
    std::string url;
    std::string title;
    std::string referrer;
};

// A node gives its URL, title and "from"; a bare link its URL resolved against
// the page, its text and the page's URL. Nothing for a link that resolves to
// no URL.
std::optional<PickedDownload> PickedDownloadOf(const EntryRow& row);

}  // namespace fetchora
