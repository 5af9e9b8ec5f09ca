#pragma once
// The site explorer's favourites: a tree of folders and addresses kept in
// "favorites.qvb" in the profile folder. The file is the letter "Y", a
// little-endian 32-bit record count and the records, parents before their
// children; each record is its id, image index, node flags (bit 0: a
// folder), parent id (0 or less: under the root) and two archive strings,
// the name and the URL.
//
// A file that is not sound opens as an empty tree; a copy of it is kept
// beside it as "favorites.qvb.damaged" and the file itself is only replaced
// by the first save, which comes from a change the user made.
//
// Thread: the GUI thread. Owns its records; no I/O except in FavoritesFile.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

inline constexpr std::string_view kFavoritesFileName = "favorites.qvb";
inline constexpr std::string_view kDamagedSuffix = ".damaged";
inline constexpr uint32_t kFavoriteFolderFlag = 0x1;
// Favourite menu items are numbered 3585 + id up to 4095.
inline constexpr int32_t kMaxFavoriteId = 510;
// Image indexes given to new records.
inline constexpr int32_t kFavoriteFolderImage = 2;
inline constexpr int32_t kFavoriteUrlImage = 6;

struct Favorite {
    int32_t id = 0;
    int32_t image = 0;
    uint32_t flags = 0;
    int32_t parentId = 0;  // 0 or less: under the root
    std::string name;
    std::string url;

    bool isFolder() const { return (flags & kFavoriteFolderFlag) != 0; }
};

class FavoritesTree {
public:
    const std::vector<Favorite>& records() const { return m_records; }
    bool empty() const { return m_records.empty(); }
    const Favorite* find(int32_t id) const;
    // The records directly under a folder (0: the root), in stored order.
    std::vector<const Favorite*> children(int32_t parentId) const;
    // The favourite of this URL, compared without regard to case.
    const Favorite* findUrl(std::string_view url) const;

    // Each returns the new id, or 0 when refused: the URL is already a
    // favourite, the parent is not a folder, or every id is taken.
    int32_t addUrl(std::string name, std::string url, int32_t parentId = 0);
    int32_t addFolder(std::string name, int32_t parentId = 0);
    bool rename(int32_t id, std::string name);
    bool setUrl(int32_t id, std::string url);
    // Removes the record and everything under it.
    bool remove(int32_t id);
    // Refused for a target that is not a folder, or that is the record
    // itself or lies under it.
    bool move(int32_t id, int32_t newParentId);

    // The file's bytes. Records are written in stored order except that a
    // record moved under a later folder follows it, so that parents always
    // come first and a file read and written again keeps its bytes.
    std::string serialize() const;
    // Nothing when the bytes are not a sound favourites file: no "Y", a
    // record cut short, an id that is not positive or repeats, a parent not
    // seen before, or bytes after the last record.
    static std::optional<FavoritesTree> parse(std::string_view bytes);

private:
    int32_t freeId() const;
    bool isUnder(int32_t id, int32_t ancestorId) const;
    bool parentAccepts(int32_t parentId) const;

    std::vector<Favorite> m_records;
};

enum class FavoritesLoad { Missing, Loaded, Damaged };

class FavoritesFile {
public:
    explicit FavoritesFile(std::filesystem::path file) : m_file(std::move(file)) { }

    // Reads the file; a damaged one gives an empty tree and is copied aside
    // (the copy is not made again when an identical one is there).
    FavoritesLoad load(FavoritesTree& tree);
    // Writes the tree atomically. False when the file could not be written.
    bool save(const FavoritesTree& tree) const;
    const std::filesystem::path& path() const { return m_file; }
    std::filesystem::path damagedPath() const;

private:
    std::filesystem::path m_file;
};

}  // namespace fetchora
