// URLs as users, pages, servers and browsers give them.
#include "fuzz_input.h"
#include "net/url.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input = fuzz::text(data, size);
    PercentDecode(input);
    const std::optional<UrlEntry> entry = ParseUrl(input);
    if (!entry)
        return 0;
    UrlWithoutLogin(*entry);
    // The canonical form of a URL that parsed is itself a URL.
    if (const std::optional<std::string> canonical = CanonicalUrl(*entry)) {
        if (!ParseUrl(*canonical))
            __builtin_trap();
    }
    return 0;
}
