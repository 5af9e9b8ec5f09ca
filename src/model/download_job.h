#pragma once
// The job record: one URL fetched into one local file, plus everything kept
// about it between runs. The same record serves as a Category; the category
// tree (category_tree.h) is a tree of DownloadJob records.
//
// Thread: created, changed and read on the loop thread under the job lock.
// Transfer threads never touch a record; their reports are applied by the
// loop thread.
//
// Ownership: a node owns its children (the tree owns its top-level nodes).
// A job owns its JobRun part once made: the parsed urlEntries, its share of
// reusedConnection until it hands it on, and the runtime JobRunner while it
// has an output file open. Through the part it borrows the
// site-explorer window, the three resolved ProxyEntry objects (owned by the
// application's proxy list) and the runner's hidden CJobWnd; it also borrows
// the notify window.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/alternate_url_list.h"
#include "model/completed_range_list.h"
#include "model/job_notify.h"
#include "model/shared_text.h"
#include "net/ftp_handover.h"
#include "net/url_entry.h"

namespace fetchora {

class CComPtrTree;
class CJobWnd;
class DownloadJob;
class JobRunner;
struct ProxyEntry;
class SiteRuleList;

// The low byte of DownloadJob::state.
enum class JobState : uint8_t { Ready = 1, Downloading = 2, Completed = 4, Failed = 8 };

enum class StartMode : uint16_t { Manual = 0, Immediately = 1, Schedule = 2 };

// Why a part or a job stopped.
enum class StopReason : uint32_t {
    Done = 0,
    User = 1,
    MaxErrors = 2,
    Error = 3,
    Schedule = 4,
    ResumeNotSupported = 5,
    DialUpError = 6,
    MovedToEnd = 7,
    Silent = 8,
    NoConnectionSlot = 9,
};

// A Category's special role: the low three bits of DownloadJob::kind.
enum class CategoryKind : uint32_t { User = 0, Root = 1, Downloading = 2, Downloaded = 4, Deleted = 6 };
inline constexpr uint32_t kCategoryKindMask = 0x7;

// What a record is created as (the stored node tag & 3).
enum class NodeKind : uint32_t { Category = 1, Job = 2 };

// CComPtrNode::nodeFlags
inline constexpr uint32_t kNodeCategory = 0x1;
inline constexpr uint32_t kNodeMarker = 0x8;

// Tree images.
inline constexpr int32_t kImageRoot = 0;
inline constexpr int32_t kImageDownloading = 1;
inline constexpr int32_t kImageDownloaded = 3;
inline constexpr int32_t kImageDeleted = 4;  // the bin, empty
inline constexpr int32_t kImageBinFull = 5;  // the bin while it holds jobs
inline constexpr int32_t kImageDefault = 6;

// Ids of the special Categories as a new database creates them.
inline constexpr int32_t kRootCategoryId = 1;
inline constexpr int32_t kDownloadingCategoryId = 2;
inline constexpr int32_t kDownloadedCategoryId = 3;
inline constexpr int32_t kDeletedCategoryId = 8;

// DownloadJob::optionFlags
inline constexpr uint32_t kOptResumable = 0x0001;  // valid when kOptResumeKnown is set
inline constexpr uint32_t kOptResumeKnown = 0x0002;
inline constexpr uint32_t kOptUseLogin = 0x0004;
inline constexpr uint32_t kOptNoMirrorSearch = 0x0008;
inline constexpr uint32_t kOptFileTimeKnown = 0x0100;
inline constexpr uint32_t kOptSizeKnown = 0x0200;
inline constexpr uint32_t kOptRecheck = 0x0400;
inline constexpr uint32_t kOptFtpSubdirectories = 0x0800;
inline constexpr uint32_t kOptFtpCreateSubdirectories = 0x1000;
inline constexpr uint32_t kOptCreateCategory = 0x2000;
inline constexpr uint32_t kOptFtpExtra = 0x4000;

// DownloadJob::formatFlags (what a stored record carries)
inline constexpr uint32_t kFmtTimes = 0x01;
inline constexpr uint32_t kFmtTempFile = 0x02;  // download into "<final path>.kx!"
inline constexpr uint32_t kFmtReferer = 0x04;
inline constexpr uint32_t kFmtAlternates = 0x08;
inline constexpr uint32_t kFmtStreamRanges = 0x10;
inline constexpr uint32_t kFmtRange64 = 0x20;
inline constexpr uint32_t kFmtNewRecord = kFmtTimes | kFmtReferer | kFmtAlternates;  // 13
// Sizes above this need 64-bit range offsets in a stored record.
inline constexpr int64_t kLargestSize32 = 2147483646;

// DownloadJob::runFlags
inline constexpr uint32_t kRunPinging = 0x1;
inline constexpr uint32_t kRunSearching = 0x2;

// Change masks posted with WM_JOB_CHANGED.
inline constexpr uint32_t kChangeUrl = 0x0001;
inline constexpr uint32_t kChangeName = 0x0002;
inline constexpr uint32_t kChangeInfo = 0x0004;  // size, remote time
inline constexpr uint32_t kChangeResume = 0x0008;
inline constexpr uint32_t kChangeProgress = 0x0010;  // a part was stopped for a stored-record flush, bytes
inline constexpr uint32_t kChangeParts = 0x0020;  // a part started or stopped; split count
inline constexpr uint32_t kChangeRefresh = 0x0200;  // everything changed
inline constexpr uint32_t kChangeComment = 0x0400;
inline constexpr uint32_t kChangeState = 0x0800;
inline constexpr uint32_t kChangeRetry = 0x1000;
inline constexpr uint32_t kChangeCompleted = 0x2000;
inline constexpr uint32_t kChangeAll = 0xFFFF;
inline constexpr uint32_t kChangeSetUrl = kChangeUrl | kChangeName | kChangeResume;  // 11

inline constexpr std::string_view kTempSuffix = ".kx!";

inline constexpr int32_t kMaxSplitCount = 30;  // "Max Parallel Num" never goes above it

// The runner is built by the engine, which alone sees its full type; it
// hands over how to destroy it together with the pointer, so that the record
// can own it without depending on the engine:
//   job.setRunner(JobRunnerPtr(new JobRunner(job), JobRunnerDeleter{&destroyJobRunner}));
struct JobRunnerDeleter {
    void (*destroy)(JobRunner*) = nullptr;
    void operator()(JobRunner* runner) const
    {
        if (destroy)
            destroy(runner);
    }
};
using JobRunnerPtr = std::unique_ptr<JobRunner, JobRunnerDeleter>;

// What a job needs while it runs (and keeps for its next run in this
// process); never stored.
struct JobRun {
    uint32_t runFlags = 0;
    int32_t pingThreadCount = 0;
    int32_t smallFileRestarts = 0;  // restarts on a linked URL in this process
    int32_t noSiteLimit = 0;
    int32_t retryBase = 0;
    uint32_t startTick = 0xFFFFFFFFu;  // not running
    uint64_t runBytes = 0;
    // The logged-in FTP control connection of the job before (or, once this
    // job has finished, its own for the next job), for the next FTP part
    // that starts; the last holder of a connection nobody took closes it.
    std::shared_ptr<FtpHandover> reusedConnection;
    JobNotifySink* siteWindow = nullptr;  // set for site-explorer transfers
    CJobWnd* detailWindow = nullptr;  // the runner's hidden window while it runs
    // Chosen for each run by the engine (ChooseJobProxies); none = direct.
    const ProxyEntry* httpProxy = nullptr;
    const ProxyEntry* ftpProxy = nullptr;
    const ProxyEntry* streamProxy = nullptr;
    std::vector<UrlEntry> urlEntries;
    // The name a redirect's target suggests, which the job's default name
    // follows for the rest of the process (until the URL is set again).
    std::string redirectedName;
    // While the job has an output file open.
    JobRunnerPtr runner;
};

// Texts that most jobs leave empty, stored with the record but kept apart
// from it: one pointer in the record until the first of them is set.
struct JobTexts {
    SharedText location;  // where the last answer redirected to
    SharedText userName;
    SharedText password;
    SharedText comment;
    // Why the job's last run failed, or why it waits to retry ("HTTP 404 Not
    // Found"), for every front end to show; cleared when a run starts.
    SharedText lastError;
};

// Defaults for new records, filled by the application from its settings
// ("Download default" and the flag words). Kept as a plain value so that the
// record does not depend on the settings store; its texts are shared with
// the records made from it.
struct JobDefaults {
    int32_t categoryId = kDownloadedCategoryId;  // "Server"
    int32_t splitCount = 2;  // "Split"
    int32_t maxParallelNum = 10;  // "Max Parallel Num"
    uint16_t httpProxyId = 0;
    uint16_t ftpProxyId = 0;
    uint16_t streamProxyId = 0;
    StartMode startMode = StartMode::Immediately;  // "Start"
    SharedText userName;  // "UserName"
    SharedText password;  // "Password"
    SharedText referer;  // "Referer"
    SharedText path;  // "Path"
    uint32_t login = 0xFF0;  // "Login"
    bool findAlternateUrls = true;  // "Flags1" bit 0x100
    bool useTempFile = true;  // "Flags" bit 0x400
    SharedText defaultDownloadFolder;  // e.g. $XDG_DOWNLOAD_DIR
};

// The tree node. All node fields are 32-bit; links are kept private so that
// only the tree changes them. The record is its only kind, so it has no
// virtual functions (a table pointer in each of 100,000 records): it is
// never destroyed through a node pointer.
class CComPtrNode {
public:
    CComPtrNode(const CComPtrNode&) = delete;
    CComPtrNode& operator=(const CComPtrNode&) = delete;

    DownloadJob* parent() const { return m_parent; }
    DownloadJob* firstChild() const { return m_firstChild; }
    DownloadJob* prevSibling() const { return m_prevSibling; }
    DownloadJob* nextSibling() const { return m_nextSibling; }
    DownloadJob* lastChild() const;
    // The tree the node is linked into, or none.
    CComPtrTree* tree() const { return m_tree; }

    bool IsCategory() const { return (nodeFlags & kNodeCategory) != 0; }
    void SetMarker(bool on);
    bool TestMarker() const { return (nodeFlags & kNodeMarker) != 0; }

    int32_t id = 0;  // unique in the tree
    int32_t parentId = -1;  // only while the tree is stored or loaded
    int32_t imageIndex = kImageDefault;
    uint32_t nodeFlags = 0;

protected:
    CComPtrNode() = default;
    ~CComPtrNode();  // destroys the children with the node

private:
    friend class CComPtrTree;
    DownloadJob* m_parent = nullptr;
    DownloadJob* m_firstChild = nullptr;
    DownloadJob* m_prevSibling = nullptr;
    DownloadJob* m_nextSibling = nullptr;
    CComPtrTree* m_tree = nullptr;
};

// The record. Fields are public because the database file, the runner and the
// views all read and write them; the operations below are the ones that must
// also notify the list view or keep fields consistent with each other.
class DownloadJob final : public CComPtrNode {
public:
    // A bare record (a job, all fields at their "unknown" values, no
    // defaults applied). CZoviradDoc::NewJob / NewCategory build real ones.
    DownloadJob();
    ~DownloadJob();

    // Applies the creation defaults: categoryId, splitCount, proxy ids,
    // startMode, login fields, referer, optionFlags, formatFlags, times. For a
    // job the folder comes from defaults.path, else from the Category named
    // by categoryId in `tree` (or Downloaded), else the default download
    // folder. For a Category only nodeFlags changes besides the common fields.
    void ApplyDefaults(NodeKind nodeKind, const JobDefaults& defaults, const CComPtrTree* tree, int32_t now);

    // A Category's name; for a job, fileName when set, else defaultName.
    std::string GetDisplayName() const;
    // The file name the URL suggests (DefaultNameFromUrl), worked out when
    // asked rather than kept in every record; after a redirect in this
    // process, the one its target suggests.
    std::string defaultName() const;
    // A redirect leads elsewhere: the default name follows the target's.
    void SetRedirectedName(std::string name);

    // ---- operations that notify the list view --------------------------------
    // Parses and stores the main URL (credentials move into userName and
    // password and set kOptUseLogin), empties location and derives
    // defaultName. False, with the record unchanged, for a text that does not
    // parse or whose service cannot be transferred.
    bool SetUrl(std::string_view text);
    // Stores the local file name, made safe for one path component. An empty
    // name or one equal to defaultName stores "". While the job has data the
    // file on disk (".kx!" or final) is renamed first, never over an existing
    // file; false and no change when that fails.
    bool SetFileName(std::string_view name);
    void SetSaveFolder(std::string_view folder);
    void SetFileSize(int64_t size);
    void SetRemoteFileTime(int32_t time);
    void SetResumable(bool yes);
    void SetComment(std::string_view text);
    // n <= 0 becomes 1; above maxParallelNum (itself at most 30) becomes it.
    void SetSplitCount(int32_t n, int32_t maxParallelNum);
    // A job that is neither Completed nor Downloading becomes Ready.
    void SetStartMode(StartMode mode);
    // Completed also sets hasData; without notify nothing is posted.
    void SetState(JobState newState, bool notify = true);
    // Posts WM_JOB_CHANGED with the mask when a notify window is set.
    void Notify(uint32_t mask) const;

    // ---- plain operations ------------------------------------------------------
    // Replaces the completed ranges by [0, bytes).
    void SetCompleted(int64_t bytes);
    void RecomputeCompletedBytes();

    // saveFolder + "/" + display name. The name is always one safe path
    // component, even when a stored record carries a hostile one.
    std::string GetLocalPath() const;
    std::string GetTempPath() const;  // GetLocalPath() + ".kx!"
    // The path data is written to: the temporary path while formatFlags
    // bit 1 is set and the job is not complete, else the final path.
    std::string GetWorkingPath() const;

    const UrlEntry* GetUrl(size_t index) const;
    UrlEntry* GetUrl(size_t index);
    // Parses url and alternateUrls into urlEntries. The main entry carries
    // the job's login (when kOptUseLogin is set) and referer. An entry still
    // without a user name takes the login of its site rule when the rule has
    // kSiteLogin set. Alternates that do not parse or cannot be transferred
    // are skipped. False when the main URL itself is unusable (urlEntries is
    // then empty).
    bool RebuildUrlEntries(const SiteRuleList* siteRules = nullptr);

    DownloadJob* GetCategory() const;
    // Sets categoryId when the id names a Category of the job's tree.
    bool SetCategory(int32_t categoryId);

    // Before the output file is created: the nine characters ? * / \ < > " | :
    // (and control characters) of the display name become "_"; a changed
    // name is stored as fileName. True when it changed.
    bool SanitizeDisplayName();

    // Download again from scratch: deletes the final and ".kx!" files when
    // the job wrote them, empties the ranges and the run figures, forgets
    // size, time and resume ability, state Ready, a Manual job becomes
    // Immediately; posts kChangeAll. False (nothing done) while a runner
    // exists: the engine stops the job first.
    bool ResetForRedownload();
    // A completed job with a known size is checked against the server again:
    // kOptRecheck, state Ready, a Manual job becomes Immediately. False when
    // the job does not qualify.
    bool MarkForRecheck();

    // Moves the job's final, ".kx!" and ".log" files that exist into folder
    // (never over an existing file) and then stores folder as saveFolder.
    // False when a move failed: the files already moved are moved back and
    // saveFolder is unchanged.
    bool MoveFilesTo(std::string_view folder);

    // Brings a job record read from the database file into a usable state:
    // a Downloading job comes back Ready; empty or inverted ranges are dropped
    // and the rest sorted and merged (a damaged file must not break resuming);
    // completedBytes and hasData follow the ranges; Manual and Immediately
    // swap to match whether unfinished jobs start automatically; splitCount
    // is kept within 1 and maxParallelNum. Categories are left alone.
    void AfterLoad(int32_t maxParallelNum, bool startUnfinishedJobs);

    // formatFlags as a stored record must carry them: times, referer and
    // alternates blocks always; stream ranges exactly for a stream job;
    // 64-bit offsets when the known size is above 2147483646 or any range
    // already lies beyond what 32 bits hold (a download of unknown size).
    uint32_t StorageFormatFlags() const;

    JobState GetState() const { return static_cast<JobState>(state & 0xFF); }
    bool IsQueued() const;
    bool IsComplete() const { return GetState() == JobState::Completed; }
    CategoryKind GetCategoryKind() const { return static_cast<CategoryKind>(kind & kCategoryKindMask); }
    bool IsSpecialCategory() const { return IsCategory() && GetCategoryKind() != CategoryKind::User; }
    bool IsSizeKnown() const { return (optionFlags & kOptSizeKnown) != 0; }

    // The run's fields; made on first use (a job that starts, or whose URLs
    // are parsed), so that a loaded job that never runs carries one pointer.
    // The const form gives a shared empty part when there is none yet.
    JobRun& run();
    const JobRun& run() const;
    bool hasRun() const { return m_run != nullptr; }

    // The runner lives in the run part; none for a job that is not running.
    JobRunner* runner() const { return m_run ? m_run->runner.get() : nullptr; }
    void setRunner(JobRunnerPtr runner) { run().runner = std::move(runner); }
    void resetRunner()
    {
        if (m_run)
            m_run->runner.reset();
    }

    // Records come from a pool of large blocks: a database of 100,000 jobs
    // would otherwise fault in and track 100,000 separate heap blocks.
    static void* operator new(size_t size);
    static void operator delete(void* record, size_t size) noexcept;

    // ---- stored fields (every width as the database file keeps it) ------------
    SharedText name;  // a Category's display name
    uint32_t kind = 0;
    uint32_t formatFlags = kFmtNewRecord;
    int32_t categoryId = kDownloadedCategoryId;
    int32_t remoteFileTime = -1;
    int64_t fileSize = -1;
    int32_t createTime = -1;
    int32_t completeTime = -1;
    int32_t splitCount = 1;
    uint16_t httpProxyId = 0;
    uint16_t ftpProxyId = 0;
    uint16_t streamProxyId = 0;
    StartMode startMode = StartMode::Manual;
    uint32_t state = static_cast<uint32_t>(JobState::Ready);
    uint32_t optionFlags = 0;
    int32_t totalTime = 0;  // seconds, over all runs
    std::string url;  // without user name and password
    std::string fileName;  // empty: use defaultName
    // A text many jobs leave empty, and the folder that many jobs share.
    SharedText referer;
    SharedText saveFolder;
    AlternateUrlList alternateUrls;
    CompletedRangeList completedRanges;  // sorted, never overlapping or touching

    // ---- derived and runtime fields (never stored) --------------------------
    int64_t completedBytes = 0;
    uint32_t streamMarker = 0;  // non-zero: a stream job
    int32_t retryCount = 0;
    JobNotifySink* notifyWindow = nullptr;
    bool hasData = false;

    // ---- the texts most jobs leave empty (JobTexts) ---------------------------
    // Readers never make the part; an empty text reads as "".
    const SharedText& location() const { return texts().location; }
    const SharedText& userName() const { return texts().userName; }
    const SharedText& password() const { return texts().password; }
    const SharedText& comment() const { return texts().comment; }
    const SharedText& lastError() const { return texts().lastError; }
    const JobTexts& texts() const;
    // For changing them: makes the part on first use.
    JobTexts& editTexts();
    bool hasTexts() const { return m_texts != nullptr; }
    // Empties the last error without making the part for it.
    void clearLastError()
    {
        if (m_texts)
            m_texts->lastError.clear();
    }

private:
    std::unique_ptr<JobRun> m_run;
    std::unique_ptr<JobTexts> m_texts;
};

// ---- names (download_job_names.cpp) --------------------------------------------
// The local file name a URL suggests: the last path segment (percent-decoded),
// cut at "?" or "*", "index.htm" when empty, "_live.asf" appended for an MMS
// stream without an extension; always a safe single path component. Empty
// when the text does not parse.
std::string DefaultNameFromUrl(std::string_view urlText);

// Makes a name safe as one path component: ? * / \ < > " | : and control
// characters become "_", "." and ".." become "_" and "__", an empty name
// becomes "index.htm", and a name longer than 255 bytes is shortened keeping
// its extension.
std::string SanitizeFileName(std::string_view name);

// Joins a folder and a file name with "/" unless the folder already ends in one.
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace fetchora
