#include "model/job_database.h"

#include <ctime>
#include <filesystem>
#include <system_error>

#include "lang/string_table.h"
#include "platform/text_utils.h"

namespace fetchora {
namespace {

int32_t nowSeconds()
{
    return static_cast<int32_t>(std::time(nullptr));
}

std::vector<std::string> splitNames(std::string_view list)
{
    std::vector<std::string> names;
    size_t from = 0;
    while (from <= list.size()) {
        const size_t comma = list.find(',', from);
        const std::string name(trimBoth(
            list.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from), kSpaceTab));
        if (!name.empty())
            names.push_back(name);
        if (comma == std::string_view::npos)
            break;
        from = comma + 1;
    }
    return names;
}

}  // namespace

CZoviradDoc::CZoviradDoc(JobLock& jobLock, StringLookup strings) : m_jobLock(jobLock), m_strings(std::move(strings))
{
}

CZoviradDoc::~CZoviradDoc() = default;

std::string CZoviradDoc::lookup(uint32_t id) const
{
    std::string text = m_strings ? m_strings(id) : std::string();
    if (text.empty())
        text = std::string(builtinString(id));
    return text;
}

std::string CZoviradDoc::specialName(CategoryKind kind) const
{
    switch (kind) {
    case CategoryKind::Root: return lookup(kStrAppTitle);
    case CategoryKind::Downloading: return lookup(kStrDownloading);
    case CategoryKind::Downloaded: return lookup(kStrDownloaded);
    case CategoryKind::Deleted: return lookup(kStrDeleted);
    case CategoryKind::User: break;
    }
    return {};
}

std::vector<FolderProblem> CZoviradDoc::OnNewDocument(const std::string& defaultDownloadFolder)
{
    DeleteContents();
    return CreateDefaultCategories(defaultDownloadFolder);
}

DownloadJob* CZoviradDoc::addSpecial(DownloadJob* parent, CategoryKind kind, int32_t image, const std::string& folder)
{
    auto category = std::make_unique<DownloadJob>();
    category->nodeFlags = kNodeCategory;
    category->kind = static_cast<uint32_t>(kind);
    category->imageIndex = image;
    category->name = specialName(kind);
    category->saveFolder = folder;
    category->createTime = nowSeconds();
    category->notifyWindow = m_notifyWindow;
    return m_tree.Insert(parent, std::move(category));
}

std::vector<FolderProblem> CZoviradDoc::CreateDefaultCategories(const std::string& defaultDownloadFolder)
{
    std::vector<FolderProblem> problems;
    if (!m_tree.empty())
        return problems;
    DownloadJob* root = addSpecial(nullptr, CategoryKind::Root, kImageRoot, defaultDownloadFolder);
    addSpecial(root, CategoryKind::Downloading, kImageDownloading, defaultDownloadFolder);
    DownloadJob* downloadedCategory
        = addSpecial(root, CategoryKind::Downloaded, kImageDownloaded, defaultDownloadFolder);
    if (defaultDownloadFolder.empty())
        problems.push_back({"", "no default download folder is set"});
    for (const std::string& name : splitNames(lookup(kStrDefaultCategories))) {
        std::string folder;
        if (!defaultDownloadFolder.empty()) {
            folder = JoinPath(defaultDownloadFolder, SanitizeFileName(asciiLower(name)));
            std::error_code error;
            std::filesystem::create_directories(folder, error);
            if (error)
                problems.push_back({folder, error.message()});
        }
        AddCategory(name, folder, downloadedCategory);
    }
    addSpecial(root, CategoryKind::Deleted, kImageDeleted, defaultDownloadFolder);
    return problems;
}

void CZoviradDoc::RefreshSpecialNames()
{
    for (DownloadJob* node : m_tree.nodes()) {
        if (!node->IsSpecialCategory())
            continue;
        std::string name = specialName(node->GetCategoryKind());
        if (!name.empty())
            node->name = std::move(name);
    }
}

void CZoviradDoc::DeleteContents(const std::function<void(DownloadJob&)>& stopQueuedJob)
{
    if (stopQueuedJob) {
        const std::vector<DownloadJob*> nodes = m_tree.nodes();
        for (DownloadJob* node : nodes) {
            if (m_tree.Contains(node) && !node->IsCategory() && node->IsQueued())
                stopQueuedJob(*node);
        }
    }
    m_tree.Clear();
}

void CZoviradDoc::SetNotifyWindow(JobNotifySink* window)
{
    m_notifyWindow = window;
    for (DownloadJob* node : m_tree.nodes())
        node->notifyWindow = window;
}

std::unique_ptr<DownloadJob> CZoviradDoc::NewRecord(NodeKind nodeKind, const JobDefaults& defaults, int32_t now) const
{
    auto record = std::make_unique<DownloadJob>();
    record->notifyWindow = m_notifyWindow;
    record->ApplyDefaults(nodeKind, defaults, &m_tree, now);
    return record;
}

DownloadJob* CZoviradDoc::AddJob(std::unique_ptr<DownloadJob> job, DownloadJob* category)
{
    if (!category)
        category = downloading();
    if (!job || !category || !category->IsCategory())
        return nullptr;
    return m_tree.Insert(category, std::move(job));
}

DownloadJob* CZoviradDoc::AddCategory(std::string name, std::string folder, DownloadJob* parent)
{
    if (!parent)
        parent = root();
    if (parent && !parent->IsCategory())
        return nullptr;
    auto category = std::make_unique<DownloadJob>();
    category->nodeFlags = kNodeCategory;
    category->kind = static_cast<uint32_t>(CategoryKind::User);
    category->imageIndex = kImageDefault;
    category->name = std::move(name);
    category->saveFolder = std::move(folder);
    category->createTime = nowSeconds();
    category->notifyWindow = m_notifyWindow;
    return m_tree.Insert(parent, std::move(category));
}

bool CZoviradDoc::PlaceCompletedJob(DownloadJob& job)
{
    if (!m_tree.Contains(&job) || job.IsCategory())
        return false;
    DownloadJob* target = m_tree.FindById(job.categoryId);
    if (!target || !target->IsCategory())
        target = downloaded();
    if (!target || job.parent() == target)
        return false;
    return m_tree.Move(target, &job);
}

}  // namespace fetchora
