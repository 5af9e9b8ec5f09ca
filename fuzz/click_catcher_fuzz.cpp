// The click catcher's blocks: one URL (with or without its referrer), the
// file form and the link lists.
#include "fuzz_input.h"
#include "shell/click_catcher.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> block(data, size);
    ReadCaughtUrlBlock(block, false);
    ReadCaughtUrlBlock(block, true);
    ReadCaughtUrlFile(block);
    ReadCaughtLinks(block);
    return 0;
}
