#include "explorer/favorites_file.h"

#include <fstream>
#include <iterator>
#include <set>
#include <system_error>

#include "model/kxd_archive.h"
#include "platform/atomic_file.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

// The smallest record: four numbers and two empty strings.
constexpr size_t kMinRecordBytes = 18;
// A favourites file is small; anything far larger is not one.
constexpr uintmax_t kMaxFavoritesFileBytes = uintmax_t{16} << 20;

bool readAll(const std::filesystem::path& file, std::string& bytes)
{
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(file, error);
    if (error || size > kMaxFavoritesFileBytes)
        return false;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

const Favorite* FavoritesTree::find(int32_t id) const
{
    for (const Favorite& record : m_records) {
        if (record.id == id)
            return &record;
    }
    return nullptr;
}

std::vector<const Favorite*> FavoritesTree::children(int32_t parentId) const
{
    std::vector<const Favorite*> result;
    for (const Favorite& record : m_records) {
        if ((parentId <= 0 && record.parentId <= 0) || (parentId > 0 && record.parentId == parentId))
            result.push_back(&record);
    }
    return result;
}

const Favorite* FavoritesTree::findUrl(std::string_view url) const
{
    const std::string wanted = asciiLower(url);
    for (const Favorite& record : m_records) {
        if (!record.isFolder() && asciiLower(record.url) == wanted)
            return &record;
    }
    return nullptr;
}

int32_t FavoritesTree::freeId() const
{
    std::set<int32_t> used;
    for (const Favorite& record : m_records)
        used.insert(record.id);
    for (int32_t id = 1; id <= kMaxFavoriteId; ++id) {
        if (used.count(id) == 0)
            return id;
    }
    return 0;
}

bool FavoritesTree::parentAccepts(int32_t parentId) const
{
    if (parentId <= 0)
        return true;
    const Favorite* parent = find(parentId);
    return parent != nullptr && parent->isFolder();
}

int32_t FavoritesTree::addUrl(std::string name, std::string url, int32_t parentId)
{
    if (url.empty() || findUrl(url) != nullptr || !parentAccepts(parentId))
        return 0;
    const int32_t id = freeId();
    if (id == 0)
        return 0;
    m_records.push_back({id, kFavoriteUrlImage, 0, std::max(parentId, 0), std::move(name), std::move(url)});
    return id;
}

int32_t FavoritesTree::addFolder(std::string name, int32_t parentId)
{
    if (!parentAccepts(parentId))
        return 0;
    const int32_t id = freeId();
    if (id == 0)
        return 0;
    m_records.push_back({id, kFavoriteFolderImage, kFavoriteFolderFlag, std::max(parentId, 0), std::move(name), {}});
    return id;
}

bool FavoritesTree::rename(int32_t id, std::string name)
{
    for (Favorite& record : m_records) {
        if (record.id == id) {
            record.name = std::move(name);
            return true;
        }
    }
    return false;
}

bool FavoritesTree::setUrl(int32_t id, std::string url)
{
    const Favorite* other = findUrl(url);
    for (Favorite& record : m_records) {
        if (record.id == id && !record.isFolder() && !url.empty() && (other == nullptr || other == &record)) {
            record.url = std::move(url);
            return true;
        }
    }
    return false;
}

bool FavoritesTree::isUnder(int32_t id, int32_t ancestorId) const
{
    // Bounded by the record count, so that no cycle can hold it.
    for (size_t steps = 0; id > 0 && steps <= m_records.size(); ++steps) {
        if (id == ancestorId)
            return true;
        const Favorite* record = find(id);
        if (record == nullptr)
            return false;
        id = record->parentId;
    }
    return false;
}

bool FavoritesTree::remove(int32_t id)
{
    if (find(id) == nullptr)
        return false;
    std::set<int32_t> doomed;
    for (const Favorite& record : m_records) {
        if (isUnder(record.id, id))
            doomed.insert(record.id);
    }
    std::erase_if(m_records, [&](const Favorite& record) { return doomed.count(record.id) != 0; });
    return true;
}

bool FavoritesTree::move(int32_t id, int32_t newParentId)
{
    if (find(id) == nullptr || !parentAccepts(newParentId) || (newParentId > 0 && isUnder(newParentId, id)))
        return false;
    for (Favorite& record : m_records) {
        if (record.id == id)
            record.parentId = std::max(newParentId, 0);
    }
    return true;
}

std::string FavoritesTree::serialize() const
{
    std::vector<const Favorite*> order;
    std::set<int32_t> written;
    std::vector<bool> done(m_records.size(), false);
    // Stable: each pass writes, in stored order, what now has its parent written.
    for (bool progress = true; progress && order.size() < m_records.size();) {
        progress = false;
        for (size_t i = 0; i < m_records.size(); ++i) {
            const Favorite& record = m_records[i];
            if (done[i] || (record.parentId > 0 && written.count(record.parentId) == 0))
                continue;
            done[i] = true;
            written.insert(record.id);
            order.push_back(&record);
            progress = true;
        }
    }
    KxdWriter out;
    out.writeU8('Y');
    out.writeU32(static_cast<uint32_t>(order.size()));
    for (const Favorite* record : order) {
        out.writeI32(record->id);
        out.writeI32(record->image);
        out.writeU32(record->flags);
        out.writeI32(record->parentId);
        out.writeString(record->name);
        out.writeString(record->url);
    }
    return out.take();
}

std::optional<FavoritesTree> FavoritesTree::parse(std::string_view bytes)
{
    KxdReader in(bytes);
    if (in.readU8() != 'Y' || !in.ok())
        return std::nullopt;
    const size_t countAt = in.offset();
    const uint32_t count = in.readU32();
    if (!in.checkCount(count, kMinRecordBytes, countAt))
        return std::nullopt;
    FavoritesTree tree;
    std::set<int32_t> seen;
    for (uint32_t i = 0; i < count; ++i) {
        Favorite record;
        record.id = in.readI32();
        record.image = in.readI32();
        record.flags = in.readU32();
        record.parentId = in.readI32();
        record.name = in.readString();
        record.url = in.readString();
        if (!in.ok() || record.id <= 0 || !seen.insert(record.id).second)
            return std::nullopt;
        if (record.parentId > 0 && !tree.parentAccepts(record.parentId))
            return std::nullopt;
        tree.m_records.push_back(std::move(record));
    }
    if (in.remaining() != 0)
        return std::nullopt;
    return tree;
}

std::filesystem::path FavoritesFile::damagedPath() const
{
    std::filesystem::path aside = m_file;
    aside += std::string(kDamagedSuffix);
    return aside;
}

FavoritesLoad FavoritesFile::load(FavoritesTree& tree)
{
    tree = FavoritesTree();
    std::error_code error;
    if (!std::filesystem::exists(m_file, error))
        return FavoritesLoad::Missing;
    std::string bytes;
    const bool read = readAll(m_file, bytes);
    if (read) {
        if (std::optional<FavoritesTree> parsed = FavoritesTree::parse(bytes)) {
            tree = std::move(*parsed);
            return FavoritesLoad::Loaded;
        }
    }
    // The copy keeps what the user had even after the next save replaces
    // the file; one made by an earlier start with the same bytes is kept.
    std::string kept;
    if (read && !(readAll(damagedPath(), kept) && kept == bytes))
        writeFileAtomically(damagedPath(), bytes);
    else if (!read)
        std::filesystem::copy_file(m_file, damagedPath(), std::filesystem::copy_options::skip_existing, error);
    return FavoritesLoad::Damaged;
}

bool FavoritesFile::save(const FavoritesTree& tree) const
{
    return writeFileAtomically(m_file, tree.serialize());
}

}  // namespace fetchora
