#include "explorer/explorer_fetch_results.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include "lang/string_table.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

constexpr std::array<std::string_view, 12> kMonths
    = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};

bool readNumber(std::string_view text, int& value)
{
    if (text.empty() || text.size() > 4)
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

int monthIndex(std::string_view name)
{
    if (name.size() != 3)
        return -1;
    const std::string lower = asciiLower(name);
    for (size_t i = 0; i < kMonths.size(); ++i) {
        if (kMonths[i] == lower)
            return static_cast<int>(i);
    }
    return -1;
}

std::vector<std::string_view> words(std::string_view text)
{
    std::vector<std::string_view> result;
    size_t i = 0;
    while (i < text.size() && result.size() < 4) {
        while (i < text.size() && text[i] == ' ')
            ++i;
        const size_t start = i;
        while (i < text.size() && text[i] != ' ')
            ++i;
        if (i > start)
            result.push_back(text.substr(start, i - start));
    }
    return result;
}

bool readClock(std::string_view text, int& hour, int& minute)
{
    const size_t colon = text.find(':');
    return colon != std::string_view::npos && readNumber(text.substr(0, colon), hour)
        && readNumber(text.substr(colon + 1, 2), minute) && hour < 24 && minute < 60;
}

int64_t utcSeconds(int year, int month, int day, int hour, int minute)
{
    if (month < 0 || month > 11 || day < 1 || day > 31 || year < 1900 || year > 9999)
        return -1;
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    return static_cast<int64_t>(timegm(&fields));
}

bool isWebNode(const ExplorerNode& node)
{
    const std::string scheme = asciiLower(node.url.substr(0, node.url.find(':')));
    return scheme == "http" || scheme == "https";
}

}  // namespace

int64_t ListingTime(std::string_view date, std::time_t now)
{
    const std::vector<std::string_view> parts = words(date);
    if (parts.size() < 2)
        return -1;
    int hour = 0;
    int minute = 0;
    const int month = monthIndex(parts[0]);
    if (month >= 0 && parts.size() >= 3) {
        int day = 0;
        if (!readNumber(parts[1], day))
            return -1;
        int year = 0;
        if (readNumber(parts[2], year))
            return utcSeconds(year, month, day, 0, 0);
        if (!readClock(parts[2], hour, minute))
            return -1;
        std::tm today{};
        gmtime_r(&now, &today);
        const int64_t thisYear = utcSeconds(today.tm_year + 1900, month, day, hour, minute);
        if (thisYear > static_cast<int64_t>(now) + 86400)
            return utcSeconds(today.tm_year + 1899, month, day, hour, minute);
        return thisYear;
    }
    // DOS style: "04-27-00 09:09PM".
    const std::string_view day = parts[0];
    int dosMonth = 0;
    int dosDay = 0;
    int year = 0;
    if (day.size() < 8 || day[2] != '-' || day[5] != '-' || !readNumber(day.substr(0, 2), dosMonth)
        || !readNumber(day.substr(3, 2), dosDay) || !readNumber(day.substr(6), year))
        return -1;
    if (day.size() == 8)
        year += year < 70 ? 2000 : 1900;
    std::string_view clock = parts[1];
    const bool pm = clock.ends_with("PM") || clock.ends_with("pm");
    const bool am = clock.ends_with("AM") || clock.ends_with("am");
    if (pm || am)
        clock.remove_suffix(2);
    if (!readClock(clock, hour, minute))
        return -1;
    if (pm && hour < 12)
        hour += 12;
    if (am && hour == 12)
        hour = 0;
    return utcSeconds(year, dosMonth - 1, dosDay, hour, minute);
}

// Listed names go into node URLs, which are fetched later: a raw "#" or "?"
// would cut the path there, and a raw "%" would be decoded into another name.
std::string EncodeListedName(std::string_view name, bool keepSlash)
{
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = byte > 0x20 && byte < 0x7F
            && std::string_view("\"#%<>?`{}|\\^").find(c) == std::string_view::npos && (keepSlash || c != '/');
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += upperHexDigit(byte >> 4);
            out += upperHexDigit(byte);
        }
    }
    return out;
}

ExplorerNode* FolderListingReady(ExplorerNodeStore& store, std::string_view finalUrl, std::string_view reportedPath,
                                 const std::deque<FtpListEntry>& entries, std::time_t now)
{
    std::string folderUrl(finalUrl);
    if (folderUrl.empty() || folderUrl.back() != '/')
        folderUrl += '/';
    if (!reportedPath.empty() && reportedPath.front() == '/') {
        if (const std::optional<SplitAddress> split = SplitExplorerAddress(folderUrl)) {
            folderUrl = split->siteRoot;
            folderUrl.pop_back();
            folderUrl += EncodeListedName(reportedPath, true);
            if (folderUrl.back() != '/')
                folderUrl += '/';
        }
    }
    ExplorerNode* folder = store.addAddress(folderUrl);
    if (folder == nullptr)
        return nullptr;
    for (const FtpListEntry& entry : entries) {
        std::string url = folder->url + EncodeListedName(entry.name, false);
        if (entry.isDirectory)
            url += '/';
        ExplorerNode* node = store.addChild(*folder, std::move(url), entry.name,
                                            entry.isDirectory ? ExplorerNodeKind::Folder : ExplorerNodeKind::File);
        // A node known before keeps what it had; what it did not know (a
        // browsed file address, a page's link) the listing fills in.
        if (node->size < 0)
            node->size = entry.size;
        if (node->modified < 0)
            node->modified = ListingTime(entry.date, now);
    }
    folder->fetched = true;
    return folder;
}

ExplorerNode* PageNodeOf(ExplorerNodeStore& store, std::string_view jobUrl, std::string* base)
{
    std::string url(jobUrl);
    ExplorerNode* node = store.find(url);
    if (node == nullptr && !url.ends_with('/')) {
        url += '/';
        node = store.find(url);
    }
    if (base != nullptr)
        *base = node != nullptr ? url : std::string(jobUrl);
    return node;
}

bool HoldsLinks(const ExplorerNode& node)
{
    return node.kind == ExplorerNodeKind::Page || (isWebNode(node) && node.kind != ExplorerNodeKind::File);
}

PageLinkNodes::PageLinkNodes(ExplorerNodeStore& store, std::string_view jobUrl, std::vector<ExtractedLink> links)
    : m_store(store), m_node(PageNodeOf(store, jobUrl, nullptr)), m_links(std::move(links))
{
    m_done = m_node == nullptr || !HoldsLinks(*m_node);
    m_limit = store.size() + kMaxNewNodesPerPage;
}

bool PageLinkNodes::step(size_t count)
{
    if (m_done)
        return false;
    const size_t end = count >= m_links.size() - m_next ? m_links.size() : m_next + count;
    for (; m_next < end && m_store.size() < m_limit; ++m_next) {
        const ExtractedLink& link = m_links[m_next];
        if (m_store.find(link.url) != nullptr)
            continue;
        bool created = false;
        ExplorerNode* target = m_store.addAddress(link.url, &created);
        if (target != nullptr && created) {
            target->title = link.title;
            target->from = m_node->url;
        }
    }
    if (m_next < m_links.size() && m_store.size() < m_limit)
        return true;
    m_node->links = std::move(m_links);
    m_node->fetched = true;
    m_done = true;
    return false;
}

ExplorerNode* PageLinksReady(ExplorerNodeStore& store, std::string_view jobUrl, std::vector<ExtractedLink> links)
{
    PageLinkNodes adder(store, jobUrl, std::move(links));
    while (adder.step(std::numeric_limits<size_t>::max()))
        ;
    return adder.node();
}

ExplorerNode* PageFetchEnded(ExplorerNodeStore& store, std::string_view jobUrl, bool completed,
                             const std::filesystem::path& downloadedFile)
{
    std::string base;
    ExplorerNode* node = PageNodeOf(store, jobUrl, &base);
    if (node == nullptr || !completed || !HoldsLinks(*node))
        return node;
    return PageLinksReady(store, base, ExtractLinksFromFile(downloadedFile, base));
}

std::string FetchEndedLogLine(bool completed, std::string_view url)
{
    return builtinText(completed ? kStrFetchSucceeded : kStrFetchFailed, {url});
}

}  // namespace fetchora
