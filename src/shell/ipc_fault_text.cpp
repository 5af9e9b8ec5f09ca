#include "shell/ipc_fault_text.h"

#include "lang/string_table.h"
#include "lang/system_error_text.h"

namespace fetchora {

namespace {

uint32_t textId(IpcFaultKind kind)
{
    switch (kind) {
    case IpcFaultKind::None: return 0;
    case IpcFaultKind::AlreadyListening: return kStrIpcAlreadyListening;
    case IpcFaultKind::PathTooLongToServe: return kStrIpcPathTooLongToServe;
    case IpcFaultKind::NotASocket: return kStrIpcNotASocket;
    case IpcFaultKind::OtherOwnersSocket: return kStrIpcOtherOwnersSocket;
    case IpcFaultKind::AnotherInstance: return kStrIpcAnotherInstance;
    case IpcFaultKind::CannotCreateSocket: return kStrIpcCannotCreateSocket;
    case IpcFaultKind::CannotBind: return kStrIpcCannotBind;
    case IpcFaultKind::CannotServe: return kStrIpcCannotServe;
    case IpcFaultKind::CannotCreatePipe: return kStrIpcCannotCreatePipe;
    case IpcFaultKind::PathTooLong: return kStrIpcPathTooLong;
    case IpcFaultKind::RequestTooLong: return kStrIpcRequestTooLong;
    case IpcFaultKind::NoInstance: return kStrIpcNoInstance;
    case IpcFaultKind::NotAcceptedInTime: return kStrIpcNotAcceptedInTime;
    case IpcFaultKind::CannotConnect: return kStrIpcCannotConnect;
    case IpcFaultKind::OtherUsersService: return kStrIpcOtherUsersService;
    case IpcFaultKind::RequestNotTaken: return kStrIpcRequestNotTaken;
    case IpcFaultKind::ConnectionBroke: return kStrIpcConnectionBroke;
    case IpcFaultKind::NoReplyInTime: return kStrIpcNoReplyInTime;
    case IpcFaultKind::ClosedWithoutReply: return kStrIpcClosedWithoutReply;
    case IpcFaultKind::MalformedReply: return kStrIpcMalformedReply;
    case IpcFaultKind::ReplyCutShort: return kStrIpcReplyCutShort;
    }
    return 0;
}

}  // namespace

std::string ipcFaultText(const IpcFault& fault)
{
    const std::string_view pattern = builtinString(textId(fault.kind));
    if (pattern.empty())
        return ipcFaultEnglish(fault);
    const std::string why = fault.systemError != 0 ? systemErrorText(fault.systemError) : std::string();
    return formatMessage(pattern, {fault.path.string(), why, std::to_string(fault.number)});
}

}  // namespace fetchora
