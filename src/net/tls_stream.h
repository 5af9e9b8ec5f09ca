#pragma once
// TLS client sessions over any byte stream: a direct TCP connection or a
// tunnel through a proxy. The server's certificate is checked against the
// system's trusted authorities (plus an extra CA file when configured) and
// must name the host that was asked for.
//
// Thread: a TlsClientContext is made once (by the application, or a test)
// and then shared read-only by every worker; a TlsStream belongs to the
// worker that started it and owns the stream below it.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "net/byte_stream.h"

struct ssl_ctx_st;
struct ssl_st;
struct bio_method_st;

namespace fetchora {

struct TlsSettings {
    bool verifyPeer = true;
    std::string extraCaFile;  // PEM authorities trusted besides the system's; empty for none
};

class TlsClientContext {
public:
    // Nothing, with the reason in error, when the settings cannot be used
    // (an unreadable CA file).
    static std::unique_ptr<TlsClientContext> create(const TlsSettings& settings, std::string* error = nullptr);
    ~TlsClientContext();
    TlsClientContext(const TlsClientContext&) = delete;
    TlsClientContext& operator=(const TlsClientContext&) = delete;

    bool verifiesPeer() const { return m_verifyPeer; }

private:
    friend class TlsStream;
    TlsClientContext(ssl_ctx_st* context, bio_method_st* bioMethod, bool verifyPeer);

    // The system's authorities are read on the first handshake, not when the
    // context is made: reading and parsing the bundle costs tens of
    // milliseconds at every start, and most runs fetch no https:// URL.
    // Every session is made after the load, so sessions only ever read the
    // store.
    void loadSystemAuthorities() const;

    ssl_ctx_st* m_context;
    bio_method_st* m_bioMethod;
    bool m_verifyPeer;
    mutable std::once_flag m_systemAuthoritiesLoaded;
};

class TlsStream;

struct TlsStartResult {
    std::unique_ptr<TlsStream> stream;  // set when result is Ok
    IoResult result;  // a failed check says so in detail
    // The peer's certificate is not trusted or not valid for the host: the
    // same peer will fail the same way however often it is tried.
    bool certificateRejected = false;
};

class TlsStream final : public ByteStream {
public:
    // Runs the handshake for host (a name, or an address literal that the
    // certificate must list). The server may stay silent at most
    // idleTimeoutMs at a time.
    static TlsStartResult start(const TlsClientContext& context, std::unique_ptr<ByteStream> lower,
                                std::string_view host, int idleTimeoutMs);
    ~TlsStream() override;
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    IoResult read(void* buffer, std::size_t size, int timeoutMs) override;
    IoResult write(const void* data, std::size_t size, int timeoutMs) override;
    void close() override;

    // "TLSv1.3 TLS_AES_256_GCM_SHA384": what the session uses, for the log.
    std::string sessionDescription() const;

    // The lower stream's side of OpenSSL's I/O; called from the BIO only.
    int lowerRead(char* buffer, std::size_t size, std::size_t* done);
    int lowerWrite(const char* data, std::size_t size, std::size_t* done);
    // The lower stream has ended (its peer closed the connection).
    bool lowerEnded() const { return m_lowerEnded; }

private:
    TlsStream(std::unique_ptr<ByteStream> lower, ssl_st* session);

    // Whether OpenSSL's last call reached the lower stream and moved bytes:
    // then a "want read/write" only means it wants another turn.
    bool lowerMovedBytes() const { return m_lowerCalled && m_lowerResult.ok(); }

    // One SSL_read: at most one record's bytes.
    IoResult readRecord(void* buffer, std::size_t size, int timeoutMs);

    // Turns a failed OpenSSL call into the stream's answer.
    IoResult failureOf(int sslResult, std::string_view what);

    std::unique_ptr<ByteStream> m_lower;
    ssl_st* m_session;
    int m_timeoutMs = 0;
    IoResult m_lowerResult;  // what the last lower read or write gave
    bool m_lowerCalled = false;
    bool m_lowerEnded = false;
    std::optional<IoResult> m_heldBack;  // the answer for the next read, met while gathering
};

}  // namespace fetchora
