// Lines of an FTP folder listing, Unix and Windows style.
#include "fuzz_input.h"
#include "net/ftp_list.h"

#include <deque>

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view rest = fuzz::text(data, size);
    std::deque<FtpListEntry> entries;
    while (!rest.empty()) {
        const auto [line, after] = fuzz::splitAtLineFeed(rest);
        ParseListLine(line, entries);
        rest = after;
    }
    for (const FtpListEntry& entry : entries) {
        if (entry.name.empty() || entry.size < 0)
            __builtin_trap();
    }
    return 0;
}
