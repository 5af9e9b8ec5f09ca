// The companion file (.kxe): one job record beside a data file.
#include "fuzz_input.h"
#include "lists/companion_file.h"
#include "model/download_job.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    KxdLoadOptions options;
    CompanionRead read = LoadCompanionJob(fuzz::text(data, size), options);
    if (read.status == CompanionStatus::Loaded) {
        if (!read.job)
            __builtin_trap();
        // A loaded job stores and loads again.
        const std::string stored = StoreCompanionJob(*read.job);
        if (LoadCompanionJob(stored, options).status != CompanionStatus::Loaded)
            __builtin_trap();
    }
    return 0;
}
