#include "core/platform/fork_wiped_memory.hpp"

#include <pthread.h>
#include <sys/mman.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#ifndef MADV_WIPEONFORK
#define MADV_WIPEONFORK 18  // Linux 4.14; older C libraries do not name it
#endif

namespace vemrat::core {

namespace {

std::atomic<std::uint64_t> generation{0};

void after_fork_in_child() { generation.fetch_add(1, std::memory_order_relaxed); }

std::unexpected<std::string> system_failure(const char* what, int error) {
    return std::unexpected(std::string(what) + ": " + std::generic_category().message(error));
}

class ThreadPage {
public:
    ThreadPage() = default;
    ThreadPage(const ThreadPage&) = delete;
    ThreadPage& operator=(const ThreadPage&) = delete;
    ~ThreadPage() {
        if (page_ == nullptr) return;
        std::memset(page_, 0, fork_wiped_page_size);
        ::munmap(page_, fork_wiped_page_size);
    }

    std::expected<void*, std::string> get() {
        if (page_ != nullptr) return page_;
        static const int registered = pthread_atfork(nullptr, nullptr, after_fork_in_child);
        if (registered != 0) return system_failure("could not register a fork handler", registered);
        void* page = ::mmap(nullptr, fork_wiped_page_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED) return system_failure("could not map a page", errno);
        // EINVAL: a kernel without the advice; the fork handler covers fork() there.
        if (::madvise(page, fork_wiped_page_size, MADV_WIPEONFORK) != 0 && errno != EINVAL) {
            const int error = errno;
            ::munmap(page, fork_wiped_page_size);
            return system_failure("could not mark a page to be wiped on fork", error);
        }
        (void)::madvise(page, fork_wiped_page_size, MADV_DONTDUMP);
        page_ = page;
        return page_;
    }

private:
    void* page_ = nullptr;
};

thread_local ThreadPage thread_page;

}  // namespace

std::expected<void*, std::string> thread_fork_wiped_page() { return thread_page.get(); }

std::uint64_t fork_generation() { return generation.load(std::memory_order_relaxed); }

}  // namespace vemrat::core
