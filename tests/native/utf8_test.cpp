#include <string>

#include "check.hpp"
#include "core/text/utf8.hpp"

using namespace std::string_literals;

namespace {
const std::string fffd = "\xef\xbf\xbd";
std::string replacements(int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += fffd;
    return out;
}
}  // namespace

TEST_CASE(utf8_lossy_rows) {
    struct Row {
        const char* name;
        std::string bytes;
        std::string text;
    };
    const Row rows[] = {
        {"empty", "", ""},
        {"ASCII", "plain ASCII, longer than eight bytes", "plain ASCII, longer than eight bytes"},
        {"NUL bytes", "a\0b\0"s, "a\0b\0"s},
        {"valid two, three and four bytes", "\xc3\xa9\xe6\x9d\xb1\xf0\x9f\x98\x80", "\xc3\xa9\xe6\x9d\xb1\xf0\x9f\x98\x80"},
        {"boundaries U+007F U+0080 U+07FF U+0800", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80"},
        {"boundaries U+D7FF U+E000 U+FFFF", "\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbf", "\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbf"},
        {"boundaries U+10000 U+10FFFF", "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf", "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"},
        {"U+FFFD itself", fffd, fffd},
        {"byte-order mark", "\xef\xbb\xbfx", "\xef\xbb\xbfx"},
        {"FF between letters", "f\xffo", "f" + fffd + "o"},
        {"FE and FF", "\xfe\xff", replacements(2)},
        {"lone continuation bytes", "\x80\xbf", replacements(2)},
        {"truncated two-byte at end", "ab\xc3", "ab" + fffd},
        {"truncated three-byte at end", "ab\xe6\x9d", "ab" + fffd},
        {"truncated four-byte at end", "ab\xf0\x9f\x98", "ab" + fffd},
        {"truncated sequence before ASCII", "\xe6\x9dx", fffd + "x"},
        {"truncated sequence before another lead", "\xf0\x9f\xe6\x9d\xb1", fffd + "\xe6\x9d\xb1"},
        {"overlong C0 80", "\xc0\x80", replacements(2)},
        {"overlong C1 BF", "\xc1\xbf", replacements(2)},
        {"overlong E0 80 80", "\xe0\x80\x80", replacements(3)},
        {"overlong E0 9F BF", "\xe0\x9f\xbf", replacements(3)},
        {"overlong F0 8F BF BF", "\xf0\x8f\xbf\xbf", replacements(4)},
        {"surrogate ED A0 80", "\xed\xa0\x80", replacements(3)},
        {"surrogate ED BF BF", "\xed\xbf\xbf", replacements(3)},
        {"surrogate pair", "\xed\xa0\xbd\xed\xb8\x80", replacements(6)},
        {"above U+10FFFF F4 90 80 80", "\xf4\x90\x80\x80", replacements(4)},
        {"F5 lead", "\xf5\x80\x80\x80", replacements(4)},
        {"five-byte form", "\xf8\x88\x80\x80\x80", replacements(5)},
        {"ED then valid continuation then ASCII", "\xed\x9f" "A", fffd + "A"},
        {"E1 with one continuation then a lead", "\xe1\x80\xe2\x82\xac", fffd + "\xe2\x82\xac"},
        {"Unicode example 3-8", "\x61\xf1\x80\x80\xe1\x80\xc2\x62\x80\x63\x80\xbf\x64",
         "a" + fffd + fffd + fffd + "b" + fffd + "c" + fffd + fffd + "d"},
        {"invalid byte after a long ASCII run", "0123456789abcdef\xff" "0123456789abcdef",
         "0123456789abcdef" + fffd + "0123456789abcdef"},
    };
    for (const Row& row : rows) {
        ROW(row.name);
        CHECK_EQ(vemrat::core::decode_utf8_lossy(row.bytes), row.text);
        CHECK_EQ(vemrat::core::is_valid_utf8(row.bytes), row.bytes == row.text);
        CHECK(vemrat::core::is_valid_utf8(vemrat::core::decode_utf8_lossy(row.bytes)));
    }
}

TEST_CASE(is_valid_utf8_rows) {
    struct Row {
        std::string bytes;
        bool valid;
    };
    const Row rows[] = {
        {"", true},
        {"hello", true},
        {"\xc2\x80", true},
        {"\xdf\xbf", true},
        {"\xe0\xa0\x80", true},
        {"\xed\x9f\xbf", true},
        {"\xee\x80\x80", true},
        {"\xf0\x90\x80\x80", true},
        {"\xf4\x8f\xbf\xbf", true},
        {"\x80", false},
        {"\xc2", false},
        {"\xc2\x7f", false},
        {"\xc2\xc0", false},
        {"\xc0\x80", false},
        {"\xc1\xbf", false},
        {"\xe0\x9f\xbf", false},
        {"\xed\xa0\x80", false},
        {"\xed\xbf\xbf", false},
        {"\xf0\x8f\xbf\xbf", false},
        {"\xf4\x90\x80\x80", false},
        {"\xf5\x80\x80\x80", false},
        {"\xff", false},
        {"\xe6\x9d", false},
        {"\xf0\x9f\x98", false},
        {"abcdefgh\xe6\x9d\xb1ijklmnop", true},
        {"abcdefghijklmno\x80", false},
    };
    for (const Row& row : rows) {
        ROW(check::show_text(row.bytes));
        CHECK_EQ(vemrat::core::is_valid_utf8(row.bytes), row.valid);
    }
}

TEST_CASE(utf8_every_code_point_passes_through) {
    // Encodes every scalar value by the textbook bit layout, independent of the
    // decoder's range table.
    std::string all;
    for (char32_t c = 0; c <= 0x10ffff; ++c) {
        if (c >= 0xd800 && c <= 0xdfff) continue;
        if (c < 0x80) {
            all += static_cast<char>(c);
        } else if (c < 0x800) {
            all += static_cast<char>(0xc0 | (c >> 6));
            all += static_cast<char>(0x80 | (c & 0x3f));
        } else if (c < 0x10000) {
            all += static_cast<char>(0xe0 | (c >> 12));
            all += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            all += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            all += static_cast<char>(0xf0 | (c >> 18));
            all += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
            all += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            all += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    CHECK(vemrat::core::is_valid_utf8(all));
    CHECK(vemrat::core::decode_utf8_lossy(all) == all);
}
