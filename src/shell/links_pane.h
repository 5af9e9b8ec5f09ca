#pragma once
// The links pane of the detail area as data: the links of the detail job's
// downloaded page, decoded in the chosen character set and sorted by the
// chosen key. The window draws rows() and hands the chosen ones back as
// LinkChoices ("Add to job list") or URLs ("Open in browser").
//
// A link's Type is the extension of the file name in its URL path, without
// the dot and as written ("zip", "HTML"): the explorer's Type column shows it
// the same way. Sorting by it ignores ASCII case.
//
// Thread: the GUI thread (the loop thread). linkPageSourceOf reads the job
// and wants the job lock; LinksPane::show reads the page file and should run
// without it. Owns its rows; borrows nothing.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "explorer/link_extractor.h"
#include "shell/user_prompts.h"

namespace fetchora {

class DownloadJob;

// The character sets titles can be decoded in, in menu order. Index 0 is
// UTF-8, the system's own page encoding. Their menu names are the items of
// the string table's list kLinkEncodingNamesId ("&Default,Baltic,...") in
// this order.
struct LinkEncoding {
    std::string_view charset;  // the iconv name: "UTF-8", "CP1257", ...
};
inline constexpr uint32_t kLinkEncodingNamesId = 40012;
inline constexpr size_t kLinkEncodingCount = 13;
extern const std::array<LinkEncoding, kLinkEncodingCount> kLinkEncodings;

// The bytes of a title in the chosen set (an index of kLinkEncodings; out of
// range counts as 0) as one line of UTF-8: bytes the set does not know show
// as U+FFFD, and control characters and runs of blanks as one space, trimmed
// at both ends.
std::string decodeLinkTitle(std::string_view bytes, size_t encoding);

// PageOrder is the order before the user picks a key. The choices' menu
// names are the items of the list kLinkSortNamesId ("&Type,Tit&le,&URL").
enum class LinkSortKey : uint8_t { PageOrder, Type, Title, Url };
inline constexpr std::array<LinkSortKey, 3> kLinkSortChoices{LinkSortKey::Type, LinkSortKey::Title, LinkSortKey::Url};
inline constexpr uint32_t kLinkSortNamesId = 40013;

// The extension of the file name of a URL's path, without the dot; empty for
// a URL ending in "/" or naming only a host.
std::string linkType(std::string_view url);

// Which page the pane shows: nothing (url empty) unless the job is complete
// and its file is an HTML page, that is, its name's extension is one of the
// page types (the explorer's "Types" list) or it has no extension (then the
// page source check of the extractor decides). Call under the job lock;
// job may be null.
struct LinkPageSource {
    std::string url;  // the job's URL: the base of the page's relative links
    std::filesystem::path file;
    bool operator==(const LinkPageSource&) const = default;
};
LinkPageSource linkPageSourceOf(const DownloadJob* job, std::string_view pageTypes);

struct LinkRow {
    std::string type;
    std::string title;  // decoded
    std::string url;
};

class LinksPane {
public:
    // Shows the links of the source's page: read again only when the source
    // or the file's size or time differ from the last read, so that a batch
    // for the same page costs one stat. A missing, unreadable or non-HTML
    // file gives no rows. Each URL is listed once, with the first title the
    // page gives it. True when the rows may have changed.
    bool show(const LinkPageSource& source);
    // Whether show(source) would leave the rows as they are (one stat).
    bool isCurrent(const LinkPageSource& source) const;
    // Forgets the page (the next show reads again).
    void clear();

    void setEncoding(size_t index);
    size_t encoding() const { return m_encoding; }
    void setSortKey(LinkSortKey key);
    LinkSortKey sortKey() const { return m_sortKey; }

    const LinkPageSource& source() const { return m_source; }
    const std::vector<LinkRow>& rows() const { return m_rows; }
    // The rows of those indices (out of range ones skipped) as links for
    // the job list, the decoded title as their text.
    std::vector<LinkChoice> choices(std::span<const size_t> rowIndices) const;

private:
    struct FileStamp {
        bool exists = false;
        uintmax_t size = 0;
        std::filesystem::file_time_type time{};
        bool operator==(const FileStamp&) const = default;
    };
    static FileStamp stampOf(const std::filesystem::path& file);
    void rebuildRows();

    LinkPageSource m_source;
    FileStamp m_stamp;
    bool m_read = false;
    std::vector<ExtractedLink> m_links;  // each URL once, in page order
    std::vector<LinkRow> m_rows;
    size_t m_encoding = 0;
    LinkSortKey m_sortKey = LinkSortKey::PageOrder;
};

}  // namespace fetchora
