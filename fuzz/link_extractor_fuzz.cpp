// Links out of a page's source.
#include "explorer/link_extractor.h"
#include "fuzz_input.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view page = fuzz::text(data, size);
    for (const ExtractedLink& link : ExtractLinks(page, "http://127.0.0.1/dir/page.html")) {
        // Every link is a piece of the page.
        if (link.offset > page.size() || link.length > page.size() - link.offset)
            __builtin_trap();
    }
    return 0;
}
