#pragma once
// The mirror search: the request URL built from the settings' template (or
// the URL-sharing service), the links of the result page that name the job's
// file, ranked by country, and the search worker that fetches the page and
// reports what it found.
//
// No search service is built in: the template's host is the user's choice on
// the "Mirrors" page. The shipped template names a reserved documentation
// host; while it does, the search is off and the worker says so in the log.
//
// Thread: the builders are pure (any thread); MirrorSearchProcedure runs on
// the job's search thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/transfer_threads.h"
#include "explorer/link_extractor.h"
#include "mirrors/mirror_ranking.h"

namespace fetchora {

// Links of the result page looked at, at most.
inline constexpr size_t kMaxSearchLinks = 5000;
// Bytes of a result page kept, at most; the rest is not read.
inline constexpr size_t kMaxSearchPageBytes = size_t{8} << 20;
// Redirects of the result page followed, at most.
inline constexpr int kMaxSearchRedirects = 5;

inline constexpr std::string_view kSharingServicePath = "/mirrors.php?name={filename}&size={filesize}&maxhit={maxhit}";
inline constexpr std::string_view kSharingServiceChinesePath
    = "/cn/mirrors.php?name={filename}&size={filesize}&maxhit={maxhit}";
// What a template without "{filename}" (a bare FTP search server) gets.
inline constexpr std::string_view kSearchQueryTail
    = "?query={filename}&doit=Search&type=Case+insensitive+multiple+substrings+search&hits={maxhit}&matches="
      "&hitsprmatch=&limdom=&limpath=&f1=-&f2=-&f3=-&f4=-&f5=-&f6=Path&header=none&sort=none&trlen=20";
inline constexpr std::string_view kSharingServiceVersion = "1.65";

// Whether a host is a reserved name that stands for "no host set yet": an
// empty host, example.com/.net/.org and their subdomains, and names under the
// reserved ".invalid" and ".example" top-level domains.
bool isPlaceholderHost(std::string_view host);

// The search URL, or empty with the reason in whyOff when no search is to be
// made (no host set, web search switched off). {filename} and the shared job
// URL are percent-encoded, so a name with "&", "#" or blanks cannot change
// the query.
std::string BuildSearchUrl(const MirrorSearchOptions& options, std::string_view fileName, int64_t fileSize,
                           std::string* whyOff = nullptr);

// The file name a link leads to: its last path segment, percent-decoded,
// without query or fragment; empty when it has none.
std::string linkFileName(std::string_view url);

// The http://, https:// and ftp:// links among the first kMaxSearchLinks
// whose file name equals fileName (ignoring case), without repeats, ranked
// by country.
std::vector<std::string> PickSearchResults(const std::vector<ExtractedLink>& links, std::string_view fileName,
                                           const MirrorCountries& countries);

// The search thread procedure: logs "Start Ftp Search.", fetches the page as
// the HTTP worker does (through the job's HTTP proxy), reports the finds and
// logs how many. An unreachable page logs "Error occured!" with the cause and
// is not retried. Returns 0.
int MirrorSearchProcedure(MirrorTask& task);

}  // namespace fetchora
