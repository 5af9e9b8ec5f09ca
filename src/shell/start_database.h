#pragma once
// Which job database the program opens at start, and the recent-file entry
// that remembers it.
//
// The choice: the last database used, when it exists or can be read, or when
// it is missing but has backups and the user agrees to restore one (the
// headless program always agrees); otherwise "Default.kxd" in the profile
// folder, created when missing; when even that cannot be opened for writing,
// a new database without a file.
//
// Thread: loop thread, before the database is opened. Borrows the store.
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace fetchora {

class Registry;

// Where the framework keeps its list of recently opened files.
inline constexpr std::string_view kRecentFileListKey = "Software\\Korvex\\Korvex\\Recent File List";
inline constexpr std::string_view kRecentFileValue = "File1";

enum class StartDatabaseSource {
    RecentFile,  // the last database used
    RecentFromBackup,  // the last database used is gone; its backups are there
    DefaultFile,  // Default.kxd in the profile folder
    Unnamed,  // a new database that has no file yet
};

struct StartDatabaseChoice {
    StartDatabaseSource source = StartDatabaseSource::Unnamed;
    std::filesystem::path path;  // empty for Unnamed
    std::string problem;  // why the default could not be used, for the user
};

// Asked before a missing database is restored from its backups; true to go on.
using ConfirmRestore = std::function<bool(const std::filesystem::path& database)>;

StartDatabaseChoice ChooseStartDatabase(const std::filesystem::path& recentFile,
                                        const std::filesystem::path& defaultDatabase,
                                        const ConfirmRestore& confirmRestore = {});

// The first entry of the recent-file list; empty when there is none.
std::filesystem::path ReadRecentFile(const Registry& registry);
// Makes the path the first entry of the recent-file list.
void RememberRecentFile(Registry& registry, const std::filesystem::path& database);

}  // namespace fetchora
