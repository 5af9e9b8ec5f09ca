#include "engine/response_handling.h"

#include <algorithm>

#include "engine/engine_texts.h"
#include "model/job_part.h"
#include "net/connection_log.h"
#include "net/http_date.h"
#include "net/url.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

bool isWeb(ServiceCode service)
{
    return service == ServiceCode::Http || service == ServiceCode::Https;
}

bool nothingReceived(const DownloadJob& job, const JobPart& part)
{
    return job.completedBytes == 0 && !job.hasData && part.received == 0;
}

// "mailto:", "javascript:" and the like: a place with its own scheme, never
// a path on the current host.
bool hasScheme(std::string_view location)
{
    const std::size_t colon = location.find(':');
    if (colon == 0 || colon == std::string_view::npos || colon > location.find_first_of("/?#"))
        return false;
    const auto isSchemeChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-'
            || c == '.';
    };
    const char first = location.front();
    if (!((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z')))
        return false;
    return std::all_of(location.begin(), location.begin() + static_cast<std::ptrdiff_t>(colon), isSchemeChar);
}

int handleFailure(ResponseHost& host, ResponseOutcome outcome)
{
    const UrlEntry* url = host.job().GetUrl(host.part().urlIndex);
    if (outcome == ResponseOutcome::Refused)
        outcome = ResponseOutcome::NotFound;
    if (outcome == ResponseOutcome::NotFound && url && isWeb(url->service) && host.hasOtherUrl())
        outcome = ResponseOutcome::OtherError;
    if (outcome == ResponseOutcome::OtherError) {
        host.noteUrlFailure(false);
        return 1;
    }
    host.noteUrlFailure(true);
    if (host.moveToNextUrl()) {
        host.restartPart(true);
        return 0;
    }
    host.stopPart(StopReason::Error);
    if (!host.anyPartRunning())
        host.finishJob(StopReason::Error);
    return 0;
}

// The new URL entry after a redirect: the new place, with the job's login
// only while scheme, host and port stay the same (it was meant for that
// server alone). A redirect's cookie goes along; one marked Secure only to
// https, and an earlier cookie never leaves https for plain http.
std::optional<UrlEntry> redirectedEntry(const UrlEntry& current, const std::string& target, const ResponseInfo& info)
{
    std::optional<UrlEntry> next = ParseUrl(target);
    if (!next || !IsTransferable(next->service))
        return std::nullopt;
    const bool sameHost = next->host == current.host && next->port == current.port;
    const bool sameServer = sameHost && next->service == current.service;
    if (sameServer && next->userName.empty()) {
        next->userName = current.userName;
        next->password = current.password;
    }
    next->referer = current.referer;
    next->siteLimit = sameHost ? current.siteLimit : nullptr;
    next->resolvedAddress = next->host == current.host ? current.resolvedAddress : std::string();
    const bool secureTarget = next->service == ServiceCode::Https;
    std::string cookie = info.cookie;
    if (secureTarget && !info.secureCookie.empty())
        cookie += (cookie.empty() ? "" : "; ") + info.secureCookie;
    if (cookie.empty() && sameHost && (secureTarget || current.service != ServiceCode::Https))
        cookie = current.cookie;
    next->cookie = std::move(cookie);
    return next;
}

int handleRedirect(ResponseHost& host, const ResponseInfo& info)
{
    DownloadJob& job = host.job();
    JobPart& part = host.part();
    host.logMessage(kMsgRedirectTo, {info.location});
    UrlEntry* current = job.GetUrl(part.urlIndex);
    if (!current)
        return handleFailure(host, ResponseOutcome::NotFound);
    if (++host.redirectCount() > kRedirectLimit) {
        host.log(LogKind::Error, builtinText(kStrEngineTooManyRedirects, {std::to_string(kRedirectLimit)}));
        host.redirectCount() = 0;
        return handleFailure(host, ResponseOutcome::NotFound);
    }
    const std::optional<std::string> target = RedirectTargetUrl(*current, info.location);
    std::optional<UrlEntry> next = target ? redirectedEntry(*current, *target, info) : std::nullopt;
    if (!next) {
        host.log(LogKind::Error, builtinText(kStrEngineRedirectUnusable));
        return handleFailure(host, ResponseOutcome::NotFound);
    }
    const bool hostChanged = next->host != current->host || next->port != current->port;
    *current = std::move(*next);
    if (nothingReceived(job, part) && job.fileName.empty()) {
        // The name that comes from the URL follows it; a name the user chose
        // stays.
        const std::string name = DefaultNameFromUrl(*target);
        if (!name.empty() && name != job.defaultName()) {
            job.SetRedirectedName(name);
            job.Notify(kChangeName);
        }
    }
    host.restartPart(hostChanged);
    return 0;
}

// The URL cannot give the part's range: another URL, or everything again
// from the start.
int cannotResume(ResponseHost& host)
{
    if (host.moveToNextUrl()) {
        host.restartPart(true);
        return 0;
    }
    host.restartPartFromZero();
    return 0;
}

// Whether a later answer describes another file than the run's first one:
// another size, date or entity tag, each compared only when both say.
bool fileChanged(const DownloadJob& job, const FileIdentity& first, const ResponseInfo& info)
{
    const int64_t knownSize = job.IsSizeKnown() ? job.fileSize : first.size;
    if (info.size > 0 && knownSize > 0 && info.size != knownSize)
        return true;
    const int32_t firstTime = first.fileTime != -1 ? first.fileTime : job.remoteFileTime;
    const int32_t time = ResponseFileTime(info);
    if (time != -1 && firstTime != -1 && time != firstTime)
        return true;
    return !info.etag.empty() && !first.etag.empty() && info.etag != first.etag;
}

// A reconnect of a running job got no range (a 200 where a 206 was asked
// for). The data it would bring starts at 0; what the job has stays.
int rangeRefusedOnReconnect(ResponseHost& host, const ResponseInfo& info)
{
    DownloadJob& job = host.job();
    JobPart& part = host.part();
    if (fileChanged(job, host.runIdentity(), info)) {
        // Another file is on the server now: what is on disk is of no use.
        host.logMessage(kMsgServerNewer);
        if (info.size > 0)
            job.SetFileSize(info.size);
        if (const int32_t time = ResponseFileTime(info); time != -1)
            job.SetRemoteFileTime(time);
        host.runIdentity() = {true, info.size, ResponseFileTime(info), info.etag};
        host.startOver();
        return 0;
    }
    host.log(LogKind::Error,
             builtinText(kStrEngineWholeFileNotRange, {std::to_string(part.position())}));
    const bool urlGivenUp = host.noteRangeRefused();
    if (host.moveToNextUrl()) {
        host.restartPart(true);
        return 0;
    }
    if (!urlGivenUp && !host.otherPartRunning()) {
        // The last connection of the job: try again later rather than lose
        // what is on disk.
        host.retryPartLater();
        return 0;
    }
    // The other parts take over this part's range when theirs are done.
    host.stopPart(StopReason::Error);
    if (!host.anyPartRunning())
        host.finishJob(StopReason::Error);
    return 0;
}

// An RTSP stream whose size changed on the server takes the new size. What
// is on disk was written for the old size (its header says so), so the
// stream is fetched again from its start: true when the part was restarted.
bool followServerSize(ResponseHost& host, int64_t size)
{
    DownloadJob& job = host.job();
    job.SetFileSize(size);
    if (nothingReceived(job, host.part()))
        return false;
    host.log(LogKind::Status, builtinText(kStrEngineStreamSizeChanged));
    host.startOver();
    return true;
}

int handleSuccess(ResponseHost& host, ResponseInfo& info, ProtocolKind kind)
{
    DownloadJob& job = host.job();
    JobPart& part = host.part();
    host.redirectCount() = 0;
    const bool firstOfRun = host.firstAnswer();

    if (const std::optional<int64_t> expected = host.probeSize()) {
        if (info.size != *expected)
            return handleFailure(host, ResponseOutcome::OtherError);
        if (info.resume == ResumeInfo::NotHonoured) {
            const bool urlCannotResume = (job.optionFlags & kOptResumeKnown) && !(job.optionFlags & kOptResumable);
            return handleFailure(host, urlCannotResume ? ResponseOutcome::OtherError : ResponseOutcome::NotFound);
        }
    }

    const bool adoptSize = kind == ProtocolKind::Rtsp && host.sizeChangeAllowed();
    const bool firstOfKnownSize = host.firstAnswer() && job.IsSizeKnown();
    if (firstOfKnownSize && info.size != job.fileSize) {
        if (adoptSize && info.size >= 0) {
            if (followServerSize(host, info.size))
                return 0;
        } else {
            host.logMessage(host.isFirstPart() ? kMsgFileSizeChanged : kMsgFileSizeDifferent);
            return handleFailure(host, ResponseOutcome::NotFound);
        }
    }
    host.markAnswered();
    if (firstOfRun)
        host.runIdentity() = {true, info.size, ResponseFileTime(info), info.etag};

    if (info.size == -1)
        info.resume = ResumeInfo::NotHonoured;
    // A part that starts past 0 gets nothing usable from a URL that ignores
    // ranges (the data would start at 0), whichever answer of the run it is.
    const bool byteJob = kind == ProtocolKind::Http || kind == ProtocolKind::Ftp;
    const bool rangeRefused = part.position() > 0 && info.resume != ResumeInfo::Honoured;
    // On a later answer of the run the ranges on disk came from this file:
    // one refusal neither throws them away nor says the job cannot resume.
    if (rangeRefused && byteJob && !firstOfRun)
        return rangeRefusedOnReconnect(host, info);
    if (info.resume != ResumeInfo::Unknown)
        job.SetResumable(info.resume == ResumeInfo::Honoured);
    if (rangeRefused && (firstOfKnownSize || byteJob))
        return cannotResume(host);

    if (job.IsSizeKnown()) {
        if (info.size > 0 && info.size != job.fileSize) {
            if (adoptSize) {
                if (followServerSize(host, info.size))
                    return 0;
            } else {
                host.logMessage(kMsgFileSizeDifferent);
                // A mirror that holds another file is dropped for the run;
                // the job fails only when no other URL is left to fetch from.
                if (host.hasOtherUrl()) {
                    host.noteUrlFailure(true);
                    if (host.moveToNextUrl()) {
                        host.restartPart(true);
                        return 0;
                    }
                }
                host.finishJob(StopReason::Error);
                return 0;
            }
        }
    } else if (info.size >= 0) {
        job.SetFileSize(info.size);
    }

    const int32_t fileTime = ResponseFileTime(info);
    if ((job.optionFlags & kOptRecheck) && fileTime != -1 && job.remoteFileTime != -1
        && fileTime != job.remoteFileTime) {
        host.logMessage(kMsgServerNewer);
        host.startOver();
        return 0;
    }
    if (fileTime != -1)
        job.SetRemoteFileTime(fileTime);
    if (!info.fileName.empty() && nothingReceived(job, part)) {
        // SetFileName keeps the name to one safe path component.
        job.SetFileName(info.fileName);
    }

    host.startOtherParts();
    host.logMessage(kMsgStartReceivingData);
    if ((kind == ProtocolKind::Mms || kind == ProtocolKind::Rtsp) && nothingReceived(job, part))
        host.writeStreamHeader();
    return 1;
}

}  // namespace

int32_t ResponseFileTime(const ResponseInfo& info)
{
    if (info.fileTime != -1)
        return info.fileTime;
    if (info.lastModified.empty())
        return -1;
    return HttpDateSeconds(trimBoth(info.lastModified, kSpaceTab)).value_or(-1);
}

std::optional<std::string> RedirectTargetUrl(const UrlEntry& current, std::string_view location)
{
    location = trimBoth(location, kSpaceTab);
    if (location.empty())
        return std::nullopt;
    if (location.find("://") != std::string_view::npos) {
        if (location.starts_with("26"))
            location.remove_prefix(2);
        return std::string(location);
    }
    if (hasScheme(location))
        return std::string(location);
    std::string relative(location);
    for (char& c : relative) {
        if (c == '\\')
            c = '/';
    }
    std::string scheme(ServicePrefix(current.service));
    if (scheme.empty())
        scheme = "http://";
    // "//host/path" keeps only the scheme.
    if (relative.starts_with("//"))
        return scheme.substr(0, scheme.size() - 2) + relative;
    std::string origin = scheme;
    if (IsDefaultPort(current.service, current.port))
        origin += current.host.find(':') != std::string::npos ? "[" + current.host + "]" : current.host;
    else
        origin += hostAndPort(current.host, current.port);
    if (relative.front() == '/')
        return origin + relative;

    const std::string_view object = current.object;
    const std::string_view path = object.substr(0, object.find_first_of("?#"));
    if (relative.front() == '?')
        return origin + std::string(path) + relative;
    std::string directory(path.substr(0, path.rfind('/') + 1));
    if (directory.empty())
        directory = "/";
    std::string_view rest = relative;
    for (;;) {
        if (rest.starts_with("../")) {
            rest.remove_prefix(3);
            if (directory.size() > 1) {
                directory.pop_back();
                directory.erase(directory.rfind('/') + 1);
            }
        } else if (rest.starts_with("./")) {
            rest.remove_prefix(2);
        } else {
            break;
        }
    }
    return origin + directory + std::string(rest);
}

int HandleResponse(ResponseHost& host, ResponseInfo info, ProtocolKind kind)
{
    switch (info.outcome) {
    case ResponseOutcome::Success: return handleSuccess(host, info, kind);
    case ResponseOutcome::Redirect: return handleRedirect(host, info);
    case ResponseOutcome::NotFound:
    case ResponseOutcome::OtherError:
    case ResponseOutcome::Refused: return handleFailure(host, info.outcome);
    }
    return 0;
}

}  // namespace fetchora
