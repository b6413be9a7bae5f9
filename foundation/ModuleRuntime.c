/* What a delivered module's statically linked C++ runtime needs per thread, kept so that a
 * FreeLibrary gives all of it back.
 *
 * MinGW's runtime takes a TLS index, memory and two handles per module instance and per thread
 * and never returns them: libgcc's emulated thread-local storage (every exception and every
 * thread_local) keys its blocks through winpthreads, and winpthreads' pthread_once, which the
 * i686 unwinder calls while registering the module's frame tables at load, makes a thread record
 * under winpthreads' own TLS index (TlsAlloc, a calloc, an event and a duplicated thread handle)
 * that no detach frees. A process that loads and frees a 32-bit module ~1,000 times runs out of
 * TLS indexes and dies.
 *
 * So each module carries its own emulated TLS (one TlsAlloc, given back with TlsFree) and its own
 * once (the link wraps pthread_once), and winpthreads' thread records are never made. The
 * blocks of every thread are listed and freed when the module is unloaded; a thread that ends
 * frees its own through the TLS callback. The libstdc++ emergency exception pool is freed then
 * too. All of this runs after the module's static destructors: the clean-up is the first exit
 * function the module registers, so it is the last one run. */
#include <windows.h>

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* The layout the compiler emits for every thread-local variable (libgcc's ABI). */
struct __emutls_object {
    uintptr_t size;
    uintptr_t align;
    union {
        uintptr_t offset;
        void* ptr;
    } loc;
    void* templ;
};

/* One thread's variables: slot i holds the variable whose offset is i + 1. */
typedef struct ThreadBlocks {
    struct ThreadBlocks* next;
    struct ThreadBlocks* prev;
    uintptr_t count;
    void* slots[];
} ThreadBlocks;

static SRWLOCK g_lock = SRWLOCK_INIT;
static DWORD g_key = TLS_OUT_OF_INDEXES;
static uintptr_t g_offsets;      /* offsets handed out so far */
static ThreadBlocks* g_threads;  /* every thread's blocks, freed at unload */
static volatile LONG g_closed;   /* set once the module is being unloaded */

void __gnu_cxx_freeres(void) __asm__(
#ifdef _WIN64
    "_ZN9__gnu_cxx9__freeresEv"
#else
    "__ZN9__gnu_cxx9__freeresEv"
#endif
);

/* The key, made on first use; TLS_OUT_OF_INDEXES when none can be had. Call under g_lock. */
static DWORD KeyLocked(void)
{
    if (g_key == TLS_OUT_OF_INDEXES) __atomic_store_n(&g_key, TlsAlloc(), __ATOMIC_RELEASE);
    return g_key;
}

static void FreeBlocks(ThreadBlocks* blocks)
{
    for (uintptr_t i = 0; i < blocks->count; ++i)
        if (blocks->slots[i]) free(((void**)blocks->slots[i])[-1]);
    free(blocks);
}

/* Unlinks and frees the calling thread's blocks. */
static void FreeThreadBlocks(void)
{
    AcquireSRWLockExclusive(&g_lock);
    ThreadBlocks* blocks = g_key == TLS_OUT_OF_INDEXES ? NULL : (ThreadBlocks*)TlsGetValue(g_key);
    if (blocks) {
        TlsSetValue(g_key, NULL);
        if (blocks->prev) blocks->prev->next = blocks->next; else g_threads = blocks->next;
        if (blocks->next) blocks->next->prev = blocks->prev;
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (blocks) FreeBlocks(blocks);
}

/* The calling thread's block list with room for offset, grown when needed; null when out of memory. */
static ThreadBlocks* ThreadBlocksFor(uintptr_t offset)
{
    AcquireSRWLockExclusive(&g_lock);
    DWORD key = KeyLocked();
    ThreadBlocks* blocks = key == TLS_OUT_OF_INDEXES ? NULL : (ThreadBlocks*)TlsGetValue(key);
    if (key != TLS_OUT_OF_INDEXES && (!blocks || blocks->count < offset)) {
        uintptr_t count = offset + 16;
        ThreadBlocks* grown = (ThreadBlocks*)realloc(blocks, sizeof(ThreadBlocks) + count * sizeof(void*));
        if (grown) {
            uintptr_t had = blocks ? grown->count : 0;
            memset(grown->slots + had, 0, (count - had) * sizeof(void*));
            grown->count = count;
            if (!blocks) {
                grown->prev = NULL;
                grown->next = g_threads;
                if (g_threads) g_threads->prev = grown;
                g_threads = grown;
            } else {
                if (grown->prev) grown->prev->next = grown; else g_threads = grown;
                if (grown->next) grown->next->prev = grown;
            }
            TlsSetValue(key, grown);
        }
        blocks = grown;
    }
    ReleaseSRWLockExclusive(&g_lock);
    return blocks;
}

/* The calling thread's copy of the variable; the process ends when no memory is left, as the
 * runtime's own version does (a thread-local variable has no way to report failure).
 * A variable this thread has used before is found without the lock: only the owning thread
 * grows or fills its blocks, and they are freed only at its exit or the module's unload. The
 * caller's last-error value is kept, as winpthreads' keys keep it (TlsGetValue clears it). */
void* __emutls_get_address(void* variable)
{
    struct __emutls_object* obj = (struct __emutls_object*)variable;
    uintptr_t offset = __atomic_load_n(&obj->loc.offset, __ATOMIC_ACQUIRE);
    const DWORD lastError = GetLastError();
    if (offset != 0) {
        DWORD key = __atomic_load_n(&g_key, __ATOMIC_ACQUIRE);
        if (key != TLS_OUT_OF_INDEXES) {
            ThreadBlocks* own = (ThreadBlocks*)TlsGetValue(key);
            if (own && own->count >= offset && own->slots[offset - 1]) {
                SetLastError(lastError);
                return own->slots[offset - 1];
            }
        }
    }
    if (offset == 0) {
        AcquireSRWLockExclusive(&g_lock);
        offset = obj->loc.offset;
        if (offset == 0) {
            offset = ++g_offsets;
            __atomic_store_n(&obj->loc.offset, offset, __ATOMIC_RELEASE);
        }
        ReleaseSRWLockExclusive(&g_lock);
    }
    ThreadBlocks* blocks = ThreadBlocksFor(offset);
    if (!blocks) abort();
    void* object = blocks->slots[offset - 1];
    if (!object) {
        uintptr_t align = obj->align > sizeof(void*) ? obj->align : sizeof(void*);
        char* raw = (char*)malloc(obj->size + align + sizeof(void*));
        if (!raw) abort();
        object = (void*)(((uintptr_t)raw + sizeof(void*) + align - 1) & ~(align - 1));
        ((void**)object)[-1] = raw;
        if (obj->templ)
            memcpy(object, obj->templ, obj->size);
        else
            memset(object, 0, obj->size);
        blocks->slots[offset - 1] = object;
    }
    SetLastError(lastError);
    return object;
}

/* Merges a common thread-local variable's definitions: the largest size and alignment win, and
 * only an initialised definition brings a template. */
void __emutls_register_common(void* variable, uintptr_t size, uintptr_t align, void* templ)
{
    struct __emutls_object* obj = (struct __emutls_object*)variable;
    if (obj->size < size) {
        obj->size = size;
        obj->templ = NULL;
    }
    if (obj->align < align) obj->align = align;
    if (templ && size == obj->size) obj->templ = templ;
}

/* pthread_once without winpthreads' thread record: 0 not run, 2 running, 1 done. A routine that
 * throws leaves the once not run, so a later call tries again. */
static void ReopenOnceIfUnfinished(volatile LONG** once)
{
    if (*once) InterlockedCompareExchange(*once, 0, 2);
}

int __wrap_pthread_once(volatile LONG* once, void (*routine)(void))
{
    if (!once || !routine) return EINVAL;
    for (;;) {
        if (__atomic_load_n(once, __ATOMIC_ACQUIRE) == 1) return 0;
        if (InterlockedCompareExchange(once, 2, 0) == 0) {
            volatile LONG* running __attribute__((cleanup(ReopenOnceIfUnfinished))) = once;
            routine();
            InterlockedExchange(once, 1);
            running = NULL;
            return 0;
        }
        SwitchToThread();
    }
}

/* True while the process is ending: its other threads were stopped wherever they were, one of
 * them perhaps inside g_lock, and the system takes back the memory and the index anyway. */
static int ProcessEnding(void)
{
    typedef BOOLEAN(NTAPI * ShutdownQuery)(void);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    ShutdownQuery query = ntdll ? (ShutdownQuery)(void (*)(void))GetProcAddress(ntdll, "RtlDllShutdownInProgress") : NULL;
    return query && query();
}

/* Runs after every other exit function of the module: frees every thread's blocks, the key
 * and the runtime's emergency exception pool. Nothing is freed when the process is ending. */
static void ReleaseModuleRuntime(void)
{
    InterlockedExchange(&g_closed, 1);
    if (ProcessEnding()) return;
    AcquireSRWLockExclusive(&g_lock);
    ThreadBlocks* threads = g_threads;
    g_threads = NULL;
    DWORD key = g_key;
    __atomic_store_n(&g_key, TLS_OUT_OF_INDEXES, __ATOMIC_RELEASE);
    ReleaseSRWLockExclusive(&g_lock);
    while (threads) {
        ThreadBlocks* next = threads->next;
        FreeBlocks(threads);
        threads = next;
    }
    if (key != TLS_OUT_OF_INDEXES) TlsFree(key);
    __gnu_cxx_freeres();
}

/* Registered before any static object is made, so it is the last exit function. */
__attribute__((constructor(101))) static void RegisterModuleRuntimeRelease(void)
{
    atexit(&ReleaseModuleRuntime);
}

/* A thread that leaves the process frees its blocks. */
static void NTAPI ModuleRuntimeThreadCallback(PVOID module, DWORD reason, PVOID reserved)
{
    (void)module;
    (void)reserved;
    if (reason == DLL_THREAD_DETACH && !g_closed) FreeThreadBlocks();
}

__attribute__((section(".CRT$XLT"), used)) static const PIMAGE_TLS_CALLBACK g_threadCallback =
    &ModuleRuntimeThreadCallback;
