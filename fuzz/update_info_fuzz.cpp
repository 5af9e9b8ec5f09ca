// The update information file (qvupdate.ini).
#include "fuzz_input.h"
#include "shell/update_info.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input = fuzz::text(data, size);
    const UpdateInfo info = ParseUpdateInfo(input);
    if (info.version.size() > kUpdateVersionLimit)
        __builtin_trap();
    IsNewerVersion(info.version);
    IsNewerVersion(input.substr(0, 64));
    return 0;
}
