#include "auth/nonce.hpp"

#include <pthread.h>
#include <sys/mman.h>
#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "auth/hex.hpp"

#ifndef MADV_WIPEONFORK
#define MADV_WIPEONFORK 18  // Linux 4.14; older C libraries do not name it
#endif

namespace vemrat {

namespace {

// Each thread keeps a block of bytes drawn from the kernel's generator and hands out 16 at
// a time, so that a nonce costs one system call in 64 instead of one each. A forked child
// must never reuse its parent's bytes. The block lives in a page that the kernel wipes in
// every child, however it was created (a raw clone runs no fork handlers): the child finds
// the block unmarked and draws its own. Where the kernel cannot wipe (before Linux 4.14), a
// fork handler moves a generation on instead, and a block of an older generation is dropped.
constexpr std::size_t BLOCK_BYTES = 64 * NONCE_BYTES;
constexpr std::uint64_t FILLED = 0x76656d72'61746e6eULL;  // any value but 0, which a wipe leaves

struct RandomBlock {
    std::uint8_t bytes[BLOCK_BYTES];
    std::size_t used;
    std::uint64_t generation;
    std::uint64_t filled;
};

std::atomic<std::uint64_t> fork_generation{0};

void after_fork_in_child() { fork_generation.fetch_add(1, std::memory_order_relaxed); }

std::string system_failure(const char* what, int error) {
    return std::string(what) + ": " + std::generic_category().message(error);
}

// The calling thread's block, mapped on first use and unmapped when the thread ends.
class ThreadBlock {
public:
    ThreadBlock() = default;
    ThreadBlock(const ThreadBlock&) = delete;
    ThreadBlock& operator=(const ThreadBlock&) = delete;
    ~ThreadBlock() {
        if (block_ == nullptr) return;
        std::memset(block_, 0, sizeof(RandomBlock));
        ::munmap(block_, sizeof(RandomBlock));
    }

    std::expected<RandomBlock*, std::string> get() {
        if (block_ != nullptr) return block_;
        void* page = ::mmap(nullptr, sizeof(RandomBlock), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED) return std::unexpected(system_failure("could not map the nonce block", errno));
        // EINVAL: a kernel without the advice; the fork handler covers os.fork() there.
        if (::madvise(page, sizeof(RandomBlock), MADV_WIPEONFORK) != 0 && errno != EINVAL) {
            const int error = errno;
            ::munmap(page, sizeof(RandomBlock));
            return std::unexpected(system_failure("could not protect the nonce block", error));
        }
        // Nonces are public; keeping them out of core dumps only keeps the dumps small.
        (void)::madvise(page, sizeof(RandomBlock), MADV_DONTDUMP);
        block_ = static_cast<RandomBlock*>(page);
        return block_;
    }

private:
    RandomBlock* block_ = nullptr;
};

static_assert(sizeof(RandomBlock) <= 4096, "the block fits one page");

thread_local ThreadBlock thread_block;

std::expected<void, std::string> fill(RandomBlock& target) {
    static const int registered = pthread_atfork(nullptr, nullptr, after_fork_in_child);
    if (registered != 0) return std::unexpected("could not register the fork handler of the nonce generator");
    std::size_t filled = 0;
    while (filled < BLOCK_BYTES) {
        const ssize_t got = getrandom(target.bytes + filled, BLOCK_BYTES - filled, 0);
        if (got < 0) {
            const int error = errno;
            if (error == EINTR) continue;
            target.filled = 0;
            return std::unexpected(system_failure("random source failed", error));
        }
        filled += static_cast<std::size_t>(got);
    }
    target.used = 0;
    target.generation = fork_generation.load(std::memory_order_relaxed);
    target.filled = FILLED;
    return {};
}

bool has_fresh_bytes(const RandomBlock& source) {
    return source.filled == FILLED && source.used < BLOCK_BYTES &&
           source.generation == fork_generation.load(std::memory_order_relaxed);
}

}  // namespace

std::expected<std::string, std::string> generate_nonce() {
    auto block = thread_block.get();
    if (!block) return std::unexpected(std::move(block.error()));
    RandomBlock& source = **block;
    if (!has_fresh_bytes(source)) {
        if (auto filled = fill(source); !filled) return std::unexpected(std::move(filled.error()));
    }
    std::uint8_t* bytes = source.bytes + source.used;
    std::string nonce = hex_encode(std::span<const std::uint8_t>(bytes, NONCE_BYTES));
    // A byte is handed out once: wipe it so that no later nonce and no memory dump repeats it.
    std::memset(bytes, 0, NONCE_BYTES);
    source.used += NONCE_BYTES;
    return nonce;
}

}  // namespace vemrat
