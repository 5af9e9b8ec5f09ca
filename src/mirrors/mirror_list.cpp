#include "mirrors/mirror_list.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "model/download_job.h"

namespace fetchora {

namespace {

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isComment(std::string_view line)
{
    return (!line.empty() && line[0] == '/') || (line.size() > 1 && line[1] == '/');
}

}  // namespace

std::vector<MirrorListLine> ParseMirrorList(std::string_view text)
{
    std::vector<MirrorListLine> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (isComment(line))
            continue;
        // The prefix is everything after the third comma, so a URL with a
        // comma in its path stays whole.
        std::string_view fields[3];
        bool complete = true;
        for (std::string_view& field : fields) {
            const size_t comma = line.find(',');
            if (comma == std::string_view::npos) {
                complete = false;
                break;
            }
            field = line.substr(0, comma);
            line.remove_prefix(comma + 1);
        }
        const std::string_view prefix = trimmed(line);
        // An empty prefix would begin every URL and claim every job.
        if (!complete || prefix.empty())
            continue;
        lines.push_back({std::string(trimmed(fields[0])), std::string(trimmed(fields[2])), std::string(prefix)});
    }
    return lines;
}

std::vector<std::string> FindListMirrors(std::string_view jobUrl, std::string_view listText,
                                         const MirrorCountries& countries, int32_t maxHit)
{
    const std::vector<MirrorListLine> lines = ParseMirrorList(listText);
    size_t groupStart = 0;
    while (groupStart < lines.size()) {
        size_t groupEnd = groupStart + 1;
        while (groupEnd < lines.size() && lines[groupEnd].group == lines[groupStart].group)
            ++groupEnd;
        size_t matched = groupEnd;
        for (size_t i = groupStart; i < groupEnd && matched == groupEnd; ++i) {
            if (jobUrl.starts_with(lines[i].prefix))
                matched = i;
        }
        if (matched == groupEnd) {
            groupStart = groupEnd;
            continue;
        }
        const std::string_view rest = jobUrl.substr(lines[matched].prefix.size());
        std::vector<std::string> byRank[3];
        for (size_t i = groupStart; i < groupEnd; ++i) {
            if (i == matched)
                continue;
            const int rank = countryRank(lines[i].country, countries);
            std::vector<std::string>& bucket = byRank[rank - 1];
            if (rank == 3 && static_cast<int64_t>(bucket.size()) >= std::max<int32_t>(maxHit, 0))
                continue;
            bucket.push_back(lines[i].prefix + std::string(rest));
        }
        std::vector<std::string> out;
        for (auto& bucket : byRank)
            out.insert(out.end(), std::make_move_iterator(bucket.begin()), std::make_move_iterator(bucket.end()));
        return out;
    }
    return {};
}

std::string ReadMirrorList(const std::filesystem::path& file)
{
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxMirrorListBytes)
        return {};
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t AddListMirrors(DownloadJob& job, const std::vector<std::filesystem::path>& listFiles,
                      const MirrorCountries& countries, int32_t maxHit)
{
    size_t added = 0;
    for (const std::filesystem::path& file : listFiles) {
        const std::string text = ReadMirrorList(file);
        if (text.empty())
            continue;
        for (std::string& url : FindListMirrors(job.url, text, countries, maxHit)) {
            const bool known = url == job.url
                || std::any_of(job.alternateUrls.begin(), job.alternateUrls.end(),
                               [&](const AlternateUrl& alternate) { return alternate.url == url; });
            if (known)
                continue;
            job.alternateUrls.push_back({std::move(url), 0});
            ++added;
        }
    }
    return added;
}

}  // namespace fetchora
