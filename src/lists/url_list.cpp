#include "lists/url_list.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "lang/string_table.h"
#include "lists/file_error.h"
#include "net/url.h"
#include "platform/atomic_file.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

bool isFetchableUrl(std::string_view text)
{
    const auto entry = ParseUrl(text);
    return entry && IsTransferable(entry->service);
}

}  // namespace

std::string UrlListText(const std::vector<const DownloadJob*>& jobs)
{
    std::string text;
    for (const DownloadJob* job : jobs) {
        if (!job || job->url.empty())
            continue;
        text += job->url;
        text += "\r\n";
    }
    return text;
}

bool WriteUrlList(const std::filesystem::path& file, const std::vector<const DownloadJob*>& jobs, std::string* error)
{
    errno = 0;
    if (writeFileAtomically(file, UrlListText(jobs)))
        return true;
    if (error)
        *error = errno ? FileErrorText(file, errno) : builtinText(kStrFileCannotBeWritten, {file.string()});
    return false;
}

std::vector<std::string> ParseUrlList(std::string_view text)
{
    std::vector<std::string> urls;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = trimRight(trimLeft(text.substr(pos, end - pos), kSpaceTab), " \t\r");
        pos = end + 1;
        if (!line.empty() && isFetchableUrl(line))
            urls.emplace_back(line);
    }
    return urls;
}

UrlListRead ReadUrlList(const std::filesystem::path& file)
{
    UrlListRead result;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec) {
        result.error = FileErrorText(file, ec.value());
        return result;
    }
    if (size > kUrlListFileLimit) {
        result.error
            = builtinText(kStrFileLargerThan, {file.string(), std::to_string(kUrlListFileLimit)});
        return result;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        result.error = FileErrorText(file, errno);
        return result;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        result.error = builtinText(kStrFileReadError, {file.string()});
        return result;
    }
    result.urls = ParseUrlList(text);
    result.ok = true;
    return result;
}

UrlListAction ActionForUrls(std::size_t count)
{
    if (count == 0)
        return UrlListAction::NoValidUrl;
    return count == 1 ? UrlListAction::AddOne : UrlListAction::SelectLinks;
}

}  // namespace fetchora
