#pragma once
// What the main view does with a URL handed to it (message 1228) and with a
// list of links (message 1231): whether the user is asked, the question for
// a file name that is already a job, the add-download operation and the
// messages for its results.
//
// Thread: loop thread. The same-name search and the alternate-URL addition
// take the job lock; the add-download operation takes it itself. Borrows the
// tree, the lock, the prompts and the add-download operation.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/job_lock.h"
#include "shell/add_download.h"
#include "shell/captured_link.h"

namespace fetchora {

class AppSettings;
class CComPtrTree;
class DownloadJob;
class UserPrompts;

// Message 1228's sources.
inline constexpr int32_t kUrlFromDrop = 0;  // also the command line without referrer
inline constexpr int32_t kUrlFromClipboard = 1;
inline constexpr int32_t kUrlFromBrowser = 2;
inline constexpr int32_t kUrlFromCommandLine = 16;  // with a referrer

// Message 1231's sources: 0 a drop or the HTML clipboard format; 1, 3, 4 the
// click catcher (file list, block list, block list of several links); 2 a
// list whose entries carry their own referrer and comment.
inline constexpr int32_t kListFromDrop = 0;
inline constexpr int32_t kListWithOwnReferers = 2;

// "Monitor Flags" bits.
inline constexpr int32_t kMonitorAskClipboard = 0x2;
inline constexpr int32_t kMonitorAskBrowser = 0x10;
inline constexpr int32_t kMonitorClipboardComment = 0x80;
// "General" "Flags" bit: confirm URLs dropped on the drop zone.
inline constexpr int32_t kGeneralConfirmDrop = 0x8;

// The settings the decisions read, taken when the message arrives.
struct CaptureSettings {
    int32_t monitorFlags = 0x15F;
    int32_t generalFlags = 0;
    bool confirmBatch = true;  // "Flags1" 0x4000

    static CaptureSettings From(const AppSettings& settings);
};

// Whether a URL from this source shows the add-download dialog.
bool UrlSourceAsks(int32_t source, const CaptureSettings& settings);
// Whether a list from this source shows the dialog: drops as drops, the
// clipboard (Paste URL) as the clipboard, the browser lists as a click.
bool ListSourceAsks(int32_t source, const CaptureSettings& settings);
// mms, mmst, rtsp and pnm URLs: streams have no file to mirror.
bool IsStreamUrl(std::string_view url);
// The first job (not Category) of the tree whose local name is this name.
DownloadJob* FindJobByFileName(const CComPtrTree& tree, const std::string& name);

struct UrlRequest {
    std::string url;
    // Source 2: the catcher's referrer; source 16: the referrer the command
    // line gave (the caller clears its copy).
    std::string referer;
    int32_t source = kUrlFromDrop;
    // Source 2 from our browser host: the browser's agent and suggested name.
    std::string userAgent{};
    std::string fileName{};
};

struct LinkListRequest {
    std::vector<CapturedLink> links;
    std::string baseUrl;
    int32_t source = kListFromDrop;
};

struct LinkListResult {
    size_t added = 0;
    bool cancelled = false;
};

class UrlCapture {
public:
    using AddDownload = std::function<AddDownloadOutcome(const AddDownloadRequest&)>;
    // The clipboard's text, for the comment of a caught click.
    using ClipboardText = std::function<std::string()>;

    UrlCapture(CComPtrTree& tree, JobLock& jobLock, UserPrompts& prompts, AddDownload addDownload,
               ClipboardText clipboardText);

    // Message 1228: 0 when the URL was taken (added, or added to an existing
    // job as an alternate URL), non-zero otherwise (1 invalid, 2 already
    // listed, 3 cancelled).
    int32_t addUrl(const UrlRequest& request, const CaptureSettings& settings);

    // Message 1231.
    LinkListResult addLinks(const LinkListRequest& request, const CaptureSettings& settings);

private:
    bool offerAsAlternate(const std::string& url);

    CComPtrTree& m_tree;
    JobLock& m_jobLock;
    UserPrompts& m_prompts;
    AddDownload m_addDownload;
    ClipboardText m_clipboardText;
};

}  // namespace fetchora
