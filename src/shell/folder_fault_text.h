#pragma once
// The platform's reasons why a folder cannot be used (a profile or a
// temporary folder), put into words in the current language where they are
// shown.
//
// Thread: any; pure.
#include <cstdint>
#include <string>

#include "platform/folder_check.h"

namespace fetchora {

// "%1" the folder, "%2" the system's reason.
inline constexpr uint32_t kStrFolderNoProfileVariable = 41431;
inline constexpr uint32_t kStrFolderCannotCreate = 41432;
inline constexpr uint32_t kStrFolderNotAFolder = 41433;
inline constexpr uint32_t kStrFolderCannotOpen = 41434;
inline constexpr uint32_t kStrFolderSymbolicLink = 41435;
inline constexpr uint32_t kStrFolderCannotExamine = 41436;
inline constexpr uint32_t kStrFolderOtherOwner = 41437;
inline constexpr uint32_t kStrFolderCannotMakePrivate = 41438;
inline constexpr uint32_t kStrFolderWritableByEveryone = 41439;
inline constexpr uint32_t kStrFolderCannotCreatePrivateIn = 41440;

std::string folderFaultText(const FolderFault& fault);
// Every fault of the check, joined by "; "; the result's English error
// when it names none.
std::string folderFaultsText(const FolderCheck& check);

}  // namespace fetchora
