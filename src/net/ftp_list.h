#pragma once
// One line of an FTP LIST answer turned into a directory entry, for DOS
// ("04-27-00  09:09PM  <DIR>  name") and Unix ("drwxr-xr-x 2 u g 4096 Mar
// 3 2021 name") listings.
//
// Names that could lead outside the folder they are listed in (".", "..",
// anything holding "/" or "\", or a control character) are never returned:
// the site explorer makes local paths from them.
//
// Thread: any; no shared state.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace fetchora {

struct FtpListEntry {
    std::string name;
    bool isDirectory = false;
    bool isLink = false;  // a Unix symbolic link (the name stops before "->")
    int64_t size = 0;  // 0 for directories
    std::string date;  // as listed: "Mar 3 2021", "Jan 10 12:00", "04-27-00 09:09PM"
};

// Nothing for a line that is no entry ("total 12", blank, junk) or whose
// name is unsafe.
std::optional<FtpListEntry> ParseListLine(std::string_view line);

// Adds the entry of a line at the head of the list; false when the line held
// none.
bool ParseListLine(std::string_view line, std::deque<FtpListEntry>& entries);

}  // namespace fetchora
