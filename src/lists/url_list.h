#pragma once
// URL list files (".lst"): one URL per line, lines ended by CR LF.
//
// Reading cuts the text at CR LF and also at a bare LF (lists edited on
// this system end their lines that way); a CR left at a line's end is
// dropped. Empty lines and lines that are not a URL a job can fetch are
// left out, so a file of binary junk gives no URL rather than garbage jobs.
//
// Thread: loop thread; pure apart from the file access. Borrows the jobs.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "model/download_job.h"

namespace fetchora {

inline constexpr std::string_view kUrlListExtension = "lst";
// A list file larger than this is refused instead of being read whole.
inline constexpr std::uintmax_t kUrlListFileLimit = 64u * 1024 * 1024;
inline constexpr uint32_t kStrNoValidUrl = 61355;  // "Doesn't include valid URL(s)!"

// URL and CR LF for every job that has a URL, in the order given.
std::string UrlListText(const std::vector<const DownloadJob*>& jobs);
bool WriteUrlList(const std::filesystem::path& file, const std::vector<const DownloadJob*>& jobs,
                  std::string* error = nullptr);

// The valid URLs of a list text, in order, each with surrounding blanks removed.
std::vector<std::string> ParseUrlList(std::string_view text);

struct UrlListRead {
    bool ok = false;
    std::string error;
    std::vector<std::string> urls;
};
UrlListRead ReadUrlList(const std::filesystem::path& file);

// What an import does with the URLs it found.
enum class UrlListAction {
    NoValidUrl,  // warn with "Doesn't include valid URL(s)!"
    AddOne,  // open the add-download dialog with the URL
    SelectLinks,  // hand the list to "Select links"
};
UrlListAction ActionForUrls(std::size_t count);

}  // namespace fetchora
