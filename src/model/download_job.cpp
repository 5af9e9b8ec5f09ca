#include "model/download_job.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "config/site_rules.h"
#include "model/category_tree.h"
#include "net/url.h"
#include "platform/slot_pool.h"
#include "platform/text_utils.h"

namespace fetchora {
namespace {

void setLowByte(uint32_t& word, uint32_t value)
{
    word = (word & ~0xFFu) | (value & 0xFFu);
}

// Never destroyed: records freed during the process's exit still go back to it.
SlotPool& recordPool()
{
    static SlotPool* pool = new SlotPool(sizeof(DownloadJob), alignof(DownloadJob));
    return *pool;
}

}  // namespace

// ---- CComPtrNode ------------------------------------------------------------------

CComPtrNode::~CComPtrNode()
{
    // Gather every descendant first and free them leaf-first, without
    // recursion: a damaged database may nest nodes arbitrarily deep.
    std::vector<DownloadJob*> descendants;
    for (DownloadJob* child = m_firstChild; child; child = child->m_nextSibling)
        descendants.push_back(child);
    for (size_t i = 0; i < descendants.size(); ++i) {
        for (DownloadJob* child = descendants[i]->m_firstChild; child; child = child->m_nextSibling)
            descendants.push_back(child);
    }
    for (DownloadJob* node : descendants)
        node->m_firstChild = nullptr;
    for (auto it = descendants.rbegin(); it != descendants.rend(); ++it)
        delete *it;
}

DownloadJob* CComPtrNode::lastChild() const
{
    DownloadJob* child = m_firstChild;
    while (child && child->m_nextSibling)
        child = child->m_nextSibling;
    return child;
}

void CComPtrNode::SetMarker(bool on)
{
    if (on)
        nodeFlags |= kNodeMarker;
    else
        nodeFlags &= ~kNodeMarker;
}

// ---- DownloadJob ----------------------------------------------------------------

DownloadJob::DownloadJob() = default;

DownloadJob::~DownloadJob()
{
    // The runner reads the run part while it winds down, so it goes first,
    // before the members it borrows.
    resetRunner();
}

void* DownloadJob::operator new(size_t size)
{
    // A type derived from the record, should one appear, is not pooled.
    return size == sizeof(DownloadJob) ? recordPool().allocate() : ::operator new(size);
}

void DownloadJob::operator delete(void* record, size_t size) noexcept
{
    if (size == sizeof(DownloadJob))
        recordPool().release(record);
    else
        ::operator delete(record);
}

JobRun& DownloadJob::run()
{
    if (!m_run)
        m_run = std::make_unique<JobRun>();
    return *m_run;
}

const JobRun& DownloadJob::run() const
{
    static const JobRun none;
    return m_run ? *m_run : none;
}

const JobTexts& DownloadJob::texts() const
{
    static const JobTexts none;
    return m_texts ? *m_texts : none;
}

JobTexts& DownloadJob::editTexts()
{
    if (!m_texts)
        m_texts = std::make_unique<JobTexts>();
    return *m_texts;
}

void DownloadJob::ApplyDefaults(NodeKind nodeKind, const JobDefaults& defaults, const CComPtrTree* tree, int32_t now)
{
    categoryId = defaults.categoryId;
    const int32_t maxSplit = std::clamp(defaults.maxParallelNum, 1, kMaxSplitCount);
    splitCount = std::clamp(defaults.splitCount, 1, maxSplit);
    httpProxyId = defaults.httpProxyId;
    ftpProxyId = defaults.ftpProxyId;
    streamProxyId = defaults.streamProxyId;
    startMode = defaults.startMode;
    // Defaults without a login leave a job that has no texts without the part.
    if (m_texts || !defaults.userName.empty() || !defaults.password.empty()) {
        editTexts().userName = defaults.userName;
        editTexts().password = defaults.password;
    }
    referer = defaults.referer;

    optionFlags = 0;
    if ((defaults.login & 0xF) != 0)
        optionFlags |= kOptUseLogin;
    if (!defaults.findAlternateUrls)
        optionFlags |= kOptNoMirrorSearch;
    if (defaults.login & 0x10)
        optionFlags |= kOptFtpSubdirectories;
    if (defaults.login & 0x40)
        optionFlags |= kOptFtpCreateSubdirectories;
    if (defaults.login & 0x20)
        optionFlags |= kOptCreateCategory;

    state = static_cast<uint32_t>(JobState::Ready);
    createTime = now;
    completeTime = -1;
    remoteFileTime = -1;
    fileSize = -1;
    formatFlags = kFmtNewRecord | (defaults.useTempFile ? kFmtTempFile : 0);

    if (nodeKind == NodeKind::Category) {
        nodeFlags |= kNodeCategory;
        return;
    }
    nodeFlags &= ~kNodeCategory;
    saveFolder = defaults.path;
    if (saveFolder.empty() && tree) {
        const DownloadJob* category = tree->FindById(categoryId);
        if (!category || !category->IsCategory())
            category = tree->FindCategory(CategoryKind::Downloaded);
        if (category) {
            categoryId = category->id;
            saveFolder = category->saveFolder;
        }
    }
    if (saveFolder.empty())
        saveFolder = defaults.defaultDownloadFolder;
}

std::string DownloadJob::GetDisplayName() const
{
    if (IsCategory())
        return name;
    return fileName.empty() ? defaultName() : fileName;
}

std::string DownloadJob::defaultName() const
{
    if (m_run && !m_run->redirectedName.empty())
        return m_run->redirectedName;
    return DefaultNameFromUrl(url);
}

void DownloadJob::SetRedirectedName(std::string name)
{
    run().redirectedName = std::move(name);
}

void DownloadJob::Notify(uint32_t mask) const
{
    if (notifyWindow)
        notifyWindow->post(WM_JOB_CHANGED, reinterpret_cast<uintptr_t>(this), static_cast<intptr_t>(mask));
}

bool DownloadJob::SetUrl(std::string_view text)
{
    const std::optional<UrlEntry> entry = ParseUrl(text);
    if (!entry || !IsTransferable(entry->service))
        return false;
    const bool hasLogin = !entry->userName.empty() || !entry->password.empty();
    const bool trimmed = !text.empty() && (isBlank(text.front(), kWhiteSpace) || isBlank(text.back(), kWhiteSpace));
    if (hasLogin) {
        JobTexts& login = editTexts();
        login.userName = entry->userName;
        login.password = entry->password;
        optionFlags |= kOptUseLogin;
    }
    // Credentials never stay in the stored URL; a text that needed trimming
    // is stored as parsed so that an FTP name's trailing blanks survive.
    url = (hasLogin || trimmed) ? UrlWithoutLogin(*entry) : std::string(text);
    if (m_texts)
        m_texts->location.clear();
    if (m_run)
        m_run->redirectedName.clear();
    Notify(kChangeSetUrl);
    return true;
}

void DownloadJob::SetSaveFolder(std::string_view folder)
{
    if (folder == saveFolder)
        return;
    saveFolder = folder;
    if (!IsCategory())
        Notify(kChangeName);
}

void DownloadJob::SetFileSize(int64_t size)
{
    fileSize = size;
    optionFlags |= kOptSizeKnown;
    Notify(kChangeInfo);
}

void DownloadJob::SetRemoteFileTime(int32_t time)
{
    remoteFileTime = time;
    optionFlags |= kOptFileTimeKnown;
    Notify(kChangeInfo);
}

void DownloadJob::SetResumable(bool yes)
{
    optionFlags |= kOptResumeKnown;
    if (yes)
        optionFlags |= kOptResumable;
    else
        optionFlags &= ~kOptResumable;
    Notify(kChangeResume);
}

void DownloadJob::SetComment(std::string_view text)
{
    if (m_texts || !text.empty())
        editTexts().comment = text;
    Notify(kChangeComment);
}

void DownloadJob::SetSplitCount(int32_t n, int32_t maxParallelNum)
{
    const int32_t maximum = std::clamp(maxParallelNum, 1, kMaxSplitCount);
    splitCount = std::clamp(n, 1, maximum);
    Notify(kChangeParts);
}

void DownloadJob::SetStartMode(StartMode mode)
{
    startMode = mode;
    // A running job keeps running; only a waiting or failed one is re-armed.
    const JobState current = GetState();
    if (current != JobState::Completed && current != JobState::Downloading)
        setLowByte(state, static_cast<uint32_t>(JobState::Ready));
    Notify(kChangeState);
}

void DownloadJob::SetState(JobState newState, bool notify)
{
    setLowByte(state, static_cast<uint32_t>(newState));
    if (newState == JobState::Completed)
        hasData = true;
    if (notify)
        Notify(newState == JobState::Completed ? (kChangeState | kChangeCompleted) : kChangeState);
}

void DownloadJob::SetCompleted(int64_t bytes)
{
    completedRanges.clear();
    if (bytes > 0)
        completedRanges.push_back(CompletedRange{0, bytes, 0, 0});
    RecomputeCompletedBytes();
}

void DownloadJob::RecomputeCompletedBytes()
{
    completedBytes = 0;
    for (const CompletedRange& range : completedRanges)
        completedBytes += range.length();
}

std::string DownloadJob::GetLocalPath() const
{
    return JoinPath(saveFolder, SanitizeFileName(GetDisplayName()));
}

std::string DownloadJob::GetTempPath() const
{
    return GetLocalPath() + std::string(kTempSuffix);
}

std::string DownloadJob::GetWorkingPath() const
{
    return ((formatFlags & kFmtTempFile) && !IsComplete()) ? GetTempPath() : GetLocalPath();
}

const UrlEntry* DownloadJob::GetUrl(size_t index) const
{
    const std::vector<UrlEntry>& entries = run().urlEntries;
    return index < entries.size() ? &entries[index] : nullptr;
}

UrlEntry* DownloadJob::GetUrl(size_t index)
{
    if (!m_run)
        return nullptr;
    std::vector<UrlEntry>& entries = m_run->urlEntries;
    return index < entries.size() ? &entries[index] : nullptr;
}

namespace {

// A login written into the URL or onto the job wins; a site rule only fills
// an entry that has none, and only when the rule says to log in.
void takeSiteRuleLogin(UrlEntry& entry, const SiteRuleList& siteRules)
{
    if (!entry.userName.empty())
        return;
    const std::optional<std::string> text = CanonicalUrl(entry);
    const SiteRule* rule = text ? siteRules.FindSiteRule(*text) : nullptr;
    if (!rule || !(rule->flags & kSiteLogin) || rule->userName.empty())
        return;
    entry.userName = rule->userName;
    entry.password = rule->password;
}

}  // namespace

bool DownloadJob::RebuildUrlEntries(const SiteRuleList* siteRules)
{
    std::vector<UrlEntry>& urlEntries = run().urlEntries;
    urlEntries.clear();
    std::optional<UrlEntry> main = ParseUrl(url);
    if (!main || !IsTransferable(main->service))
        return false;
    if ((optionFlags & kOptUseLogin) && main->userName.empty()) {
        main->userName = userName();
        main->password = password();
    }
    main->referer = referer;
    urlEntries.push_back(std::move(*main));
    for (const AlternateUrl& alternate : alternateUrls) {
        std::optional<UrlEntry> entry = ParseUrl(alternate.url);
        if (entry && IsTransferable(entry->service))
            urlEntries.push_back(std::move(*entry));
    }
    if (siteRules) {
        for (UrlEntry& entry : urlEntries)
            takeSiteRuleLogin(entry, *siteRules);
    }
    return true;
}

DownloadJob* DownloadJob::GetCategory() const
{
    if (!tree())
        return nullptr;
    DownloadJob* category = tree()->FindById(categoryId);
    return (category && category->IsCategory()) ? category : nullptr;
}

bool DownloadJob::SetCategory(int32_t id)
{
    if (!tree())
        return false;
    const DownloadJob* category = tree()->FindById(id);
    if (!category || !category->IsCategory())
        return false;
    categoryId = id;
    return true;
}

bool DownloadJob::SanitizeDisplayName()
{
    const std::string current = GetDisplayName();
    const std::string safe = SanitizeFileName(current);
    if (safe == current)
        return false;
    fileName = safe;
    return true;
}

bool DownloadJob::MarkForRecheck()
{
    if (!IsComplete() || !IsSizeKnown())
        return false;
    optionFlags |= kOptRecheck;
    setLowByte(state, static_cast<uint32_t>(JobState::Ready));
    if (startMode == StartMode::Manual)
        startMode = StartMode::Immediately;
    Notify(kChangeState);
    return true;
}

uint32_t DownloadJob::StorageFormatFlags() const
{
    uint32_t flags = (formatFlags | kFmtNewRecord) & ~(kFmtStreamRanges | kFmtRange64);
    if (streamMarker != 0)
        flags |= kFmtStreamRanges;
    bool wide = IsSizeKnown() && fileSize > kLargestSize32;
    // A download of unknown size can grow past what 32-bit offsets hold;
    // writing its ranges narrow would corrupt them.
    for (const CompletedRange& range : completedRanges) {
        if (range.start > std::numeric_limits<int32_t>::max() || range.end > std::numeric_limits<int32_t>::max())
            wide = true;
    }
    if (wide)
        flags |= kFmtRange64;
    return flags;
}

void DownloadJob::AfterLoad(int32_t maxParallelNum, bool startUnfinishedJobs)
{
    if (IsCategory())
        return;
    if (state & static_cast<uint32_t>(JobState::Downloading))
        setLowByte(state, static_cast<uint32_t>(JobState::Ready));

    completedRanges.erase(std::remove_if(completedRanges.begin(), completedRanges.end(),
                                         [](const CompletedRange& range) { return range.end <= range.start; }),
                          completedRanges.end());
    const auto byStart = [](const CompletedRange& a, const CompletedRange& b) { return a.start < b.start; };
    // A sound file's ranges are already in order; sorting and merging in
    // place spares every job a second array.
    if (!std::is_sorted(completedRanges.begin(), completedRanges.end(), byStart))
        std::stable_sort(completedRanges.begin(), completedRanges.end(), byStart);
    size_t kept = 0;
    for (const CompletedRange& range : completedRanges) {
        if (kept > 0 && range.start <= completedRanges[kept - 1].end) {
            CompletedRange& last = completedRanges[kept - 1];
            if (range.end > last.end) {
                last.end = range.end;
                last.streamEnd = range.streamEnd;
            }
            continue;
        }
        completedRanges[kept++] = range;
    }
    completedRanges.resize(kept);
    RecomputeCompletedBytes();
    hasData = completedBytes > 0;

    if (startUnfinishedJobs && startMode == StartMode::Manual)
        startMode = StartMode::Immediately;
    else if (!startUnfinishedJobs && startMode == StartMode::Immediately)
        startMode = StartMode::Manual;
    splitCount = std::clamp(splitCount, 1, std::clamp(maxParallelNum, 1, kMaxSplitCount));
}

bool DownloadJob::IsQueued() const
{
    const JobState current = GetState();
    return (current == JobState::Ready && startMode != StartMode::Manual) || current == JobState::Downloading;
}

}  // namespace fetchora
