#include "cli/database_listing.h"

#include "cli/cli_texts.h"
#include "cli/job_json.h"
#include "model/database_file.h"
#include "model/job_database.h"
#include "platform/job_lock.h"
#include "shell/shell_texts.h"

#include <fstream>
#include <ostream>
#include <sstream>

namespace fetchora {

int listDatabase(const std::string& file, std::ostream& out, std::ostream& err)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        err << "fetchora-cli: " << builtinText(kStrCliCannotOpenDatabase, {file}) << "\n";
        return 1;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();

    // Listing never writes: the file is read as it is, without the restore
    // that opening a damaged database for work would do.
    JobLock lock;
    CZoviradDoc doc(lock);
    KxdLoadReport report = LoadDatabaseBytes(doc, bytes.str(), KxdLoadOptions{});
    for (const DownloadJob* node : doc.tree().nodes())
        out << jobJsonLine(*node) << "\n";
    // Bytes that hold neither the signature nor one record are no database:
    // the default tree listed for them must not pass for their content.
    const bool noDatabase = !bytes.str().empty() && !report.signature && report.nodesRead == 0;
    if (report.damaged() || noDatabase) {
        err << "fetchora-cli: " << builtinText(kStrCliDatabaseDamaged, {file}) << "\n";
        return 1;
    }
    return 0;
}

}  // namespace fetchora
