#include "auth/nonce.hpp"

#include <openssl/crypto.h>
#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <system_error>

#include "auth/hex.hpp"

namespace vemrat {

expected<std::string, std::string> generate_nonce() {
    std::array<std::uint8_t, NONCE_BYTES> bytes{};
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0) {
            const int error = errno;
            if (error == EINTR) continue;
            return unexpected("random source failed: " + std::generic_category().message(error));
        }
        filled += static_cast<std::size_t>(got);
    }
    std::string nonce = hex_encode(bytes);
    OPENSSL_cleanse(bytes.data(), bytes.size());
    return nonce;
}

}  // namespace vemrat
