#include "core/auth/sign.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>

#include "core/secret.hpp"
#include "core/text/hex.hpp"

namespace vemrat::core {

namespace {

constexpr std::size_t block_length = 64;
constexpr std::size_t digest_length = 32;
constexpr std::string_view cannot_compute = "HMAC-SHA256 could not be computed";

// The SHA-256 implementation, fetched once: the implicit fetch inside EVP_sha256() and HMAC()
// costs more than hashing a short message. This is the algorithm, not a key.
const EVP_MD* sha256() {
    static EVP_MD* const md = [] {
#ifdef VEMRAT_PAY_PRIVATE_LIBCRYPTO
        // A copy of libcrypto of the module's own reads no configuration file: what OPENSSL_CONF
        // or the system's openssl.cnf set (default properties, provider libraries to load) is for
        // the process's libcrypto, and must not change or run code in this one.
        OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
#endif
        return EVP_MD_fetch(nullptr, "SHA256", nullptr);
    }();
    return md;
}

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const noexcept { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

// SHA-256 of `first` then `second`, into `out`.
bool digest_into(EVP_MD_CTX* context, std::span<const std::uint8_t> first, std::string_view second,
                 std::uint8_t* out) {
    unsigned int length = 0;
    return sha256() != nullptr && EVP_DigestInit_ex2(context, sha256(), nullptr) == 1 &&
           EVP_DigestUpdate(context, first.data(), first.size()) == 1 &&
           (second.empty() || EVP_DigestUpdate(context, second.data(), second.size()) == 1) &&
           EVP_DigestFinal_ex(context, out, &length) == 1 && length == digest_length;
}

}  // namespace

// HMAC as RFC 2104 builds it from SHA-256; the pads are derived from the key on every call.
std::expected<std::string, std::string> sign(std::string_view key, std::string_view message) {
    const DigestContext context(EVP_MD_CTX_new());
    if (!context) return std::unexpected(std::string(cannot_compute));
    // Both buffers hold key-derived bytes until they are wiped, on every path.
    WipedBytes<block_length> pad;
    WipedBytes<digest_length> digest;
    if (key.size() > block_length) {
        if (!digest_into(context.get(), {}, key, pad.data())) return std::unexpected(std::string(cannot_compute));
    } else {
        std::copy(key.begin(), key.end(), reinterpret_cast<char*>(pad.data()));
    }
    for (std::uint8_t& byte : pad) byte ^= 0x36;
    if (!digest_into(context.get(), pad, message, digest.data())) return std::unexpected(std::string(cannot_compute));
    for (std::uint8_t& byte : pad) byte ^= 0x36 ^ 0x5c;
    const std::string_view inner(reinterpret_cast<const char*>(digest.data()), digest.size());
    if (!digest_into(context.get(), pad, inner, digest.data())) return std::unexpected(std::string(cannot_compute));
    return hex_encode(digest);
}

bool signature_matches(std::string_view given, std::string_view expected) {
    if (given.size() != expected.size()) return false;
    if (given.empty()) return true;
    return CRYPTO_memcmp(given.data(), expected.data(), given.size()) == 0;
}

}  // namespace vemrat::core
