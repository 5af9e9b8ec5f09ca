#pragma once
// Registers the ping and search thread procedures with the transfer threads,
// and the mirror-list look-up a job runs before it starts.
//
// Thread: called once on the loop thread while the application starts.
#include <filesystem>
#include <functional>

namespace fetchora {

class AppSettings;
class DownloadJob;
class TransferThreads;

void registerMirrorProcedures(TransferThreads& threads);

// The look-up a runner calls (on the loop thread, under the job lock) before
// a start: the mirrors of the job's URL in programFolder/mirrors.lst and then
// profileFolder/mymirror.lst become alternate URLs, ranked by the settings'
// countries. Reads the settings when called; they must outlive it.
std::function<void(DownloadJob&)> listMirrorFinder(const AppSettings& settings, std::filesystem::path programFolder,
                                                   std::filesystem::path profileFolder);

}  // namespace fetchora
