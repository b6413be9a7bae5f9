// Memory of one parsed PPD: a bump allocator over 256 KB chunks. Freed chunks
// are kept (up to a bound) for the next parse in the process, because fresh
// pages cost far more than the parse itself on this platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <vector>

namespace PPDParser {

class CPPDArena : public std::pmr::memory_resource {
public:
    static constexpr size_t kChunkSize = 256 * 1024;
    // Chunks kept warm for later parses in the process (8 MB: what the largest
    // real PPDs need).
    static constexpr size_t kCachedChunks = 32;

    // A chunk-sized block from the cache (or new; null without memory), for a reader's
    // buffer, and its return.
    static char* TakeSpareChunk() noexcept;
    static void GiveSpareChunk(char* chunk) noexcept;

    CPPDArena() = default;
    ~CPPDArena() override;
    CPPDArena(const CPPDArena&) = delete;
    CPPDArena& operator=(const CPPDArena&) = delete;

    // What allocate does, without the virtual call on the common path.
    void* Allocate(size_t bytes, size_t alignment) {
        const uintptr_t p = (reinterpret_cast<uintptr_t>(m_next) + alignment - 1) & ~(uintptr_t(alignment) - 1);
        if (m_next && bytes <= kChunkSize / 4 && p + bytes <= reinterpret_cast<uintptr_t>(m_end)) {
            m_next = reinterpret_cast<char*>(p + bytes);
            return reinterpret_cast<void*>(p);
        }
        return allocate(bytes, alignment);
    }
    // Room for chars wide characters.
    wchar_t* AllocText(size_t chars) { return static_cast<wchar_t*>(Allocate(chars * sizeof(wchar_t), alignof(wchar_t))); }
    // Room for up to chars wide characters, of which TakeText then keeps the first
    // (nothing else may be allocated in between): a line is read straight into the arena.
    wchar_t* TextRoom(size_t chars) {
        const size_t bytes = chars * sizeof(wchar_t);
        // A fresh chunk when the line may not fit (the rest of the current one is little).
        if (!m_next || bytes > static_cast<size_t>(m_end - m_next)) NewChunk();
        return reinterpret_cast<wchar_t*>(m_next);
    }
    void TakeText(size_t chars) { m_next += chars * sizeof(wchar_t); }

private:
    void NewChunk();
    void* do_allocate(size_t bytes, size_t alignment) override;
    void do_deallocate(void*, size_t, size_t) override {}  // everything goes with the arena
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

    std::vector<char*> m_chunks;
    std::vector<char*> m_large;
    char* m_next = nullptr;
    char* m_end = nullptr;
};

}  // namespace PPDParser
