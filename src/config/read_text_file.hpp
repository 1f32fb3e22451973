// Whole-file read of a UTF-8 text file.
#pragma once

#include <string>

#include <expected>

namespace vemrat {

// The bytes of the file at `path`, required to be valid UTF-8 and returned
// unchanged (no byte-order mark removed, no newline translation). Failures:
// the system's description of an OS error followed by " (os error N)", for
// example "No such file or directory (os error 2)"; or "stream did not contain
// valid UTF-8". A directory fails on reading with EISDIR.
std::expected<std::string, std::string> read_text_file(const std::string& path);

}  // namespace vemrat
