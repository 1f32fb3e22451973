// What the parts of the JSON reader share: the fault record and the byte helpers. Internal to
// core/json.
#pragma once

#include "core/json/reader.hpp"

#include <cstddef>
#include <cstdint>

namespace vemrat::core::json::detail {

// The first fault met: its reason and the error offset (reader.hpp says how it is counted).
struct Fault {
    Reason reason = Reason::eof_value;
    std::size_t offset = 0;
};

// Records a fault and returns nullptr, the failure value of the scanners.
[[gnu::cold, gnu::noinline]] inline const char* fault(Fault& f, Reason reason, std::size_t offset) {
    f.reason = reason;
    f.offset = offset;
    return nullptr;
}

inline std::size_t at(const char* p, const char* begin) { return static_cast<std::size_t>(p - begin); }

inline bool is_digit(char c) { return static_cast<unsigned char>(c) - unsigned{'0'} <= 9u; }

// Space, tab, line feed and carriage return; nothing else.
inline const char* skip_ws(const char* s, const char* end) {
    constexpr std::uint64_t mask = (1ull << ' ') | (1ull << '\t') | (1ull << '\n') | (1ull << '\r');
    while (s < end) {
        const unsigned c = static_cast<unsigned char>(*s);
        if (c > ' ' || ((mask >> c) & 1u) == 0) break;
        ++s;
    }
    return s;
}

}  // namespace vemrat::core::json::detail
