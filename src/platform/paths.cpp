#include "platform/paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/folder_check.h"

#ifndef FETCHORA_INSTALL_PREFIX
#define FETCHORA_INSTALL_PREFIX "/usr/local"
#endif

namespace fetchora {

namespace fs = std::filesystem;

namespace {

constexpr mode_t kPrivateMode = 0700;

std::optional<std::string> nonEmpty(const Environment& env, const std::string& name)
{
    auto value = env(name);
    if (!value || value->empty())
        return std::nullopt;
    return value;
}

// The XDG base-directory rules say a relative value is invalid and must be
// ignored; the same holds for TMPDIR and HOME here.
std::optional<fs::path> absoluteVariable(const Environment& env, const std::string& name)
{
    auto value = nonEmpty(env, name);
    if (!value || (*value)[0] != '/')
        return std::nullopt;
    return fs::path(*value);
}

fs::path withoutTrailingSlash(fs::path path)
{
    path = path.lexically_normal();
    if (!path.has_filename() && path.has_relative_path())
        path = path.parent_path();
    return path;
}

// A fault with the errno of the call that just failed.
FolderFault systemFault(FolderFaultKind kind, const fs::path& path)
{
    return {kind, path, errno};
}

void addFault(FolderCheck& check, FolderFault fault)
{
    if (!check.result.error.empty())
        check.result.error += "; ";
    check.result.error += folderFaultEnglish(fault);
    check.faults.push_back(std::move(fault));
}

// mkdir -p, giving each folder it makes mode 0700 so a new profile is private
// from the first byte.
std::optional<FolderFault> createPrivateFolders(const fs::path& folder)
{
    fs::path partial;
    for (const fs::path& part : folder) {
        partial /= part;
        if (part == partial.root_path() || ::mkdir(partial.c_str(), kPrivateMode) == 0 || errno == EEXIST)
            continue;
        return systemFault(FolderFaultKind::CannotCreate, partial);
    }
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return FolderFault{FolderFaultKind::NotAFolder, folder, 0};
    return std::nullopt;
}

std::string ownerUidText()
{
    return std::to_string(::geteuid());
}

// Why an existing temporary folder may not be used, or nothing when it is a
// real folder of ours (then made private). The folder is opened without
// following a symlink, so the checks and the chmod act on one and the same
// object.
std::optional<FolderFault> checkOwnTemporaryFolder(const fs::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const FolderFault cannotOpen = systemFault(FolderFaultKind::CannotOpen, folder);
        struct stat link;
        if (::lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            return FolderFault{FolderFaultKind::SymbolicLink, folder, 0};
        return cannotOpen;
    }
    struct stat st;
    std::optional<FolderFault> problem;
    if (::fstat(fd, &st) != 0)
        problem = systemFault(FolderFaultKind::CannotExamine, folder);
    else if (st.st_uid != ::geteuid())
        problem = FolderFault{FolderFaultKind::OtherOwner, folder, 0};
    else if ((st.st_mode & 07777) != kPrivateMode && ::fchmod(fd, kPrivateMode) != 0)
        problem = systemFault(FolderFaultKind::CannotMakePrivate, folder);
    ::close(fd);
    return problem;
}

}  // namespace

std::string folderFaultEnglish(const FolderFault& fault)
{
    const std::string path = fault.path.string();
    const std::string why = fault.systemError != 0 ? std::string(": ") + std::strerror(fault.systemError) : "";
    switch (fault.kind) {
    case FolderFaultKind::NoProfileVariable:
        return "no profile folder: neither FETCHORA_HOME, XDG_DATA_HOME nor HOME is set";
    case FolderFaultKind::CannotCreate: return "cannot create " + path + why;
    case FolderFaultKind::NotAFolder: return path + " exists but is not a folder";
    case FolderFaultKind::CannotOpen: return "cannot open " + path + why;
    case FolderFaultKind::SymbolicLink: return path + " is a symbolic link";
    case FolderFaultKind::CannotExamine: return "cannot examine " + path + why;
    case FolderFaultKind::OtherOwner: return path + " belongs to another user; the folder must be one of ours";
    case FolderFaultKind::CannotMakePrivate: return "cannot make private " + path + why;
    case FolderFaultKind::WritableByEveryone:
        return path + " may be written by every user; make it private (chmod 700)";
    case FolderFaultKind::CannotCreatePrivateIn: return "cannot create a private folder in " + path + why;
    }
    return path;
}

Environment processEnvironment()
{
    return [](const std::string& name) -> std::optional<std::string> {
        if (const char* value = std::getenv(name.c_str()))
            return std::string(value);
        if (name != "HOME")
            return std::nullopt;
        // Services and cron jobs may run without HOME.
        std::vector<char> buffer(16384);
        struct passwd entry;
        struct passwd* found = nullptr;
        if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
            return std::string(found->pw_dir);
        return std::nullopt;
    };
}

Environment mapEnvironment(std::map<std::string, std::string> variables)
{
    return [variables = std::move(variables)](const std::string& name) -> std::optional<std::string> {
        const auto found = variables.find(name);
        if (found == variables.end())
            return std::nullopt;
        return found->second;
    };
}

fs::path programFolder()
{
    std::error_code ec;
    const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
    return programFolder(ec ? fs::path() : executable, fs::path(FETCHORA_INSTALL_PREFIX) / "share" / "fetchora");
}

fs::path programFolder(const fs::path& executable, const fs::path& installedData)
{
    std::error_code ec;
    if (!executable.empty()) {
        const fs::path folder = executable.parent_path();
        if (fs::exists(folder / "mirrors.lst", ec) || fs::is_directory(folder / "language", ec))
            return withoutTrailingSlash(folder);
        // An install moved to another prefix keeps bin/ and share/ side by side.
        const fs::path besideBin = (folder.parent_path() / "share" / "fetchora").lexically_normal();
        if (fs::is_directory(besideBin, ec))
            return besideBin;
    }
    if (fs::is_directory(installedData, ec) || executable.empty())
        return withoutTrailingSlash(installedData);
    return withoutTrailingSlash(executable.parent_path());
}

fs::path profileFolderPath(const Environment& env)
{
    if (const auto home = nonEmpty(env, "FETCHORA_HOME")) {
        // A relative FETCHORA_HOME is a deliberate choice of whoever set it;
        // pin it to the folder the program was started in.
        std::error_code ec;
        const fs::path absolute = fs::absolute(*home, ec);
        return withoutTrailingSlash(ec ? fs::path(*home) : absolute);
    }
    if (const auto data = absoluteVariable(env, "XDG_DATA_HOME"))
        return withoutTrailingSlash(*data / "fetchora");
    if (const auto home = absoluteVariable(env, "HOME"))
        return withoutTrailingSlash(*home / ".local" / "share" / "fetchora");
    return {};
}

FolderCheck checkProfileFolder(const Environment& env)
{
    FolderCheck check;
    FolderResult& result = check.result;
    const fs::path folder = profileFolderPath(env);
    if (folder.empty()) {
        addFault(check, {FolderFaultKind::NoProfileVariable, {}, 0});
        return check;
    }
    if (auto fault = createPrivateFolders(folder)) {
        addFault(check, std::move(*fault));
        return check;
    }
    // Whoever may write the folder may plant a symlink where the settings or
    // the database are saved, or read them.
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0)
        addFault(check, systemFault(FolderFaultKind::CannotExamine, folder));
    else if (st.st_uid != ::geteuid())
        addFault(check, {FolderFaultKind::OtherOwner, folder, 0});
    else if ((st.st_mode & S_IWOTH) != 0)
        addFault(check, {FolderFaultKind::WritableByEveryone, folder, 0});
    else
        result.path = folder;
    return check;
}

FolderCheck checkTemporaryFolder(const Environment& env)
{
    FolderCheck check;
    FolderResult& result = check.result;
    fs::path base = "/tmp";
    if (const auto tmp = absoluteVariable(env, "TMPDIR")) {
        std::error_code ec;
        if (fs::is_directory(*tmp, ec))
            base = withoutTrailingSlash(*tmp);
    }
    const std::string name = "fetchora-" + ownerUidText();
    const fs::path folder = base / name;

    if (::mkdir(folder.c_str(), kPrivateMode) == 0) {
        // The umask may have taken bits away; make the mode exactly private.
        ::chmod(folder.c_str(), kPrivateMode);
        result.path = folder;
        return check;
    }
    if (errno == EEXIST) {
        auto fault = checkOwnTemporaryFolder(folder);
        if (!fault) {
            result.path = folder;
            return check;
        }
        addFault(check, std::move(*fault));
    } else {
        addFault(check, systemFault(FolderFaultKind::CannotCreate, folder));
    }

    // Someone else holds the usual name (or it cannot be made): never write
    // into it, use a fresh unguessable folder that mkdtemp makes 0700.
    std::string pattern = (base / (name + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data())) {
        result.path = pattern;
        result.replaced = true;
    } else {
        addFault(check, systemFault(FolderFaultKind::CannotCreatePrivateIn, base));
    }
    return check;
}

FolderResult profileFolder(const Environment& env)
{
    return checkProfileFolder(env).result;
}

FolderResult temporaryFolder(const Environment& env)
{
    return checkTemporaryFolder(env).result;
}

bool removeTemporaryFolder(const fs::path& folder)
{
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    std::error_code ec;
    fs::remove_all(folder, ec);
    return !ec;
}

fs::path downloadFolder(const Environment& env)
{
    if (const auto downloads = absoluteVariable(env, "XDG_DOWNLOAD_DIR"))
        return withoutTrailingSlash(*downloads);
    if (const auto home = absoluteVariable(env, "HOME"))
        return withoutTrailingSlash(*home / "Downloads");
    return {};
}

fs::path runtimeFolder(const Environment& env, const fs::path& temporaryFolder)
{
    if (const auto runtime = absoluteVariable(env, "XDG_RUNTIME_DIR"))
        return withoutTrailingSlash(*runtime);
    return temporaryFolder;
}

}  // namespace fetchora
