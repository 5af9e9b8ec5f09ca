#include "model/database_texts.h"

#include "lang/string_table.h"

namespace fetchora {

std::string shownArchiveError(ArchiveError error)
{
    uint32_t id = kStrArchiveUnknownError;
    switch (error) {
    case ArchiveError::None: id = kStrArchiveNoError; break;
    case ArchiveError::EndOfFile: id = kStrArchiveEndOfFile; break;
    case ArchiveError::BadCount: id = kStrArchiveBadCount; break;
    case ArchiveError::BadLength: id = kStrArchiveBadLength; break;
    case ArchiveError::BadTag: id = kStrArchiveBadTag; break;
    }
    return std::string(builtinString(id));
}

}  // namespace fetchora
