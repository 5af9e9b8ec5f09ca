#include "net/tls_stream.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "net/net_texts.h"
#include "net/resolver.h"

namespace fetchora {

namespace {

constexpr std::size_t kReadAheadBytes = 64 * 1024;

TlsStream* streamOf(BIO* bio)
{
    return static_cast<TlsStream*>(BIO_get_data(bio));
}

int bioRead(BIO* bio, char* buffer, size_t size, size_t* done)
{
    BIO_clear_retry_flags(bio);
    const int result = streamOf(bio)->lowerRead(buffer, size, done);
    if (result < 0) {
        BIO_set_retry_read(bio);
        return 0;
    }
    return result;
}

int bioWrite(BIO* bio, const char* data, size_t size, size_t* done)
{
    BIO_clear_retry_flags(bio);
    const int result = streamOf(bio)->lowerWrite(data, size, done);
    if (result < 0) {
        BIO_set_retry_write(bio);
        return 0;
    }
    return result;
}

long bioControl(BIO* bio, int command, long, void*)
{
    // Answering EOF lets OpenSSL tell a peer that dropped the connection
    // (no close_notify) from one that ended the session in order.
    if (command == BIO_CTRL_EOF)
        return streamOf(bio)->lowerEnded() ? 1 : 0;
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

std::string lastOpenSslError()
{
    const unsigned long code = ERR_peek_last_error();
    if (code == 0)
        return {};
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

}  // namespace

TlsClientContext::TlsClientContext(ssl_ctx_st* context, bio_method_st* bioMethod, bool verifyPeer)
    : m_context(context), m_bioMethod(bioMethod), m_verifyPeer(verifyPeer)
{
}

void TlsClientContext::loadSystemAuthorities() const
{
    if (!m_verifyPeer)
        return;
    std::call_once(m_systemAuthoritiesLoaded, [this] { SSL_CTX_set_default_verify_paths(m_context); });
}

TlsClientContext::~TlsClientContext()
{
    SSL_CTX_free(m_context);
    BIO_meth_free(m_bioMethod);
}

std::unique_ptr<TlsClientContext> TlsClientContext::create(const TlsSettings& settings, std::string* error)
{
    const auto fail = [&](std::string reason) -> std::unique_ptr<TlsClientContext> {
        if (error)
            *error = std::move(reason);
        return nullptr;
    };
    ERR_clear_error();
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context)
        return fail("TLS cannot be set up: " + lastOpenSslError());
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_mode(context, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_AUTO_RETRY);
    // Reading ahead takes several records from the socket in one call
    // instead of a header and a body for each.
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_default_read_buffer_len(context, kReadAheadBytes);
    SSL_CTX_set_verify(context, settings.verifyPeer ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
    if (settings.verifyPeer) {
        // The extra file is read now, so that a bad one is reported at once.
        if (!settings.extraCaFile.empty()
            && SSL_CTX_load_verify_locations(context, settings.extraCaFile.c_str(), nullptr) != 1) {
            SSL_CTX_free(context);
            return fail("The CA file " + settings.extraCaFile + " cannot be read: " + lastOpenSslError());
        }
    }
    BIO_METHOD* method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "fetchora byte stream");
    if (!method) {
        SSL_CTX_free(context);
        return fail("TLS cannot be set up: " + lastOpenSslError());
    }
    BIO_meth_set_read_ex(method, bioRead);
    BIO_meth_set_write_ex(method, bioWrite);
    BIO_meth_set_ctrl(method, bioControl);
    BIO_meth_set_create(method, bioCreate);
    return std::unique_ptr<TlsClientContext>(new TlsClientContext(context, method, settings.verifyPeer));
}

TlsStream::TlsStream(std::unique_ptr<ByteStream> lower, ssl_st* session) : m_lower(std::move(lower)), m_session(session)
{
}

TlsStream::~TlsStream()
{
    close();
}

TlsStartResult TlsStream::start(const TlsClientContext& context, std::unique_ptr<ByteStream> lower,
                                std::string_view host, int idleTimeoutMs)
{
    context.loadSystemAuthorities();
    ERR_clear_error();
    SSL* session = SSL_new(context.m_context);
    BIO* bio = session ? BIO_new(context.m_bioMethod) : nullptr;
    if (!bio) {
        SSL_free(session);
        return {nullptr, IoResult{IoStatus::Failed, 0, 0, "TLS cannot be set up: " + lastOpenSslError()}};
    }
    std::unique_ptr<TlsStream> stream(new TlsStream(std::move(lower), session));
    BIO_set_data(bio, stream.get());
    SSL_set_bio(session, bio, bio);

    const std::string name(host);
    const bool isAddress = isIpv4Address(name) || isIpv6Address(name);
    if (!isAddress)
        SSL_set_tlsext_host_name(session, name.c_str());
    if (context.verifiesPeer()) {
        const int named = isAddress ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session), name.c_str())
                                    : SSL_set1_host(session, name.c_str());
        if (named != 1)
            return {nullptr, IoResult{IoStatus::Failed, 0, 0, "TLS cannot check the host name " + name + "."}};
    }

    stream->m_timeoutMs = idleTimeoutMs;
    for (;;) {
        stream->m_lowerResult = IoResult{IoStatus::Ok, 0, 0, {}};
        stream->m_lowerCalled = false;
        ERR_clear_error();
        const int result = SSL_connect(session);
        if (result == 1)
            break;
        const int error = SSL_get_error(session, result);
        if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) && stream->lowerMovedBytes())
            continue;
        const long verified = SSL_get_verify_result(session);
        if (verified != X509_V_OK && stream->m_lowerResult.ok()) {
            const std::string reason = X509_verify_cert_error_string(verified);
            const std::string text
                = verified == X509_V_ERR_HOSTNAME_MISMATCH || verified == X509_V_ERR_IP_ADDRESS_MISMATCH
                ? builtinText(kStrNetCertificateNotValidFor, {name, reason})
                : builtinText(kStrNetCertificateNotTrusted, {name, reason});
            return {nullptr, IoResult{IoStatus::Failed, 0, 0, text}, true};
        }
        return {nullptr, stream->failureOf(result, builtinText(kStrNetTlsHandshakeFailed, {name}))};
    }
    return {std::move(stream), IoResult{}};
}

IoResult TlsStream::failureOf(int sslResult, std::string_view what)
{
    switch (m_lowerResult.status) {
    case IoStatus::TimedOut:
    case IoStatus::Stopped:
    case IoStatus::Failed: return m_lowerResult;
    case IoStatus::Closed:
    case IoStatus::Ok: break;
    }
    const int error = SSL_get_error(m_session, sslResult);
    if (error == SSL_ERROR_ZERO_RETURN)
        return IoResult{IoStatus::Closed, 0, 0, {}};
    std::string reason = lastOpenSslError();
    if (reason.empty())
        reason = m_lowerResult.status == IoStatus::Closed ? builtinText(kStrNetPeerClosed) : builtinText(kStrNetNoReasonGiven);
    return IoResult{IoStatus::Failed, 0, 0, std::string(what) + ": " + reason + "."};
}

int TlsStream::lowerRead(char* buffer, std::size_t size, std::size_t* done)
{
    m_lowerCalled = true;
    m_lowerResult = m_lower->read(buffer, size, m_timeoutMs);
    if (m_lowerResult.status == IoStatus::Closed)
        m_lowerEnded = true;
    *done = m_lowerResult.bytes;
    if (m_lowerResult.ok())
        return 1;
    return m_lowerResult.status == IoStatus::TimedOut ? -1 : 0;
}

int TlsStream::lowerWrite(const char* data, std::size_t size, std::size_t* done)
{
    m_lowerCalled = true;
    m_lowerResult = m_lower->write(data, size, m_timeoutMs);
    *done = m_lowerResult.bytes;
    if (m_lowerResult.ok())
        return 1;
    return m_lowerResult.status == IoStatus::TimedOut ? -1 : 0;
}

IoResult TlsStream::read(void* buffer, std::size_t size, int timeoutMs)
{
    // An end or failure met while gathering was held back so that the bytes
    // before it went out first; it is this read's answer.
    if (m_heldBack) {
        IoResult held = std::move(*m_heldBack);
        m_heldBack.reset();
        return held;
    }
    IoResult first = readRecord(buffer, size, timeoutMs);
    if (!first.ok())
        return first;
    // One record carries at most 16 KiB: gather what is already at hand
    // (decrypted in OpenSSL, or waiting in the socket) so that the caller
    // gets its whole buffer's worth in one turn. Nothing here waits.
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t total = first.bytes;
    while (total < size) {
        IoResult more = readRecord(bytes + total, size - total, 0);
        if (!more.ok()) {
            if (more.status != IoStatus::TimedOut)
                m_heldBack = std::move(more);
            break;
        }
        total += more.bytes;
    }
    m_timeoutMs = timeoutMs;
    return IoResult{IoStatus::Ok, total, 0, {}};
}

IoResult TlsStream::readRecord(void* buffer, std::size_t size, int timeoutMs)
{
    if (!m_session)
        return IoResult{IoStatus::Failed, 0, 0, "The TLS session is closed."};
    m_timeoutMs = timeoutMs;
    for (;;) {
        m_lowerResult = IoResult{IoStatus::Ok, 0, 0, {}};
        m_lowerCalled = false;
        ERR_clear_error();
        std::size_t got = 0;
        const int result = SSL_read_ex(m_session, buffer, size, &got);
        if (result == 1)
            return IoResult{IoStatus::Ok, got, 0, {}};
        const int error = SSL_get_error(m_session, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (lowerMovedBytes())
                continue;
            return m_lowerResult.status == IoStatus::Ok ? IoResult{IoStatus::TimedOut, 0, 0, {}} : m_lowerResult;
        }
        // Only close_notify ends the stream in order. A connection that
        // ends without it may have cut the data short: a body delimited by
        // the connection's end is then not whole.
        if (error == SSL_ERROR_ZERO_RETURN)
            return IoResult{IoStatus::Closed, 0, 0, {}};
        return failureOf(result, builtinText(kStrNetTlsReadFailed));
    }
}

IoResult TlsStream::write(const void* data, std::size_t size, int timeoutMs)
{
    if (!m_session)
        return IoResult{IoStatus::Failed, 0, 0, "The TLS session is closed."};
    m_timeoutMs = timeoutMs;
    for (;;) {
        m_lowerResult = IoResult{IoStatus::Ok, 0, 0, {}};
        m_lowerCalled = false;
        ERR_clear_error();
        std::size_t written = 0;
        const int result = SSL_write_ex(m_session, data, size, &written);
        if (result == 1)
            return IoResult{IoStatus::Ok, written, 0, {}};
        const int error = SSL_get_error(m_session, result);
        if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) && lowerMovedBytes())
            continue;
        if (m_lowerResult.status == IoStatus::TimedOut || m_lowerResult.status == IoStatus::Stopped)
            return m_lowerResult;
        return failureOf(result, builtinText(kStrNetTlsWriteFailed));
    }
}

void TlsStream::close()
{
    m_heldBack.reset();
    if (m_session) {
        m_timeoutMs = 0;  // a close-notify that does not fit at once is not waited for
        ERR_clear_error();
        SSL_shutdown(m_session);
        SSL_free(m_session);
        m_session = nullptr;
    }
    if (m_lower)
        m_lower->close();
}

std::string TlsStream::sessionDescription() const
{
    if (!m_session)
        return {};
    const char* cipher = SSL_get_cipher_name(m_session);
    return std::string(SSL_get_version(m_session)) + " " + (cipher ? cipher : "");
}

}  // namespace fetchora
