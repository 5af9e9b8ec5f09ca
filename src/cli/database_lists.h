#pragma once
// fetchora-cli's list modes over the profile's job database: --import-list
// adds the URLs of a list file as jobs (nothing is downloaded; a later run
// or the daemon fetches them), --export-list writes the jobs' URLs to a list
// file, --export-html writes them as a page shaped by an export template.
//
// Thread: the caller's, which is the loop thread of the application.
#include <iosfwd>
#include <string>
#include <string_view>

#include "cli/cli_options.h"

namespace fetchora {

class Application;
class CZoviradDoc;
class DownloadJob;

// The category named by a name (compared without regard to case) or by a
// "A/B" path of names from the top; the first in tree order. Null for none.
DownloadJob* FindCategoryByName(const CZoviradDoc& doc, std::string_view name);

// Runs the mode of options (ImportList, ExportList or ExportHtml): 0 done,
// 1 failed (the reason on err), 2 bad arguments.
int runListCommand(Application& app, const CliOptions& options, std::ostream& out, std::ostream& err);

}  // namespace fetchora
