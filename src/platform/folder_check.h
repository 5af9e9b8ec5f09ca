#pragma once
// The profile and temporary folder checks of platform/paths.h with each
// reason a folder was refused kept apart from its English words, so that a
// front end can say it in the current language.
//
// Thread: free functions, safe from any thread.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace fetchora {

enum class FolderFaultKind {
    NoProfileVariable,  // neither FETCHORA_HOME, XDG_DATA_HOME nor HOME is set
    CannotCreate,
    NotAFolder,
    CannotOpen,
    SymbolicLink,
    CannotExamine,
    OtherOwner,
    CannotMakePrivate,
    WritableByEveryone,
    CannotCreatePrivateIn,  // no fresh private folder could be made in `path`
};

struct FolderFault {
    FolderFaultKind kind = FolderFaultKind::CannotCreate;
    std::filesystem::path path;
    int systemError = 0;  // errno, where the system gave one
};

// The fault in English, as the logs and scripts read it.
std::string folderFaultEnglish(const FolderFault& fault);

struct FolderCheck {
    FolderResult result;  // its error: the faults' English, joined by "; "
    std::vector<FolderFault> faults;  // one entry per reason, in order
};

// profileFolder and temporaryFolder, with their reasons.
FolderCheck checkProfileFolder(const Environment& env);
FolderCheck checkTemporaryFolder(const Environment& env);

}  // namespace fetchora
