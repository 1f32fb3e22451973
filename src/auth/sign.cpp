#include "auth/sign.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>

#include "auth/hex.hpp"
#include "config/secret_text.hpp"

namespace vemrat {

namespace {

constexpr std::size_t block_length = 64;
constexpr std::size_t digest_length = 32;

// The SHA-256 implementation, fetched once: the implicit fetch inside EVP_sha256()
// and HMAC() costs more than hashing a short message. This is the algorithm, not a key.
const EVP_MD* sha256() {
    static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (md == nullptr) throw std::runtime_error("SHA-256 is not available");
    return md;
}

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const noexcept { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

void digest_into(EVP_MD_CTX* context, std::span<const std::uint8_t> first, std::string_view second,
                 std::uint8_t* out) {
    unsigned int length = 0;
    if (EVP_DigestInit_ex2(context, sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context, first.data(), first.size()) != 1 ||
        (!second.empty() && EVP_DigestUpdate(context, second.data(), second.size()) != 1) ||
        EVP_DigestFinal_ex(context, out, &length) != 1 || length != digest_length) {
        throw std::runtime_error("HMAC-SHA256 could not be computed");
    }
}

}  // namespace

// HMAC as RFC 2104 builds it from SHA-256; the pads are derived from the key on every call.
std::string sign(std::string_view key, std::string_view message) {
    const DigestContext context(EVP_MD_CTX_new());
    if (!context) throw std::runtime_error("HMAC-SHA256 could not be computed");

    // Both buffers hold key-derived bytes until they are wiped, also when libcrypto fails.
    WipedBytes<block_length> pad;
    if (key.size() > block_length) {
        digest_into(context.get(), {}, key, pad.data());
    } else {
        std::copy(key.begin(), key.end(), reinterpret_cast<char*>(pad.data()));
    }
    for (std::uint8_t& byte : pad) byte ^= 0x36;
    WipedBytes<digest_length> digest;
    digest_into(context.get(), pad, message, digest.data());
    for (std::uint8_t& byte : pad) byte ^= 0x36 ^ 0x5c;
    digest_into(context.get(), pad,
                std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()), digest.data());

    return hex_encode(digest);
}

bool signature_matches(std::string_view given, std::string_view expected) {
    if (given.size() != expected.size()) return false;
    if (given.empty()) return true;
    return CRYPTO_memcmp(given.data(), expected.data(), given.size()) == 0;
}

}  // namespace vemrat
