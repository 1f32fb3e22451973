#include "config/read_text_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/secret_text.hpp"
#include "service/utf8.hpp"

namespace vemrat {

namespace {

// strerror_r is the GNU variant (returning the text) or the XSI one (filling
// the buffer) depending on the feature macros; accept either.
[[maybe_unused]] const char* strerror_text(const char* text, const char*) { return text; }
[[maybe_unused]] const char* strerror_text(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }

std::string os_error(int code) {
    char buffer[256] = {};
    const char* text = strerror_text(strerror_r(code, buffer, sizeof buffer), buffer);
    std::string message = text != nullptr ? text : "Unknown error " + std::to_string(code);
    message += " (os error ";
    message += std::to_string(code);
    message += ')';
    return message;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

// Grows the buffer without leaving the old one, which may hold keys, unwiped.
void grow(std::string& text) {
    std::string larger(text.size() * 2 + 4096, '\0');
    larger.replace(0, text.size(), text);
    wipe(text);
    text.swap(larger);
}

}  // namespace

std::expected<std::string, std::string> read_text_file(const std::string& path) {
    // The system call would see only the part before a NUL byte: another file.
    if (path.find('\0') != std::string::npos) return std::unexpected(std::string("file name contained a NUL byte"));
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::unexpected(os_error(errno));
    const FileDescriptor file(fd);

    // The size is only a hint (the file may change meanwhile): one spare byte
    // lets the end of file show up without growing the buffer.
    std::size_t hint = 0;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        hint = static_cast<std::size_t>(info.st_size);
    }
    std::string text(hint + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) grow(text);
        const ssize_t got = ::read(fd, text.data() + used, text.size() - used);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int code = errno;
            wipe(text);
            return std::unexpected(os_error(code));
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    text.resize(used);

    if (!is_valid_utf8(text)) {
        // The caller wipes the text it gets; one it never gets is wiped here (it may hold keys).
        wipe(text);
        return std::unexpected(std::string("stream did not contain valid UTF-8"));
    }
    return text;
}

}  // namespace vemrat
