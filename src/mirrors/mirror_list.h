#pragma once
// Mirror list files: "mirrors.lst" shipped in the program's data folder and
// the user's own "mymirror.lst" in the profile folder. Each line is
// "country,unused,group,URL prefix"; consecutive lines with the same group
// name form a group of sites that hold the same tree. A line whose first or
// second character is "/" is a comment. Lines end in CR LF or LF.
//
// Thread: any; FindListMirrors is pure, AddListMirrors changes the job and is
// called on the loop thread under the job lock.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "mirrors/mirror_ranking.h"

namespace fetchora {

class DownloadJob;

inline constexpr std::string_view kMirrorListFile = "mirrors.lst";
inline constexpr std::string_view kUserMirrorListFile = "mymirror.lst";
// A list file larger than this is not read: it is no hand-kept list.
inline constexpr uintmax_t kMaxMirrorListBytes = uintmax_t{4} << 20;

struct MirrorListLine {
    std::string country;
    std::string group;
    std::string prefix;
};

// The lines of a list file's text that have four fields and a prefix, in
// file order; comments and malformed lines are skipped.
std::vector<MirrorListLine> ParseMirrorList(std::string_view text);

// The mirrors of jobUrl in one list: in the first group with a line whose
// prefix begins jobUrl, every other line's prefix followed by the rest of
// jobUrl, ordered as the user's country, the listed countries, then at most
// maxHit of the others by their position in the group.
std::vector<std::string> FindListMirrors(std::string_view jobUrl, std::string_view listText,
                                         const MirrorCountries& countries, int32_t maxHit);

// The text of a list file; empty when it is missing, unreadable or too large.
std::string ReadMirrorList(const std::filesystem::path& file);

// Adds the mirrors of the job's URL found in each list file, in the order
// given, as alternate URLs; a URL the job already has is not added again.
// Returns how many were added.
size_t AddListMirrors(DownloadJob& job, const std::vector<std::filesystem::path>& listFiles,
                      const MirrorCountries& countries, int32_t maxHit);

}  // namespace fetchora
