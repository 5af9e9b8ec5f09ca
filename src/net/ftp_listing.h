#pragma once
// The listing of one FTP folder for the site explorer: a control connection
// (directly, through a SOCKS or CONNECT tunnel, or through an FTP proxy that
// is told the site in its login), the login and REST probe, then TYPE A,
// PWD, CWD to the URL's folder, PASV or PORT and LIST; the data connection's
// text is parsed line by line into entries.
//
// A hostile server is bounded: a listing of more than kMaxFtpListingBytes or
// kMaxFtpListingLines is refused with an error, and a silent server is left
// after the data time-out.
//
// Thread: the caller's; blocks until the listing ends, and returns within
// about 100 ms of the alive check turning false. Borrows the log.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "config/proxy_entry.h"
#include "net/byte_stream.h"
#include "net/connection_log.h"
#include "net/ftp_list.h"
#include "net/transfer_channel.h"

namespace fetchora {

inline constexpr std::size_t kMaxFtpListingBytes = std::size_t{16} << 20;
inline constexpr std::size_t kMaxFtpListingLines = 100000;

struct FtpListing {
    bool ok = false;
    bool stopped = false;  // the alive check ended it
    std::string error;  // why it failed, when not ok
    std::string reportedPath;  // the folder as the server's PWD named it; empty when it did not
    std::deque<FtpListEntry> entries;  // in the order ParseListLine builds them
};

// Lists the folder of an "ftp://" URL (the part of its path up to the last
// "/"). settings gives the time-outs, the passive-mode choice and the
// anonymous password; proxy is the one chosen for the URL, none for direct.
FtpListing ListFtpDirectory(std::string_view url, const std::optional<ProxyEntry>& proxy,
                            const TransferSettings& settings, const AliveCheck& alive, ConnectionLog& log);

}  // namespace fetchora
