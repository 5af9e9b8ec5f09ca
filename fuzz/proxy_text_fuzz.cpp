// An imported proxy list, one proxy a line.
#include "config/proxy_text_format.h"
#include "fuzz_input.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    parseProxyText(fuzz::text(data, size));
    return 0;
}
