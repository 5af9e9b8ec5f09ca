#include "net/socket_error.h"

#include <cerrno>

#include "lang/string_table.h"
#include "net/connection_log.h"

namespace fetchora {

namespace {

constexpr uint32_t kMsgNetworkUnreachable = 61408;
constexpr uint32_t kMsgConnectionReset = 61409;
constexpr uint32_t kMsgConnectionRefused = 61410;
constexpr uint32_t kMsgReadManual = 61411;

std::string textOf(uint32_t messageId, const ConnectionLog* texts)
{
    return texts ? texts->messageText(messageId) : std::string(builtinString(messageId));
}

}  // namespace

uint32_t socketErrorFromErrno(int errnoValue)
{
    switch (errnoValue) {
    case EINTR: return kWsaEintr;
    case EACCES: return kWsaEacces;
    case EINVAL: return kWsaEinval;
    case EMFILE: return kWsaEmfile;
    case EAGAIN: return kWsaEwouldblock;
    case EINPROGRESS: return kWsaEinprogress;
    case EAFNOSUPPORT: return kWsaEafnosupport;
    case EADDRINUSE: return kWsaEaddrinuse;
    case EADDRNOTAVAIL: return kWsaEaddrnotavail;
    case ENETDOWN: return kWsaEnetdown;
    case ENETUNREACH: return kWsaEnetunreach;
    case ECONNABORTED: return kWsaEconnaborted;
    case ECONNRESET:
    case EPIPE: return kWsaEconnreset;
    case ENOBUFS: return kWsaEnobufs;
    case ENOTCONN: return kWsaEnotconn;
    case ETIMEDOUT: return kWsaEtimedout;
    case ECONNREFUSED: return kWsaEconnrefused;
    case EHOSTUNREACH: return kWsaEhostunreach;
    default: return errnoValue > 0 ? static_cast<uint32_t>(errnoValue) : 0;
    }
}

std::string SocketErrorText(uint32_t code, const ConnectionLog* texts)
{
    uint32_t messageId = 0;
    switch (code) {
    case kWsaEnetunreach: messageId = kMsgNetworkUnreachable; break;
    case kWsaEconnreset: messageId = kMsgConnectionReset; break;
    case kWsaEtimedout:
    case kWsaEconnrefused: messageId = kMsgConnectionRefused; break;
    default: return {};
    }
    return " " + textOf(messageId, texts) + " " + textOf(kMsgReadManual, texts);
}

}  // namespace fetchora
