// The JSON reader as tables: every reason with its point, line and
// column; the number kinds at each boundary; escapes and surrogates; whitespace;
// last-wins keys; the nesting limit; and the shape of the tape.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.hpp"
#include "core/json/reader.hpp"
#include "json_internals.hpp"

using namespace std::string_literals;
using namespace std::string_view_literals;
using vemrat::core::json::Kind;
using vemrat::core::json::parse_json;
using vemrat::core::json::Value;
using vemrat::core::json::DocumentInternals;
using vemrat::core::json::Reason;
using vemrat::core::json::reason_text;

namespace {

struct FailRow {
    std::string input;
    Reason reason;
    std::size_t line;
    std::size_t column;
};

// Concatenation without `"literal" + std::string&&`, on which g++ 12 -O3 warns
// falsely (-Wrestrict, GCC bug 105329).
template <class... Parts>
std::string cat(const Parts&... parts) {
    std::string out;
    (out.append(std::string_view(parts)), ...);
    return out;
}

std::string repeat(std::string_view part, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += part;
    return out;
}

void check_fail(const FailRow& row) {
    ROW("input " + check::show_text(row.input));
    auto parsed = parse_json(row.input);
    CHECK(!parsed.has_value());
    if (parsed) return;
    const vemrat::core::json::Error& error = parsed.error();
    CHECK_EQ(reason_text(error.reason), reason_text(row.reason));
    CHECK_EQ(error.line, row.line);
    CHECK_EQ(error.column, row.column);
    CHECK(error.offset <= row.input.size());
    // Line and column recomputed from the offset, independently.
    std::size_t line = 1, start = 0;
    for (std::size_t i = 0; i < error.offset; ++i) {
        if (row.input[i] == '\n') {
            ++line;
            start = i + 1;
        }
    }
    CHECK_EQ(error.line, line);
    CHECK_EQ(error.column, error.offset - start);
    CHECK_EQ(error.text(), std::string(reason_text(row.reason)) + " at line " + std::to_string(row.line) + " column " +
                               std::to_string(row.column));
}

}  // namespace

TEST_CASE(json_reasons_points_lines_and_columns) {
    const std::vector<FailRow> rows = {
        // EOF while parsing a value: empty or blank body; after `:`, after `,`; inside literals and numbers.
        {"", Reason::eof_value, 1, 0},
        {"   ", Reason::eof_value, 1, 3},
        {" \n\t\r", Reason::eof_value, 2, 2},
        {"{\"a\":", Reason::eof_value, 1, 5},
        {"{\"a\": ", Reason::eof_value, 1, 6},
        {"[1,", Reason::eof_value, 1, 3},
        {"[1, \n", Reason::eof_value, 2, 0},
        {"{\"a\":1,", Reason::eof_value, 1, 7},
        {"{\"a\":1, ", Reason::eof_value, 1, 8},
        {"nul", Reason::eof_value, 1, 3},
        {"t", Reason::eof_value, 1, 1},
        {"tr", Reason::eof_value, 1, 2},
        {"fals", Reason::eof_value, 1, 4},
        {"[nu", Reason::eof_value, 1, 3},
        {"-", Reason::eof_value, 1, 1},
        {"[-", Reason::eof_value, 1, 2},
        {"1.", Reason::eof_value, 1, 2},
        {"-0.", Reason::eof_value, 1, 3},
        {"1e", Reason::eof_value, 1, 2},
        {"1E", Reason::eof_value, 1, 2},
        {"1e+", Reason::eof_value, 1, 3},
        {"1.5E-", Reason::eof_value, 1, 5},
        // EOF while parsing a list.
        {"[", Reason::eof_list, 1, 1},
        {"[ ", Reason::eof_list, 1, 2},
        {"[1", Reason::eof_list, 1, 2},
        {"[1 ", Reason::eof_list, 1, 3},
        {"[[]", Reason::eof_list, 1, 3},
        {"[\"a\"", Reason::eof_list, 1, 4},
        {"[1.5", Reason::eof_list, 1, 4},
        {"[true\n", Reason::eof_list, 2, 0},
        // EOF while parsing an object.
        {"{", Reason::eof_object, 1, 1},
        {"{\n", Reason::eof_object, 2, 0},
        {"{\"a\"", Reason::eof_object, 1, 4},
        {"{\"a\" ", Reason::eof_object, 1, 5},
        {"{\"a\":1", Reason::eof_object, 1, 6},
        {"{\"a\":{}", Reason::eof_object, 1, 7},
        {"{\"a\":null ", Reason::eof_object, 1, 10},
        // EOF while parsing a string: inside, after a backslash, inside \u digits.
        {"\"", Reason::eof_string, 1, 1},
        {"\"abc", Reason::eof_string, 1, 4},
        {"\"abcdefghijklmnopqrstuvwxyz0123456789", Reason::eof_string, 1, 37},
        {"\"ab\\", Reason::eof_string, 1, 4},
        {"\"\\u", Reason::eof_string, 1, 3},
        {"\"\\u12", Reason::eof_string, 1, 5},
        {"\"\\u123", Reason::eof_string, 1, 6},
        {"\"\\u12\"", Reason::eof_string, 1, 6},  // fewer than four bytes left after u
        {"\"\\uzz\"", Reason::eof_string, 1, 6},
        {"\"\\ud800", Reason::eof_string, 1, 7},
        {"\"\\ud800\\", Reason::eof_string, 1, 8},
        {"\"\\ud800\\u", Reason::eof_string, 1, 9},
        {"\"\\ud800\\udc0", Reason::eof_string, 1, 12},
        {"{\"ab", Reason::eof_string, 1, 4},
        {"[\"x\\\"", Reason::eof_string, 1, 5},
        // expected `:`.
        {"{\"a\" 1}", Reason::expected_colon, 1, 6},
        {"{\"a\",1}", Reason::expected_colon, 1, 5},
        {"{\"a\"}", Reason::expected_colon, 1, 5},
        {"{\"a\"\n=1}", Reason::expected_colon, 2, 1},
        // expected `,` or `]`.
        {"[1 2]", Reason::expected_list_comma_or_end, 1, 4},
        {"[1}", Reason::expected_list_comma_or_end, 1, 3},
        {"[\"a\" x", Reason::expected_list_comma_or_end, 1, 6},
        {"[1x]", Reason::expected_list_comma_or_end, 1, 3},
        {"[[]:", Reason::expected_list_comma_or_end, 1, 4},
        // expected `,` or `}`.
        {"{\"a\":1 \"b\":2}", Reason::expected_object_comma_or_end, 1, 8},
        {"{\"a\":1]", Reason::expected_object_comma_or_end, 1, 7},
        {"{\"a\":1:", Reason::expected_object_comma_or_end, 1, 7},
        {"{\"a\":truex}", Reason::expected_object_comma_or_end, 1, 10},
        // expected ident: the first byte that differs.
        {"tru e", Reason::expected_ident, 1, 4},
        {"tx", Reason::expected_ident, 1, 2},
        {"True", Reason::expected_value, 1, 1},
        {"trUe", Reason::expected_ident, 1, 3},
        {"nulL", Reason::expected_ident, 1, 4},
        {"nan", Reason::expected_ident, 1, 2},
        {"falsy", Reason::expected_ident, 1, 5},
        {"[fals]", Reason::expected_ident, 1, 6},
        // expected value.
        {"\xEF\xBB\xBF{}", Reason::expected_value, 1, 1},  // byte-order mark
        {"'a'", Reason::expected_value, 1, 1},
        {"+1", Reason::expected_value, 1, 1},
        {"NaN", Reason::expected_value, 1, 1},
        {"Infinity", Reason::expected_value, 1, 1},
        {"-Infinity", Reason::invalid_number, 1, 2},
        {".5", Reason::expected_value, 1, 1},
        {"\f1", Reason::expected_value, 1, 1},
        {"\v1", Reason::expected_value, 1, 1},
        {"\x00"s, Reason::expected_value, 1, 1},
        {"\xC2\xA0" "1", Reason::expected_value, 1, 1},  // no-break space
        {"[,1]", Reason::expected_value, 1, 2},
        {"[1,,2]", Reason::expected_value, 1, 4},
        {"{\"a\":}", Reason::expected_value, 1, 6},
        {"{\"a\":]", Reason::expected_value, 1, 6},
        {"[\n\n  }", Reason::expected_value, 3, 3},
        {"/* c */ 1", Reason::expected_value, 1, 1},
        // invalid escape: the byte after the backslash; for \u the fourth byte after u.
        {"\"\\x\"", Reason::invalid_escape, 1, 3},
        {"\"\\'\"", Reason::invalid_escape, 1, 3},
        {"\"\\U0041\"", Reason::invalid_escape, 1, 3},
        {"\"\\\n\"", Reason::invalid_escape, 2, 0},
        {"\"\\uZ123\"", Reason::invalid_escape, 1, 7},
        {"\"\\u12G4\"", Reason::invalid_escape, 1, 7},
        {"\"\\u123g\"", Reason::invalid_escape, 1, 7},
        {"\"\\u12\"x\"", Reason::invalid_escape, 1, 7},
        {"\"\\ud800\\uZZZZ\"", Reason::invalid_escape, 1, 13},
        {"{\"k\\q\":1}", Reason::invalid_escape, 1, 5},
        // invalid number.
        {"01", Reason::invalid_number, 1, 2},
        {"00", Reason::invalid_number, 1, 2},
        {"-01", Reason::invalid_number, 1, 3},
        {"[0123]", Reason::invalid_number, 1, 3},
        {"-a", Reason::invalid_number, 1, 2},
        {"- 1", Reason::invalid_number, 1, 2},
        {"[-]", Reason::invalid_number, 1, 3},
        {"1.a", Reason::invalid_number, 1, 3},
        {"1.]", Reason::invalid_number, 1, 3},
        {"1.e5", Reason::invalid_number, 1, 3},
        {"1ea", Reason::invalid_number, 1, 3},
        {"1e+a", Reason::invalid_number, 1, 4},
        {"1E-]", Reason::invalid_number, 1, 4},
        {"1e++1", Reason::invalid_number, 1, 4},
        {"12345678901234567890123.x", Reason::invalid_number, 1, 25},
        // number out of range: the last byte of the number, or the exponent digit where it
        // becomes too long for a signed 32-bit value.
        {"1e309", Reason::number_out_of_range, 1, 5},
        {"-1e309", Reason::number_out_of_range, 1, 6},
        {"[1e400]", Reason::number_out_of_range, 1, 6},
        {"1.7976931348623159e308", Reason::number_out_of_range, 1, 22},
        {"0.00001e314", Reason::number_out_of_range, 1, 11},
        {"1" + repeat("0", 400), Reason::number_out_of_range, 1, 401},
        {"-1" + repeat("0", 400) + ".5", Reason::number_out_of_range, 1, 404},
        {"1e2147483647", Reason::number_out_of_range, 1, 12},
        {"1e2147483648", Reason::number_out_of_range, 1, 12},
        {"1e99999999999", Reason::number_out_of_range, 1, 12},
        {"1e99999999999999999999 ", Reason::number_out_of_range, 1, 12},
        {"-1.5e+2147483650", Reason::number_out_of_range, 1, 16},
        {"[1,\n 2E0000021474836480]", Reason::number_out_of_range, 2, 18},
        {"0.001e9999999999", Reason::number_out_of_range, 1, 16},
        // control character: that byte.
        {"{\"a\":\"x\ny\"}", Reason::control_character, 2, 0},
        {"\"\x01\"", Reason::control_character, 1, 2},
        {"\"\t\"", Reason::control_character, 1, 2},
        {"\"a\x00\""s, Reason::control_character, 1, 3},
        {"{\"a\x1f\":1}", Reason::control_character, 1, 4},
        {"[\"x\",\"\r\"]", Reason::control_character, 1, 7},
        {"\"0123456789abcdefghij\x1f\"", Reason::control_character, 1, 22},
        {"\"\\n0123456789abcdefghij\x7f\x10\"", Reason::control_character, 1, 25},
        // key must be a string.
        {"{1:2}", Reason::key_must_be_a_string, 1, 2},
        {"{,}", Reason::key_must_be_a_string, 1, 2},
        {"{'a':1}", Reason::key_must_be_a_string, 1, 2},
        {"{\"a\":1,2}", Reason::key_must_be_a_string, 1, 8},
        {"{\"a\":1, x}", Reason::key_must_be_a_string, 1, 9},
        {"{\"a\":1,,}", Reason::key_must_be_a_string, 1, 8},
        {"{ \n ]", Reason::key_must_be_a_string, 2, 2},
        // lone leading surrogate: the last hex digit of the offending escape.
        {"\"\\udc00\"", Reason::lone_leading_surrogate, 1, 7},
        {"\"\\uDFFF\"", Reason::lone_leading_surrogate, 1, 7},
        {"\"ab\\uDc12cd\"", Reason::lone_leading_surrogate, 1, 9},
        {"\"\\ud800\\u0041\"", Reason::lone_leading_surrogate, 1, 13},
        {"\"\\ud800\\ud800\"", Reason::lone_leading_surrogate, 1, 13},
        {"\"\\udbff\\ue000\"", Reason::lone_leading_surrogate, 1, 13},
        // unexpected end of hex escape: the byte after the escape that is not `\`, or the byte
        // after that `\` that is not `u`.
        {"\"\\ud800x\"", Reason::unexpected_end_of_hex_escape, 1, 8},
        {"\"\\ud800\"", Reason::unexpected_end_of_hex_escape, 1, 8},
        {"\"\\ud800 \\udc00\"", Reason::unexpected_end_of_hex_escape, 1, 8},
        {"\"\\ud800\\n\"", Reason::unexpected_end_of_hex_escape, 1, 9},
        {"\"\\uDBFF\\U0041\"", Reason::unexpected_end_of_hex_escape, 1, 9},
        {"\"\\ud800\n\"", Reason::unexpected_end_of_hex_escape, 2, 0},
        // trailing comma: the closing bracket.
        {"[1,]", Reason::trailing_comma, 1, 4},
        {"{\"a\":1,}", Reason::trailing_comma, 1, 8},
        {"[1, ]", Reason::trailing_comma, 1, 5},
        {"[1,\r\n]", Reason::trailing_comma, 2, 1},
        {"[[],\t]", Reason::trailing_comma, 1, 6},
        // trailing characters: the first byte after the value that is not whitespace.
        {"{\"data\":{}} x", Reason::trailing_characters, 1, 13},
        {"1 2", Reason::trailing_characters, 1, 3},
        {"[]]", Reason::trailing_characters, 1, 3},
        {"{}}", Reason::trailing_characters, 1, 3},
        {"nullx", Reason::trailing_characters, 1, 5},
        {"\"a\"\"b\"", Reason::trailing_characters, 1, 4},
        {"1x", Reason::trailing_characters, 1, 2},
        {"0x1", Reason::trailing_characters, 1, 2},
        {"1.5.3", Reason::trailing_characters, 1, 4},
        {"-0-", Reason::trailing_characters, 1, 3},
        {"true false", Reason::trailing_characters, 1, 6},
        {"{}\f", Reason::trailing_characters, 1, 3},
        {"1\x00"s, Reason::trailing_characters, 1, 2},
        {"{}\n\n  ,", Reason::trailing_characters, 3, 3},
        {"{} \xEF\xBB\xBF", Reason::trailing_characters, 1, 4},
        // recursion limit exceeded: the bracket that would be the 128th open one.
        {repeat("[", 128), Reason::recursion_limit_exceeded, 1, 128},
        {repeat("[", 127) + "{", Reason::recursion_limit_exceeded, 1, 128},
        {repeat("{\"a\":", 128), Reason::recursion_limit_exceeded, 1, 5 * 127 + 1},
        {repeat("[", 127) + "1" + repeat("]", 128), Reason::trailing_characters, 1, 127 + 1 + 127 + 1},
        {repeat("[\n", 200), Reason::recursion_limit_exceeded, 128, 1},
        // positions on later lines; tabs count 1, a carriage return is an ordinary byte,
        // columns count bytes of UTF-8.
        {"[\n1,\n2 3]", Reason::expected_list_comma_or_end, 3, 3},
        {"\t\tx", Reason::expected_value, 1, 3},
        {"\r\r1 x", Reason::trailing_characters, 1, 5},
        {"\"\xC3\xA9\" x", Reason::trailing_characters, 1, 6},
        {"{\n  \"a\": 1,\n  \"b\": [1, 2,, 3]\n}", Reason::expected_value, 3, 14},
    };
    std::vector<bool> produced(vemrat::core::json::reason_count);
    for (const FailRow& row : rows) {
        check_fail(row);
        produced[static_cast<std::size_t>(row.reason)] = true;
    }
    // The table covers every reason the reader has.
    for (const Reason reason : vemrat::core::json::all_reasons()) {
        ROW(std::string(reason_text(reason)));
        CHECK(produced[static_cast<std::size_t>(reason)]);
    }

    auto empty_view = parse_json(std::string_view{});
    CHECK(!empty_view && empty_view.error().reason == Reason::eof_value && empty_view.error().line == 1 &&
          empty_view.error().column == 0 && empty_view.error().offset == 0);
}

// The reasons are part of the module's interface (callers read them in messages): each has
// exactly the text it has always had.
TEST_CASE(json_reason_texts) {
    const std::pair<Reason, std::string_view> texts[] = {
        {Reason::eof_value, "EOF while parsing a value"},
        {Reason::eof_list, "EOF while parsing a list"},
        {Reason::eof_object, "EOF while parsing an object"},
        {Reason::eof_string, "EOF while parsing a string"},
        {Reason::expected_colon, "expected `:`"},
        {Reason::expected_list_comma_or_end, "expected `,` or `]`"},
        {Reason::expected_object_comma_or_end, "expected `,` or `}`"},
        {Reason::expected_ident, "expected ident"},
        {Reason::expected_value, "expected value"},
        {Reason::invalid_escape, "invalid escape"},
        {Reason::invalid_number, "invalid number"},
        {Reason::number_out_of_range, "number out of range"},
        {Reason::control_character, "control character (\\u0000-\\u001F) found while parsing a string"},
        {Reason::key_must_be_a_string, "key must be a string"},
        {Reason::lone_leading_surrogate, "lone leading surrogate in hex escape"},
        {Reason::unexpected_end_of_hex_escape, "unexpected end of hex escape"},
        {Reason::trailing_comma, "trailing comma"},
        {Reason::trailing_characters, "trailing characters"},
        {Reason::recursion_limit_exceeded, "recursion limit exceeded"},
    };
    CHECK_EQ(std::size(texts), vemrat::core::json::reason_count);
    for (const auto& [reason, text] : texts) CHECK_EQ(reason_text(reason), text);
}

TEST_CASE(json_nesting_limit) {
    for (std::size_t depth : {1u, 2u, 126u, 127u}) {
        ROW("depth " + std::to_string(depth));
        auto arrays = parse_json(repeat("[", depth) + repeat("]", depth));
        CHECK(arrays.has_value());
        auto objects = parse_json(repeat("{\"k\":", depth - 1) + "{}" + repeat("}", depth - 1));
        CHECK(objects.has_value());
        auto mixed = parse_json(repeat("[{\"k\":", depth / 2) + (depth % 2 ? "[]" : "1") + repeat("}]", depth / 2));
        CHECK(mixed.has_value());
    }
    // The depth is counted back down: any number of siblings at depth 127.
    std::string siblings = repeat("[", 126) + "[]";
    for (int i = 0; i < 1000; ++i) siblings += ",[],{}";
    siblings += repeat("]", 126);
    auto parsed = parse_json(siblings);
    CHECK(parsed.has_value());
    if (parsed) {
        const Value* v = &parsed->root();
        for (int i = 0; i < 125; ++i) v = &*v->elements().begin();
        CHECK_EQ(v->size(), std::size_t{2001});
    }
}

namespace {

struct NumberRow {
    std::string input;
    Kind kind;
    std::uint64_t u = 0;
    std::int64_t i = 0;
    double d = 0.0;
};

}  // namespace

TEST_CASE(json_number_kinds_at_each_boundary) {
    const std::vector<NumberRow> rows = {
        {"0", Kind::Unsigned, 0},
        {"7", Kind::Unsigned, 7},
        {"1700000000", Kind::Unsigned, 1700000000},
        {"9223372036854775807", Kind::Unsigned, 9223372036854775807ull},
        {"9223372036854775808", Kind::Unsigned, 9223372036854775808ull},
        {"10000000000000000000", Kind::Unsigned, 10000000000000000000ull},
        {"18446744073709551614", Kind::Unsigned, 18446744073709551614ull},
        {"18446744073709551615", Kind::Unsigned, 18446744073709551615ull},
        {"18446744073709551616", Kind::Double, 0, 0, 18446744073709551616.0},
        {"18446744073709551625", Kind::Double, 0, 0, 18446744073709551616.0},
        {"99999999999999999999", Kind::Double, 0, 0, 1e20},
        {"123456789012345678901234567890", Kind::Double, 0, 0, 1.2345678901234568e29},
        {"-1", Kind::Signed, 0, -1},
        {"-5", Kind::Signed, 0, -5},
        {"-9223372036854775807", Kind::Signed, 0, -9223372036854775807ll},
        {"-9223372036854775808", Kind::Signed, 0, INT64_MIN},
        {"-9223372036854775809", Kind::Double, 0, 0, -9223372036854775809.0},
        {"-18446744073709551615", Kind::Double, 0, 0, -18446744073709551615.0},
        {"-18446744073709551616", Kind::Double, 0, 0, -18446744073709551616.0},
        {"-0", Kind::Double, 0, 0, -0.0},
        {"0.0", Kind::Double, 0, 0, 0.0},
        {"-0.0", Kind::Double, 0, 0, -0.0},
        {"1.0", Kind::Double, 0, 0, 1.0},
        {"1E2", Kind::Double, 0, 0, 100.0},
        {"1e+2", Kind::Double, 0, 0, 100.0},
        {"1e-2", Kind::Double, 0, 0, 0.01},
        {"12.50", Kind::Double, 0, 0, 12.5},
        {"0.1", Kind::Double, 0, 0, 0.1},
        {"1e308", Kind::Double, 0, 0, 1e308},
        {"-1e308", Kind::Double, 0, 0, -1e308},
        {"1.7976931348623157e308", Kind::Double, 0, 0, 1.7976931348623157e308},
        {"1.7976931348623158e308", Kind::Double, 0, 0, 1.7976931348623157e308},
        {"2.2250738585072014e-308", Kind::Double, 0, 0, 2.2250738585072014e-308},
        {"5e-324", Kind::Double, 0, 0, 5e-324},
        {"1e-400", Kind::Double, 0, 0, 0.0},
        {"-1e-400", Kind::Double, 0, 0, -0.0},
        {"2e-324", Kind::Double, 0, 0, 0.0},
        {"1e-2147483647", Kind::Double, 0, 0, 0.0},
        {"1e-2147483648", Kind::Double, 0, 0, 0.0},        // exponent too long, negative: zero
        {"-1e-99999999999", Kind::Double, 0, 0, -0.0},
        {"0e99999999999", Kind::Double, 0, 0, 0.0},        // exponent too long, zero significand
        {"-0.000e+99999999999", Kind::Double, 0, 0, -0.0},
        {"0e2147483647", Kind::Double, 0, 0, 0.0},
        {"1e0000000000000000000001", Kind::Double, 0, 0, 10.0},  // leading zeros do not count
        {"9007199254740993", Kind::Unsigned, 9007199254740993ull},
        {"9007199254740993.0", Kind::Double, 0, 0, 9007199254740992.0},
        {"1e23", Kind::Double, 0, 0, 1e23},
        {"0.30000000000000004", Kind::Double, 0, 0, 0.30000000000000004},
        {"0." + repeat("0", 400) + "1e400", Kind::Double, 0, 0, 0.1},
        {"0." + repeat("0", 30), Kind::Double, 0, 0, 0.0},
    };
    for (const NumberRow& row : rows) {
        ROW("input " + row.input);
        auto parsed = parse_json(row.input);
        CHECK(parsed.has_value());
        if (!parsed) continue;
        const Value& v = parsed->root();
        CHECK_EQ(static_cast<int>(v.kind()), static_cast<int>(row.kind));
        if (v.kind() != row.kind) continue;
        switch (row.kind) {
            case Kind::Unsigned: CHECK_EQ(v.as_unsigned(), row.u); break;
            case Kind::Signed: CHECK_EQ(v.as_signed(), row.i); break;
            case Kind::Double:
                CHECK_EQ(v.as_double(), row.d);
                CHECK_EQ(std::signbit(v.as_double()), std::signbit(row.d));
                break;
            default: break;
        }
    }
}

// Doubles against an independent oracle: std::from_chars on the same literal.
TEST_CASE(json_doubles_are_correctly_rounded) {
    std::vector<std::string> literals = {
        "0.1", "0.2", "0.3", "1.1", "3.14159", "2.718281828459045", "12.34", "99.99", "0.01", "100.5",
        "1e22", "1e23", "1.5e-22", "8.98846567431158e307", "4.9406564584124654e-324", "2.225073858507201e-308",
        "123456789.123456789", "0.000001234", "9007199254740991.5", "9007199254740992.5", "1.00000000000000011102230246251565404236316680908203125",
        "7.3177701707893310e+15", "4.35e-5", "1234567890123456789.0", "12345678901234567890.0", "0.1e-5", "-0.5e10",
        "3.0e-22", "5e22", "6e21", "-123.456e-7", "1.7976931348623157e308", "2.2250738585072011e-308",
    };
    // Decimal amounts as the service writes them.
    for (int cents = 0; cents < 20000; cents += 7) {
        literals.push_back(std::to_string(cents / 100) + "." + std::to_string(cents / 10 % 10) + std::to_string(cents % 10));
    }
    for (const std::string& literal : literals) {
        ROW("input " + literal);
        double expected = 0.0;
        std::from_chars(literal.data(), literal.data() + literal.size(), expected);
        auto parsed = parse_json(literal);
        CHECK(parsed.has_value());
        if (!parsed) continue;
        CHECK(parsed->root().kind() == Kind::Double);
        CHECK_EQ(parsed->root().as_double(), expected);
        auto in_array = parse_json("[" + literal + "]");
        CHECK(in_array.has_value() && in_array->root().elements().begin()->as_double() == expected);
    }
}

namespace {

struct StringRow {
    std::string input;
    std::string expected;
};

}  // namespace

TEST_CASE(json_strings_escapes_and_surrogates) {
    const std::vector<StringRow> rows = {
        {R"("")", ""},
        {R"("abc")", "abc"},
        {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
        {R"("\u0041\u00e9\u20AC")", "A\xC3\xA9\xE2\x82\xAC"},
        {R"("\u0000")", "\0"s},
        {R"("a\u0000b")", "a\0b"s},
        {R"("\u007f\u0080\u07ff\u0800\uffff")", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
        {R"("\uD834\uDD1E")", "\xF0\x9D\x84\x9E"},
        {R"("\uD800\uDC00")", "\xF0\x90\x80\x80"},
        {R"("\uDBFF\uDFFF")", "\xF4\x8F\xBF\xBF"},
        {R"("x\ud83d\ude00y\u00e9")", "x\xF0\x9F\x98\x80y\xC3\xA9"},
        {"\"\x7F\"", "\x7F"},
        {"\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"\"\xFF\xFE\"", "\xFF\xFE"},  // bytes taken over unchanged
        {R"("https:\/\/pay.example\/p?a=1&b=2")", "https://pay.example/p?a=1&b=2"},
    };
    for (const StringRow& row : rows) {
        ROW("input " + check::show_text(row.input));
        auto parsed = parse_json(row.input);
        CHECK(parsed.has_value());
        if (!parsed) continue;
        CHECK(parsed->root().kind() == Kind::String);
        CHECK_EQ(parsed->root().as_string(), row.expected);
    }
}

// Escapes, quotes and control bytes at every position around the 8- and 16-byte
// strides of the string scanner.
TEST_CASE(json_string_scanner_strides) {
    for (std::size_t length = 0; length < 48; ++length) {
        for (std::size_t at = 0; at <= length; ++at) {
            std::string body(length, 'a');
            for (std::size_t i = 0; i < length; ++i) body[i] = static_cast<char>('a' + i % 26);
            std::string expected = body;
            const std::string_view view = body;
            std::string input = cat("\"", view.substr(0, at), "\\n", view.substr(at), "\"");
            expected.insert(expected.begin() + static_cast<std::ptrdiff_t>(at), '\n');
            ROW("input " + check::show_text(input));
            auto parsed = parse_json(input);
            CHECK(parsed.has_value() && parsed->root().as_string() == expected);

            std::string broken = cat("\"", view.substr(0, at), "\x01", view.substr(at), "\"");
            auto failed = parse_json(broken);
            CHECK(!failed && failed.error().reason == Reason::control_character && failed.error().column == at + 2);

            std::string unterminated = cat("\"", body);
            auto eof = parse_json(unterminated);
            CHECK(!eof && eof.error().reason == Reason::eof_string && eof.error().column == length + 1);

            std::string member = cat("{\"", body, "\":\"", view.substr(at), "\"}");
            auto object = parse_json(member);
            CHECK(object.has_value());
            if (object) {
                const Value* v = object->root().find(body);
                CHECK(v != nullptr && v->as_string() == body.substr(at));
            }
        }
    }
}

TEST_CASE(json_whitespace_around_the_top_level_value) {
    for (std::string_view ws : {" "sv, "\t"sv, "\n"sv, "\r"sv, " \t\n\r"sv, "\r\n\r\n"sv}) {
        for (std::string_view value : {"{}"sv, "[1, 2]"sv, "\"s\""sv, "1"sv, "-1.5"sv, "true"sv, "null"sv}) {
            std::string input = cat(ws, value, ws);
            ROW("input " + check::show_text(input));
            CHECK(parse_json(input).has_value());
            std::string inner = cat("[", ws, value, ws, ",", ws, "{", ws, "\"k\"", ws, ":", ws, value, ws, "}", ws, "]");
            CHECK(parse_json(inner).has_value());
        }
    }
    for (std::string_view other : {"\f"sv, "\v"sv, "\xEF\xBB\xBF"sv, "\xC2\xA0"sv, "\x00"sv, "\x1F"sv}) {
        ROW("other whitespace " + check::show_text(other));
        auto before = parse_json(cat(other, "{}"));
        CHECK(!before && before.error().reason == Reason::expected_value && before.error().column == 1);
        auto after = parse_json(cat("{}", other));
        CHECK(!after && after.error().reason == Reason::trailing_characters && after.error().column == 3);
    }
}

TEST_CASE(json_objects_last_member_wins) {
    auto parsed = parse_json(R"({"a":1,"b":"x","a":2,"A":3,"a\u0062":4,"":5,"n\u0000":6})");
    CHECK(parsed.has_value());
    if (!parsed) return;
    const Value& root = parsed->root();
    CHECK(root.kind() == Kind::Object);
    CHECK_EQ(root.size(), std::size_t{7});  // members as written
    const Value* a = root.find("a");
    CHECK(a != nullptr && a->kind() == Kind::Unsigned && a->as_unsigned() == 2);
    CHECK(root.find("A") != nullptr && root.find("A")->as_unsigned() == 3);
    CHECK(root.find("ab") != nullptr && root.find("ab")->as_unsigned() == 4);
    CHECK(root.find("") != nullptr && root.find("")->as_unsigned() == 5);
    CHECK(root.find("n\0"sv) != nullptr && root.find("n\0"sv)->as_unsigned() == 6);
    CHECK(root.find("n") == nullptr);
    CHECK(root.find("c") == nullptr);
    CHECK(root.find("a ") == nullptr);

    auto nested = parse_json(R"({"data":{"k":1},"data":null})");
    CHECK(nested && nested->root().find("data") != nullptr && nested->root().find("data")->is_null());
    auto replaced = parse_json(R"({"a":{"b":[1,2,{"c":3}]},"a":[true]})");
    CHECK(replaced && replaced->root().find("a")->kind() == Kind::Array);

    // find on anything but an object.
    for (std::string_view text : {"[1]"sv, R"("a")"sv, "1"sv, "null"sv, "true"sv}) {
        auto other = parse_json(text);
        CHECK(other && other->root().find("a") == nullptr);
    }
}

TEST_CASE(json_tape_shape_and_iteration) {
    auto parsed = parse_json(R"( [1, "a", [2, [3]], {"k": null, "m": {"x": false}}, true, -2, 0.5, {}, []] )");
    CHECK(parsed.has_value());
    if (!parsed) return;
    const Value& root = parsed->root();
    CHECK_EQ(root.size(), std::size_t{9});
    std::vector<Kind> kinds;
    for (const Value& element : root.elements()) kinds.push_back(element.kind());
    const std::vector<Kind> expected = {Kind::Unsigned, Kind::String, Kind::Array, Kind::Object, Kind::Bool,
                                        Kind::Signed,   Kind::Double, Kind::Object, Kind::Array};
    CHECK(kinds == expected);
    auto it = root.elements().begin();
    ++it;
    CHECK_EQ(it->as_string(), "a"sv);
    ++it;
    CHECK_EQ(it->size(), std::size_t{2});
    ++it;
    std::vector<std::string> keys;
    for (auto member : it->members()) keys.emplace_back(member.key);
    CHECK(keys == (std::vector<std::string>{"k", "m"}));
    CHECK(it->find("m")->find("x")->kind() == Kind::Bool && !it->find("m")->find("x")->as_bool());
    CHECK(root.next() == DocumentInternals::tape_begin(*parsed) + DocumentInternals::tape_size(*parsed));
    // Scalars have no elements or members.
    CHECK(root.elements().begin()->elements().begin() == root.elements().begin()->elements().end());
    CHECK(root.members().begin() == root.members().end());

    // Moving the Document keeps every node and string where it was.
    const Value* first = &*root.elements().begin();
    const char* text = (++root.elements().begin())->as_string().data();
    vemrat::core::json::Document moved = std::move(*parsed);
    CHECK(&*moved.root().elements().begin() == first);
    CHECK((++moved.root().elements().begin())->as_string().data() == text);
}

TEST_CASE(json_large_documents_grow_the_tape) {
    std::string text = "[";
    for (int i = 0; i < 100000; ++i) {
        if (i) text += ',';
        text += "{\"i\":" + std::to_string(i) + ",\"s\":\"v" + std::to_string(i) + "\\n\"}";
    }
    text += "]";
    auto parsed = parse_json(text);
    CHECK(parsed.has_value());
    if (!parsed) return;
    CHECK_EQ(parsed->root().size(), std::size_t{100000});
    CHECK_EQ(DocumentInternals::tape_size(*parsed), std::size_t{1 + 100000 * 5});
    std::uint64_t i = 0;
    bool all = true;
    for (const Value& element : parsed->root().elements()) {
        all = all && element.find("i")->as_unsigned() == i &&
              element.find("s")->as_string() == "v" + std::to_string(i) + "\n";
        ++i;
    }
    CHECK(all);
    CHECK_EQ(i, std::uint64_t{100000});
}

TEST_CASE(json_the_text_need_not_outlive_the_document) {
    std::string text = R"({"order_id":"A1","pay_url":"https://x.example/p?id=A1"})";
    auto parsed = parse_json(text);
    std::fill(text.begin(), text.end(), 'z');
    text.clear();
    text.shrink_to_fit();
    CHECK(parsed && parsed->root().find("order_id")->as_string() == "A1"sv);
    CHECK(parsed && parsed->root().find("pay_url")->as_string() == "https://x.example/p?id=A1"sv);
}
