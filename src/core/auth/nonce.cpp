#include "core/auth/nonce.hpp"

#include <cstdint>
#include <cstring>

#include "core/platform/fork_wiped_memory.hpp"
#include "core/platform/random_source.hpp"
#include "core/text/hex.hpp"
#include "core/try.hpp"

namespace vemrat::core {

namespace {

// Each thread keeps a block of bytes drawn from the kernel's generator and hands out 16 at a
// time, so that a nonce costs one system call in 64 instead of one each. A child process must
// never reuse its parent's bytes: the block lives in the thread's fork-wiped page, so a child
// finds it unmarked and draws its own; where the kernel cannot wipe, a block of an older fork
// generation is dropped instead.
constexpr std::size_t BLOCK_BYTES = 64 * NONCE_BYTES;
constexpr std::uint64_t FILLED = 0x76656d72'61746e6eULL;  // any value but 0, which a wipe leaves

struct RandomBlock {
    std::uint8_t bytes[BLOCK_BYTES];
    std::size_t used;
    std::uint64_t generation;
    std::uint64_t filled;
};

static_assert(sizeof(RandomBlock) <= fork_wiped_page_size);

bool has_fresh_bytes(const RandomBlock& block) {
    return block.filled == FILLED && block.used < BLOCK_BYTES && block.generation == fork_generation();
}

std::expected<void, std::string> refill(RandomBlock& block) {
    block.filled = 0;
    VEMRAT_TRY(fill_random(block.bytes));
    block.used = 0;
    block.generation = fork_generation();
    block.filled = FILLED;
    return {};
}

}  // namespace

std::expected<std::string, std::string> generate_nonce() {
    VEMRAT_TRY_ASSIGN(void* const page, thread_fork_wiped_page());
    RandomBlock& block = *static_cast<RandomBlock*>(page);
    if (!has_fresh_bytes(block)) VEMRAT_TRY(refill(block));
    std::uint8_t* bytes = block.bytes + block.used;
    std::string nonce = hex_encode(std::span<const std::uint8_t>(bytes, NONCE_BYTES));
    // A byte is handed out once: wipe it so that no later nonce and no memory dump repeats it.
    std::memset(bytes, 0, NONCE_BYTES);
    block.used += NONCE_BYTES;
    return nonce;
}

}  // namespace vemrat::core
