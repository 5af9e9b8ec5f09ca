#pragma once
// Where the program finds and keeps its files.
//
// - program folder: read-only data shipped with the program (mirror lists,
//   language files, export templates, sounds);
// - profile folder: everything the program writes and keeps (settings file,
//   default database, favourites, own mirror list, cookies);
// - temporary folder: private scratch space, removed at exit;
// - runtime folder: where the single-instance socket lives;
// - default download folder.
//
// Every lookup takes the environment as a function so that tests can give
// their own; `processEnvironment()` reads the real one. Empty values count as
// unset, and so do relative ones for the variables whose standards demand
// absolute paths (XDG_*, TMPDIR). Returned paths carry no trailing slash.
//
// Thread: free functions, safe from any thread.
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace fetchora {

using Environment = std::function<std::optional<std::string>(const std::string& name)>;

// getenv, plus the password database for HOME when it is unset.
Environment processEnvironment();
// A fixed set of variables; anything else is unset.
Environment mapEnvironment(std::map<std::string, std::string> variables);

struct FolderResult {
    std::filesystem::path path;  // empty when no usable folder could be had
    std::string error;           // why the usual folder was not used, or why none was
    // Temporary folder only: the usual one was unsafe (a symlink, not ours,
    // not a folder) and `path` is a fresh private folder under another name.
    bool replaced = false;

    explicit operator bool() const { return !path.empty(); }
};

// The folder of the running executable when it holds the program's data (a
// build tree or an unpacked archive), else an installed data folder next to
// it (<exe>/../share/fetchora), else the one under the configured install
// prefix, else the executable's folder as a last resort.
std::filesystem::path programFolder();
// The same choice for a given executable path and configured data folder.
std::filesystem::path programFolder(const std::filesystem::path& executable,
                                    const std::filesystem::path& installedData);

// $FETCHORA_HOME, else $XDG_DATA_HOME/fetchora, else ~/.local/share/fetchora.
// Nothing is created.
std::filesystem::path profileFolderPath(const Environment& env);
// The profile folder, created with mode 0700 (missing parents too) when it
// does not exist yet. An existing folder is used as it is, unless it belongs
// to another user or every user may write it (an error then).
FolderResult profileFolder(const Environment& env = processEnvironment());

// $TMPDIR (else /tmp) + "/fetchora-<uid>", created with mode 0700. An existing
// one is used only when it is a real folder owned by us (its mode is then
// tightened to 0700); otherwise a fresh private folder "fetchora-<uid>-XXXXXX"
// is made beside it and `replaced` says so. The caller keeps the path for the
// whole run: the fresh name is not found again by a second call.
FolderResult temporaryFolder(const Environment& env = processEnvironment());
// Deletes the temporary folder and its contents at exit. Refuses (false) a
// path that is not a folder owned by us, so a swapped-in symlink is never
// followed. True when the folder is gone.
bool removeTemporaryFolder(const std::filesystem::path& folder);

// $XDG_DOWNLOAD_DIR, else ~/Downloads. Nothing is created.
std::filesystem::path downloadFolder(const Environment& env = processEnvironment());

// $XDG_RUNTIME_DIR, else the given temporary folder.
std::filesystem::path runtimeFolder(const Environment& env, const std::filesystem::path& temporaryFolder);

}  // namespace fetchora
