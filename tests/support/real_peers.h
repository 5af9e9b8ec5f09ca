#pragma once
// Real servers for network tests, each on free 127.0.0.1 ports with its
// configuration, files and logs in its own temporary folder, started in the
// constructor (which throws std::runtime_error saying why when the program is
// missing or does not come up) and stopped in the destructor.
//
//   NginxPeer       HTTP and HTTPS (a self-signed certificate made with the
//                   openssl program), files served from www()
//   TinyproxyPeer   plain HTTP proxy and CONNECT, optionally with Basic login
//   MicrosocksPeer  SOCKS5, optionally with user/password login
//   DantePeer       SOCKS4 and SOCKS5, or SOCKS5 with user/password login
//
// The proxies only reach 127.0.0.1 and localhost.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/peer_process.h"
#include "support/temp_dir.h"

namespace fetchora::test {

// "0123456789abcdefghijklmnopqrstuvwxyz", served by NginxPeer as /files/small.txt.
inline constexpr const char* kSmallFileText = "0123456789abcdefghijklmnopqrstuvwxyz";

class NginxPeer {
public:
    // certificateNames: the subjectAltName entries of the server certificate.
    // serverConfig: more directives for the server block (locations), where
    // "$WWW" stands for the document root.
    explicit NginxPeer(std::vector<std::string> certificateNames = {"DNS:localhost", "IP:127.0.0.1"},
                       std::string serverConfig = {});

    uint16_t httpPort() const { return m_httpPort; }
    uint16_t httpsPort() const { return m_httpsPort; }
    // The server's self-signed certificate: trust it to verify the server.
    std::filesystem::path certificateFile() const { return m_dir / "cert.pem"; }
    // The document root; files written here must be world-readable (the
    // nginx workers run as nobody), as writeServedFile makes them.
    std::filesystem::path www() const { return m_dir / "www"; }
    void writeServedFile(const std::string& relativePath, const std::string& bytes) const;

private:
    TempDir m_dir;
    PeerProcess m_process;
    uint16_t m_httpPort = 0;
    uint16_t m_httpsPort = 0;
};

struct ProxyLogin {
    std::string user;
    std::string password;
};

class TinyproxyPeer {
public:
    // With a login, requests without it get 407 and wrong ones 401.
    explicit TinyproxyPeer(ProxyLogin login = {});
    uint16_t port() const { return m_port; }
    std::filesystem::path logFile() const { return m_dir / "tinyproxy.log"; }

private:
    TempDir m_dir;
    PeerProcess m_process;
    uint16_t m_port = 0;
};

class MicrosocksPeer {
public:
    explicit MicrosocksPeer(ProxyLogin login = {});
    uint16_t port() const { return m_port; }

private:
    TempDir m_dir;
    PeerProcess m_process;
    uint16_t m_port = 0;
};

class DantePeer {
public:
    // The login instance speaks SOCKS5 only (SOCKS4 carries no password) and
    // checks kDanteUser/kDantePassword, kept in copies of the user databases
    // mounted over the system's in a private mount namespace, so the machine's
    // users stay as they are. That needs root.
    explicit DantePeer(bool withLogin = false);
    uint16_t port() const { return m_port; }

    static constexpr const char* kDanteUser = "sockuser";
    static constexpr const char* kDantePassword = "sockpass";

private:
    TempDir m_dir;
    PeerProcess m_process;
    uint16_t m_port = 0;
};

}  // namespace fetchora::test
