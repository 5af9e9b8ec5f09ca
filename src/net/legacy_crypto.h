#pragma once
// MD4 and single DES (ECB, one block) for the NTLM responses.
//
// OpenSSL 3 keeps both algorithms in its "legacy" provider, which the default
// library context does not load; loading it there would also make them
// available to unrelated code such as TLS. Each instance therefore creates a
// private library context, loads the legacy provider into it and fetches the
// two algorithms from it. When the provider cannot be loaded (a system built
// without it, a missing module file) `available()` is false and every
// operation returns nothing; nothing is left on the thread's OpenSSL error
// queue.
//
// Thread: any; an instance is used by one thread at a time. Owns the library
// context, the provider handle and the fetched algorithms.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include <openssl/types.h>

namespace fetchora {

class LegacyCrypto {
public:
    using Md4Digest = std::array<uint8_t, 16>;
    using DesBlock = std::array<uint8_t, 8>;
    using DesKey = std::array<uint8_t, 8>;

    // `providerName` is the OpenSSL provider holding MD4 and DES-ECB; only
    // tests name another one, to check how a missing provider is handled.
    explicit LegacyCrypto(const std::string& providerName = "legacy");
    ~LegacyCrypto();
    LegacyCrypto(const LegacyCrypto&) = delete;
    LegacyCrypto& operator=(const LegacyCrypto&) = delete;

    bool available() const { return m_md4 != nullptr && m_desEcb != nullptr; }

    std::optional<Md4Digest> md4(std::span<const uint8_t> data) const;

    // Encrypts one block under a 64-bit key. The parity bits of the key are
    // not checked and weak keys are accepted: the LM hash of a short password
    // uses the all-zero key.
    std::optional<DesBlock> desEncryptBlock(const DesKey& key, const DesBlock& block) const;

private:
    OSSL_LIB_CTX* m_context = nullptr;
    OSSL_PROVIDER* m_provider = nullptr;
    EVP_MD* m_md4 = nullptr;
    EVP_CIPHER* m_desEcb = nullptr;
};

}  // namespace fetchora
