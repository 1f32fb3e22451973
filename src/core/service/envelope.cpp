#include "core/service/envelope.hpp"

#include "core/json/reader.hpp"
#include "core/text/fill.hpp"
#include "core/texts.hpp"

#include <string>
#include <utility>

namespace vemrat::core {

std::expected<Envelope, std::string> decode_envelope(std::uint16_t status, std::string_view body) {
    if (status != 200) return std::unexpected(fill(texts::http_status, {std::to_string(status), body}));
    auto parsed = json::parse_json(body);
    if (!parsed) return std::unexpected(fill(texts::invalid_json, {parsed.error().text(), body}));
    const json::Value& root = parsed->root();
    if (const json::Value* detail = root.find("detail"); detail != nullptr && detail->is_string()) {
        return std::unexpected(std::string(detail->as_string()));
    }
    const json::Value* data = root.find("data");
    if (data == nullptr) return std::unexpected(fill(texts::missing_data, {body}));
    return Envelope{std::move(*parsed), data};
}

std::string_view text_field(const json::Value& data, std::string_view key) noexcept {
    const json::Value* member = data.find(key);
    if (member == nullptr || !member->is_string()) return {};
    return member->as_string();
}

std::int32_t int_field(const json::Value& data, std::string_view key) noexcept {
    const json::Value* member = data.find(key);
    if (member == nullptr) return 0;
    std::uint64_t bits;
    switch (member->kind()) {
        case json::Kind::Signed:
            bits = static_cast<std::uint64_t>(member->as_signed());
            break;
        case json::Kind::Unsigned:
            if (member->as_unsigned() > static_cast<std::uint64_t>(INT64_MAX)) return 0;
            bits = member->as_unsigned();
            break;
        default:
            return 0;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
}

}  // namespace vemrat::core
