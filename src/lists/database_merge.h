#pragma once
// Merging another database file into the open one: the other file is read
// into a separate document, the user ticks its Categories, and the jobs of
// ticked Categories move into the matching Categories of the open database.
//
// Categories are matched depth first: a special Category maps to the open
// database's special Category of the same kind; an ordinary one to the
// ordinary sub-category of the same name (ignoring ASCII case) under its
// parent's match, or, when there is none and it is ticked, to a new
// Category with its name and folder. A Category without a match (unticked,
// or under one without a match) keeps its jobs in the other document.
//
// Thread: loop thread. Holds the open document's job lock while it changes
// the tree. Borrows both documents; the caller releases the other one.
#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_set>

#include "model/job_database.h"
#include "model/kxd_format.h"

namespace fetchora {

inline constexpr uint32_t kStrCreateOrOpenError = 61216;  // "Create or Open file error."
// A database file larger than this is not read for a merge.
inline constexpr std::uintmax_t kMergeFileLimit = 512u * 1024 * 1024;

struct MergeLoadResult {
    bool ok = false;
    std::string error;  // "Create or Open file error." and the reason
    int jobs = 0;  // the dialog is shown only when there is at least one
};

// Reads a database file into `source` (a document of its own). A file that
// cannot be read, does not start like a database file, or is damaged is an
// error: merging part of a file would silently lose the rest.
MergeLoadResult LoadMergeSource(const std::filesystem::path& file, CZoviradDoc& source, const KxdLoadOptions& options);

struct MergeResult {
    int jobsMoved = 0;
    int categoriesCreated = 0;
};

// The ticked Categories are those in `ticked`.
MergeResult MergeDatabase(CZoviradDoc& target, CZoviradDoc& source,
                          const std::unordered_set<const DownloadJob*>& ticked);

// Every Category of the document, for a dialog that starts with all ticked.
std::unordered_set<const DownloadJob*> AllCategories(const CZoviradDoc& doc);

}  // namespace fetchora
