// RealMedia rule books: which streams a bandwidth subscribes to.
#include "engine/rule_book.h"
#include "fuzz_input.h"

#include <vector>

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<int32_t> matches;
    std::string error;
    EvaluateRuleBook(fuzz::text(data, size), kSubscribeBandwidth, matches, &error);
    matches.clear();
    EvaluateRuleBook(fuzz::text(data, size), 28800, matches, nullptr);
    return 0;
}
