#include "support/test_files.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace fetchora::test {

int64_t bigTestFileBytes(int64_t preferredMib)
{
    int64_t mib = preferredMib;
    if (const char* limit = std::getenv("FETCHORA_BIG_TEST_MIB"); limit && std::atoll(limit) > 0)
        mib = std::min<int64_t>(mib, std::atoll(limit));
    return mib << 20;
}

void writePseudoRandomFile(const std::filesystem::path& file, int64_t size, uint64_t seed)
{
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        std::vector<uint64_t> block(1 << 17);
        uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
        for (int64_t written = 0; written < size;) {
            for (uint64_t& word : block) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                word = state;
            }
            const auto bytes
                = static_cast<std::streamsize>(std::min<int64_t>(size - written, int64_t(block.size() * 8)));
            out.write(reinterpret_cast<const char*>(block.data()), bytes);
            written += bytes;
        }
        if (!out)
            throw std::runtime_error("cannot write " + file.string());
    }
    std::filesystem::permissions(file, std::filesystem::perms::others_read | std::filesystem::perms::group_read,
                                 std::filesystem::perm_options::add);
}

testing::AssertionResult sameFileBytes(const std::filesystem::path& expected, const std::filesystem::path& actual)
{
    std::ifstream a(expected, std::ios::binary);
    std::ifstream b(actual, std::ios::binary);
    if (!a)
        return testing::AssertionFailure() << expected << " does not exist";
    if (!b)
        return testing::AssertionFailure() << actual << " does not exist";
    std::vector<char> bufferA(1 << 20);
    std::vector<char> bufferB(1 << 20);
    for (int64_t offset = 0;; offset += static_cast<int64_t>(bufferA.size())) {
        a.read(bufferA.data(), static_cast<std::streamsize>(bufferA.size()));
        b.read(bufferB.data(), static_cast<std::streamsize>(bufferB.size()));
        const auto sameUpTo
            = std::mismatch(bufferA.begin(), bufferA.begin() + std::min(a.gcount(), b.gcount()), bufferB.begin());
        const int64_t at = offset + (sameUpTo.first - bufferA.begin());
        if (sameUpTo.first != bufferA.begin() + std::min(a.gcount(), b.gcount()))
            return testing::AssertionFailure() << actual << " differs from " << expected << " at byte " << at;
        if (a.gcount() != b.gcount())
            return testing::AssertionFailure() << actual << " and " << expected << " differ in size after byte " << at;
        if (a.gcount() == 0)
            return testing::AssertionSuccess();
    }
}

}  // namespace fetchora::test
