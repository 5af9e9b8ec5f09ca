#pragma once
// Wraps HTML dropped or pasted from a desktop program into the "HTML Format"
// block that MainView::htmlDropped reads: a header with the byte offsets of
// the HTML and of the fragment, and the page's address as "SourceURL:" (the
// base for relative links).
//
// Thread: any; pure.
#include <string>
#include <string_view>

namespace fetchora {

// html: the dropped markup as given (a fragment or a whole document).
// sourceUrl: the page it came from, or empty. A line break inside sourceUrl
// is cut off there, so that it cannot add header fields.
std::string HtmlFormatFromHtml(std::string_view html, std::string_view sourceUrl);

}  // namespace fetchora
