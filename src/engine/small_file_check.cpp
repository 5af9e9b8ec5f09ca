#include "engine/small_file_check.h"

#include "config/pattern_list.h"
#include "model/download_job.h"
#include "net/url.h"

namespace fetchora {

SmallFileInspector::~SmallFileInspector() = default;

std::string SmallFileRedirect(const DownloadJob& job, const std::filesystem::path& file, uint32_t monitorFlags,
                              SmallFileInspector& inspector)
{
    if (job.run().siteWindow != nullptr || job.completedBytes >= kSmallFileLimit)
        return {};
    // The file name the URL asks for, not the local one the user may have chosen.
    const std::string urlName = DefaultNameFromUrl(job.url);
    const std::string_view extension = fileExtension(urlName);
    if (extension.empty())
        return {};
    std::string found;
    if ((monitorFlags & kMonitorLinkedFileCheck) != 0 && matchPatternList(kLinkedFileTypes, extension))
        found = inspector.sameNameLink(file, job.url, urlName);
    if (found.empty() && matchPatternList(kPlayListTypes, extension))
        found = inspector.playListMedia(file, job.url);
    if (found.empty() || found == job.url)
        return {};
    const std::optional<UrlEntry> entry = ParseUrl(found);
    if (!entry || !IsTransferable(entry->service))
        return {};
    return found;
}

}  // namespace fetchora
