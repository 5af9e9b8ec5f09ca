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
//   PyftpdlibPeer   FTP: a read-only anonymous folder and a user/password
//                   folder, multi-line welcome, per-address session limit,
//                   per-connection rate limit, counts of sessions at once
//   VsftpdPeer      FTP: a read-only anonymous folder, welcome, per-address
//                   session limit, rate limit
//
// The proxies only reach 127.0.0.1 and localhost; the FTP servers listen and
// open passive ports on 127.0.0.1 only.
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
    // One line per request, in nginx's combined format.
    std::filesystem::path accessLogFile() const { return m_dir / "access.log"; }
    // One line per request: the URI, the Range header in double quotes
    // ("-" when none) and the status.
    std::filesystem::path rangeLogFile() const { return m_dir / "ranges.log"; }
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

// What an FTP peer is started with.
struct FtpPeerOptions {
    // The welcome text, one entry per line ("220-" continuation lines, then
    // "220 " with the last).
    std::vector<std::string> banner{"Fetchora test FTP server ready"};
    // Control connections allowed from one address at once; one more is
    // refused with 421. 0: no limit.
    int maxSessionsPerAddress = 0;
    // Bytes per second per data connection. 0: no limit.
    int64_t maxBytesPerSecond = 0;
    // Seconds an idle session lasts before the server closes it (pyftpdlib
    // only). 0: the server's default.
    int idleTimeoutSeconds = 0;
};

// Passive data connections use kFtpPassivePorts consecutive ports starting at
// passivePortLow(); they are free when the peer starts.
inline constexpr int kFtpPassivePorts = 10;

class PyftpdlibPeer {
public:
    explicit PyftpdlibPeer(FtpPeerOptions options = {});

    uint16_t port() const { return m_port; }
    uint16_t passivePortLow() const { return m_passivePortLow; }
    // Served to "anonymous" (any password), read-only.
    std::filesystem::path anonymousRoot() const { return m_dir / "anon"; }
    // Served to kFtpUser with kFtpPassword, read-only.
    std::filesystem::path userRoot() const { return m_dir / "user"; }
    std::filesystem::path logFile() const { return m_dir / "ftpd.log"; }

    // Most control connections that were open at the same moment, and how
    // many were refused for the per-address limit, since the start.
    int peakSessions() const;
    int refusedSessions() const;
    // USER commands received since the start.
    int logins() const;

    static constexpr const char* kFtpUser = "fetchuser";
    static constexpr const char* kFtpPassword = "fetchpass";

private:
    int statistic(const std::string& name) const;

    TempDir m_dir;
    PeerProcess m_process;
    uint16_t m_port = 0;
    uint16_t m_passivePortLow = 0;
};

class VsftpdPeer {
public:
    // Only anonymous logins: a user account would need a system user.
    explicit VsftpdPeer(FtpPeerOptions options = {});
    // Live sessions are their own process groups and outlive the listener;
    // they are killed first.
    ~VsftpdPeer();
    VsftpdPeer(const VsftpdPeer&) = delete;
    VsftpdPeer& operator=(const VsftpdPeer&) = delete;

    uint16_t port() const { return m_port; }
    uint16_t passivePortLow() const { return m_passivePortLow; }
    // Served to "anonymous", read-only. Files must be world-readable (the
    // sessions run as the ftp user); the folder stays root-owned and closed
    // to writes, as the server demands.
    std::filesystem::path anonymousRoot() const { return m_dir / "anon"; }
    std::filesystem::path logFile() const { return m_dir / "vsftpd.log"; }

private:
    void killSessions();

    TempDir m_dir;
    PeerProcess m_process;
    uint16_t m_port = 0;
    uint16_t m_passivePortLow = 0;
};

}  // namespace fetchora::test
