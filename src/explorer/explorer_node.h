#pragma once
// One node of a site-explorer window: a site, folder, page or file seen while
// browsing, with what is known of it.
//
// Thread: the explorer window's thread, under the job lock (the engine fills
// in fetch results). Owned by its ExplorerNodeStore; a node borrows its
// parent and children from the same store, and its fetch job from the engine.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "explorer/link_extractor.h"

namespace fetchora {

class DownloadJob;

enum class ExplorerNodeKind { SiteRoot, Folder, Page, File };

struct ExplorerNode {
    std::string url;  // ends in "/" for site roots and folders
    std::string displayName;
    std::string title;  // the text of the link that led here
    int64_t size = -1;  // bytes; -1 unknown
    int64_t modified = -1;  // seconds since 1970 as the server states them; -1 unknown
    std::string from;  // the page that linked here
    ExplorerNodeKind kind = ExplorerNodeKind::File;
    ExplorerNode* parent = nullptr;
    std::vector<ExplorerNode*> children;  // in the order they were found
    std::vector<ExtractedLink> links;  // of the last fetch of a page
    std::filesystem::path tempFile;  // the local copy of the last fetch
    DownloadJob* fetchJob = nullptr;  // while a fetch runs
    bool fetched = false;

    // Files that are not pages appear only in their folder's entry list.
    bool isTreeItem() const { return kind != ExplorerNodeKind::File; }
};

}  // namespace fetchora
