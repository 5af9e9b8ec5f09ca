// Pattern lists of the settings ("*.zip *.r??") against file names: the first
// line is the list, the rest the name.
#include "config/pattern_list.h"
#include "fuzz_input.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto [patterns, name] = fuzz::splitAtLineFeed(fuzz::text(data, size));
    const std::string_view extension = fileExtension(name);
    matchPatternList(patterns, extension);
    matchPattern(patterns, extension);
    return 0;
}
