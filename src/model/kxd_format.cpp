#include "model/kxd_format.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "model/category_tree.h"
#include "model/job_database.h"
#include "platform/text_utils.h"

namespace fetchora {
namespace {

constexpr size_t kAlternateMinBytes = 1 + 4;  // an empty URL and its tag
// The smallest stored node: seven 32-bit words and two empty strings.
constexpr size_t kNodeMinBytes = 7 * 4 + 2;

// What SetUrl would store unchanged: no credentials to split off and no
// blanks to trim. Such a URL needs no parse beyond the name it suggests.
bool storedAsIs(std::string_view url)
{
    return url.find('@') == std::string_view::npos
        && (url.empty() || (!isBlank(url.front(), kWhiteSpace) && !isBlank(url.back(), kWhiteSpace)));
}

bool fitsInt32(int64_t value)
{
    return value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max();
}

// A range entry's size in the file for these format flags.
size_t rangeBytes(uint32_t flags)
{
    const size_t offsets = (flags & kFmtRange64) ? 2 * 8 : 2 * 4;
    return offsets + ((flags & kFmtStreamRanges) ? 2 * 4 : 0);
}

void storeOffset(KxdWriter& writer, int64_t value, bool wide)
{
    if (wide)
        writer.writeI64(value);
    else
        writer.writeI32(static_cast<int32_t>(value));
}

int64_t loadOffset(KxdReader& reader, bool wide)
{
    return wide ? reader.readI64() : reader.readI32();
}

void storeJob(KxdWriter& writer, const DownloadJob& job, uint32_t flags)
{
    const bool wide = (flags & kFmtRange64) != 0;
    writer.writeString(job.url);
    writer.writeU32(job.optionFlags);
    writer.writeString(job.userName());
    writer.writeString(job.password());
    writer.writeI32(job.categoryId);
    writer.writeString(job.fileName);
    writer.writeI32(job.splitCount);
    writer.writeString(job.saveFolder);
    writer.writeString(job.comment());
    writer.writeU16(job.httpProxyId);
    writer.writeU16(static_cast<uint16_t>(job.startMode));
    writer.writeU32(job.state);
    storeOffset(writer, job.fileSize, wide);
    writer.writeString(job.location());
    if (flags & kFmtTimes) {
        writer.writeI32(job.remoteFileTime);
        writer.writeI32(job.createTime);
        writer.writeI32(job.completeTime);
    }
    if (flags & kFmtReferer) {
        writer.writeString(job.referer);
        writer.writeI32(job.totalTime);
        writer.writeU16(static_cast<uint16_t>(((job.streamProxyId & 0xFF) << 8) | (job.ftpProxyId & 0xFF)));
    }
    if (flags & kFmtAlternates) {
        writer.writeI32(static_cast<int32_t>(job.alternateUrls.size()));
        for (const AlternateUrl& alternate : job.alternateUrls) {
            writer.writeString(alternate.url);
            writer.writeI32(alternate.tag);
        }
    }
    const bool stream = (flags & kFmtStreamRanges) != 0;
    // A stream job's count is written doubled; readers halve it.
    writer.writeI32(static_cast<int32_t>(job.completedRanges.size() * (stream ? 2 : 1)));
    for (const CompletedRange& range : job.completedRanges) {
        storeOffset(writer, range.start, wide);
        storeOffset(writer, range.end, wide);
        if (stream) {
            writer.writeU32(range.streamStart);
            writer.writeU32(range.streamEnd);
        }
    }
}

SharedText readFolder(KxdReader& reader, KxdTextShare* shared)
{
    std::string folder = reader.readString();
    return shared ? shared->folder(std::move(folder)) : SharedText(std::move(folder));
}

void loadAlternates(KxdReader& reader, DownloadJob& job)
{
    const size_t countOffset = reader.offset();
    const int32_t count = reader.readI32();
    if (!reader.checkCount(count, kAlternateMinBytes, countOffset))
        return;
    job.alternateUrls.clear();
    job.alternateUrls.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count && reader.ok(); ++i) {
        AlternateUrl alternate;
        alternate.url = reader.readString();
        alternate.tag = reader.readI32();
        job.alternateUrls.push_back(std::move(alternate));
    }
}

void loadRanges(KxdReader& reader, DownloadJob& job, uint32_t flags)
{
    const bool wide = (flags & kFmtRange64) != 0;
    const bool stream = (flags & kFmtStreamRanges) != 0;
    const size_t countOffset = reader.offset();
    int32_t count = reader.readI32();
    if (stream && count >= 0)
        count /= 2;
    if (!reader.checkCount(count, rangeBytes(flags), countOffset))
        return;
    job.completedRanges.clear();
    job.completedRanges.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count && reader.ok(); ++i) {
        CompletedRange range;
        range.start = loadOffset(reader, wide);
        range.end = loadOffset(reader, wide);
        if (stream) {
            range.streamStart = reader.readU32();
            range.streamEnd = reader.readU32();
        }
        // Empty ranges carry nothing. Inverted or negative ones only come
        // from damage and would make a resume write at nonsense offsets.
        if (range.start >= 0 && range.end > range.start)
            job.completedRanges.push_back(range);
    }
}

void loadJob(KxdReader& reader, DownloadJob& job, const KxdLoadOptions& options, KxdTextShare* shared)
{
    const uint32_t flags = job.formatFlags;
    const bool wide = (flags & kFmtRange64) != 0;
    std::string storedUrl = reader.readString();
    job.optionFlags = reader.readU32();
    std::string userName = reader.readString();
    std::string password = reader.readString();
    job.categoryId = reader.readI32();
    job.fileName = reader.readString();
    job.splitCount = reader.readI32();
    job.saveFolder = readFolder(reader, shared);
    std::string comment = reader.readString();
    job.httpProxyId = reader.readU16();
    job.startMode = static_cast<StartMode>(reader.readU16());
    job.state = reader.readU32();
    job.fileSize = loadOffset(reader, wide);
    std::string location = reader.readString();
    if (flags & kFmtTimes) {
        job.remoteFileTime = reader.readI32();
        job.createTime = reader.readI32();
        job.completeTime = reader.readI32();
    } else {
        job.remoteFileTime = -1;
        job.createTime = -1;
        job.completeTime = -1;
    }
    if (flags & kFmtReferer) {
        std::string referer = reader.readString();
        job.referer = shared ? shared->referer(std::move(referer)) : SharedText(std::move(referer));
        job.totalTime = reader.readI32();
        const uint16_t proxyPair = reader.readU16();
        job.ftpProxyId = proxyPair & 0xFF;
        job.streamProxyId = proxyPair >> 8;
    } else {
        job.totalTime = 0;
        if (job.httpProxyId == 1)
            job.ftpProxyId = options.defaults.ftpProxyId;
    }
    if (flags & kFmtAlternates)
        loadAlternates(reader, job);
    loadRanges(reader, job, flags);
    if (!reader.ok())
        return;

    // Most jobs have none of these texts and so get no part for them.
    if (job.hasTexts() || !userName.empty() || !password.empty() || !comment.empty()) {
        JobTexts& texts = job.editTexts();
        texts.userName = std::move(userName);
        texts.password = std::move(password);
        texts.comment = std::move(comment);
    }
    if ((flags & kFmtStreamRanges) && job.streamMarker == 0)
        job.streamMarker = 0xFFFFFFFFu;
    // SetUrl splits credentials off an old URL. A URL it refuses is kept as
    // stored rather than lost; one it would keep as it is skips its parse,
    // which is most of a large database's open (the default name is worked
    // out from the URL when asked).
    if (storedAsIs(storedUrl))
        job.url = std::move(storedUrl);
    else if (!job.SetUrl(storedUrl))
        job.url = std::move(storedUrl);
    if (job.hasTexts() || !location.empty())
        job.editTexts().location = std::move(location);
    job.AfterLoad(options.defaults.maxParallelNum, options.startUnfinishedJobs);
}

// For each record, the first record before it whose id is its parent id, or
// none. The first record with an id comes first in (id, index) order; when it
// lies after the record itself no earlier record has that id. One sorted
// array instead of a hash node per record keeps the open's heap compact.
std::vector<size_t> resolveParents(const std::vector<std::unique_ptr<DownloadJob>>& records,
                                   const std::vector<int32_t>& parentIds)
{
    std::vector<std::pair<int32_t, size_t>> byId;
    byId.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i)
        byId.emplace_back(records[i]->id, i);
    std::sort(byId.begin(), byId.end());
    std::vector<size_t> parents(records.size(), CComPtrTree::kLoadTopLevel);
    for (size_t i = 0; i < records.size(); ++i) {
        const int32_t parentId = parentIds[i];
        if (parentId <= 0)
            continue;
        const auto found = std::lower_bound(byId.begin(), byId.end(), std::pair<int32_t, size_t>(parentId, 0));
        if (found != byId.end() && found->first == parentId && found->second < i)
            parents[i] = found->second;
    }
    return parents;
}

void markSelected(CComPtrTree& tree, DownloadJob* node)
{
    DownloadJob** first = node->IsCategory() ? &tree.selected1 : &tree.selected2;
    DownloadJob** second = node->IsCategory() ? &tree.selected2 : &tree.selected1;
    if (!*first)
        *first = node;
    else if (!*second)
        *second = node;
}

}  // namespace

SharedText KxdTextShare::folder(std::string&& value)
{
    for (size_t i = 0; i < m_count; ++i) {
        if (m_recent[i] == value)
            return m_recent[i];
    }
    SharedText text(std::move(value));
    if (text.empty())
        return text;
    if (m_count < kRemembered) {
        m_recent[m_count++] = text;
    } else {
        m_recent[m_next] = text;
        m_next = (m_next + 1) % kRemembered;
    }
    return text;
}

SharedText KxdTextShare::referer(std::string&& value)
{
    if (value.empty())
        return {};
    if (const auto found = m_referers.find(value); found != m_referers.end())
        return found->second;
    SharedText text(std::move(value));
    if (m_referers.size() < kRefererLimit)
        m_referers.emplace(std::string_view(text.str()), text);
    return text;
}

uint32_t KxdFormatFlags(const DownloadJob& job)
{
    uint32_t flags = job.StorageFormatFlags();
    if (!fitsInt32(job.fileSize))
        flags |= kFmtRange64;
    return flags;
}

void StoreNode(KxdWriter& writer, const DownloadJob& node, bool marked)
{
    const bool category = node.IsCategory();
    const uint32_t flags = category ? node.formatFlags : KxdFormatFlags(node);
    writer.writeI32((category ? kTagCategory : kTagJob) | (marked ? kTagMarked : 0));
    writer.writeI32(node.id);
    writer.writeI32(node.imageIndex);
    writer.writeU32(node.nodeFlags);
    writer.writeI32(node.parent() ? node.parent()->id : -1);
    writer.writeU32(node.kind);
    writer.writeU32(flags);
    if (category) {
        writer.writeString(node.name);
        writer.writeString(node.saveFolder);
        return;
    }
    storeJob(writer, node, flags);
}

int32_t LoadNode(KxdReader& reader, DownloadJob& record, const KxdLoadOptions& options, KxdTextShare* shared)
{
    record.id = reader.readI32();
    record.imageIndex = reader.readI32();
    record.nodeFlags = reader.readU32();
    const int32_t parentId = reader.readI32();
    record.kind = reader.readU32();
    record.formatFlags = reader.readU32();
    if (record.IsCategory()) {
        record.name = reader.readString();
        record.saveFolder = readFolder(reader, shared);
    } else {
        loadJob(reader, record, options, shared);
    }
    return parentId;
}

constexpr size_t kTypicalRecordBytes = 256;

std::string StoreTree(const CComPtrTree& tree, bool* ok)
{
    KxdWriter writer;
    // Room for a typical record each up front: a large tree's image does
    // not move from one buffer to the next as it grows.
    writer.reserve(tree.size() * kTypicalRecordBytes + 5);
    writer.writeU8(kKxdSignature);
    writer.writeI32(static_cast<int32_t>(tree.size()));
    for (const DownloadJob* node : tree.nodes())
        StoreNode(writer, *node, node == tree.selected1 || node == tree.selected2);
    if (ok)
        *ok = writer.ok();
    return writer.ok() ? writer.take() : std::string();
}

KxdLoadReport LoadTree(std::string_view bytes, CZoviradDoc& doc, const KxdLoadOptions& options)
{
    KxdLoadReport report;
    CComPtrTree& tree = doc.tree();
    doc.DeleteContents();
    if (bytes.empty() || static_cast<uint8_t>(bytes.front()) != kKxdSignature)
        return report;
    report.signature = true;

    KxdReader reader(bytes);
    reader.readU8();
    const size_t countOffset = reader.offset();
    const int32_t count = reader.readI32();
    report.declaredNodes = count;
    // The count is not checked against the file size: a file cut short
    // still gives every record before the cut. Each pass either consumes a
    // record or stops, so a huge count cannot make this spin.
    if (reader.ok() && count < 0)
        reader.fail(ArchiveError::BadCount, countOffset);

    // Records are read first and linked in one pass afterwards; each one's
    // parent is the first record read before it with its parent id.
    std::vector<std::unique_ptr<DownloadJob>> records;
    std::vector<int32_t> parentIds;
    std::vector<size_t> marked;
    KxdTextShare shared;
    if (reader.ok()) {
        // Room for the records the remaining bytes can hold at most, so a
        // hostile count cannot make this reserve more than the file suggests.
        const size_t expected = std::min(static_cast<size_t>(count), reader.remaining() / kNodeMinBytes);
        records.reserve(expected);
        parentIds.reserve(expected);
    }
    for (int32_t i = 0; i < count && reader.ok(); ++i) {
        const size_t tagOffset = reader.offset();
        const int32_t tag = reader.readI32();
        const int32_t nodeKind = tag & 3;
        if (reader.ok() && nodeKind != kTagCategory && nodeKind != kTagJob)
            reader.fail(ArchiveError::BadTag, tagOffset);
        if (!reader.ok())
            break;
        auto record = std::make_unique<DownloadJob>();
        record->ApplyDefaults(nodeKind == kTagCategory ? NodeKind::Category : NodeKind::Job, options.defaults, nullptr,
                              options.now);
        const int32_t parentId = LoadNode(reader, *record, options, &shared);
        if (!reader.ok())
            break;
        record->notifyWindow = doc.notifyWindow();
        if (tag & kTagMarked)
            marked.push_back(records.size());
        records.push_back(std::move(record));
        parentIds.push_back(parentId);
    }
    const std::vector<size_t> parents = resolveParents(records, parentIds);
    std::vector<DownloadJob*> read;
    read.reserve(records.size());
    for (const auto& record : records)
        read.push_back(record.get());
    tree.AdoptLoaded(std::move(records), parents);
    for (size_t index : marked)
        markSelected(tree, read[index]);

    report.nodesRead = read.size();
    report.error = reader.error();
    report.errorOffset = reader.errorOffset();
    doc.RefreshSpecialNames();
    return report;
}

}  // namespace fetchora
