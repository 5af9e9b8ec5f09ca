#pragma once
// fetchora-cli --send and --info: requests to the running instance over its
// service socket. --send hands a URL (and a referrer) over as a second
// instance would and prints the add result ("0" added, "1" not a URL it can
// fetch, "2" already in the list); --info N prints the "DownloadInfo" reply.
// Both exit 0 when the instance answered and 1, with a message, when none
// runs or it did not answer in time.
//
// Thread: the calling thread; each call blocks for at most the time-out.
#include <iosfwd>

#include "cli/cli_options.h"
#include "platform/paths.h"

namespace fetchora {

int sendUrlToRunningInstance(const CliOptions& options, std::ostream& out, std::ostream& err,
                             const Environment& environment = processEnvironment());

int requestDownloadInfo(const CliOptions& options, std::ostream& out, std::ostream& err,
                        const Environment& environment = processEnvironment());

}  // namespace fetchora
