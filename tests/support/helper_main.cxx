// Child-process helper for tests that need a second process: concurrent
// savers and a process killed in the middle of a save.
//
//   registry-writer FILE WRITER ROUNDS
//       ROUNDS times: load FILE, set "Writer<WRITER>" "Round" to the round
//       number and flush.
//   registry-churn FILE VALUES
//       forever: write VALUES values all holding the same generation number
//       and flush, generation after generation (the parent kills it).
#include "platform/registry.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using fetchora::Hive;
using fetchora::Registry;

namespace {

int registryWriter(const char* file, const std::string& writer, int rounds)
{
    for (int round = 1; round <= rounds; ++round) {
        Registry registry(file);
        if (!registry.load())
            return 3;
        registry.writeDword(Hive::CurrentUser, "Software\\Test\\Writer" + writer, "Round",
                            static_cast<uint32_t>(round));
        if (!registry.flush())
            return 4;
    }
    return 0;
}

int registryChurn(const char* file, int values)
{
    Registry registry(file);
    registry.load();
    for (uint32_t generation = 1;; ++generation) {
        for (int i = 0; i < values; ++i) {
            registry.writeDword(Hive::CurrentUser, "Software\\Churn\\Key" + std::to_string(i % 17),
                                "Value" + std::to_string(i), generation);
        }
        if (!registry.flush())
            return 4;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string scenario = argc > 1 ? argv[1] : "";
    if (scenario == "registry-writer" && argc == 5)
        return registryWriter(argv[2], argv[3], std::atoi(argv[4]));
    if (scenario == "registry-churn" && argc == 4)
        return registryChurn(argv[2], std::atoi(argv[3]));
    std::fprintf(stderr, "usage: fetchora_test_helper registry-writer FILE WRITER ROUNDS | registry-churn FILE VALUES\n");
    return 2;
}
