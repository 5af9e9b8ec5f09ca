#pragma once
// The URL model: turning a URL text into a UrlEntry and back into its
// canonical text. Pure functions, no I/O; any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/url_entry.h"

namespace fetchora {

// "ftp://", "http://", ... for a known service; empty for None.
std::string_view ServicePrefix(ServiceCode service);

// Whether a job may fetch URLs of this service (PNM is recognised only).
bool IsTransferable(ServiceCode service);
// MMS, MMST and RTSP: media streams captured to a file.
bool IsStreamService(ServiceCode service);

uint16_t DefaultPort(ServiceCode service);
bool IsDefaultPort(ServiceCode service, uint16_t port);

// Parses a URL text. Fails for text without a known scheme followed by "//",
// an empty or malformed host, a bad port, or control characters anywhere.
// Blanks around the text are trimmed; for FTP each trailing blank becomes
// "%20" in the object (FTP file names may end in blanks). A password holding
// "@" is kept whole: the host is what follows the last "@". User name and
// password are percent-decoded; host and object are kept as written, except
// that an HTTP(S) fragment ("#...") is dropped because it is never sent.
std::optional<UrlEntry> ParseUrl(std::string_view text);

// Scheme prefix + host in lower case (bracketed when IPv6) + ":port" only when
// not the service's default + object. Nothing for a service that cannot be
// transferred.
std::optional<std::string> CanonicalUrl(const UrlEntry& entry);

// The URL text of an entry without user name and password, keeping the host's
// case: what a job stores as its URL.
std::string UrlWithoutLogin(const UrlEntry& entry);

// Percent-decodes "%XX" sequences; malformed ones are kept as written.
std::string PercentDecode(std::string_view text);

}  // namespace fetchora
