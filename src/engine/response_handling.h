#pragma once
// What the job window does with a server's answer (WM_PART_RESPONSE): checks
// the size against what the job knows, learns size, resume ability, date and
// a server-given name, follows a redirect, or moves the part to another URL
// or stops it when the URL failed.
//
// The decisions are made here; the runner's own operations (restarting and
// stopping parts, choosing URLs, finishing the job) are reached through
// ResponseHost, so the rules are tested without threads or windows.
//
// Thread: loop thread, under the job lock. Borrows the host and, through
// it, the job and the part.
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "model/download_job.h"
#include "model/part_log.h"
#include "net/response_info.h"

namespace fetchora {

class JobPart;

inline constexpr uint32_t kMsgStartReceivingData = 61221;  // "Start Receiving Data!"
inline constexpr uint32_t kMsgRedirectTo = 61281;  // "Redirect to %1"
inline constexpr uint32_t kMsgServerNewer = 61298;  // "The file on the server is newer, you should download it again."
inline constexpr uint32_t kMsgFileSizeChanged = 61346;  // "File size already changed!"
inline constexpr uint32_t kMsgFileSizeDifferent = 61360;  // "File size is different,can't download from this site."

// Redirects one part follows in a row; the next one counts as a failed URL.
inline constexpr int kRedirectLimit = 20;
// Reconnects of one run a URL may answer without the asked range before it
// is not used again in that run.
inline constexpr int kRangeRefusalLimit = 3;

// What the first successful answer of a run said about the file, to tell a
// file that changed on the server from a server that stopped honouring
// ranges. The entity tag is not stored with the job: it is known for the
// run only.
struct FileIdentity {
    bool known = false;
    int64_t size = -1;
    int32_t fileTime = -1;
    std::string etag;
};

// The runner's side of the response handling, for one part of one job.
class ResponseHost {
public:
    virtual ~ResponseHost() = default;

    virtual DownloadJob& job() = 0;
    virtual JobPart& part() = 0;
    // The part is the job's first part (index 0).
    virtual bool isFirstPart() const = 0;

    // Logs on the part: a text, or a string-table message with the kind it
    // is always logged with.
    virtual void log(LogKind kind, std::string text) = 0;
    virtual void logMessage(uint32_t messageId, std::initializer_list<std::string_view> args = {}) = 0;

    // Whether no successful answer was handled yet in this run of the job;
    // markAnswered() ends that.
    virtual bool firstAnswer() const = 0;
    virtual void markAnswered() = 0;
    // The part's count of redirects followed in a row.
    virtual int& redirectCount() = 0;
    // The file as the run's first answer described it.
    virtual FileIdentity& runIdentity() = 0;

    // ---- the part's URL --------------------------------------------------------
    // The job has another URL the part could use (not marked bad).
    virtual bool hasOtherUrl() const = 0;
    // The part's URL failed: bad (not found, refused) is never tried again
    // in this run; otherwise its failure time is noted.
    virtual void noteUrlFailure(bool bad) = 0;
    // The part takes the job's next usable URL; false when there is none.
    virtual bool moveToNextUrl() = 0;
    // The part's URL answered a reconnect without the asked range. True
    // when it keeps doing so (kRangeRefusalLimit times): it is marked bad.
    virtual bool noteRangeRefused() = 0;

    // ---- runner operations -------------------------------------------------
    // Starts the part's worker again at once (new handle block and thread);
    // useSiteLimit: test the site's connection limit first (a new host).
    virtual void restartPart(bool useSiteLimit) = 0;
    // The URL cannot resume: the other parts stop and this part starts again
    // from byte 0.
    virtual void restartPartFromZero() = 0;
    virtual void stopPart(StopReason reason) = 0;
    virtual bool anyPartRunning() const = 0;
    // A part other than this one runs.
    virtual bool otherPartRunning() const = 0;
    // Counts a retry and starts the part again after the retry wait; the
    // part stops instead when the retry limit is reached.
    virtual void retryPartLater() = 0;
    virtual void finishJob(StopReason reason) = 0;
    // The file changed on the server: download it again from scratch.
    virtual void startOver() = 0;
    // The first answer is in: the job may start its other parts.
    virtual void startOtherParts() = 0;

    // ---- optional --------------------------------------------------------------
    // For a URL under test (a mirror): the size it must have.
    virtual std::optional<int64_t> probeSize() const { return std::nullopt; }
    // An RTSP job whose size may follow the server's: a changed size is
    // taken and the stream fetched again from its start (startOver) instead
    // of failing the job.
    virtual bool sizeChangeAllowed() const { return false; }
    // MMS and RTSP: writes the stream header the worker keeps with the URL
    // at the start of the file.
    virtual void writeStreamHeader() { }
};

// Handles one answer. The result is the answer to WM_PART_RESPONSE:
// - 0: the worker ends (the part was restarted, moved or stopped, or the job
//   ended);
// - 1 after a success: the worker reads the body;
// - 1 after a failure (outcome 3, the URL may work later): the worker takes
//   the error step, whose retry decision moves the part to another URL or
//   waits and tries again, counted against the retry limit.
int HandleResponse(ResponseHost& host, ResponseInfo info, ProtocolKind kind);

// The URL a redirect leads to: an absolute location as it stands (less a
// stray leading "26" before "://"), as does one with another scheme
// ("mailto:"); a relative one ("\" read as "/") resolved against the
// current URL's scheme, host, port and directory, each leading "../" going
// one level up (never above the root). Nothing for an empty location.
std::optional<std::string> RedirectTargetUrl(const UrlEntry& current, std::string_view location);

// The server's date of an answer: fileTime when the worker gave one, else
// the parsed lastModified text; -1 when neither says.
int32_t ResponseFileTime(const ResponseInfo& info);

}  // namespace fetchora
