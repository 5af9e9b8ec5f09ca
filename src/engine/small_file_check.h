#pragma once
// The small-file check of a completed download: a tiny file fetched for an
// archive or media URL is often an HTML page that links to the real file, or
// a play list that names the real stream. Then the job is restarted on that
// URL instead of being completed.
//
// Reading HTML links and play lists belongs to the link extractor; the
// runner reaches it through SmallFileInspector.
//
// Thread: loop thread, under the job lock, at job completion.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace fetchora {

class DownloadJob;

// Files of at least this many bytes are never looked at.
inline constexpr int64_t kSmallFileLimit = 30720;
// URL file types whose small download may be a page that links to the file.
inline constexpr std::string_view kLinkedFileTypes
    = ".ZIP;.EXE;.BIN;.GZ;.Z;.TAR;.ARJ;.LZH;.MP3;.A[0-9]?;.RAR;.R[0-9]?;.MPG;.MPEG;.rm";
// URL file types that are play lists naming a media URL.
inline constexpr std::string_view kPlayListTypes = ".smi;.smil;.asx;.rmvb;.ram;.rm";
// A job follows small pages to linked URLs at most this often, so that pages
// that link to each other never keep it restarting.
inline constexpr int32_t kMaxSmallFileRestarts = 5;
// "Monitor Flags" bit that turns the linked-file check on.
inline constexpr uint32_t kMonitorLinkedFileCheck = 0x200;

class SmallFileInspector {
public:
    virtual ~SmallFileInspector();
    // A link in the HTML page `file` (fetched from pageUrl) to a URL other
    // than pageUrl whose file name equals fileName; empty when there is none
    // or the file is no HTML page.
    virtual std::string sameNameLink(const std::filesystem::path& file, const std::string& pageUrl,
                                     const std::string& fileName)
        = 0;
    // The media URL the play list `file` names; empty when none.
    virtual std::string playListMedia(const std::filesystem::path& file, const std::string& pageUrl) = 0;
};

// The URL a completed job should be fetched from instead, or empty. file is
// the downloaded file, monitorFlags the "Monitor Flags" setting.
std::string SmallFileRedirect(const DownloadJob& job, const std::filesystem::path& file, uint32_t monitorFlags,
                              SmallFileInspector& inspector);

}  // namespace fetchora
