#include "mirrors/mirror_procedures.h"

#include "config/app_settings.h"
#include "engine/transfer_threads.h"
#include "mirrors/mirror_list.h"
#include "mirrors/mirror_search.h"
#include "mirrors/ping_host.h"
#include "model/download_job.h"

namespace fetchora {

void registerMirrorProcedures(TransferThreads& threads)
{
    threads.registerPingProcedure(MirrorPingProcedure);
    threads.registerSearchProcedure(MirrorSearchProcedure);
}

std::function<void(DownloadJob&)> listMirrorFinder(const AppSettings& settings, std::filesystem::path programFolder,
                                                   std::filesystem::path profileFolder)
{
    return [&settings, programFolder = std::move(programFolder),
            profileFolder = std::move(profileFolder)](DownloadJob& job) {
        std::vector<std::filesystem::path> files;
        if (!programFolder.empty())
            files.push_back(programFolder / kMirrorListFile);
        if (!profileFolder.empty())
            files.push_back(profileFolder / kUserMirrorListFile);
        const MirrorCountries countries{settings.GetOptionText(OptionId::MirrorCountryCode),
                                        settings.GetOptionText(OptionId::MirrorCountryList)};
        AddListMirrors(job, files, countries, settings.GetOption(OptionId::FtpSearchMaxHit));
    };
}

}  // namespace fetchora
