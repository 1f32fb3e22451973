// Reading a whole file as the operating system gives it (Linux and other POSIX systems).
#pragma once

#include <expected>
#include <functional>
#include <string>

namespace vemrat::core {

// Called when a signal interrupted a system call of the read (which may block: a file on NFS or
// FUSE); true retries it, false gives up with EINTR's reason. Without one, the read retries.
using AfterSignal = std::function<bool()>;

// The bytes of the regular file at `path`, read in full. Opening never blocks, and anything
// that is not a regular file is refused before it is read. A failure is the reason as text: the
// system's description of an OS error in the message locale, converted to UTF-8, and
// " (os error N)" ("No such file or directory (os error 2)"; a directory gives EISDIR's); for
// another kind of file what it is ("it is a named pipe (FIFO), not a regular file"); or "file
// name contained a NUL byte". Bytes read before a failure are wiped: they may hold keys.
std::expected<std::string, std::string> read_regular_file(const std::string& path,
                                                          const AfterSignal& after_signal = {});

}  // namespace vemrat::core
