#pragma once
// Moving a job's files on disk without ever replacing a file that is already
// there (a plain rename() would silently overwrite it). Any thread; the
// callers run on the loop thread.
#include <string>
#include <system_error>

namespace fetchora {

// Moves a file to a new path. Fails with EEXIST when the target exists.
// Across file systems the file is copied and the original removed; a copy
// that fails leaves no partial target behind.
bool MoveFileNoReplace(const std::string& from, const std::string& to, std::error_code& error);

}  // namespace fetchora
