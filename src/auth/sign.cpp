#include "auth/sign.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cstdint>
#include <climits>
#include <stdexcept>

#include "auth/hex.hpp"

namespace vemrat {

std::string sign(std::string_view key, std::string_view message) {
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> hashed_key{};
    if (key.size() > static_cast<std::size_t>(INT_MAX)) {
        // HMAC() takes the key length as an int. A key longer than the block
        // is replaced by its digest anyway, so do that step here.
        unsigned int hashed_length = 0;
        if (EVP_Digest(key.data(), key.size(), hashed_key.data(), &hashed_length, EVP_sha256(), nullptr) != 1) {
            throw std::runtime_error("SHA-256 could not be computed");
        }
        key = std::string_view(reinterpret_cast<const char*>(hashed_key.data()), hashed_length);
    }
    // libcrypto reads a null key pointer as "no key"; an empty key must still
    // be a key of length zero.
    static constexpr unsigned char empty = 0;
    const unsigned char* key_bytes = key.empty() ? &empty : reinterpret_cast<const unsigned char*>(key.data());
    const unsigned char* message_bytes =
        message.empty() ? &empty : reinterpret_cast<const unsigned char*>(message.data());

    std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
    unsigned int digest_length = 0;
    if (HMAC(EVP_sha256(), key_bytes, static_cast<int>(key.size()), message_bytes, message.size(), digest.data(),
             &digest_length) == nullptr ||
        digest_length != 32) {
        throw std::runtime_error("HMAC-SHA256 could not be computed");
    }
    std::string out = hex_encode(std::span<const std::uint8_t>(digest.data(), digest_length));
    OPENSSL_cleanse(digest.data(), digest.size());
    OPENSSL_cleanse(hashed_key.data(), hashed_key.size());
    return out;
}

bool signature_matches(std::string_view given, std::string_view expected) {
    if (given.size() != expected.size()) return false;
    if (given.empty()) return true;
    return CRYPTO_memcmp(given.data(), expected.data(), given.size()) == 0;
}

}  // namespace vemrat
