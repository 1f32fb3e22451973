#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

#include "check.hpp"
#include "temp_dir.hpp"
#include "core/platform/read_file.hpp"

using namespace std::string_literals;

namespace {

std::string os_error_text(int code) { return std::strerror(code) + " (os error "s + std::to_string(code) + ")"; }

}  // namespace

TEST_CASE(read_regular_file_contents) {
    check::TempDir dir;
    CHECK(dir.ok());
    if (!dir.ok()) return;
    std::string large;
    for (int i = 0; i < 20000; ++i) large += "line " + std::to_string(i) + " \u00e9\u6771\n";
    struct Row {
        const char* name;
        std::string bytes;
    };
    const Row rows[] = {
        {"empty", ""},
        {"key file", "COMMUNITY_KEY = \"c\"\nSPONSOR_KEY = \"s\"\n"},
        {"CRLF kept", "A = 1\r\nB = 2\r\n"},
        {"byte-order mark kept", "\ufeffCOMMUNITY_KEY = \"c\"\n"},
        {"non-ASCII", "K = 'cl\u00e9 \u6771\u4eac \U0001f600'"},
        {"NUL byte", "a\0b"s},
        {"not UTF-8: the bytes as they are", "K = 'caf\xe9'\n"},
        {"larger than one read", large},
    };
    int index = 0;
    for (const Row& row : rows) {
        ROW(row.name);
        const std::string path = dir.file("file" + std::to_string(index++), row.bytes);
        const auto text = vemrat::core::read_regular_file(path);
        CHECK(text.has_value());
        if (text) CHECK_EQ(*text, row.bytes);
        if (!text) CHECK_EQ(text.error(), "");
    }
}

TEST_CASE(read_regular_file_failures) {
    check::TempDir dir;
    CHECK(dir.ok());
    if (!dir.ok()) return;
    struct Row {
        const char* name;
        std::string path;
        std::string error;
    };
    const Row rows[] = {
        {"missing file", dir.path() + "/auth_key.py", os_error_text(ENOENT)},
        {"missing directory", dir.path() + "/nowhere/auth_key.py", os_error_text(ENOENT)},
        {"a directory", dir.path(), os_error_text(EISDIR)},
        {"below a regular file", dir.file("plain", "x") + "/auth_key.py", os_error_text(ENOTDIR)},
        {"empty path", "", os_error_text(ENOENT)},
        // Neither blocks nor reads without end: only a regular file is read.
        {"a FIFO without a writer", dir.fifo("fifo"), "it is a named pipe (FIFO), not a regular file"},
        {"a link to /dev/zero", dir.link("zero", "/dev/zero"), "it is a character device, not a regular file"},
        {"a link to /dev/urandom", dir.link("urandom", "/dev/urandom"), "it is a character device, not a regular file"},
        {"/dev/null", "/dev/null", "it is a character device, not a regular file"},
        {"a link to a directory", dir.link("up", ".."), os_error_text(EISDIR)},
        // Cut at the NUL the path would name the existing file: it must not be read.
        {"NUL byte in the path", dir.file("keys.py", "K = 'v'\n") + "\0/other"s, "file name contained a NUL byte"},
    };
    for (const Row& row : rows) {
        ROW(row.name);
        const auto text = vemrat::core::read_regular_file(row.path);
        CHECK(!text.has_value());
        if (!text) CHECK_EQ(text.error(), row.error);
    }
}

TEST_CASE(read_regular_file_unreadable) {
    check::TempDir dir;
    CHECK(dir.ok());
    if (!dir.ok()) return;
    const std::string path = dir.file("locked", "K = 1\n");
    CHECK_EQ(::chmod(path.c_str(), 0), 0);
    // With the privilege to bypass file permissions (root) the file stays
    // readable and this case cannot be produced.
    if (::access(path.c_str(), R_OK) == 0) {
        std::cerr << "read_regular_file_unreadable: skipped, permissions are not enforced for this user\n";
        return;
    }
    const auto text = vemrat::core::read_regular_file(path);
    CHECK(!text.has_value());
    if (!text) CHECK_EQ(text.error(), os_error_text(EACCES));
}
