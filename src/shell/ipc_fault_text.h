#pragma once
// The reasons why serving or talking to a running instance failed, put into
// words in the current language where they are shown.
//
// Thread: any; pure.
#include <cstdint>
#include <string>

#include "platform/ipc_endpoint.h"

namespace fetchora {

// "%1" the socket, "%2" the system's reason, "%3" a count of bytes or milliseconds.
inline constexpr uint32_t kStrIpcAlreadyListening = 41756;
inline constexpr uint32_t kStrIpcPathTooLongToServe = 41757;
inline constexpr uint32_t kStrIpcNotASocket = 41758;
inline constexpr uint32_t kStrIpcOtherOwnersSocket = 41759;
inline constexpr uint32_t kStrIpcAnotherInstance = 41760;
inline constexpr uint32_t kStrIpcCannotCreateSocket = 41761;
inline constexpr uint32_t kStrIpcCannotBind = 41762;
inline constexpr uint32_t kStrIpcCannotServe = 41763;
inline constexpr uint32_t kStrIpcCannotCreatePipe = 41764;
inline constexpr uint32_t kStrIpcPathTooLong = 41765;
inline constexpr uint32_t kStrIpcRequestTooLong = 41766;
inline constexpr uint32_t kStrIpcNoInstance = 41767;
inline constexpr uint32_t kStrIpcNotAcceptedInTime = 41768;
inline constexpr uint32_t kStrIpcCannotConnect = 41769;
inline constexpr uint32_t kStrIpcOtherUsersService = 41770;
inline constexpr uint32_t kStrIpcRequestNotTaken = 41771;
inline constexpr uint32_t kStrIpcConnectionBroke = 41772;
inline constexpr uint32_t kStrIpcNoReplyInTime = 41773;
inline constexpr uint32_t kStrIpcClosedWithoutReply = 41774;
inline constexpr uint32_t kStrIpcMalformedReply = 41775;
inline constexpr uint32_t kStrIpcReplyCutShort = 41776;
inline constexpr uint32_t kStrTakeOverNoAnswer = 41777;
inline constexpr uint32_t kStrTakeOverNoAnswerBecause = 41778;  // "%1" the fault

// The fault in the current language; empty for none.
std::string ipcFaultText(const IpcFault& fault);

}  // namespace fetchora
