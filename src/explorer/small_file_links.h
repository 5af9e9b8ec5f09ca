#pragma once
// The small-file check's reader: finds, in a tiny downloaded file, the link
// of an HTML page to the real file, or the media URL of a play list.
//
// Thread: the loop thread at job completion; keeps no state between calls.
#include <filesystem>
#include <string>

#include "engine/small_file_check.h"

namespace fetchora {

// Play lists are read only this far; the check looks at small files only.
inline constexpr size_t kMaxPlayListBytes = 65536;

class LinkSmallFileInspector final : public SmallFileInspector {
public:
    // The first link of the page whose URL differs from pageUrl and whose
    // file name (as a download would name it) equals fileName.
    std::string sameNameLink(const std::filesystem::path& file, const std::string& pageUrl,
                             const std::string& fileName) override;
    // The first stream URL (rtsp, mms, mmst) the file names, else its first
    // http, https or ftp URL; quoted or bare, in any case.
    std::string playListMedia(const std::filesystem::path& file, const std::string& pageUrl) override;
};

}  // namespace fetchora
