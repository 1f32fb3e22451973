// Whole-file read of a UTF-8 text file.
#pragma once

#include <string>

#include <expected>

namespace vemrat {

// The bytes of the regular file at `path`, required to be valid UTF-8 and
// returned unchanged (no byte-order mark removed, no newline translation).
// Opening never blocks. Failures: the system's description of an OS error (in
// the message locale, converted to UTF-8) followed by " (os error N)", for
// example "No such file or directory (os error 2)"; a directory gives EISDIR's;
// anything else that is not a regular file says what it is ("it is a named pipe
// (FIFO), not a regular file"); or "stream did not contain valid UTF-8".
std::expected<std::string, std::string> read_text_file(const std::string& path);

}  // namespace vemrat
