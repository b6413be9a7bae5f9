// This program's operator new (see FailingAllocation.h). The other forms (array, nothrow)
// come from the run-time library, which builds them on this one.
#include "tests/storage/FailingAllocation.h"

#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

volatile DWORD g_thread = 0;  // the armed thread; 0: nothing armed
size_t g_index = 0;
size_t g_count = 0;
bool g_fired = false;

}  // namespace

namespace failalloc {

void FailAllocation(size_t index) {
    g_index = index;
    g_count = 0;
    g_fired = false;
    g_thread = GetCurrentThreadId();
}

bool Disarm() {
    g_thread = 0;
    return g_fired;
}

size_t Counted() { return g_count; }

}  // namespace failalloc

void* operator new(size_t size) {
    if (g_thread != 0 && g_thread == GetCurrentThreadId()) {
        if (g_count++ == g_index) {
            g_fired = true;
            throw std::bad_alloc();
        }
    }
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
