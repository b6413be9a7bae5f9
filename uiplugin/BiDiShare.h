// The shared state block through which the two-way clients of every process and the one
// two-way server of a data file find and count each other: 12 bytes of named shared memory
// per data-file stem, guarded by one cross-process mutex for all stems. The block's name is
// also the server's RPC endpoint.
#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/AutoMutex.h"

// The GUID text that names the block after the stem.
inline constexpr wchar_t kBiDiShareGuid[] = L"{01581BEB-3E9F-4a55-9C8B-E3EF66344B5E}";
// The mutex held around every count change, a client's decision to start a server and a
// server's decision to load its library.
inline constexpr wchar_t kBiDiShareMutexName[] = L"{DEADE49F-0F51-48a6-9853-84DBE9985AFF}";

// The shared words, native byte order.
struct BiDiShareBlock {
    uint32_t clientCount;
    uint32_t serverCount;
    uint32_t lastActivity;  // kernel tick count of the last client registration or removal
};
static_assert(sizeof(BiDiShareBlock) == 12, "the shared block is 12 bytes in both widths");

// The named cross-process mutex of the blocks.
class BiDiShareMutex : public AutoMutex {
public:
    BiDiShareMutex() noexcept : AutoMutex(kBiDiShareMutexName) {}
};

class CBiDiShare {
public:
    // guid: the name's GUID text; path: a file whose stem names the block (the data file, or
    // the print-server library with the same stem). Without a usable path the mapping is
    // named by the GUID alone and GetName answers null. A block that cannot be made leaves
    // every counter reading 0.
    CBiDiShare(const wchar_t* guid, const wchar_t* path) noexcept;
    virtual ~CBiDiShare();
    CBiDiShare(const CBiDiShare&) = delete;
    CBiDiShare& operator=(const CBiDiShare&) = delete;

    // "<stem>:<guid>", also the RPC endpoint; null when no name was formed.
    const wchar_t* GetName() const noexcept { return m_name; }
    // True when this object created the mapping.
    bool IsCreator() const noexcept { return m_creator; }
    bool IsMapped() const noexcept { return m_view != nullptr; }

    // The words; 0 when the view is not mapped. Callers hold the mutex around the counts.
    DWORD GetClientCount() const noexcept;
    DWORD GetServerCount() const noexcept;
    DWORD GetLastActivity() const noexcept;

    // Count a client in or out and stamp the activity tick; the new count (never below 0).
    DWORD AddClient() noexcept;
    DWORD RemoveClient() noexcept;
    // Count a server in or out (the tick is left alone); the new count (never below 0).
    DWORD AddServer() noexcept;
    DWORD RemoveServer() noexcept;

private:
    HANDLE m_mapping = nullptr;
    BiDiShareBlock* m_view = nullptr;
    bool m_creator = false;
    wchar_t* m_name = nullptr;
};
