#pragma once
// Files kept beside the test support code (scripts the peers run), found in
// the source tree the test binary was built from.
#include <filesystem>
#include <string>

namespace fetchora::test {

// tests/support/<name>; throws std::runtime_error when it is not there.
std::filesystem::path supportFile(const std::string& name);

}  // namespace fetchora::test
