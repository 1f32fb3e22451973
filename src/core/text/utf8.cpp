#include "core/text/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace vemrat::core {

namespace {

// Length of the run of ASCII bytes at the start of [p, end), eight at a time.
std::size_t ascii_run(const unsigned char* p, const unsigned char* end) {
    const unsigned char* start = p;
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if ((word & 0x8080808080808080ULL) != 0) break;
        p += 8;
    }
    while (p < end && *p < 0x80) ++p;
    return static_cast<std::size_t>(p - start);
}

// One step of decoding at a non-ASCII byte: `length` bytes were looked at;
// `complete` tells whether they form a well-formed sequence. When not, those
// bytes (at least one) are the maximal ill-formed subpart.
struct Step {
    std::size_t length;
    bool complete;
};

Step decode_step(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = *p;
    std::size_t needed;
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        needed = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        needed = 3;
        if (lead == 0xe0) second_low = 0xa0;       // overlong
        else if (lead == 0xed) second_high = 0x9f; // surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        needed = 4;
        if (lead == 0xf0) second_low = 0x90;       // overlong
        else if (lead == 0xf4) second_high = 0x8f; // above U+10FFFF
    } else {
        return {1, false};  // continuation byte, C0, C1 or F5..FF
    }
    const std::size_t available = static_cast<std::size_t>(end - p);
    if (available < 2 || p[1] < second_low || p[1] > second_high) return {1, false};
    std::size_t length = 2;
    while (length < needed) {
        if (length >= available || (p[length] & 0xc0) != 0x80) return {length, false};
        ++length;
    }
    return {length, true};
}

constexpr std::string_view replacement = "\xef\xbf\xbd";

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto end = p + bytes.size();
    while (p < end) {
        p += ascii_run(p, end);
        if (p == end) break;
        const Step step = decode_step(p, end);
        if (!step.complete) return false;
        p += step.length;
    }
    return true;
}

std::string decode_utf8_lossy(std::string_view bytes) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto begin = p;
    const auto end = p + bytes.size();
    std::string out;
    // Well-formed bytes are copied in runs; only a replacement breaks a run.
    const unsigned char* run = p;
    while (p < end) {
        p += ascii_run(p, end);
        if (p == end) break;
        const Step step = decode_step(p, end);
        if (step.complete) {
            p += step.length;
            continue;
        }
        if (out.empty()) out.reserve(bytes.size() + 16);
        out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
        out.append(replacement);
        p += step.length;
        run = p;
    }
    if (run == begin) return std::string(bytes);
    out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(end - run));
    return out;
}

}  // namespace vemrat::core
