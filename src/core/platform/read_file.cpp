#include "core/platform/read_file.hpp"

#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/secret.hpp"
#include "core/text/fill.hpp"
#include "core/text/utf8.hpp"
#include "core/texts.hpp"
#include "core/try.hpp"

namespace vemrat::core {

namespace {

// strerror_r is the GNU variant (returning the text) or the XSI one (filling the buffer)
// depending on the feature macros; accept either.
[[maybe_unused]] const char* strerror_text(const char* text, const char*) { return text; }
[[maybe_unused]] const char* strerror_text(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }

// `text` from the locale's character set (that of LC_CTYPE, in which the C library writes its
// messages) to UTF-8; bytes that do not convert become U+FFFD.
std::string locale_text_as_utf8(std::string_view text) {
    if (is_valid_utf8(text)) return std::string(text);
    const iconv_t converter = iconv_open("UTF-8", nl_langinfo(CODESET));
    if (converter == reinterpret_cast<iconv_t>(-1)) return decode_utf8_lossy(text);
    std::string converted(4 * text.size(), '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t in_left = text.size();
    char* out = converted.data();
    std::size_t out_left = converted.size();
    const bool complete = iconv(converter, &in, &in_left, &out, &out_left) != static_cast<std::size_t>(-1) &&
                          iconv(converter, nullptr, nullptr, &out, &out_left) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    converted.resize(converted.size() - out_left);
    if (!complete || !is_valid_utf8(converted)) return decode_utf8_lossy(text);
    return converted;
}

std::unexpected<std::string> os_error(int code) {
    char buffer[256] = {};
    const char* text = strerror_text(strerror_r(code, buffer, sizeof buffer), buffer);
    const std::string description = text != nullptr ? locale_text_as_utf8(text) : "Unknown error " + std::to_string(code);
    return std::unexpected(fill(texts::os_error, {description, std::to_string(code)}));
}

// What a file that is not a regular one is, for the reason of refusing it.
std::unexpected<std::string> not_a_regular_file(mode_t mode) {
    const char* kind = S_ISFIFO(mode)  ? "a named pipe (FIFO)"
                       : S_ISCHR(mode) ? "a character device"
                       : S_ISBLK(mode) ? "a block device"
                                       : "a special file";
    return std::unexpected(fill(texts::not_a_regular_file, {kind}));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }

private:
    int fd_;
};

// Only a regular file is read: a pipe or a device such as /dev/zero could block or never end.
// Returns its size, a hint for the buffer (the file may change meanwhile).
std::expected<std::size_t, std::string> regular_file_size(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return os_error(errno);
    if (S_ISDIR(info.st_mode)) return os_error(EISDIR);
    if (!S_ISREG(info.st_mode)) return not_a_regular_file(info.st_mode);
    // Back to blocking reads, the ordinary behaviour for a file (one on a network file system,
    // say); the flag was only for the open.
    if (const int flags = ::fcntl(fd, F_GETFL); flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return os_error(errno);
    }
    return static_cast<std::size_t>(info.st_size);
}

// Grows the buffer without leaving the old one, which may hold keys, unwiped.
void grow(std::string& text) {
    std::string larger(text.size() * 2 + 4096, '\0');
    larger.replace(0, text.size(), text);
    wipe(text);
    text.swap(larger);
}

}  // namespace

std::expected<std::string, std::string> read_regular_file(const std::string& path, const AfterSignal& after_signal) {
    // The system call would see only the part before a NUL byte: another file.
    if (path.find('\0') != std::string::npos) return std::unexpected(std::string(texts::nul_in_path));
    // Whether a failed system call is tried again: only one that a signal interrupted. errno
    // stays as it was for the reason.
    const auto retry = [&after_signal] {
        if (errno != EINTR) return false;
        const bool again = !after_signal || after_signal();
        errno = EINTR;
        return again;
    };
    // Opening a FIFO would wait for a writer; other files may still block here (NFS).
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && retry());
    if (fd < 0) return os_error(errno);
    const FileDescriptor file(fd);
    VEMRAT_TRY_ASSIGN(const std::size_t hint, regular_file_size(fd));

    // One spare byte lets the end of file show up without growing the buffer.
    std::string text(hint + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) grow(text);
        const ssize_t got = ::read(fd, text.data() + used, text.size() - used);
        if (got < 0) {
            if (retry()) continue;
            const int code = errno;
            wipe(text);
            return os_error(code);
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    text.resize(used);
    return text;
}

}  // namespace vemrat::core
