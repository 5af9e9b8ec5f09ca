#include "net/ftp_passive_data.h"

#include "net/connection_log.h"
#include "net/ftp_control.h"

namespace fetchora {

ConnectionResult OpenFtpPassiveData(const FtpPassiveRoute& route, const std::string& dataAddress, uint16_t dataPort,
                                    const ConnectionEnvironment& environment)
{
    ConnectionRequest request;
    request.connectTimeoutMs = route.connectTimeoutMs;
    std::string address;
    if (route.proxy && isTunnelProxyType(route.proxy->type)) {
        // The proxy opens the data connection to the site, as it did the
        // control connection.
        request.target = {route.siteHost, dataPort, route.siteAddress, false};
        request.proxy = route.proxy;
        request.proxyAddress = route.proxyAddress;
        address = route.siteHost;
    } else {
        // Only the peer of the control connection (the server, or the FTP
        // proxy that relays it) is trusted with the data connection.
        address = route.controlPeer.empty() ? dataAddress : route.controlPeer;
        if (address != dataAddress) {
            environment.log.logLine(ConnectionLogKind::Status,
                                    "The server named " + dataAddress + " for the data connection; " + address
                                        + " is used, the address of the control connection.");
        }
        request.target = {address, dataPort, address, false};
    }
    ConnectionResult connection = openConnection(request, environment);
    if (connection.outcome != ConnectOutcome::Open && connection.outcome != ConnectOutcome::Stopped)
        environment.log.logMessage(ConnectionLogKind::Error, kMsgDataConnectError, {address, std::to_string(dataPort)});
    return connection;
}

}  // namespace fetchora
