#include "core/platform/random_source.hpp"

#include <sys/random.h>

#include <cerrno>
#include <system_error>

namespace vemrat::core {

std::expected<void, std::string> fill_random(std::span<std::uint8_t> bytes) {
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0) {
            const int error = errno;
            if (error == EINTR) continue;
            return std::unexpected("random source failed: " + std::generic_category().message(error));
        }
        filled += static_cast<std::size_t>(got);
    }
    return {};
}

}  // namespace vemrat::core
