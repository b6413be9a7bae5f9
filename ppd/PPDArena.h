// Memory of one parsed PPD: a bump allocator over 256 KB chunks. Freed chunks
// are kept (up to a bound) for the next parse in the process, because fresh
// pages cost far more than the parse itself on this platform.
#pragma once

#include <cstddef>
#include <memory_resource>
#include <vector>

namespace PPDParser {

class CPPDArena : public std::pmr::memory_resource {
public:
    static constexpr size_t kChunkSize = 256 * 1024;
    // Chunks kept warm for later parses in the process (8 MB: what the largest
    // real PPDs need).
    static constexpr size_t kCachedChunks = 32;

    CPPDArena() = default;
    ~CPPDArena() override;
    CPPDArena(const CPPDArena&) = delete;
    CPPDArena& operator=(const CPPDArena&) = delete;

private:
    void* do_allocate(size_t bytes, size_t alignment) override;
    void do_deallocate(void*, size_t, size_t) override {}  // everything goes with the arena
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

    std::vector<char*> m_chunks;
    std::vector<char*> m_large;
    char* m_next = nullptr;
    char* m_end = nullptr;
};

}  // namespace PPDParser
