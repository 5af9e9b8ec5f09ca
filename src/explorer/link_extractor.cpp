#include "explorer/link_extractor.h"

#include "explorer/link_url.h"
#include "platform/text_utils.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <utility>

namespace fetchora {

namespace {

struct LinkAttribute {
    std::string_view tag;
    std::string_view attribute;
};

constexpr LinkAttribute kLinkAttributes[] = {
    {"a", "href"},       {"img", "src"},          {"img", "href"},      {"body", "background"}, {"frame", "src"},
    {"iframe", "src"},   {"fig", "src"},          {"overlay", "src"},   {"applet", "code"},     {"script", "src"},
    {"embed", "src"},    {"bgsound", "src"},      {"area", "href"},     {"img", "lowsrc"},      {"input", "src"},
    {"layer", "src"},    {"table", "background"}, {"th", "background"}, {"td", "background"},   {"base", "href"},
    {"meta", "content"},
};

constexpr size_t kFirstBlock = 512;
// An "a" tag repeating its href hundreds of times is no real link; the
// first few are plenty.
constexpr size_t kMaxAnchorsPerTag = 8;

// Cuts text to at most limit bytes without splitting a UTF-8 sequence.
void limitLength(std::string& text, size_t limit)
{
    if (text.size() <= limit)
        return;
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    text.resize(cut);
}

// The link of a "meta" content value: "5; URL=next.html" gives "next.html".
std::optional<std::string_view> refreshTarget(std::string_view content)
{
    size_t i = 0;
    while (i < content.size() && isBlank(content[i], kWhiteSpace))
        ++i;
    while (i < content.size() && std::isdigit(static_cast<unsigned char>(content[i])))
        ++i;
    if (i >= content.size() || content[i] != ';')
        return std::nullopt;
    ++i;
    while (i < content.size() && isBlank(content[i], kWhiteSpace))
        ++i;
    if (!equalsIgnoringCase(content.substr(i, 4), "URL="))
        return std::nullopt;
    std::string_view target = trimBoth(content.substr(i + 4), kWhiteSpace);
    // Authors often quote the target inside the quoted attribute.
    if (target.size() >= 2 && (target.front() == '\'' || target.front() == '"') && target.back() == target.front())
        target = target.substr(1, target.size() - 2);
    return target;
}

class PageScanner {
public:
    PageScanner(std::string_view text, std::string_view base)
        : m_text(text),
          m_base(base),
          m_resultBudget(text.size() * 8 + (size_t{1} << 20)),
          m_titleBudget(text.size() * 4 + (size_t{1} << 16))
    {
    }

    std::vector<ExtractedLink> run()
    {
        size_t i = 0;
        while (i < m_text.size() && !m_full) {
            const size_t open = m_text.find('<', i);
            if (open == std::string_view::npos)
                break;
            i = scanTag(open + 1);
        }
        return std::move(m_links);
    }

private:
    struct Value {
        std::string_view text;  // with the fragment cut
        size_t offset = 0;
        size_t length = 0;  // as written in the page
    };

    size_t skipBlanks(size_t i) const
    {
        while (i < m_text.size() && isBlank(m_text[i], kWhiteSpace))
            ++i;
        return i;
    }

    // Scans one tag from just after its "<"; returns where scanning goes on.
    size_t scanTag(size_t i)
    {
        const size_t n = m_text.size();
        const size_t nameStart = i;
        while (i < n && !isBlank(m_text[i], kWhiteSpace) && m_text[i] != '>' && m_text[i] != '=')
            ++i;
        const std::string_view tag = m_text.substr(nameStart, i - nameStart);
        std::vector<Value> anchors;
        bool ended = false;
        while (i < n) {
            i = skipBlanks(i);
            if (i >= n)
                break;
            if (m_text[i] == '>') {
                ++i;
                ended = true;
                break;
            }
            const size_t attributeStart = i;
            while (i < n && !isBlank(m_text[i], kWhiteSpace) && m_text[i] != '=' && m_text[i] != '>')
                ++i;
            const std::string_view attribute = m_text.substr(attributeStart, i - attributeStart);
            const size_t equals = skipBlanks(i);
            if (equals >= n || m_text[equals] != '=')
                continue;
            std::optional<Value> value;
            i = readValue(skipBlanks(equals + 1), value);
            if (value)
                takeValue(tag, attribute, *value, anchors);
        }
        for (const Value& anchor : anchors)
            addLink(anchor, ended ? anchorTitle(i) : std::string());
        return i;
    }

    // Reads an attribute value at i; a quoted value that meets a line feed
    // or the end of the text is abandoned.
    size_t readValue(size_t i, std::optional<Value>& value) const
    {
        const size_t n = m_text.size();
        if (i >= n)
            return i;
        size_t start = i;
        size_t end = i;
        size_t next = i;
        const char quote = m_text[i];
        if (quote == '"' || quote == '\'') {
            start = i + 1;
            end = start;
            while (end < n && m_text[end] != quote && m_text[end] != '\n')
                ++end;
            if (end >= n || m_text[end] != quote)
                return end;
            next = end + 1;
        } else {
            while (end < n && !isBlank(m_text[end], kWhiteSpace) && m_text[end] != '>')
                ++end;
            next = end;
        }
        Value result;
        result.offset = start;
        result.length = end - start;
        result.text = m_text.substr(start, end - start);
        result.text = result.text.substr(0, result.text.find('#'));
        value = result;
        return next;
    }

    void takeValue(std::string_view tag, std::string_view attribute, const Value& value, std::vector<Value>& anchors)
    {
        const auto pair
            = std::find_if(std::begin(kLinkAttributes), std::end(kLinkAttributes), [&](const LinkAttribute& entry) {
                  return equalsIgnoringCase(entry.tag, tag) && equalsIgnoringCase(entry.attribute, attribute);
              });
        if (pair == std::end(kLinkAttributes))
            return;
        if (pair->tag == "base") {
            setBase(trimBoth(value.text, kWhiteSpace));
        } else if (pair->tag == "meta") {
            if (const std::optional<std::string_view> target = refreshTarget(value.text)) {
                Value link = value;
                link.text = *target;
                addLink(link, {});
            }
        } else if (pair->tag == "a") {
            if (anchors.size() < kMaxAnchorsPerTag)
                anchors.push_back(value);
        } else {
            addLink(value, {});
        }
    }

    void setBase(std::string_view base)
    {
        if (base.empty())
            return;
        // A relative base is taken relative to the base it replaces.
        if (!IsUsableBase(base)) {
            if (std::optional<std::string> resolved = LinkTarget(base, m_base)) {
                m_baseText = std::move(*resolved);
                m_base = m_baseText;
            }
            return;
        }
        m_baseText.assign(base.substr(0, kMaxLinkLength + 1));
        m_base = m_baseText;
    }

    // The text of the anchor whose tag ended just before from: an "alt="
    // value in it, or the text without its tags.
    std::string anchorTitle(size_t from)
    {
        const size_t n = m_text.size();
        if (m_closeAnchor == std::string_view::npos || m_closeAnchor < from) {
            m_closeAnchor = findIgnoringCase(m_text, "</a", from);
            if (m_closeAnchor == std::string_view::npos)
                m_closeAnchor = n;
        }
        const size_t end = std::min({m_closeAnchor, n, from + kTitleScanLimit});
        const size_t span = end - from;
        if (span == 0 || span > m_titleBudget)
            return {};
        m_titleBudget -= span;
        const std::string_view body = m_text.substr(from, span);
        std::string title;
        const size_t alt = findIgnoringCase(body, "alt=", 0);
        if (alt != std::string_view::npos) {
            for (size_t k = alt + 4; k < body.size() && !isBlank(body[k], kWhiteSpace) && body[k] != '>'; ++k) {
                if (body[k] != '"')
                    title += body[k];
            }
        } else {
            bool inTag = false;
            for (const char c : body) {
                if (c == '<')
                    inTag = true;
                else if (c == '>')
                    inTag = false;
                else if (!inTag)
                    title += (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
            }
        }
        title = std::string(trimBoth(title, kWhiteSpace));
        limitLength(title, kMaxTitleLength);
        return title;
    }

    void addLink(const Value& value, std::string title)
    {
        std::optional<std::string> url = LinkTarget(value.text, m_base);
        if (!url)
            return;
        const size_t cost = sizeof(ExtractedLink) + url->size() + title.size();
        if (cost > m_resultBudget) {
            m_full = true;
            return;
        }
        m_resultBudget -= cost;
        m_links.push_back({std::move(*url), std::move(title), value.offset, value.length});
    }

    std::string_view m_text;
    std::string_view m_base;
    std::string m_baseText;
    std::vector<ExtractedLink> m_links;
    size_t m_resultBudget;
    size_t m_titleBudget;
    size_t m_closeAnchor = std::string_view::npos;
    bool m_full = false;
};

}  // namespace

bool ReadPageSource(const std::filesystem::path& file, std::string& text)
{
    text.clear();
    const bool fromInput = file == "-";
    FILE* stream = fromInput ? stdin : std::fopen(file.c_str(), "rb");
    if (stream == nullptr)
        return false;
    size_t block = kFirstBlock;
    bool ok = true;
    while (text.size() < kMaxPageBytes) {
        const size_t want = std::min(block, kMaxPageBytes - text.size());
        const size_t had = text.size();
        text.resize(had + want);
        const size_t got = std::fread(text.data() + had, 1, want, stream);
        text.resize(had + got);
        if (had == 0) {
            const std::string_view first(text);
            if (first.find('<') == std::string_view::npos || first.find('>') == std::string_view::npos) {
                ok = false;
                break;
            }
        }
        if (got < want) {
            ok = std::ferror(stream) == 0;
            break;
        }
        block *= 2;
    }
    if (!fromInput)
        std::fclose(stream);
    if (!ok)
        text.clear();
    return ok;
}

std::vector<ExtractedLink> ExtractLinks(std::string_view text, std::string_view baseUrl)
{
    return PageScanner(text, baseUrl).run();
}

std::vector<ExtractedLink> ExtractLinksFromFile(const std::filesystem::path& file, std::string_view baseUrl)
{
    std::string text;
    if (!ReadPageSource(file, text))
        return {};
    return ExtractLinks(text, baseUrl);
}

}  // namespace fetchora
