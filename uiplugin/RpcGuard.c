/* The RPC exception guard. x64: built by clang for the MinGW target with Microsoft
 * extensions, whose __try/__except produces the unwind tables that GCC cannot; the code is
 * read in the filter (inside the handler it is no longer available). i686: clang has no
 * __try for MinGW there, so GCC links a handler record into the thread's fs:0 chain by hand;
 * the handler filters, unwinds the frames above it with RtlUnwind and jumps back into the
 * guard with __builtin_longjmp. */
#include <windows.h>

#include "uiplugin/RpcGuard.h"

int RpcGuardPassesThrough(unsigned long code) {
    return code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_STACK_OVERFLOW ||
           code == EXCEPTION_ILLEGAL_INSTRUCTION || code == EXCEPTION_BREAKPOINT;
}

#if defined(_WIN64)

#if !defined(__clang__)
#error "the x64 guard needs clang's __try/__except (see uiplugin/BiDi.cmake)"
#endif

static int GuardFilter(unsigned long code, unsigned long* seen) {
    if (RpcGuardPassesThrough(code)) return EXCEPTION_CONTINUE_SEARCH;
    *seen = code;
    return EXCEPTION_EXECUTE_HANDLER;
}

int RpcGuardedCall(RpcGuardedProc proc, void* args, unsigned long* code) {
    unsigned long seen = 0;
    if (code) *code = 0;
    if (!proc) return 0;
    __try {
        proc(args);
    } __except (GuardFilter(GetExceptionCode(), &seen)) {
        if (code) *code = seen;
        return 0;
    }
    return 1;
}

#else /* i686 */

/* One registration record on the guard's stack: the two words the system walks, then what
 * the handler needs to come back. */
typedef struct GuardRecord {
    EXCEPTION_REGISTRATION_RECORD link;
    void* jump[5]; /* __builtin_setjmp buffer */
    volatile unsigned long code;
} GuardRecord;

static EXCEPTION_REGISTRATION_RECORD* ReadChainHead(void) {
    EXCEPTION_REGISTRATION_RECORD* head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
    return head;
}

static void WriteChainHead(EXCEPTION_REGISTRATION_RECORD* head) {
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory");
}

static EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT* context,
                                                  void* dispatcher) {
    GuardRecord* guard = (GuardRecord*)establisher;
    (void)context;
    (void)dispatcher;
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    if (RpcGuardPassesThrough(record->ExceptionCode)) return ExceptionContinueSearch;
    guard->code = record->ExceptionCode;
    /* Unwinds every record above ours (the dispatcher's and the callee's); ours is then the
     * head again. */
    RtlUnwind(&guard->link, NULL, record, NULL);
    __builtin_longjmp(guard->jump, 1);
}

int __attribute__((noinline)) RpcGuardedCall(RpcGuardedProc proc, void* args, unsigned long* code) {
    GuardRecord guard;
    if (code) *code = 0;
    if (!proc) return 0;
    guard.code = 0;
    guard.link.Handler = (PEXCEPTION_ROUTINE)GuardHandler;
    guard.link.Next = ReadChainHead();
    WriteChainHead(&guard.link);
    if (__builtin_setjmp(guard.jump) == 0) {
        proc(args);
        WriteChainHead(guard.link.Next);
        return 1;
    }
    WriteChainHead(guard.link.Next);
    if (code) *code = guard.code;
    return 0;
}

#endif
