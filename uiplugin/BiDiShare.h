// The shared state block through which the two-way clients of every process and the one
// two-way server of a data file find and count each other: 12 bytes of named shared memory
// per data-file stem and session, guarded by one cross-process mutex per session for all
// stems. The block's name is also the server's RPC endpoint.
#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/AutoMutex.h"

// The GUID text that names the block after the stem.
inline constexpr wchar_t kBiDiShareGuid[] = L"{01581BEB-3E9F-4a55-9C8B-E3EF66344B5E}";
// The mutex held around every count change, a client's decision to start a server and a
// server's decision to load its library.
inline constexpr wchar_t kBiDiShareMutexName[] = L"{DEADE49F-0F51-48a6-9853-84DBE9985AFF}";
// Appended to the block's name: the mutex a serving server holds (abandoned when it dies).
inline constexpr wchar_t kBiDiServingSuffix[] = L":Serving";

// The shared words, native byte order.
struct BiDiShareBlock {
    uint32_t clientCount;
    uint32_t serverCount;
    uint32_t lastActivity;  // kernel tick count of the last client registration or removal
};
static_assert(sizeof(BiDiShareBlock) == 12, "the shared block is 12 bytes in both widths");

// The session of this process. Named kernel objects without a prefix live per session, while
// an "ncalrpc" endpoint is machine-wide: the session's id goes into every name of the road so
// that each session (each user on a terminal server) has its own block, mutex and server.
DWORD GetBiDiSessionId() noexcept;
// "<base>:<session>" as a new[] text, or null. The one naming rule of Quenta and Brimsa.
wchar_t* MakeBiDiSessionName(const wchar_t* base, DWORD session) noexcept;
// A security descriptor admitting only this process's user and SYSTEM (LocalFree it), or null:
// the endpoint, the block and the mutexes carry the same access list.
PSECURITY_DESCRIPTOR MakeBiDiSecurity() noexcept;

// The named cross-process mutex of the blocks of this session.
class BiDiShareMutex : public AutoMutex {
public:
    BiDiShareMutex() noexcept;
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

    // "<stem>:<guid>:<session>", also the RPC endpoint; null when no name was formed.
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
    // Forgets the servers counted by processes that died without uncounting themselves.
    void ClearServers() noexcept;

    // Whether a server holds this block's serving mutex now. A server that died leaves it
    // abandoned, a server that ended leaves it free or gone: both answer false.
    bool IsServerAlive() const noexcept;
    // The serving mutex (created when missing, with the block's access list), not held; the
    // caller closes it. Null without a name.
    HANDLE OpenServingMutex() const noexcept;

private:
    HANDLE m_mapping = nullptr;
    BiDiShareBlock* m_view = nullptr;
    bool m_creator = false;
    wchar_t* m_name = nullptr;
};
