#pragma once
// Opening the passive data connection a 227 answer named: directly to the
// peer of the control connection (never to another host the server names),
// or through the same tunnel as the control connection. Shared by the FTP
// worker and the folder listing.
//
// Thread: the caller's (a worker or the explorer's fetch); borrows the
// environment's log.
#include <cstdint>
#include <optional>
#include <string>

#include "config/proxy_entry.h"
#include "net/connection_setup.h"

namespace fetchora {

struct FtpPassiveRoute {
    std::string siteHost;  // the URL's host, which a tunnel proxy is asked for
    std::string siteAddress;  // its remembered address, empty when not known
    std::optional<ProxyEntry> proxy;  // the control connection's proxy, none for direct
    std::string proxyAddress;  // the proxy's remembered address
    std::string controlPeer;  // the address of the control connection's peer, empty when unknown
    int connectTimeoutMs = 90000;
};

// Connects to the port of the last 227 answer (dataAddress is used only when
// the control peer is unknown). On failure "Error Connected to %s , Port %d."
// is logged with the address and port.
ConnectionResult OpenFtpPassiveData(const FtpPassiveRoute& route, const std::string& dataAddress, uint16_t dataPort,
                                    const ConnectionEnvironment& environment);

}  // namespace fetchora
