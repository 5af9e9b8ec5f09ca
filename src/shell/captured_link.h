#pragma once
// One link handed to the main view as part of a list (a drop, the HTML
// clipboard format, a browser's "download all"): what message 1231 carries.
#include <cstddef>
#include <string>

namespace fetchora {

struct CapturedLink {
    std::string url;
    // The link's text; it becomes the job comment.
    std::string text;
    // The page the link came from, for lists whose entries carry their own
    // referrer (source 2); otherwise the list's base URL is used.
    std::string referer;
    // Where the link stands in its source HTML (0 when there is none).
    size_t position = 0;
    // From a browser: the name it suggests for the file (a link's "download"
    // attribute) and its user agent; empty when it gave none.
    std::string fileName{};
    std::string userAgent{};
};

}  // namespace fetchora
