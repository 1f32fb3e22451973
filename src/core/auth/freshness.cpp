#include "core/auth/freshness.hpp"

#include "core/auth/nonce.hpp"
#include "core/auth/timestamp.hpp"
#include "core/try.hpp"

namespace vemrat::core {

std::expected<Freshness, std::string> take_freshness() {
    VEMRAT_TRY_ASSIGN(const std::uint64_t seconds, unix_timestamp());
    VEMRAT_TRY_ASSIGN(std::string nonce, generate_nonce());
    return Freshness{std::to_string(seconds), std::move(nonce)};
}

}  // namespace vemrat::core
