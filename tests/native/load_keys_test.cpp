// The key file as Client() reads it: the text must be UTF-8, the community key is looked for
// first, and every failure is the exact message of the RuntimeError.
#include <string>

#include "check.hpp"
#include "core/config/load_keys.hpp"
#include "temp_dir.hpp"

using namespace std::string_literals;

namespace {

std::string cannot_read(const std::string& path, const std::string& reason) {
    return "Cannot read auth_key.py at " + path + ": " + reason + ". Please pass community_key and sponsor_key manually.";
}

}  // namespace

TEST_CASE(load_keys_results) {
    check::TempDir dir;
    CHECK(dir.ok());
    if (!dir.ok()) return;
    struct Row {
        const char* name;
        std::string bytes;
        std::string community_key;
        std::string sponsor_key;
    };
    const Row rows[] = {
        {"both keys", "COMMUNITY_KEY = \"c\"\nSPONSOR_KEY = 's'\n", "c", "s"},
        {"sponsor key first", "SPONSOR_KEY = s\nCOMMUNITY_KEY = c\n", "c", "s"},
        {"empty values", "COMMUNITY_KEY =\nSPONSOR_KEY = \"\"\n", "", ""},
        {"non-ASCII", "COMMUNITY_KEY = \"\u043a\u043b\u044e\u0447\"\nSPONSOR_KEY = \"\u79d8\u5bc6\"\n",
         "\u043a\u043b\u044e\u0447", "\u79d8\u5bc6"},
    };
    int index = 0;
    for (const Row& row : rows) {
        ROW(row.name);
        const auto keys = vemrat::core::load_keys(dir.file("keys" + std::to_string(index++), row.bytes));
        CHECK(keys.has_value());
        if (!keys) continue;
        CHECK_EQ(std::string(keys->community_key.view()), row.community_key);
        CHECK_EQ(std::string(keys->sponsor_key.view()), row.sponsor_key);
    }
}

TEST_CASE(load_keys_failures) {
    check::TempDir dir;
    CHECK(dir.ok());
    if (!dir.ok()) return;
    const std::string not_utf8 = "stream did not contain valid UTF-8";
    struct Row {
        const char* name;
        std::string bytes;
        std::string reason;  // of "Cannot read", or empty for a whole message below
        std::string message;
    };
    const Row rows[] = {
        {"invalid UTF-8", "K = 'caf\xe9'\n", not_utf8, ""},
        {"truncated UTF-8 at the end", "K = '\xe6\x9d", not_utf8, ""},
        {"encoded surrogate", "\xed\xa0\x80", not_utf8, ""},
        {"overlong", "\xc0\xaf", not_utf8, ""},
        {"UTF-16 with its byte-order mark", "\xff\xfeK\0=\0"s, not_utf8, ""},
        {"neither key", "OTHER = 1\n", "", "COMMUNITY_KEY not found in auth_key.py"},
        {"only the sponsor key", "SPONSOR_KEY = s\n", "", "COMMUNITY_KEY not found in auth_key.py"},
        {"only the community key", "COMMUNITY_KEY = c\n", "", "SPONSOR_KEY not found in auth_key.py"},
    };
    int index = 0;
    for (const Row& row : rows) {
        ROW(row.name);
        const std::string path = dir.file("keys" + std::to_string(index++), row.bytes);
        const auto keys = vemrat::core::load_keys(path);
        CHECK(!keys.has_value());
        if (!keys) CHECK_EQ(keys.error(), row.reason.empty() ? row.message : cannot_read(path, row.reason));
    }
    const std::string missing = dir.path() + "/auth_key.py";
    const auto keys = vemrat::core::load_keys(missing);
    CHECK(!keys && keys.error() == cannot_read(missing, "No such file or directory (os error 2)"));
}
