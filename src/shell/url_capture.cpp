#include "shell/url_capture.h"

#include <algorithm>

#include "config/app_settings.h"
#include "config/option_id.h"
#include "lang/string_table.h"
#include "model/category_tree.h"
#include "model/download_job.h"
#include "net/url.h"
#include "shell/user_prompts.h"

namespace fetchora {
namespace {

constexpr uint32_t kStrInvalidInput = 61217;
constexpr uint32_t kStrUrlInList = 61251;
constexpr uint32_t kStrSameFileName = 61381;
constexpr uint32_t kStrUseSameSetting = 61440;

std::string text(uint32_t id)
{
    return std::string(builtinString(id));
}

}  // namespace

CaptureSettings CaptureSettings::From(const AppSettings& settings)
{
    CaptureSettings result;
    result.monitorFlags = settings.GetOption(OptionId::MonitorFlags);
    result.generalFlags = settings.values().flags;
    result.confirmBatch = settings.GetOption(OptionId::ConfirmBatchUrls) != 0;
    return result;
}

bool UrlSourceAsks(int32_t source, const CaptureSettings& settings)
{
    switch (source) {
    case kUrlFromClipboard: return (settings.monitorFlags & kMonitorAskClipboard) != 0;
    case kUrlFromBrowser: return (settings.monitorFlags & kMonitorAskBrowser) != 0;
    case kUrlFromCommandLine: return false;
    default: return (settings.generalFlags & kGeneralConfirmDrop) != 0;
    }
}

bool ListSourceAsks(int32_t source, const CaptureSettings& settings)
{
    switch (source) {
    case kListFromDrop: return (settings.generalFlags & kGeneralConfirmDrop) != 0;
    case 1: return (settings.monitorFlags & kMonitorAskClipboard) != 0;
    default: return (settings.monitorFlags & kMonitorAskBrowser) != 0;
    }
}

bool IsStreamUrl(std::string_view url)
{
    const std::optional<UrlEntry> entry = ParseUrl(url);
    if (!entry)
        return false;
    switch (entry->service) {
    case ServiceCode::Mms:
    case ServiceCode::Mmst:
    case ServiceCode::Rtsp:
    case ServiceCode::Pnm: return true;
    default: return false;
    }
}

DownloadJob* FindJobByFileName(const CComPtrTree& tree, const std::string& name)
{
    if (name.empty())
        return nullptr;
    const auto& nodes = tree.nodes();
    const auto it = std::find_if(nodes.begin(), nodes.end(), [&](const DownloadJob* node) {
        return !node->IsCategory() && node->GetDisplayName() == name;
    });
    return it == nodes.end() ? nullptr : *it;
}

UrlCapture::UrlCapture(CComPtrTree& tree, JobLock& jobLock, UserPrompts& prompts, AddDownload addDownload,
                       ClipboardText clipboardText)
    : m_tree(tree),
      m_jobLock(jobLock),
      m_prompts(prompts),
      m_addDownload(std::move(addDownload)),
      m_clipboardText(std::move(clipboardText))
{
}

bool UrlCapture::offerAsAlternate(const std::string& url)
{
    const std::string name = DefaultNameFromUrl(url);
    DownloadJob* existing = nullptr;
    std::string existingUrl;
    {
        JobLockGuard lock(m_jobLock);
        existing = FindJobByFileName(m_tree, name);
        // The same URL is no mirror: the add-download operation reports it.
        if (existing == nullptr || existing->url == url)
            return false;
        existingUrl = existing->url;
    }
    if (!m_prompts.askYesNo(formatMessage(text(kStrSameFileName), {name, existingUrl}), MessageIcon::Question))
        return false;
    // A running job reads its URL list; the question left the lock free, so
    // the job is looked up again.
    JobLockGuard lock(m_jobLock);
    if (!m_tree.Contains(existing))
        return false;
    const bool known = existing->url == url
        || std::any_of(existing->alternateUrls.begin(), existing->alternateUrls.end(),
                       [&](const AlternateUrl& alternate) { return alternate.url == url; });
    if (!known)
        existing->alternateUrls.push_back(AlternateUrl{url, 0});
    return true;
}

int32_t UrlCapture::addUrl(const UrlRequest& request, const CaptureSettings& settings)
{
    AddDownloadRequest add;
    add.text = request.url;
    add.referer = request.referer;
    if (request.source == kUrlFromCommandLine)
        return static_cast<int32_t>(m_addDownload(add).result);

    add.showDialog = UrlSourceAsks(request.source, settings);
    if (request.source == kUrlFromBrowser && (settings.monitorFlags & kMonitorClipboardComment) != 0 && m_clipboardText)
        add.comment = m_clipboardText();
    if (request.source != kUrlFromBrowser)
        add.referer.clear();
    else {
        add.userAgent = request.userAgent;
        add.fileName = request.fileName;
    }

    if (add.showDialog && !IsStreamUrl(request.url) && offerAsAlternate(request.url))
        return 0;

    const AddDownloadOutcome outcome = m_addDownload(add);
    if (outcome.result == AddDownloadResult::Invalid)
        m_prompts.message(text(kStrInvalidInput), MessageIcon::Error);
    // With the dialog shown the operation has already said so itself.
    else if (outcome.result == AddDownloadResult::AlreadyListed && !add.showDialog)
        m_prompts.message(text(kStrUrlInList), MessageIcon::Error);
    return static_cast<int32_t>(outcome.result);
}

LinkListResult UrlCapture::addLinks(const LinkListRequest& request, const CaptureSettings& settings)
{
    LinkListResult result;
    std::vector<CapturedLink> links = request.links;
    if (links.size() > 1 && request.source != kListWithOwnReferers) {
        std::vector<LinkChoice> offered;
        offered.reserve(links.size());
        for (const CapturedLink& link : links)
            offered.push_back(LinkChoice{link.url, link.text});
        const std::vector<LinkChoice> chosen = m_prompts.selectLinks(offered);
        if (chosen.empty()) {
            result.cancelled = true;
            return result;
        }
        // What the browser said of a link stays with it when it is chosen.
        std::vector<CapturedLink> offeredLinks = std::move(links);
        links.clear();
        for (const LinkChoice& choice : chosen) {
            CapturedLink link{choice.url, choice.text, {}, 0};
            const auto same = std::find_if(offeredLinks.begin(), offeredLinks.end(),
                                           [&](const CapturedLink& offered) { return offered.url == choice.url; });
            if (same != offeredLinks.end()) {
                link.fileName = same->fileName;
                link.userAgent = same->userAgent;
            }
            links.push_back(std::move(link));
        }
    }

    const bool ask = ListSourceAsks(request.source, settings);
    bool askEach = ask;
    const DownloadJob* first = nullptr;
    for (size_t i = 0; i < links.size(); ++i) {
        const CapturedLink& link = links[i];
        AddDownloadRequest add;
        add.text = link.url;
        add.comment = link.text;
        add.userAgent = link.userAgent;
        add.fileName = link.fileName;
        add.referer = request.source == kListWithOwnReferers ? link.referer : request.baseUrl;
        add.showDialog = askEach;
        // Without a dialog for the first there are no chosen settings to
        // pass on: each link then takes the defaults and the download rules.
        if (first != nullptr && ask && !askEach) {
            // A dialog may have let other messages run; the first job may be gone.
            JobLockGuard lock(m_jobLock);
            if (m_tree.Contains(first))
                add.templateJob = first;
        }
        const AddDownloadOutcome outcome = m_addDownload(add);
        if (outcome.result == AddDownloadResult::Cancelled) {
            result.cancelled = true;
            break;
        }
        if (outcome.result != AddDownloadResult::Added)
            continue;
        ++result.added;
        if (first != nullptr)
            continue;
        first = outcome.job;
        if (ask && i + 1 < links.size())
            askEach = settings.confirmBatch && !m_prompts.askYesNo(text(kStrUseSameSetting), MessageIcon::Question);
    }
    return result;
}

}  // namespace fetchora
