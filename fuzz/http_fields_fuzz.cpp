// Header values read on their own: ranges, lengths, dates, the file name of
// Content-Disposition and Retry-After.
#include "fuzz_input.h"
#include "net/http_date.h"
#include "net/http_response.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view value = fuzz::text(data, size);
    if (const std::optional<ContentRange> range = ParseContentRange(value)) {
        if (range->first < 0 || range->last < range->first)
            __builtin_trap();
    }
    if (const std::optional<int64_t> length = ParseContentLength(value); length && *length < 0)
        __builtin_trap();
    NormaliseLastModified(value);
    ContentDispositionFileName(value);
    ParseRetryAfter(value, 1700000000);
    HttpDateSeconds(value);
    return 0;
}
