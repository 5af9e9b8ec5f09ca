// The clipboard's "HTML Format" data: its header fields and the links of the
// fragment they point at.
#include "fuzz_input.h"
#include "shell/html_format.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input = fuzz::text(data, size);
    HtmlFormatField(input, "StartHTML:");
    HtmlFormatField(input, "EndFragment:");
    ReadHtmlFormat(input);
    return 0;
}
