#include "auth/nonce.hpp"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <utility>

#include "auth/hex.hpp"

namespace vemrat {

expected<std::string, std::string> generate_nonce() {
    std::array<std::uint8_t, NONCE_BYTES> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        std::string message = "random source failed";
        if (const unsigned long code = ERR_get_error(); code != 0) {
            std::array<char, 256> text{};
            ERR_error_string_n(code, text.data(), text.size());
            message += ": ";
            message += text.data();
        }
        ERR_clear_error();
        return unexpected(std::move(message));
    }
    std::string nonce = hex_encode(bytes);
    OPENSSL_cleanse(bytes.data(), bytes.size());
    return nonce;
}

}  // namespace vemrat
