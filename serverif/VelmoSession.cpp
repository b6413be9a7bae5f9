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

int VelmoSession::Open(PFN_LP_openSession open, PFN_LP_closeSession close, ServerConnectionBlock* block) noexcept
{
    m_close = close;
    if (!open || !m_context)
        return -1;
    // The library would write the record of this session after the wait gave up on it.
    if (m_useTicket && !m_context->HasTicketEntries())
        return kVelmoTicketUnavailable;
    VelmoTicket* ticket = ArmTicket();
    int status = open(block, &m_record, ticket);
    const int waited = ticket ? WaitForTicket() : 0;
    if (status == 0)
        status = waited;
    m_open = status == 0;
    return status;
}

void VelmoSession::Close(ULONGLONG deadline) noexcept
{
    // Only an open session closes, and only through a bound entry point.
    if (!m_open || !m_close || !m_context)
        return;
    // Without the ticket entry points the close runs synchronously.
    VelmoTicket* ticket = m_context->HasTicketEntries() ? ArmTicket() : nullptr;
    m_close(&m_record, ticket);
    if (ticket)
        m_context->WaitForTicket(ticket, deadline);
    m_open = 0;
}

// LP_openSession and ATTR_openSession (and the two closes) share one signature.
static_assert(
    std::is_same_v<VelmoEntryType<VelmoEntry::LP_openSession>, VelmoEntryType<VelmoEntry::ATTR_openSession>>);
static_assert(
    std::is_same_v<VelmoEntryType<VelmoEntry::LP_closeSession>, VelmoEntryType<VelmoEntry::ATTR_closeSession>>);

LPSession::LPSession(ServerInterfaceContext* context, ServerConnectionBlock* block, bool useTicket) noexcept
    : VelmoSession(context, useTicket)
{
    if (context)
        Open(context->Entry<VelmoEntry::LP_openSession>(), context->Entry<VelmoEntry::LP_closeSession>(), block);
}

LPSession::~LPSession() { Close(ServerInterfaceContext::TicketDeadline()); }

ATTRSession::ATTRSession(ServerInterfaceContext* context, ServerConnectionBlock* block, bool useTicket) noexcept
    : VelmoSession(context, useTicket)
{
    if (context)
        Open(context->Entry<VelmoEntry::ATTR_openSession>(), context->Entry<VelmoEntry::ATTR_closeSession>(), block);
}

ATTRSession::~ATTRSession() { Close(ServerInterfaceContext::TicketDeadline()); }
