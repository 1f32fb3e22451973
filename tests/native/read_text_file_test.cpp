#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "check.hpp"
#include "config/read_text_file.hpp"

using namespace std::string_literals;

namespace {

// A fresh directory under the system's temporary directory, removed with its
// files at the end of the test.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vemrat_read_XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        if (path_.empty()) return;
        const std::string command = "rm -rf '" + path_ + "'";
        if (std::system(command.c_str()) != 0) std::perror("rm");
    }
    bool ok() const { return !path_.empty(); }
    std::string file(const std::string& name, const std::string& bytes) const {
        const std::string full = path_ + "/" + name;
        std::ofstream(full, std::ios::binary) << bytes;
        return full;
    }
    std::string fifo(const std::string& name) const {
        const std::string full = path_ + "/" + name;
        if (::mkfifo(full.c_str(), 0600) != 0) std::perror("mkfifo");
        return full;
    }
    std::string link(const std::string& name, const std::string& target) const {
        const std::string full = path_ + "/" + name;
        if (::symlink(target.c_str(), full.c_str()) != 0) std::perror("symlink");
        return full;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string os_error_text(int code) { return std::strerror(code) + " (os error "s + std::to_string(code) + ")"; }

}  // namespace

TEST_CASE(read_text_file_contents) {
    TempDir dir;
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
        {"larger than one read", large},
    };
    int index = 0;
    for (const Row& row : rows) {
        ROW(row.name);
        const std::string path = dir.file("file" + std::to_string(index++), row.bytes);
        const auto text = vemrat::read_text_file(path);
        CHECK(text.has_value());
        if (text) CHECK_EQ(*text, row.bytes);
        if (!text) CHECK_EQ(text.error(), "");
    }
}

TEST_CASE(read_text_file_failures) {
    TempDir dir;
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
        {"invalid UTF-8", dir.file("latin1", "K = 'caf\xe9'\n"), "stream did not contain valid UTF-8"},
        {"truncated UTF-8 at the end", dir.file("truncated", "K = '\xe6\x9d"), "stream did not contain valid UTF-8"},
        {"encoded surrogate", dir.file("surrogate", "\xed\xa0\x80"), "stream did not contain valid UTF-8"},
        {"overlong", dir.file("overlong", "\xc0\xaf"), "stream did not contain valid UTF-8"},
        {"UTF-16 with its byte-order mark", dir.file("utf16", "\xff\xfeK\0=\0"s), "stream did not contain valid UTF-8"},
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
        const auto text = vemrat::read_text_file(row.path);
        CHECK(!text.has_value());
        if (!text) CHECK_EQ(text.error(), row.error);
    }
}

TEST_CASE(read_text_file_unreadable) {
    TempDir dir;
    CHECK(dir.ok());
    if (!dir.ok()) return;
    const std::string path = dir.file("locked", "K = 1\n");
    CHECK_EQ(::chmod(path.c_str(), 0), 0);
    // With the privilege to bypass file permissions (root) the file stays
    // readable and this case cannot be produced.
    if (::access(path.c_str(), R_OK) == 0) {
        std::cerr << "read_text_file_unreadable: skipped, permissions are not enforced for this user\n";
        return;
    }
    const auto text = vemrat::read_text_file(path);
    CHECK(!text.has_value());
    if (!text) CHECK_EQ(text.error(), os_error_text(EACCES));
}
