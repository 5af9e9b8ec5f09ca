#pragma once
// How a link found in a page becomes a URL: the absolute/relative decision
// and the resolution of a relative link against the page's base URL. Pure
// functions, no I/O; any thread.
#include <optional>
#include <string>
#include <string_view>

namespace fetchora {

// Links longer than this are never taken: no server accepts them and a hostile
// page could otherwise multiply its size in the result.
inline constexpr size_t kMaxLinkLength = 8192;

// Whether the text, after an optional "URL:" prefix and blanks, begins with a
// known URL scheme ("http:", "ftp:", "mailto:", ...; any case).
bool IsAbsoluteLink(std::string_view link);

// A base URL relative links can be resolved against: a scheme followed by "//".
bool IsUsableBase(std::string_view base);

// The link resolved against base, without folding "." or "..": a link
// beginning with "/" replaces the base's path, any other link replaces the
// base's last path segment. The query and fragment of the base take no part.
std::string ResolveLink(std::string_view base, std::string_view link);

// The URL a link of a page stands for, or nothing when the link is not taken:
// empty, beginning with a backslash and two double quotes, absolute with a
// scheme other than http:// or ftp://, relative without a usable base, or too
// long. Blanks at both ends are trimmed; "http:page.html" counts as the
// relative "page.html".
std::optional<std::string> LinkTarget(std::string_view link, std::string_view base);

}  // namespace fetchora
