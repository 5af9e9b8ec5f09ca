#include "lang/system_error_text.h"

#include <cerrno>
#include <cstring>

#include "lang/string_table.h"

namespace fetchora {

namespace {

uint32_t textId(int error)
{
    switch (error) {
    case EISDIR: return kStrErrnoIsFolder;
    case EMFILE: return kStrErrnoTooManyOpen;
    case ENOSPC: return kStrErrnoNoSpace;
    case EACCES: return kStrErrnoPermission;
    case EROFS: return kStrErrnoReadOnly;
    case ENOTDIR: return kStrErrnoNotFolder;
    case ENOENT: return kStrErrnoNotFound;
    case EDQUOT: return kStrErrnoQuota;
    case EIO: return kStrErrnoInputOutput;
    case ENAMETOOLONG: return kStrErrnoNameTooLong;
    case EEXIST: return kStrErrnoExists;
    default: return 0;
    }
}

}  // namespace

std::string systemErrorText(int error)
{
    if (const uint32_t id = textId(error); id != 0) {
        if (const std::string_view text = builtinString(id); !text.empty())
            return std::string(text);
    }
    // strerror_r's GNU form: the text may be static rather than the buffer.
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace fetchora
