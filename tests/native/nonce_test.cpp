#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/auth/nonce.hpp"
#include "check.hpp"

namespace {

bool is_lower_hex(std::string_view text) {
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

}  // namespace

TEST_CASE(nonce_shape_and_distinct_draws) {
    constexpr int draws = 2000;
    std::set<std::string> seen;
    // Over 2000 draws of 16 bytes each hex digit position sees all 16 values;
    // a stuck digit (for example a byte that is always below 16) shows up here.
    std::vector<std::set<char>> digits_at(32);
    for (int i = 0; i < draws; ++i) {
        const auto nonce = vemrat::core::generate_nonce();
        CHECK(nonce.has_value());
        if (!nonce) return;
        ROW(check::show_text(*nonce));
        CHECK_EQ(nonce->size(), 32u);
        CHECK(is_lower_hex(*nonce));
        seen.insert(*nonce);
        for (std::size_t at = 0; at < nonce->size() && at < 32; ++at) digits_at[at].insert((*nonce)[at]);
    }
    CHECK_EQ(seen.size(), static_cast<std::size_t>(draws));
    for (std::size_t at = 0; at < 32; ++at) {
        ROW("digit position " + std::to_string(at));
        CHECK_EQ(digits_at[at].size(), 16u);
    }
}

TEST_CASE(nonce_distinct_across_threads) {
    constexpr int threads = 4;
    constexpr int per_thread = 500;
    std::vector<std::vector<std::string>> drawn(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&drawn, t] {
            for (int i = 0; i < per_thread; ++i) {
                const auto nonce = vemrat::core::generate_nonce();
                drawn[t].push_back(nonce ? *nonce : std::string());
            }
        });
    }
    for (std::thread& worker : workers) worker.join();

    std::set<std::string> seen;
    for (const auto& list : drawn) {
        for (const std::string& nonce : list) {
            ROW(check::show_text(nonce));
            CHECK_EQ(nonce.size(), 32u);
            CHECK(is_lower_hex(nonce));
            seen.insert(nonce);
        }
    }
    CHECK_EQ(seen.size(), static_cast<std::size_t>(threads * per_thread));
}

// A child made by the clone system call itself runs no fork handlers; it must still draw bytes of
// its own rather than hand out the ones its parent holds ahead.
TEST_CASE(nonce_child_of_a_raw_clone_does_not_repeat_its_parent) {
    constexpr int draws = 8;
    CHECK(vemrat::core::generate_nonce().has_value());  // the parent now holds a block drawn ahead
    int pipe_ends[2];
    CHECK_EQ(::pipe(pipe_ends), 0);
    const long child = ::syscall(SYS_clone, SIGCHLD, nullptr, nullptr, nullptr, nullptr);
    if (child == 0) {
        std::string drawn;
        for (int i = 0; i < draws; ++i) {
            const auto nonce = vemrat::core::generate_nonce();
            drawn += nonce ? *nonce : std::string(32, '-');
        }
        const bool written = ::write(pipe_ends[1], drawn.data(), drawn.size()) == static_cast<ssize_t>(drawn.size());
        ::_exit(written ? 0 : 1);
    }
    CHECK(child > 0);
    ::close(pipe_ends[1]);
    std::string in_child;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;) in_child.append(buffer, got);
    ::close(pipe_ends[0]);
    int status = 0;
    ::waitpid(static_cast<pid_t>(child), &status, 0);
    CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    CHECK_EQ(in_child.size(), static_cast<std::size_t>(32 * draws));

    std::set<std::string> seen;
    for (int i = 0; i < draws; ++i) {
        const auto nonce = vemrat::core::generate_nonce();
        if (nonce) seen.insert(*nonce);
    }
    for (std::size_t at = 0; at + 32 <= in_child.size(); at += 32) {
        const std::string nonce = in_child.substr(at, 32);
        ROW(check::show_text(nonce));
        CHECK(is_lower_hex(nonce));
        CHECK(!seen.contains(nonce));
    }
}
