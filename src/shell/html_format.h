#pragma once
// The "HTML Format" clipboard and drag data: a text header with byte offsets
// ("StartHTML:", "EndHTML:", optionally "StartSelection:"/"EndSelection:"
// and, from version 1, "SourceURL:") in front of an HTML fragment. This
// reads the links of the fragment, keeping only those inside the selection
// when one is given.
//
// Offsets come from another program and are checked against the data: a
// negative offset, one beyond the data, or an end before its start gives an
// empty result.
//
// Thread: any; pure.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "shell/captured_link.h"

namespace fetchora {

struct HtmlFormatLinks {
    // In page order; position counts from StartHTML.
    std::vector<CapturedLink> links;
    // The page the fragment came from; the base for relative links. May be
    // empty.
    std::string baseUrl;
};

// The number after a header field name, read as atol reads it; -1 when the
// field is absent.
int64_t HtmlFormatField(std::string_view data, std::string_view name);

// The links of the data. Empty links (and base URL) when a required field is
// missing or an offset is out of range.
HtmlFormatLinks ReadHtmlFormat(std::string_view data);

}  // namespace fetchora
