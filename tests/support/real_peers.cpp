#include "support/real_peers.h"

#include <fstream>
#include <functional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fetchora::test {

namespace {

constexpr int kStartAttempts = 5;

void writeText(const std::filesystem::path& file, const std::string& text, mode_t mode = 0644)
{
    std::filesystem::create_directories(file.parent_path());
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out)
            throw std::runtime_error("cannot write " + file.string());
    }
    ::chmod(file.c_str(), mode);
}

// Peers drop to "nobody": the folder they read must be open to it.
void openFolder(const std::filesystem::path& folder)
{
    ::chmod(folder.c_str(), 0755);
}

// Starts a peer on fresh ports until it accepts on every one: a port taken
// between the pick and the peer's bind only costs another attempt.
void startOnFreePorts(const std::string& name, PeerProcess& process, const std::filesystem::path& logFile,
                      std::vector<uint16_t*> ports, const std::function<std::vector<std::string>()>& configure)
{
    std::string lastLog;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        for (uint16_t* port : ports) {
            do {
                *port = pickFreePort();
            } while (port != ports.front() && *port == *ports.front());
        }
        const std::vector<std::string> argv = configure();
        process.start(argv, logFile);
        bool up = true;
        for (uint16_t* port : ports)
            up = up && process.waitUntilAccepting(*port);
        if (up)
            return;
        process.stop();
        lastLog = logTail(logFile);
    }
    throw std::runtime_error(name + " did not start on 127.0.0.1: " + lastLog);
}

}  // namespace

NginxPeer::NginxPeer(std::vector<std::string> certificateNames, std::string serverConfig)
{
    for (size_t at = serverConfig.find("$WWW"); at != std::string::npos; at = serverConfig.find("$WWW", at))
        serverConfig.replace(at, 4, (m_dir.path() / "www").string());
    const std::string nginx = requireExecutable("nginx", "nginx-light");
    const std::string openssl = requireExecutable("openssl", "openssl");
    const std::filesystem::path& dir = m_dir.path();
    openFolder(dir);
    std::filesystem::create_directories(dir / "tmp");
    writeServedFile("files/small.txt", kSmallFileText);

    std::string names;
    for (const std::string& name : certificateNames)
        names += (names.empty() ? "" : ",") + name;
    const int made
        = runProgram({openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                      "-days", "2", "-subj", "/CN=fetchora test", "-addext", "subjectAltName=" + names, "-keyout",
                      (dir / "key.pem").string(), "-out", (dir / "cert.pem").string()},
                     dir / "openssl.log");
    if (made != 0)
        throw std::runtime_error("openssl could not make the test certificate: " + logTail(dir / "openssl.log"));

    const std::string d = dir.string();
    startOnFreePorts("nginx", m_process, dir / "nginx.out", {&m_httpPort, &m_httpsPort}, [&] {
        writeText(dir / "nginx.conf",
                  "daemon off;\nworker_processes 1;\npid " + d + "/nginx.pid;\nerror_log " + d
                      + "/error.log info;\n"
                        "events { worker_connections 128; }\n"
                        "http {\n  access_log "
                      + d
                      + "/access.log;\n"
                        "  client_body_temp_path "
                      + d + "/tmp/body; proxy_temp_path " + d
                      + "/tmp/proxy;\n"
                        "  fastcgi_temp_path "
                      + d + "/tmp/fastcgi; uwsgi_temp_path " + d
                      + "/tmp/uwsgi;\n"
                        "  scgi_temp_path "
                      + d
                      + "/tmp/scgi;\n"
                        "  types { text/plain txt; text/html html; application/octet-stream bin; }\n"
                        "  default_type application/octet-stream;\n"
                        "  server {\n"
                        "    listen 127.0.0.1:"
                      + std::to_string(m_httpPort)
                      + ";\n"
                        "    listen 127.0.0.1:"
                      + std::to_string(m_httpsPort)
                      + " ssl;\n"
                        "    ssl_certificate "
                      + d + "/cert.pem; ssl_certificate_key " + d
                      + "/key.pem;\n"
                        "    root "
                      + d
                      + "/www;\n" + serverConfig
                      + "\n  }\n}\n");
        return std::vector<std::string>{nginx, "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log"};
    });
}

void NginxPeer::writeServedFile(const std::string& relativePath, const std::string& bytes) const
{
    const std::filesystem::path file = www() / relativePath;
    writeText(file, bytes);
    for (std::filesystem::path folder = file.parent_path(); folder != m_dir.path(); folder = folder.parent_path())
        openFolder(folder);
}

TinyproxyPeer::TinyproxyPeer(ProxyLogin login)
{
    const std::string tinyproxy = requireExecutable("tinyproxy", "tinyproxy");
    const std::filesystem::path& dir = m_dir.path();
    openFolder(dir);
    writeText(dir / "filter", "^127\\.0\\.0\\.1$\n^localhost$\n");
    const std::string d = dir.string();
    startOnFreePorts("tinyproxy", m_process, dir / "tinyproxy.out", {&m_port}, [&] {
        std::string config = "Port " + std::to_string(m_port)
            + "\nListen 127.0.0.1\nTimeout 60\n"
              "LogFile \""
            + d
            + "/tinyproxy.log\"\nLogLevel Info\n"
              "PidFile \""
            + d
            + "/tinyproxy.pid\"\nMaxClients 32\nAllow 127.0.0.1\n"
              "Filter \""
            + d + "/filter\"\nFilterDefaultDeny Yes\nFilterType ere\n";
        if (!login.user.empty())
            config += "BasicAuth " + login.user + " " + login.password + "\n";
        writeText(dir / "tinyproxy.conf", config);
        return std::vector<std::string>{tinyproxy, "-d", "-c", d + "/tinyproxy.conf"};
    });
}

MicrosocksPeer::MicrosocksPeer(ProxyLogin login)
{
    const std::string microsocks = requireExecutable("microsocks", "microsocks");
    startOnFreePorts("microsocks", m_process, m_dir.path() / "microsocks.out", {&m_port}, [&] {
        std::vector<std::string> argv{microsocks, "-i", "127.0.0.1", "-p", std::to_string(m_port), "-b", "127.0.0.1"};
        if (!login.user.empty()) {
            argv.insert(argv.end(), {"-u", login.user, "-P", login.password});
        }
        return argv;
    });
}

DantePeer::DantePeer(bool withLogin)
{
    const std::string danted = requireExecutable("danted", "dante-server");
    const std::filesystem::path& dir = m_dir.path();
    openFolder(dir);
    const std::string d = dir.string();
    std::string unshare;
    if (withLogin) {
        if (::geteuid() != 0)
            throw std::runtime_error("the dante login peer needs root (for its private mount namespace)");
        unshare = requireExecutable("unshare", "util-linux");
        const std::string openssl = requireExecutable("openssl", "openssl");
        std::filesystem::copy_file("/etc/passwd", dir / "passwd");
        std::filesystem::copy_file("/etc/shadow", dir / "shadow");
        ::chmod((dir / "shadow").c_str(), 0640);
        std::ofstream(dir / "passwd", std::ios::app)
            << kDanteUser << ":x:64001:65534:socks test user:/nonexistent:/usr/sbin/nologin\n";
        if (runProgram({openssl, "passwd", "-6", kDantePassword}, dir / "hash") != 0)
            throw std::runtime_error("openssl could not hash the SOCKS password: " + logTail(dir / "hash"));
        std::string hash;
        std::getline(std::ifstream(dir / "hash"), hash);
        std::ofstream(dir / "shadow", std::ios::app) << kDanteUser << ":" << hash << ":19000:0:99999:7:::\n";
    }
    startOnFreePorts("danted", m_process, dir / "danted.out", {&m_port}, [&] {
        writeText(dir / "danted.conf",
                  "logoutput: " + d
                      + "/danted.log\n"
                        "internal: 127.0.0.1 port = "
                      + std::to_string(m_port)
                      + "\n"
                        "external: 127.0.0.1\n"
                        "socksmethod: "
                      + std::string(withLogin ? "username" : "none")
                      + "\n"
                        "clientmethod: none\nuser.privileged: root\nuser.unprivileged: nobody\n"
                        "client pass {\n  from: 127.0.0.1/32 to: 0.0.0.0/0\n  log: error\n}\n"
                        "socks pass {\n  from: 127.0.0.1/32 to: 127.0.0.1/32\n  command: connect\n"
                        "  proxyprotocol: "
                      + std::string(withLogin ? "socks_v5" : "socks_v4 socks_v5")
                      + "\n"
                        "  log: connect error\n}\n"
                        "socks block {\n  from: 0.0.0.0/0 to: 0.0.0.0/0\n  log: connect error\n}\n");
        const std::string run = danted + " -f " + d + "/danted.conf -p " + d + "/danted.pid";
        if (!withLogin)
            return std::vector<std::string>{danted, "-f", d + "/danted.conf", "-p", d + "/danted.pid"};
        return std::vector<std::string>{unshare,
                                        "--mount",
                                        "--propagation",
                                        "private",
                                        "sh",
                                        "-c",
                                        "mount --bind " + d + "/passwd /etc/passwd && mount --bind " + d
                                            + "/shadow /etc/shadow && exec " + run};
    });
}

}  // namespace fetchora::test
