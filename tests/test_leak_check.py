"""The leak check of the sanitizer run (scripts/sanitize.sh), seen from a child process that
inherits its settings: a lost block is reported, a block that a live thread still holds through
a thread_local of a dlopen'ed library is not, and neither outcome depends on where the C library
put that thread's TLS block.

Each thread of the child takes the 8-byte TLS block of the library as its first small
allocation, which the sanitizer's allocator places 16 bytes past a page boundary: the address at
which GCC 12's runtime misreads the block's size when it follows __tls_get_addr."""

import os
import subprocess

import pytest

pytestmark = pytest.mark.skipif(
    os.environ.get("VEMRAT_PAY_SANITIZED") != "1", reason="checks the settings of the sanitizer run"
)

LIBRARY = r"""
#include <stdlib.h>
__thread void *slot;
void keep(size_t size) { slot = malloc(size); }
"""

# usage: program LIBRARY KEPT_SIZE LOST_SIZE; every thread keeps a block of KEPT_SIZE bytes in
# its TLS and waits, the main thread loses one of LOST_SIZE bytes (0: none) and returns.
PROGRAM = r"""
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

enum { THREADS = 4 };
static void (*keep)(size_t);
static size_t kept_size;
static pthread_barrier_t all_kept;

static void *hold(void *unused) {
    keep(kept_size);
    pthread_barrier_wait(&all_kept);
    for (;;) pause();
    return unused;
}

int main(int argc, char **argv) {
    if (argc != 4) return 2;
    void *library = dlopen(argv[1], RTLD_NOW);
    if (library == NULL) { fprintf(stderr, "%s\n", dlerror()); return 2; }
    keep = (void (*)(size_t))dlsym(library, "keep");
    kept_size = strtoul(argv[2], NULL, 10);
    pthread_barrier_init(&all_kept, NULL, THREADS + 1);
    for (int i = 0; i < THREADS; i++) {
        pthread_t thread;
        if (pthread_create(&thread, NULL, hold, NULL) != 0) return 2;
    }
    pthread_barrier_wait(&all_kept);
    size_t lost_size = strtoul(argv[3], NULL, 10);
    if (lost_size != 0) {
        void *volatile lost = malloc(lost_size);
        lost = NULL;
    }
    return 0;
}
"""


@pytest.fixture(scope="module")
def program(tmp_path_factory):
    """The child program and its library, built without the sanitizer runtime, which would
    report the compiler's own leaks."""
    directory = tmp_path_factory.mktemp("leak_check")
    (directory / "library.c").write_text(LIBRARY)
    (directory / "program.c").write_text(PROGRAM)
    plain = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "LSAN_OPTIONS")}
    for command in (
        ["cc", "-shared", "-fPIC", "-o", "library.so", "library.c"],
        ["cc", "-pthread", "-o", "program", "program.c", "-ldl"],
    ):
        subprocess.run(command, cwd=directory, env=plain, check=True)
    return directory


@pytest.mark.parametrize(
    "kept_size, lost_size, reported",
    [
        (111, 0, None),
        (111, 4242, "Direct leak of 4242 byte(s) in 1 object(s)"),
    ],
    ids=["a block held through TLS is not a leak", "a lost block is reported"],
)
def test_leak_check(program, kept_size, lost_size, reported):
    run = subprocess.run(
        [str(program / "program"), str(program / "library.so"), str(kept_size), str(lost_size)],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert "LeakSanitizer has encountered a fatal error" not in run.stderr, run.stderr
    if reported is None:
        assert run.returncode == 0, run.stderr
        assert "leak" not in run.stderr, run.stderr
    else:
        assert run.returncode != 0
        assert reported in run.stderr, run.stderr
        assert f"{kept_size} byte(s)" not in run.stderr, run.stderr
