#include "support/tls_test_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <utility>

#include "support/loopback_sockets.h"

namespace fetchora::test {

namespace {

// A self-signed certificate for "localhost"; the clients of these tests do
// not verify it.
SSL_CTX* selfSignedContext(bool sessionTickets)
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!sessionTickets)
        SSL_CTX_set_num_tickets(context, 0);
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -60);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1, -1,
                               0);
    X509_set_issuer_name(certificate, name);
    X509_sign(certificate, key, EVP_sha256());
    SSL_CTX_use_certificate(context, certificate);
    SSL_CTX_use_PrivateKey(context, key);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return context;
}

}  // namespace

OneSessionTlsServer::OneSessionTlsServer(Serve serve, bool sessionTickets)
    : m_serve(std::move(serve)), m_context(selfSignedContext(sessionTickets))
{
    try {
        m_listener = listenOnLoopback(4, m_port, "TLS test server");
    } catch (...) {
        SSL_CTX_free(m_context);
        throw;
    }
    m_thread = std::thread([this] { serveOne(); });
}

OneSessionTlsServer::~OneSessionTlsServer()
{
    // A shut listener wakes the accept of a server no client reached.
    ::shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    ::close(m_listener);
    SSL_CTX_free(m_context);
}

void OneSessionTlsServer::serveOne()
{
    const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) {
        m_serve(nullptr, -1);
        return;
    }
    SSL* session = SSL_new(m_context);
    SSL_set_fd(session, socket);
    if (SSL_accept(session) == 1)
        m_serve(session, socket);
    else
        m_serve(nullptr, -1);
    SSL_free(session);
    ::close(socket);
}

}  // namespace fetchora::test
