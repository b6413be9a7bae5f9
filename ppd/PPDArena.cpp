// Chunked arena of a parsed PPD with a small process-wide cache of chunks.
#include "ppd/PPDArena.h"

#include <windows.h>

#include <cstdint>
#include <new>

namespace PPDParser {

namespace {

// Constant-initialised, so no construction order or guard is involved.
SRWLOCK g_cacheLock = SRWLOCK_INIT;
char* g_cache[CPPDArena::kCachedChunks] = {};
size_t g_cached = 0;

// Frees the cached chunks when the module goes: a plug-in is loaded and unloaded many
// times in one process, and each time would leave its chunks behind.
struct CacheRelease {
    ~CacheRelease() {
        AcquireSRWLockExclusive(&g_cacheLock);
        for (size_t i = 0; i < g_cached; ++i) ::operator delete(g_cache[i]);
        g_cached = 0;
        ReleaseSRWLockExclusive(&g_cacheLock);
    }
} g_cacheRelease;

// Null when no memory can be had.
char* TakeChunk() {
    AcquireSRWLockExclusive(&g_cacheLock);
    char* chunk = g_cached ? g_cache[--g_cached] : nullptr;
    ReleaseSRWLockExclusive(&g_cacheLock);
    return chunk ? chunk : static_cast<char*>(::operator new(CPPDArena::kChunkSize, std::nothrow));
}

void GiveChunk(char* chunk) {
    AcquireSRWLockExclusive(&g_cacheLock);
    if (g_cached < CPPDArena::kCachedChunks) {
        g_cache[g_cached++] = chunk;
        chunk = nullptr;
    }
    ReleaseSRWLockExclusive(&g_cacheLock);
    ::operator delete(chunk);
}

}  // namespace

CPPDArena::~CPPDArena() {
    for (char* chunk : m_chunks) GiveChunk(chunk);
    for (char* block : m_large) ::operator delete(block);
}

char* CPPDArena::TakeSpareChunk() noexcept { return TakeChunk(); }

void CPPDArena::GiveSpareChunk(char* chunk) noexcept {
    if (chunk) GiveChunk(chunk);
}

void CPPDArena::NewChunk() {
    m_chunks.reserve(m_chunks.size() + 1);
    char* chunk = TakeChunk();
    if (!chunk) throw std::bad_alloc();
    m_chunks.push_back(chunk);
    m_next = chunk;
    m_end = chunk + kChunkSize;
}

void* CPPDArena::do_allocate(size_t bytes, size_t alignment) {
    if (alignment == 0 || (alignment & (alignment - 1)) != 0) alignment = alignof(std::max_align_t);
    // Large texts (a long quoted value) get blocks of their own.
    if (bytes > kChunkSize / 4) {
        char* block = static_cast<char*>(::operator new(bytes + alignment));
        m_large.push_back(block);
        const uintptr_t p = (reinterpret_cast<uintptr_t>(block) + alignment - 1) & ~(uintptr_t(alignment) - 1);
        return reinterpret_cast<void*>(p);
    }
    uintptr_t p = (reinterpret_cast<uintptr_t>(m_next) + alignment - 1) & ~(uintptr_t(alignment) - 1);
    if (!m_next || p + bytes > reinterpret_cast<uintptr_t>(m_end)) {
        NewChunk();
        p = (reinterpret_cast<uintptr_t>(m_next) + alignment - 1) & ~(uintptr_t(alignment) - 1);
    }
    m_next = reinterpret_cast<char*>(p + bytes);
    return reinterpret_cast<void*>(p);
}

}  // namespace PPDParser
