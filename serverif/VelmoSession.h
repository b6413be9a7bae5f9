// Protocol sessions of one controller connection. A session opens itself at construction
// and closes itself at destruction. With a ticket it owns that ticket, so its close never
// uses a ticket of a call that has long returned.
#pragma once

#include <windows.h>

#include "serverif/VelmoProtocol.h"

class ServerInterfaceContext;

class VelmoSession {
public:
    VelmoSession(ServerInterfaceContext* context, bool useTicket) noexcept;
    virtual ~VelmoSession() = default;

    VelmoSession(const VelmoSession&) = delete;
    VelmoSession& operator=(const VelmoSession&) = delete;

    // The session record when the session is open and the library gave it a handle, else null.
    virtual VelmoSessionRecord* GetHandle() noexcept;
    // The session's own ticket, or null for a session without one.
    virtual VelmoTicket* GetTicket() noexcept;
    // The ticket wait on the session's ticket; 0 without ticket or context.
    virtual int WaitForTicket() noexcept;

    bool IsOpen() const noexcept { return m_open != 0; }
    // Closes an open session (its ticket wait ends by the deadline); a closed one stays so.
    void Close(ULONGLONG deadline) noexcept;

protected:
    // Readies the ticket for one call (a fresh, zeroed record) and returns it, or null.
    VelmoTicket* ArmTicket() noexcept;
    // Opens through open (its ticket waited for) and keeps close for the session's end;
    // the status. A ticketed open is refused when its ticket cannot be waited for.
    int Open(PFN_LP_openSession open, PFN_LP_closeSession close, ServerConnectionBlock* block) noexcept;

    VelmoSessionRecord m_record = {};
    int32_t m_open = 0;
    ServerInterfaceContext* m_context;
    bool m_useTicket;
    VelmoTicket m_ticket = {};
    PFN_LP_closeSession m_close = nullptr;
};

// Virtual-printer session (LP_openSession / LP_closeSession).
class LPSession : public VelmoSession {
public:
    LPSession(ServerInterfaceContext* context, ServerConnectionBlock* block, bool useTicket) noexcept;
    ~LPSession() override;
};

// Attribute session (ATTR_openSession / ATTR_closeSession).
class ATTRSession : public VelmoSession {
public:
    ATTRSession(ServerInterfaceContext* context, ServerConnectionBlock* block, bool useTicket) noexcept;
    ~ATTRSession() override;
};
