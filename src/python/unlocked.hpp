// Blocking work done without the interpreter lock, with Python's signal handlers run between the
// retries of an interrupted system call.
#pragma once

#include <Python.h>

namespace vemrat::py {

// Runs `work(after_signal)` with the interpreter lock released, so that the other threads run
// while it blocks, and returns what it returns. `work` calls `after_signal()` when a signal
// interrupted one of its system calls: that takes the lock back, runs the signal handlers
// (Ctrl-C's raises KeyboardInterrupt) and releases the lock again; it returns false when a handler
// raised, and the exception is then pending when this returns (`raised` is set).
template <class Work>
auto run_unlocked(bool& raised, Work&& work) {
    struct Unlocked {
        PyThreadState* state = PyEval_SaveThread();
        Unlocked() = default;
        Unlocked(const Unlocked&) = delete;
        Unlocked& operator=(const Unlocked&) = delete;
        ~Unlocked() { PyEval_RestoreThread(state); }
    } unlocked;
    raised = false;
    return work([&unlocked, &raised] {
        PyEval_RestoreThread(unlocked.state);
        raised = PyErr_CheckSignals() != 0;
        unlocked.state = PyEval_SaveThread();
        return !raised;
    });
}

}  // namespace vemrat::py
