#include "auth/nonce.hpp"

#include <pthread.h>
#include <sys/random.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "auth/hex.hpp"

namespace vemrat {

namespace {

// Each thread keeps a block of bytes drawn from the kernel's generator and hands out 16 at
// a time, so that a nonce costs one system call in 64 instead of one each. A forked child
// must never reuse its parent's bytes: every fork moves the generation on, and a block from
// an older generation is dropped unused.
constexpr std::size_t BLOCK_BYTES = 64 * NONCE_BYTES;

std::atomic<std::uint64_t> fork_generation{0};

void after_fork_in_child() { fork_generation.fetch_add(1, std::memory_order_relaxed); }

struct RandomBlock {
    std::array<std::uint8_t, BLOCK_BYTES> bytes{};
    std::size_t used = BLOCK_BYTES;
    std::uint64_t generation = 0;
};

thread_local RandomBlock block;

std::expected<void, std::string> fill(RandomBlock& target) {
    static const int registered = pthread_atfork(nullptr, nullptr, after_fork_in_child);
    if (registered != 0) return std::unexpected("could not register the fork handler of the nonce generator");
    std::size_t filled = 0;
    while (filled < target.bytes.size()) {
        const ssize_t got = getrandom(target.bytes.data() + filled, target.bytes.size() - filled, 0);
        if (got < 0) {
            const int error = errno;
            if (error == EINTR) continue;
            return std::unexpected("random source failed: " + std::generic_category().message(error));
        }
        filled += static_cast<std::size_t>(got);
    }
    target.used = 0;
    target.generation = fork_generation.load(std::memory_order_relaxed);
    return {};
}

}  // namespace

std::expected<std::string, std::string> generate_nonce() {
    RandomBlock& source = block;
    if (source.used == source.bytes.size() || source.generation != fork_generation.load(std::memory_order_relaxed)) {
        if (auto filled = fill(source); !filled) return std::unexpected(std::move(filled.error()));
    }
    const std::span<const std::uint8_t> bytes(source.bytes.data() + source.used, NONCE_BYTES);
    std::string nonce = hex_encode(bytes);
    // A byte is handed out once: wipe it so that no later nonce and no memory dump repeats it.
    std::memset(source.bytes.data() + source.used, 0, NONCE_BYTES);
    source.used += NONCE_BYTES;
    return nonce;
}

}  // namespace vemrat
