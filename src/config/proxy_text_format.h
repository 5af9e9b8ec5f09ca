#pragma once
// The text form in which proxy lists are exported and imported: one proxy a
// line, "server:port@TAG" optionally followed by ":user:password", lines ended
// by CR LF. The type tags are "@HTTP" (3), "@HTTP1" (8), "@FTP" (2), "@FTP1"
// (1), "@FTP2" (4), "@FTP3" (5), "@FTP4" (6), "@SOCKS5" (7) and "@SOCKS4" (9).
// Passwords are written in plain text; the format cannot carry a user name
// holding ":".
//
// Thread: the caller's (loop thread for the file functions, which change the
// borrowed ProxyList).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/proxy_entry.h"

namespace fetchora {

class ProxyList;

// Import refuses files larger than this rather than reading them whole.
inline constexpr uintmax_t kMaxProxyFileSize = 4 * 1024 * 1024;

// The tag of a type ("@SOCKS5"); empty for type 0 and unknown types, which are
// not exported.
std::string_view proxyExportTag(uint16_t type);

// The export text: empty unless the list holds at least two entries; entries
// of type 0 or of an unknown type are left out.
std::string formatProxyText(const ProxyList& proxies);

// One line (without its line end) as an entry with an empty title; none for a
// malformed line. Lines holding control bytes, ports that are not a plain
// decimal number in 1..65535 and lines without a known tag are malformed.
std::optional<ProxyEntry> parseProxyLine(std::string_view line);

// Every well-formed line of a text. Lines end at LF; a CR before it is dropped,
// so files with CR LF and with bare LF line ends read alike.
std::vector<ProxyEntry> parseProxyText(std::string_view text);

enum class ProxyFileResult { Ok, NothingToWrite, CannotOpen, CannotWrite, TooLarge };

// Writes the export text to a file (created readable by the owner only, as
// it holds passwords). A list with fewer than two entries writes nothing and
// leaves the file untouched.
ProxyFileResult exportProxyFile(const ProxyList& proxies, const std::filesystem::path& file);

// Reads the file whole and adds each parsed entry, rejecting duplicates.
// `added`, when given, receives the indices of the entries that were added.
ProxyFileResult importProxyFile(ProxyList& proxies, const std::filesystem::path& file,
                                std::vector<size_t>* added = nullptr);

}  // namespace fetchora
