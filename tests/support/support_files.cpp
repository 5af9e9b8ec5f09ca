#include "support/support_files.h"

#include <stdexcept>

namespace fetchora::test {

std::filesystem::path supportFile(const std::string& name)
{
    const std::filesystem::path file = std::filesystem::path(FETCHORA_TEST_SUPPORT_DIR) / name;
    if (!std::filesystem::is_regular_file(file))
        throw std::runtime_error("test support file " + file.string() + " is missing");
    return file;
}

}  // namespace fetchora::test
