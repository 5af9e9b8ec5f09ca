#pragma once
// The job database file, byte for byte: the byte 0x48, the node count, then
// every node of the category tree in flat order. Each node record starts
// with its tag, id, image, node flags, parent id, kind and format flags; a
// Category then has its name and folder, a job its fields in their fixed
// order, with the times, referer and alternate-URL blocks and the width of
// its range offsets decided by the format flags. The layout is fixed byte
// for byte, so existing database files read and write back unchanged.
//
// Text is kept as the bytes it was stored with; nothing is re-encoded.
//
// Thread: loop thread, with the job lock held by the caller (the database
// file functions take it). Borrows the tree or document it reads or fills.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "model/download_job.h"
#include "model/kxd_archive.h"

namespace fetchora {

class CComPtrTree;
class CZoviradDoc;

inline constexpr uint8_t kKxdSignature = 0x48;  // "H", the first byte of every database file

// Node tags: the kind of record, plus kTagMarked for the tree's two selected nodes.
inline constexpr int32_t kTagCategory = 1;
inline constexpr int32_t kTagJob = 2;
inline constexpr int32_t kTagMarked = 4;

struct KxdLoadOptions {
    // Creation defaults of the records read; fields a record does not store
    // keep them (an old record without a referer block keeps the default
    // referer). ftpProxyId is the global default FTP proxy.
    JobDefaults defaults;
    bool startUnfinishedJobs = false;  // "Flags" 0x200
    int32_t now = 0;  // creation time of records read
};

// What reading a file found.
struct KxdLoadReport {
    bool signature = false;  // the file starts with 0x48
    int32_t declaredNodes = 0;  // the stored node count
    size_t nodesRead = 0;  // whole records read and linked
    ArchiveError error = ArchiveError::None;
    size_t errorOffset = 0;

    bool damaged() const { return error != ArchiveError::None; }
};

// The folders and referers met while reading one file, so that the many
// jobs of one folder, or fetched from one page, share its text instead of
// each keeping a copy.
class KxdTextShare {
public:
    // The folder as a text shared with the earlier records of that folder.
    SharedText folder(std::string&& value);
    // The referer as a text shared with the earlier records that name it.
    // Up to kRefererLimit different referers are remembered, so that a file
    // of all different ones does not build a large table for nothing.
    SharedText referer(std::string&& value);

    static constexpr size_t kRefererLimit = 8192;

private:
    static constexpr size_t kRemembered = 16;
    SharedText m_recent[kRemembered];
    size_t m_count = 0;
    size_t m_next = 0;  // the one replaced when all are in use
    // Keyed by views of the shared texts' own bytes, which never move.
    std::unordered_map<std::string_view, SharedText> m_referers;
};

// The format flags a job is stored with: StorageFormatFlags(), widened to
// 64-bit offsets also when the size itself does not fit 32 bits.
uint32_t KxdFormatFlags(const DownloadJob& job);

// One node record. `marked` adds kTagMarked to the tag.
void StoreNode(KxdWriter& writer, const DownloadJob& node, bool marked);

// Reads one node record after its tag into `record`, a record created with
// the creation defaults for the tag's kind. Returns the stored parent id; on
// damage the reader says so and the record is to be discarded.
// `shared`, when given, shares the folder and referer texts among the records
// of one load.
int32_t LoadNode(KxdReader& reader, DownloadJob& record, const KxdLoadOptions& options,
                 KxdTextShare* shared = nullptr);

// The whole file image of a tree. Empty only when a string was too long to
// store (4 GiB), which the writer reports through `ok`.
std::string StoreTree(const CComPtrTree& tree, bool* ok = nullptr);

// Replaces the document's tree with the nodes of a file image. Each record
// goes last under the first record read before it whose id is its parent
// id, else at top level; linking takes time linear in the records. A record cut short by damage
// is dropped and reading stops; every record read before it is kept. Jobs
// are brought into a usable state (a Downloading job comes back Ready,
// ranges cleaned, start mode and split count follow the settings) and
// special Categories take their names from the string table. Records carry
// the document's notify window but post nothing while loading. A file that
// does not start with 0x48 gives an empty tree. Default Categories are the
// caller's business (database_file.h).
KxdLoadReport LoadTree(std::string_view bytes, CZoviradDoc& doc, const KxdLoadOptions& options);

}  // namespace fetchora
