#include "shell/start_database.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "model/database_file.h"
#include "platform/registry.h"

namespace fetchora {

namespace {

bool opens(const std::filesystem::path& file, int flags)
{
    const int fd = ::open(file.c_str(), flags | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

}  // namespace

StartDatabaseChoice ChooseStartDatabase(const std::filesystem::path& recentFile,
                                        const std::filesystem::path& defaultDatabase,
                                        const ConfirmRestore& confirmRestore)
{
    StartDatabaseChoice choice;
    if (!recentFile.empty()) {
        std::error_code error;
        if (std::filesystem::exists(recentFile, error) || opens(recentFile, O_RDONLY)) {
            choice.source = StartDatabaseSource::RecentFile;
            choice.path = recentFile;
            return choice;
        }
        if (!ListBackups(recentFile).empty() && (!confirmRestore || confirmRestore(recentFile))) {
            choice.source = StartDatabaseSource::RecentFromBackup;
            choice.path = recentFile;
            return choice;
        }
    }
    // Opening for writing (never truncating) also proves that saves will work.
    if (opens(defaultDatabase, O_WRONLY | O_CREAT)) {
        choice.source = StartDatabaseSource::DefaultFile;
        choice.path = defaultDatabase;
        return choice;
    }
    const int why = errno;
    choice.problem = "cannot create or write " + defaultDatabase.string() + ": " + std::strerror(why)
        + "; starting with a new database that is not saved";
    return choice;
}

std::filesystem::path ReadRecentFile(const Registry& registry)
{
    return registry.readString(Hive::CurrentUser, kRecentFileListKey, kRecentFileValue).value_or("");
}

void RememberRecentFile(Registry& registry, const std::filesystem::path& database)
{
    registry.writeString(Hive::CurrentUser, kRecentFileListKey, kRecentFileValue, database.string());
}

}  // namespace fetchora
