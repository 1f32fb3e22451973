#include "core/config/base_url.hpp"

#include <cstdlib>

#include "core/text/utf8.hpp"

namespace vemrat::core {

std::string base_url() {
    const char* value = std::getenv(BASE_URL_VARIABLE);
    if (value == nullptr) return std::string(DEFAULT_BASE_URL);
    const std::string_view text(value);
    if (!is_valid_utf8(text)) return std::string(DEFAULT_BASE_URL);
    return std::string(text);
}

}  // namespace vemrat::core
