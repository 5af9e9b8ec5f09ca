#include "model/browser_job_fields.h"

#include "model/download_job.h"

namespace fetchora {

std::string JobUserAgent(const DownloadJob& job)
{
    if (!job.location().starts_with(kJobUserAgentPrefix))
        return {};
    return job.location().substr(kJobUserAgentPrefix.size());
}

void SetJobUserAgent(DownloadJob& job, std::string_view agent)
{
    std::string clean;
    for (const char c : agent) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F)
            clean.push_back(c);
    }
    const size_t first = clean.find_first_not_of(' ');
    clean = first == std::string::npos ? std::string() : clean.substr(first, clean.find_last_not_of(' ') - first + 1);
    if (clean.empty() || clean.size() > kMaxJobUserAgentBytes) {
        if (job.location().starts_with(kJobUserAgentPrefix))
            job.editTexts().location.clear();
        return;
    }
    job.editTexts().location = std::string(kJobUserAgentPrefix) + clean;
}

std::string SuggestedFileName(std::string_view suggestion)
{
    const size_t slash = suggestion.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? suggestion : suggestion.substr(slash + 1);
    while (!name.empty() && (name.front() == '.' || name.front() == ' '))
        name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    if (name.empty())
        return {};
    return SanitizeFileName(name);
}

}  // namespace fetchora
