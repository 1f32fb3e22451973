#include <string>

#include "check.hpp"
#include "core/text/percent_encode.hpp"

using namespace std::string_literals;

TEST_CASE(percent_encode_rows) {
    struct Row {
        std::string text;
        std::string encoded;
    };
    const Row rows[] = {
        {"", ""},
        {"/cb?x=1&y=2", "%2Fcb%3Fx%3D1%26y%3D2"},
        {"a b", "a%20b"},
        {"\u00e9", "%C3%A9"},
        {"\u6771\u4eac", "%E6%9D%B1%E4%BA%AC"},
        {"\U0001f600", "%F0%9F%98%80"},
        {"~", "~"},
        {"-._~", "-._~"},
        {"%", "%25"},
        {"%20", "%2520"},
        {"+", "%2B"},
        {"&=/:?#", "%26%3D%2F%3A%3F%23"},
        {"\0"s, "%00"},
        {"a\0b"s, "a%00b"},
        {"\n\r\t", "%0A%0D%09"},
        {"\x7f", "%7F"},
        {"ABCXYZabcxyz0189", "ABCXYZabcxyz0189"},
        {"https://shop.example/notify?id=7", "https%3A%2F%2Fshop.example%2Fnotify%3Fid%3D7"},
        {"10.5", "10.5"},
        {"-0", "-0"},
    };
    for (const Row& row : rows) {
        ROW(check::show_text(row.text));
        CHECK_EQ(vemrat::core::percent_encode(row.text), row.encoded);
        std::string appended = "k=";
        vemrat::core::percent_encode_into(appended, row.text);
        CHECK_EQ(appended, "k=" + row.encoded);
    }
}
