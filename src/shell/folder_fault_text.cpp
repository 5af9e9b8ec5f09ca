#include "shell/folder_fault_text.h"

#include "lang/string_table.h"
#include "lang/system_error_text.h"

namespace fetchora {

namespace {

uint32_t textId(FolderFaultKind kind)
{
    switch (kind) {
    case FolderFaultKind::NoProfileVariable: return kStrFolderNoProfileVariable;
    case FolderFaultKind::CannotCreate: return kStrFolderCannotCreate;
    case FolderFaultKind::NotAFolder: return kStrFolderNotAFolder;
    case FolderFaultKind::CannotOpen: return kStrFolderCannotOpen;
    case FolderFaultKind::SymbolicLink: return kStrFolderSymbolicLink;
    case FolderFaultKind::CannotExamine: return kStrFolderCannotExamine;
    case FolderFaultKind::OtherOwner: return kStrFolderOtherOwner;
    case FolderFaultKind::CannotMakePrivate: return kStrFolderCannotMakePrivate;
    case FolderFaultKind::WritableByEveryone: return kStrFolderWritableByEveryone;
    case FolderFaultKind::CannotCreatePrivateIn: return kStrFolderCannotCreatePrivateIn;
    }
    return 0;
}

}  // namespace

std::string folderFaultText(const FolderFault& fault)
{
    const std::string_view pattern = builtinString(textId(fault.kind));
    if (pattern.empty())
        return folderFaultEnglish(fault);
    const std::string why = fault.systemError != 0 ? systemErrorText(fault.systemError) : std::string();
    return formatMessage(pattern, {fault.path.string(), why});
}

std::string folderFaultsText(const FolderCheck& check)
{
    if (check.faults.empty())
        return check.result.error;
    std::string text;
    for (const FolderFault& fault : check.faults) {
        if (!text.empty())
            text += "; ";
        text += folderFaultText(fault);
    }
    return text;
}

}  // namespace fetchora
