// Properties of the UTF-8 helpers, checked against a decoder written from the
// bit layout of the encoding rather than from a table of byte ranges:
// strict validation agrees with it, lossy decoding replaces exactly the
// maximal ill-formed subparts, its output is valid, and valid input passes
// through unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text/utf8.hpp"

namespace {

// Length of the well-formed sequence at the start of `s`, or 0.
std::size_t reference_sequence(std::string_view s) {
    if (s.empty()) return 0;
    const auto lead = static_cast<unsigned char>(s[0]);
    std::size_t length;
    std::uint32_t code;
    if (lead < 0x80) return 1;
    if ((lead & 0xe0) == 0xc0) {
        length = 2;
        code = lead & 0x1fu;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3;
        code = lead & 0x0fu;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (s.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c & 0xc0) != 0x80) return 0;
        code = (code << 6) | (c & 0x3fu);
    }
    static constexpr std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length]) return 0;
    if (code >= 0xd800 && code <= 0xdfff) return 0;
    if (code > 0x10ffff) return 0;
    return length;
}

bool reference_valid(std::string_view s) {
    while (!s.empty()) {
        const std::size_t n = reference_sequence(s);
        if (n == 0) return false;
        s.remove_prefix(n);
    }
    return true;
}

// Whether `prefix` (shorter than a whole sequence) can be completed to a
// well-formed sequence: try every continuation byte where it matters.
bool completes(std::string_view prefix) {
    for (int second = 0x80; second <= 0xbf; ++second) {
        std::string candidate(prefix);
        if (candidate.size() == 1) candidate += static_cast<char>(second);
        for (;;) {
            if (reference_sequence(candidate) == candidate.size()) return true;
            if (candidate.size() >= 4) break;
            candidate += '\x80';
        }
        if (prefix.size() > 1) break;
    }
    return false;
}

std::string reference_lossy(std::string_view s) {
    std::string out;
    while (!s.empty()) {
        if (const std::size_t n = reference_sequence(s)) {
            out += s.substr(0, n);
            s.remove_prefix(n);
            continue;
        }
        std::size_t subpart = 1;
        for (std::size_t k = 1; k <= 3 && k <= s.size(); ++k) {
            if (completes(s.substr(0, k))) subpart = k;
        }
        out += "\xef\xbf\xbd";
        s.remove_prefix(subpart);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const bool valid = vemrat::core::is_valid_utf8(input);
    if (valid != reference_valid(input)) __builtin_trap();

    const std::string lossy = vemrat::core::decode_utf8_lossy(input);
    if (!reference_valid(lossy)) __builtin_trap();
    if (valid && lossy != input) __builtin_trap();
    if (!valid && lossy == input) __builtin_trap();
    if (lossy != reference_lossy(input)) __builtin_trap();
    return 0;
}
