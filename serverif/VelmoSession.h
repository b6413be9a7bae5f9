// Protocol sessions of one controller connection. A session opens itself at construction
// and closes itself at destruction. With a ticket it owns that ticket, so its close never
// uses a ticket of a call that has long returned.
#pragma once

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

protected:
    // Readies the ticket for one call (a fresh, zeroed record) and returns it, or null.
    VelmoTicket* ArmTicket() noexcept;
    // Opens through the given open entry point (its ticket waited for); the status.
    int Open(int openEntry, ServerConnectionBlock* block) noexcept;
    // Closes an open session through the given close entry point, when bound.
    void Close(int closeEntry) noexcept;

    VelmoSessionRecord m_record = {};
    int32_t m_open = 0;
    ServerInterfaceContext* m_context;
    bool m_useTicket;
    VelmoTicket m_ticket = {};
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
