// The zip check of a finished download. It reads a file, so each input is
// written to a file of the fuzz run's own first.
#include "fuzz_input.h"
#include "shell/zip_check.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::filesystem::path file
        = std::filesystem::temp_directory_path() / ("fetchora-zip-fuzz-" + std::to_string(::getpid()) + ".zip");
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out)
        return 0;
    const bool written = size == 0 || std::fwrite(data, 1, size, out) == size;
    if (std::fclose(out) != 0 || !written)
        return 0;
    checkZipArchive(file);
    return 0;
}
