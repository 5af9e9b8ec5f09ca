#include "support/real_peers.h"

#include "support/support_files.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
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

int connectLoopback(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The first of kFtpPassivePorts consecutive free ports in the same range as
// pickFreePort, none of them `avoid`.
uint16_t pickFreePortBlock(uint16_t avoid)
{
    static std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> range(20000, 32000 - kFtpPassivePorts);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto low = static_cast<uint16_t>(range(random));
        bool free = avoid < low || avoid >= low + kFtpPassivePorts;
        for (int offset = 0; free && offset < kFtpPassivePorts; ++offset)
            free = portIsFree(static_cast<uint16_t>(low + offset));
        if (free)
            return low;
    }
    throw std::runtime_error("no block of free ports on 127.0.0.1 for FTP passive connections");
}

// True when a complete line of `text` ends a reply ("NNN " and the rest).
bool holdsFinalReplyLine(const std::string& text, std::string* finalLine)
{
    size_t lineStart = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', lineStart)) {
        const std::string line = text.substr(lineStart, end - lineStart);
        if (line.size() >= 4 && line[3] == ' ') {
            *finalLine = line;
            return true;
        }
        lineStart = end + 1;
    }
    return false;
}

// The first reply of a new control connection, its last line in *finalLine.
std::string readFtpWelcome(uint16_t port, std::string* finalLine)
{
    const int fd = connectLoopback(port);
    if (fd < 0)
        return "(no connection)";
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!holdsFinalReplyLine(text, finalLine) && std::chrono::steady_clock::now() < deadline) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 100) <= 0)
            continue;
        char buffer[512];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return text;
}

// A started FTP peer must greet with a 220 reply; anything else ("500 OOPS",
// a closed connection) is a broken set-up, reported with what it said. A 421
// is retried: the port probe's session may still count against a small
// per-address limit.
void requireFtpWelcome(const std::string& name, uint16_t port, const std::filesystem::path& logFile)
{
    std::string text;
    std::string finalLine;
    for (int attempt = 0; attempt < 40; ++attempt) {
        finalLine.clear();
        text = readFtpWelcome(port, &finalLine);
        if (finalLine.rfind("421 ", 0) != 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (finalLine.rfind("220 ", 0) != 0)
        throw std::runtime_error(name + " does not greet with 220: \"" + text + "\" " + logTail(logFile));
}

// The processes whose parent is `parent`, ended ones it has not reaped yet
// included (a server counts a session until it reaps it).
std::vector<pid_t> childProcesses(pid_t parent)
{
    std::vector<pid_t> children;
    if (parent <= 0)
        return children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        std::getline(stat, text);
        // The command name in parentheses may hold blanks; the parent's id
        // is the second field after it.
        const size_t close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(text.substr(close + 1));
        std::string state;
        pid_t parentId = 0;
        fields >> state >> parentId;
        if (parentId == parent)
            children.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return children;
}

// Waits up to two seconds for `idle`. The start-up probes' sessions, all
// accepted before the welcome check's, must be gone before a test counts
// sessions or meets a session limit.
void waitUntilIdle(const std::function<bool()>& idle)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!idle() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
                        "  log_format ranges '$request_uri \"$http_range\" $status';\n"
                        "  access_log "
                      + d
                      + "/ranges.log ranges;\n"
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
                      + d + "/www;\n" + serverConfig + "\n  }\n}\n");
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

PyftpdlibPeer::PyftpdlibPeer(FtpPeerOptions options)
{
    // The python on PATH may be another installation without the module.
    const std::string python = "/usr/bin/python3";
    if (::access(python.c_str(), X_OK) != 0)
        throw std::runtime_error("test peer /usr/bin/python3 is missing (apt-get install python3-pyftpdlib)");
    const std::string env = requireExecutable("env", "coreutils");
    const std::filesystem::path script = supportFile("ftpd.py");
    const std::filesystem::path& dir = m_dir.path();
    openFolder(dir);
    std::filesystem::create_directories(anonymousRoot());
    std::filesystem::create_directories(userRoot());
    if (runProgram({python, "-c", "import pyftpdlib"}, dir / "import.log") != 0)
        throw std::runtime_error("test peer pyftpdlib is not installed (apt-get install python3-pyftpdlib): "
                                 + logTail(dir / "import.log"));

    std::string banner;
    for (const std::string& line : options.banner)
        banner += (banner.empty() ? "" : "|") + line;
    startOnFreePorts("pyftpdlib", m_process, logFile(), {&m_port}, [&] {
        m_passivePortLow = pickFreePortBlock(m_port);
        return std::vector<std::string>{env,
                                        "FTP_BANNER=" + banner,
                                        "FTP_USER=" + std::string(kFtpUser),
                                        "FTP_PASS=" + std::string(kFtpPassword),
                                        "FTP_MAX_CONS_PER_IP=" + std::to_string(options.maxSessionsPerAddress),
                                        "FTP_MAX_RATE=" + std::to_string(options.maxBytesPerSecond),
                                        "FTP_IDLE_TIMEOUT=" + std::to_string(options.idleTimeoutSeconds),
                                        python,
                                        script.string(),
                                        std::to_string(m_port),
                                        anonymousRoot().string(),
                                        userRoot().string(),
                                        std::to_string(m_passivePortLow),
                                        std::to_string(m_passivePortLow + kFtpPassivePorts - 1),
                                        (dir / "sessions").string()};
    });
    requireFtpWelcome("pyftpdlib", m_port, logFile());
    waitUntilIdle([this] { return statistic("open") == 0; });
}

int PyftpdlibPeer::statistic(const std::string& name) const
{
    std::ifstream in(m_dir / "sessions");
    std::string key;
    int value = 0;
    while (in >> key >> value) {
        if (key == name)
            return value;
    }
    throw std::runtime_error("the FTP peer wrote no '" + name + "' count");
}

int PyftpdlibPeer::peakSessions() const
{
    return statistic("peak");
}

int PyftpdlibPeer::refusedSessions() const
{
    return statistic("refused");
}

int PyftpdlibPeer::logins() const
{
    return statistic("logins");
}

VsftpdPeer::VsftpdPeer(FtpPeerOptions options)
{
    const std::string vsftpd = requireExecutable("vsftpd", "vsftpd");
    const std::filesystem::path& dir = m_dir.path();
    openFolder(dir);
    std::filesystem::create_directories(anonymousRoot());
    openFolder(anonymousRoot());
    // The server refuses to start sessions without an empty, unwritable
    // folder of its own to change root into.
    std::filesystem::create_directories(dir / "empty");
    ::chmod((dir / "empty").c_str(), 0555);

    std::string bannerLine;
    if (options.banner.size() > 1) {
        std::string text;
        for (const std::string& line : options.banner)
            text += line + "\n";
        writeText(dir / "banner.txt", text);
        bannerLine = "banner_file=" + (dir / "banner.txt").string() + "\n";
    } else if (!options.banner.empty()) {
        bannerLine = "ftpd_banner=" + options.banner.front() + "\n";
    }
    const std::string d = dir.string();
    startOnFreePorts("vsftpd", m_process, dir / "vsftpd.out", {&m_port}, [&] {
        m_passivePortLow = pickFreePortBlock(m_port);
        writeText(dir / "vsftpd.conf",
                  "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(m_port)
                      + "\nbackground=NO\nanonymous_enable=YES\nno_anon_password=YES\nanon_root=" + d
                      + "/anon\nlocal_enable=NO\nwrite_enable=NO\n" + bannerLine
                      + "pasv_enable=YES\npasv_address=127.0.0.1\npasv_min_port=" + std::to_string(m_passivePortLow)
                      + "\npasv_max_port=" + std::to_string(m_passivePortLow + kFtpPassivePorts - 1)
                      + "\nsecure_chroot_dir=" + d
                      + "/empty\nseccomp_sandbox=NO\nxferlog_enable=YES\nlog_ftp_protocol=YES\nvsftpd_log_file=" + d
                      + "/vsftpd.log\nmax_clients=64\nmax_per_ip=" + std::to_string(options.maxSessionsPerAddress)
                      + "\nanon_max_rate=" + std::to_string(options.maxBytesPerSecond) + "\n");
        return std::vector<std::string>{vsftpd, d + "/vsftpd.conf"};
    });
    requireFtpWelcome("vsftpd", m_port, dir / "vsftpd.out");
    waitUntilIdle([this] { return childProcesses(m_process.pid()).empty(); });
}

VsftpdPeer::~VsftpdPeer()
{
    killSessions();
}

void VsftpdPeer::killSessions()
{
    for (pid_t session : childProcesses(m_process.pid())) {
        if (::kill(-session, SIGKILL) != 0)
            ::kill(session, SIGKILL);
    }
}

}  // namespace fetchora::test
