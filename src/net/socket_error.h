#pragma once
// Socket error codes as the program reports them, and their texts.
//
// Logs and messages speak of the classic socket error numbers (10061 for a
// refused connection...), so errno values are mapped onto them.
//
// Thread: any; pure functions.
#include <cstdint>
#include <string>

namespace fetchora {

class ConnectionLog;

inline constexpr uint32_t kWsaEintr = 10004;
inline constexpr uint32_t kWsaEacces = 10013;
inline constexpr uint32_t kWsaEinval = 10022;
inline constexpr uint32_t kWsaEmfile = 10024;
inline constexpr uint32_t kWsaEwouldblock = 10035;
inline constexpr uint32_t kWsaEinprogress = 10036;
inline constexpr uint32_t kWsaEafnosupport = 10047;
inline constexpr uint32_t kWsaEaddrinuse = 10048;
inline constexpr uint32_t kWsaEaddrnotavail = 10049;
inline constexpr uint32_t kWsaEnetdown = 10050;
inline constexpr uint32_t kWsaEnetunreach = 10051;
inline constexpr uint32_t kWsaEconnaborted = 10053;
inline constexpr uint32_t kWsaEconnreset = 10054;
inline constexpr uint32_t kWsaEnobufs = 10055;
inline constexpr uint32_t kWsaEnotconn = 10057;
inline constexpr uint32_t kWsaEtimedout = 10060;
inline constexpr uint32_t kWsaEconnrefused = 10061;
inline constexpr uint32_t kWsaEhostunreach = 10065;

// The socket error number for an errno value. A broken pipe counts as a
// reset connection, as a send on a reset socket does. An errno without a
// socket counterpart is returned unchanged (always below 10000, so it never
// reads as one of the codes above).
uint32_t socketErrorFromErrno(int errnoValue);

// For a known code: a blank, its text, a blank and the pointer to the manual;
// empty for any other code.
std::string SocketErrorText(uint32_t code, const ConnectionLog* texts = nullptr);

}  // namespace fetchora
