#include <optional>
#include <string>
#include <vector>

#include "check.hpp"
#include "core/config/key_file.hpp"

using namespace std::string_literals;

namespace {

using Found = std::optional<std::string>;
const Found not_found = std::nullopt;

struct LineRow {
    std::string line;
    Found value;  // looked up with the key COMMUNITY_KEY
};

// One key line as it may appear in auth_key.py.
std::vector<LineRow> line_rows() {
    return {
        {"COMMUNITY_KEY = \"abc\"", "abc"},
        {"COMMUNITY_KEY='abc'", "abc"},
        {"\tCOMMUNITY_KEY   =   abc  \t ", "abc"},
        {"COMMUNITY_KEY: str = \"abc\"", "abc"},
        {"COMMUNITY_KEY = \"a=b\"", "a=b"},
        {"COMMUNITY_KEY = \"abc\"  # comment", "\"abc\"  # comment"},
        {"COMMUNITY_KEY = \"\"", ""},
        {"COMMUNITY_KEY = ''", ""},
        {"COMMUNITY_KEY =", ""},
        {"COMMUNITY_KEY=", ""},
        {"COMMUNITY_KEY = \"", "\""},
        {"COMMUNITY_KEY = '", "'"},
        {"COMMUNITY_KEY = 'abc\"", "'abc\""},
        {"COMMUNITY_KEY = \"abc'", "\"abc'"},
        {"COMMUNITY_KEY = \"\"\"abc\"\"\"", "\"\"abc\"\""},
        {"COMMUNITY_KEY = r\"abc\"", "r\"abc\""},
        {"COMMUNITY_KEY = \" abc \"", " abc "},
        {"COMMUNITY_KEY = \"a\\\"b\"", "a\\\"b"},
        {"COMMUNITY_KEY == \"x\"", "= \"x\""},
        {"COMMUNITY_KEY_OLD = \"x\"", "x"},
        {"COMMUNITY_KEYS=x", "x"},
        {"COMMUNITY_KEY = \"clé 東京\"", "clé 東京"},
        {"# COMMUNITY_KEY = \"x\"", not_found},
        {"community_key = \"x\"", not_found},
        {"COMMUNITY_KEY", not_found},
        {"COMMUNITY_KEY \"x\"", not_found},
        {"  COMMUNITY_KE = \"x\"", not_found},
        {"X = COMMUNITY_KEY = \"x\"", not_found},
        {"", not_found},
        // White space beyond ASCII is trimmed as well.
        {"\u00a0COMMUNITY_KEY = \"abc\"\u00a0", "abc"},
        {"\u3000COMMUNITY_KEY =\u3000abc\u3000", "abc"},
        {"\u2028COMMUNITY_KEY = abc\u2029", "abc"},
        {"\u0085\u1680\u2000\u200a\u202f\u205f COMMUNITY_KEY = abc \u2009", "abc"},
        {"COMMUNITY_KEY =\u00a0\"\u00a0abc\u00a0\"\u00a0", "\u00a0abc\u00a0"},
        {"\v\fCOMMUNITY_KEY = abc\v\f", "abc"},
        // Neighbours of white space characters are not white space.
        {"\u200bCOMMUNITY_KEY = abc", not_found},
        {"COMMUNITY_KEY = abc\u200b", "abc\u200b"},
        {"COMMUNITY_KEY = abc\u00a1", "abc\u00a1"},
        {"COMMUNITY_KEY = abc\u3001", "abc\u3001"},
        {"COMMUNITY_KEY = \u2027abc\u2030", "\u2027abc\u2030"},
        // The byte-order mark is not white space.
        {"\ufeffCOMMUNITY_KEY = \"abc\"", not_found},
        {"COMMUNITY_KEY = abc\ufeff", "abc\ufeff"},
        // A carriage return on its own does not end a line.
        {"COMMUNITY_KEY = a\rb", "a\rb"},
        {"X = 1\rCOMMUNITY_KEY = \"abc\"", not_found},
    };
}

}  // namespace

TEST_CASE(key_file_single_line_rows) {
    for (const LineRow& row : line_rows()) {
        // The same line in every setting: alone, with LF, with CRLF, after
        // other lines, and after an unrelated line with CRLF endings.
        const std::string texts[] = {
            row.line,
            row.line + "\n",
            row.line + "\r\n",
            "# keys\nSPONSOR_KEY = \"s\"\n\n" + row.line + "\nOTHER = 1\n",
            "# keys\r\nSPONSOR_KEY = \"s\"\r\n\r\n" + row.line + "\r\nOTHER = 1\r\n",
        };
        for (const std::string& text : texts) {
            ROW(check::show_text(text));
            CHECK_EQ(vemrat::core::extract_key_value(text, "COMMUNITY_KEY"), row.value);
        }
    }
}

TEST_CASE(key_file_whole_text_rows) {
    struct Row {
        const char* name;
        std::string text;
        std::string key;
        Found value;
    };
    const Row rows[] = {
        {"empty text", "", "COMMUNITY_KEY", not_found},
        {"only line feeds", "\n\n\r\n", "COMMUNITY_KEY", not_found},
        {"both keys", "COMMUNITY_KEY = \"c\"\nSPONSOR_KEY = \"s\"\n", "SPONSOR_KEY", "s"},
        {"both keys, first", "COMMUNITY_KEY = \"c\"\nSPONSOR_KEY = \"s\"\n", "COMMUNITY_KEY", "c"},
        {"key only on a later line", "import os\n\n# secret\nDEBUG = True\nSPONSOR_KEY = 'later'\n", "SPONSOR_KEY",
         "later"},
        {"other key only", "COMMUNITY_KEY = \"x\"\n", "SPONSOR_KEY", not_found},
        {"last line without line feed", "A = 1\nSPONSOR_KEY = \"end\"", "SPONSOR_KEY", "end"},
        {"last line without line feed, CR kept", "A = 1\nSPONSOR_KEY = end\r", "SPONSOR_KEY", "end"},
        {"first matching line wins", "COMMUNITY_KEY_OLD = \"x\"\nCOMMUNITY_KEY = \"y\"\n", "COMMUNITY_KEY", "x"},
        {"first of two assignments wins", "COMMUNITY_KEY = 1\nCOMMUNITY_KEY = 2\n", "COMMUNITY_KEY", "1"},
        {"line without equals sign is passed over", "COMMUNITY_KEY\nCOMMUNITY_KEY = \"y\"\n", "COMMUNITY_KEY",
         "y"},
        {"CRLF throughout", "A = 1\r\nCOMMUNITY_KEY = \"c\"\r\nSPONSOR_KEY = \"s\"\r\n", "SPONSOR_KEY", "s"},
        {"CRLF, empty value", "COMMUNITY_KEY =\r\n", "COMMUNITY_KEY", ""},
        {"CRLF, value quoted and spaced", "COMMUNITY_KEY = ' a '\r\n", "COMMUNITY_KEY", " a "},
        {"byte-order mark hides the first line", "\ufeffCOMMUNITY_KEY = \"c\"\nSPONSOR_KEY = \"s\"\n",
         "COMMUNITY_KEY", not_found},
        {"byte-order mark, key on a later line", "\ufeffCOMMUNITY_KEY = \"c\"\nCOMMUNITY_KEY = \"d\"\n",
         "COMMUNITY_KEY", "d"},
        {"byte-order mark, other key still found", "\ufeffCOMMUNITY_KEY = \"c\"\r\nSPONSOR_KEY = \"s\"\r\n",
         "SPONSOR_KEY", "s"},
        {"multi-line value keeps only its own line", "COMMUNITY_KEY = \"\"\"abc\ndef\"\"\"\n", "COMMUNITY_KEY",
         "\"\"\"abc"},
        {"value line split by a CR alone", "COMMUNITY_KEY = 'ab'\rSPONSOR_KEY = 's'\n", "COMMUNITY_KEY",
         "ab'\rSPONSOR_KEY = 's"},
        {"line separator U+2028 does not end a line", "A = 1\u2028COMMUNITY_KEY = 2\n", "COMMUNITY_KEY", not_found},
        {"indented with mixed white space", " \t\u3000COMMUNITY_KEY\t=\t'v'\u00a0\r\n", "COMMUNITY_KEY", "v"},
        {"a line holding only white space", "\u3000\u00a0\t\nCOMMUNITY_KEY = v\n", "COMMUNITY_KEY", "v"},
        {"NUL byte inside a value", "COMMUNITY_KEY = 'a\0b'\n"s, "COMMUNITY_KEY", "a\0b"s},
        {"empty key name matches the first line with an equals sign", "x\nA = 1\n", "", "1"},
    };
    for (const Row& row : rows) {
        ROW(row.name);
        CHECK_EQ(vemrat::core::extract_key_value(row.text, row.key), row.value);
    }
}

TEST_CASE(trim_unicode_space_rows) {
    struct Row {
        std::string text;
        std::string trimmed;
    };
    const Row rows[] = {
        {"", ""},
        {" ", ""},
        {"\t\n\v\f\r ", ""},
        {"\u0085\u00a0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200a\u2028\u2029\u202f"
         "\u205f\u3000",
         ""},
        {"\u3000a b\u3000", "a b"},
        {"\ufeff", "\ufeff"},
        {"\u200b", "\u200b"},
        {"\u180e", "\u180e"},
        {"x\u00a0", "x"},
        {"\u00a0x", "x"},
        {"\u00a9", "\u00a9"},
        {"\u20ac", "\u20ac"},
    };
    for (const Row& row : rows) {
        ROW(check::show_text(row.text));
        CHECK_EQ(std::string(vemrat::core::trim_unicode_space(row.text)), row.trimmed);
    }
}
