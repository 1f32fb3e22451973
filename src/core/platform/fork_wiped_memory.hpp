// Per-thread memory that a child process never sees as its parent left it (Linux 4.14 and
// later: MADV_WIPEONFORK), for bytes a child must not reuse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>

namespace vemrat::core {

inline constexpr std::size_t fork_wiped_page_size = 4096;

// The calling thread's page, zero-filled when first mapped and unmapped when the thread ends.
// In every child process, however it was created (a raw clone runs no fork handlers), the
// kernel hands the page over zero-filled again. A failure is its description.
std::expected<void*, std::string> thread_fork_wiped_page();

// Moves on in a child created by fork() (a fork handler), for kernels that cannot wipe the page:
// a value kept beside the page's contents shows whether they were written before a fork.
std::uint64_t fork_generation();

}  // namespace vemrat::core
