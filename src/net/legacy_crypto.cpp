#include "net/legacy_crypto.h"

#include <memory>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

namespace fetchora {

namespace {

// Failed loads and fetches push entries onto the thread's error queue, where
// a later TLS call on the same thread would find and misreport them.
class ErrorQueueGuard {
public:
    ErrorQueueGuard() { ERR_set_mark(); }
    ~ErrorQueueGuard() { ERR_pop_to_mark(); }
    ErrorQueueGuard(const ErrorQueueGuard&) = delete;
    ErrorQueueGuard& operator=(const ErrorQueueGuard&) = delete;
};

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

}  // namespace

LegacyCrypto::LegacyCrypto(const std::string& providerName)
{
    const ErrorQueueGuard guard;
    m_context = OSSL_LIB_CTX_new();
    if (m_context == nullptr)
        return;
    m_provider = OSSL_PROVIDER_load(m_context, providerName.c_str());
    if (m_provider == nullptr)
        return;
    m_md4 = EVP_MD_fetch(m_context, "MD4", nullptr);
    m_desEcb = EVP_CIPHER_fetch(m_context, "DES-ECB", nullptr);
}

LegacyCrypto::~LegacyCrypto()
{
    EVP_CIPHER_free(m_desEcb);
    EVP_MD_free(m_md4);
    if (m_provider != nullptr)
        OSSL_PROVIDER_unload(m_provider);
    OSSL_LIB_CTX_free(m_context);
}

std::optional<LegacyCrypto::Md4Digest> LegacyCrypto::md4(std::span<const uint8_t> data) const
{
    if (m_md4 == nullptr)
        return std::nullopt;
    const ErrorQueueGuard guard;
    Md4Digest digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, m_md4, nullptr) != 1 || length != digest.size())
        return std::nullopt;
    return digest;
}

std::optional<LegacyCrypto::DesBlock> LegacyCrypto::desEncryptBlock(const DesKey& key, const DesBlock& block) const
{
    if (m_desEcb == nullptr)
        return std::nullopt;
    const ErrorQueueGuard guard;
    const std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
    if (!context)
        return std::nullopt;
    if (EVP_EncryptInit_ex2(context.get(), m_desEcb, key.data(), nullptr, nullptr) != 1
        || EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1)
        return std::nullopt;
    DesBlock out{};
    int written = 0;
    if (EVP_EncryptUpdate(context.get(), out.data(), &written, block.data(), static_cast<int>(block.size())) != 1
        || written != static_cast<int>(out.size()))
        return std::nullopt;
    DesBlock unused{};
    int tail = 0;
    if (EVP_EncryptFinal_ex(context.get(), unused.data(), &tail) != 1 || tail != 0)
        return std::nullopt;
    return out;
}

}  // namespace fetchora
