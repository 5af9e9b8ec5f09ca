// A message from the browser extension and the click-catcher hand-over made
// of it.
#include "fuzz_input.h"
#include "host/browser_request.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const ParsedBrowserRequest parsed = ParseBrowserRequest(fuzz::text(data, size));
    ErrorReplyJson(parsed.id, parsed.error);
    if (!parsed.request)
        return 0;
    const BrowserRequest& request = *parsed.request;
    if (request.cookies.size() > kMaxCookiesPerMessage)
        __builtin_trap();
    MakeCatcherHandOver(request, 64 * 1024);
    CapturedFileName(request);
    CatchReplyJson(request.id, true, false);
    return 0;
}
