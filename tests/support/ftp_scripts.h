#pragma once
// Scripted FTP server dialogues that several tests share: the passive-mode
// reply for a data port, and the control dialogue the FTP client goes
// through before it asks for a file (login, the resume probe, binary type,
// the size).
#include <cstdint>
#include <string>

#include "support/scripted_server.h"

namespace fetchora::test {

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2).\r\n" for a dotted IPv4
// address and a port.
std::string passiveReply(const std::string& address, uint16_t port);

// The control dialogue of a binary download of `path` (with its leading
// slash) up to the answer to SIZE, which is sizeReply (with its line end).
// An empty password accepts whatever the client sends after PASS; any other
// must be sent exactly.
ServerScript ftpLoginAndSize(const std::string& path, const std::string& sizeReply,
                             const std::string& password = {});

}  // namespace fetchora::test
