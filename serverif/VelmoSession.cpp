// Protocol sessions: open at construction, close at destruction, each with its own ticket.
#include "serverif/VelmoSession.h"

#include <type_traits>

#include "serverif/ServerInterfaceContext.h"

VelmoSession::VelmoSession(ServerInterfaceContext* context, bool useTicket) noexcept
    : m_context(context), m_useTicket(useTicket)
{
}

VelmoSessionRecord* VelmoSession::GetHandle() noexcept
{
    return m_open && m_record.handle ? &m_record : nullptr;
}

VelmoTicket* VelmoSession::GetTicket() noexcept { return m_useTicket ? &m_ticket : nullptr; }

int VelmoSession::WaitForTicket() noexcept
{
    VelmoTicket* ticket = GetTicket();
    return ticket && m_context ? m_context->WaitForTicket(ticket) : 0;
}

VelmoTicket* VelmoSession::ArmTicket() noexcept
{
    m_ticket = VelmoTicket{};
    return GetTicket();
}

int VelmoSession::Open(int openEntry, ServerConnectionBlock* block) noexcept
{
    auto open = m_context ? m_context->Entry<PFN_LP_openSession>(static_cast<VelmoEntry>(openEntry)) : nullptr;
    if (!open)
        return -1;
    VelmoTicket* ticket = ArmTicket();
    int status = open(block, &m_record, ticket);
    const int waited = ticket ? WaitForTicket() : 0;
    if (status == 0)
        status = waited;
    m_open = status == 0;
    return status;
}

void VelmoSession::Close(int closeEntry) noexcept
{
    // Only an open session closes, and only through a bound entry point.
    auto close = m_context ? m_context->Entry<PFN_LP_closeSession>(static_cast<VelmoEntry>(closeEntry)) : nullptr;
    if (!m_open || !close)
        return;
    VelmoTicket* ticket = ArmTicket();
    close(&m_record, ticket);
    if (ticket)
        WaitForTicket();
    m_open = 0;
}

// LP_openSession and ATTR_openSession (and the two closes) share one signature.
static_assert(std::is_same_v<PFN_LP_openSession, PFN_ATTR_openSession>);
static_assert(std::is_same_v<PFN_LP_closeSession, PFN_ATTR_closeSession>);

LPSession::LPSession(ServerInterfaceContext* context, ServerConnectionBlock* block, bool useTicket) noexcept
    : VelmoSession(context, useTicket)
{
    Open(LP_openSession, block);
}

LPSession::~LPSession() { Close(LP_closeSession); }

ATTRSession::ATTRSession(ServerInterfaceContext* context, ServerConnectionBlock* block, bool useTicket) noexcept
    : VelmoSession(context, useTicket)
{
    Open(ATTR_openSession, block);
}

ATTRSession::~ATTRSession() { Close(ATTR_closeSession); }
