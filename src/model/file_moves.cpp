#include "model/file_moves.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace fetchora {
namespace {

// renameat2 with RENAME_NOREPLACE is atomic; file systems without it get a
// hard link and an unlink, which also refuses an existing target.
bool renameNoReplace(const std::string& from, const std::string& to, int& err)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    err = errno;
    if (err != EINVAL && err != ENOSYS)
        return false;
    if (::link(from.c_str(), to.c_str()) != 0) {
        err = errno;
        return false;
    }
    if (::unlink(from.c_str()) != 0) {
        err = errno;
        ::unlink(to.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool MoveFileNoReplace(const std::string& from, const std::string& to, std::error_code& error)
{
    error.clear();
    int err = 0;
    if (renameNoReplace(from, to, err))
        return true;
    if (err != EXDEV) {
        error = std::error_code(err, std::generic_category());
        return false;
    }
    namespace fs = std::filesystem;
    if (!fs::copy_file(from, to, fs::copy_options::none, error)) {
        if (error != std::errc::file_exists) {
            std::error_code ignored;
            fs::remove(to, ignored);
        }
        if (!error)
            error = std::make_error_code(std::errc::file_exists);
        return false;
    }
    // Keep the file time (often the server's) that a rename would have kept.
    std::error_code timeError;
    const auto time = fs::last_write_time(from, timeError);
    if (!timeError)
        fs::last_write_time(to, time, timeError);
    fs::remove(from, error);
    if (error) {
        std::error_code ignored;
        fs::remove(to, ignored);
        return false;
    }
    return true;
}

}  // namespace fetchora
