#include "core/text/fill.hpp"

namespace vemrat::core {

std::string fill(std::string_view pattern, std::initializer_list<std::string_view> values) {
    std::size_t size = pattern.size();
    for (const std::string_view value : values) size += value.size();
    std::string text;
    text.reserve(size);
    const std::string_view* next = values.begin();
    for (std::size_t at = 0;;) {
        const std::size_t placeholder = pattern.find("{}", at);
        if (placeholder == std::string_view::npos || next == values.end()) {
            text.append(pattern.substr(at));
            return text;
        }
        text.append(pattern.substr(at, placeholder - at)).append(*next++);
        at = placeholder + 2;
    }
}

}  // namespace vemrat::core
