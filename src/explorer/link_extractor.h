#pragma once
// Reads the links of an HTML page: the tags and attributes that carry URLs,
// the page's own base, "meta refresh" targets and the titles of anchors.
//
// Thread: any. Every call keeps its scanning state to itself, so several
// windows may parse at the same time.
//
// A hostile page is bounded: the source is read up to kMaxPageBytes, the
// work spent on anchor titles and the memory of the result grow at most
// linearly with the page, and links longer than kMaxLinkLength are dropped.
//
// Titles keep the page's bytes: pages are UTF-8 like the rest of the system,
// so there is no code page to convert them to.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

// One link of a page: the URL it leads to (resolved against the page's base),
// the link text (may be empty), and where the attribute value stands in the
// page text.
struct ExtractedLink {
    std::string url;
    std::string title;
    size_t offset = 0;
    size_t length = 0;
};

// Sources larger than this are read only this far.
inline constexpr size_t kMaxPageBytes = size_t{64} << 20;
// An anchor title is looked for in at most this many bytes after its tag, and
// kept to at most kMaxTitleLength bytes.
inline constexpr size_t kTitleScanLimit = 2048;
inline constexpr size_t kMaxTitleLength = 512;

// Reads a page file ("-" for standard input) in blocks of 512 bytes and then
// twice as many each time. False when it cannot be read or when its first
// block lacks "<" or ">" (it is no HTML page); text is then empty.
bool ReadPageSource(const std::filesystem::path& file, std::string& text);

// The links of the page text in page order. baseUrl (may be empty) is the URL
// the page came from; a "base" tag in the page replaces it from there on.
std::vector<ExtractedLink> ExtractLinks(std::string_view text, std::string_view baseUrl);

// The links of a page file ("-" for standard input); empty when it cannot be
// read or is no HTML page.
std::vector<ExtractedLink> ExtractLinksFromFile(const std::filesystem::path& file, std::string_view baseUrl);

}  // namespace fetchora
