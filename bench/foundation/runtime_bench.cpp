// The delivered modules' own thread-local storage: the cost of one thread_local access and of
// one exception thrown and caught (the runtime keeps its exception globals thread-local), from
// one thread and from eight threads at once. Linked with the modules' runtime layer, as the
// plug-ins are.
#include <windows.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "bench/BenchClock.h"

namespace {

thread_local unsigned long t_counter = 0;

__attribute__((noinline)) void Touch() { ++t_counter; }

__attribute__((noinline)) void Throw(int value) { throw value; }

unsigned long Accesses(int count) {
    for (int i = 0; i < count; ++i) Touch();
    return t_counter;
}

int Throws(int count) {
    int caught = 0;
    for (int i = 0; i < count; ++i) {
        try {
            Throw(i);
        } catch (int) {
            ++caught;
        }
    }
    return caught;
}

// Runs work on threads at once; the wall time in seconds.
template <typename Work>
double OnThreads(int threads, Work work) {
    std::vector<std::thread> running;
    const double start = BenchSeconds();
    for (int i = 0; i < threads; ++i) running.emplace_back(work);
    for (std::thread& thread : running) thread.join();
    return BenchSeconds() - start;
}

}  // namespace

int main() {
    constexpr int kAccesses = 20000000, kThrows = 20000;
    for (int threads : {1, 8}) {
        const double accessSeconds = OnThreads(threads, [] { Accesses(kAccesses); });
        std::printf("thread_local access, %d thread(s): %.2f ns per access\n", threads,
                    accessSeconds * 1e9 / kAccesses);
        const double throwSeconds = OnThreads(threads, [] { Throws(kThrows); });
        std::printf("throw and catch, %d thread(s): %.2f us per exception\n", threads, throwSeconds * 1e6 / kThrows);
    }
    return 0;
}
