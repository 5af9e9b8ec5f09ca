#pragma once
// A TLS server for one connection on a loopback port, with a certificate
// made for the test. What happens on the session after the handshake is the
// test's own: it is the part each case scripts.
#include <openssl/ssl.h>

#include <cstdint>
#include <functional>
#include <thread>

namespace fetchora::test {

class OneSessionTlsServer {
public:
    // Runs on the server's thread once: with the session and its socket
    // after a completed handshake, or with nullptr and -1 when no client
    // got that far (the server was destroyed first, or the handshake
    // failed), so that a case waiting on the server can be told.
    using Serve = std::function<void(SSL* session, int socket)>;

    // With sessionTickets false the server sends none after the handshake,
    // so the first bytes the client reads are the case's own records.
    explicit OneSessionTlsServer(Serve serve, bool sessionTickets = true);
    ~OneSessionTlsServer();
    OneSessionTlsServer(const OneSessionTlsServer&) = delete;
    OneSessionTlsServer& operator=(const OneSessionTlsServer&) = delete;

    uint16_t port() const { return m_port; }

private:
    void serveOne();

    Serve m_serve;
    SSL_CTX* m_context = nullptr;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
};

}  // namespace fetchora::test
