// The download database (.kxd): the loader must read any bytes, keep what it
// could link and write back what it loaded.
#include "fuzz_input.h"
#include "model/database_file.h"
#include "model/job_database.h"
#include "model/kxd_format.h"

#include <filesystem>

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    JobLock lock;
    CZoviradDoc doc(lock);
    // A new database makes its default category folders; they go to a
    // folder of the fuzz run's own.
    static const std::string folder = [] {
        std::filesystem::path made = std::filesystem::temp_directory_path() / "fetchora-kxd-fuzz";
        std::filesystem::create_directories(made);
        return made.string();
    }();
    KxdLoadOptions options;
    options.defaults.defaultDownloadFolder = folder;
    std::vector<FolderProblem> problems;
    LoadDatabaseBytes(doc, fuzz::text(data, size), options, &problems);
    std::string image;
    std::string error;
    if (StoreDatabaseImage(doc, {}, image, error)) {
        // What was loaded and stored reads back whole.
        JobLock againLock;
        CZoviradDoc again(againLock);
        const KxdLoadReport report = LoadDatabaseBytes(again, image, options);
        if (report.damaged())
            __builtin_trap();
    }
    return 0;
}
