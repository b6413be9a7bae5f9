// Protocol sessions: open at construction, close at destruction, each with its own ticket.
#include "serverif/VelmoSession.h"

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

namespace {

// Runs one session call with the session's ticket: the call's own failure, else the ticket's.
template <class Call>
int RunTicketed(VelmoSession& session, VelmoTicket* ticket, Call call)
{
    const int status = call(ticket);
    const int waited = ticket ? session.WaitForTicket() : 0;
    return status != 0 ? status : waited;
}

}  // namespace

LPSession::LPSession(ServerInterfaceContext* context, ServerConnectionBlock* block, bool useTicket) noexcept
    : VelmoSession(context, useTicket)
{
    auto open = context ? context->Entry<PFN_LP_openSession>(LP_openSession) : nullptr;
    if (!open)
        return;
    const int status =
        RunTicketed(*this, ArmTicket(), [&](VelmoTicket* ticket) { return open(block, &m_record, ticket); });
    m_open = status == 0;
}

LPSession::~LPSession()
{
    auto close = m_context ? m_context->Entry<PFN_LP_closeSession>(LP_closeSession) : nullptr;
    if (!m_open || !close)
        return;
    RunTicketed(*this, ArmTicket(), [&](VelmoTicket* ticket) { return close(&m_record, ticket); });
    m_open = 0;
}

ATTRSession::ATTRSession(ServerInterfaceContext* context, ServerConnectionBlock* block, bool useTicket) noexcept
    : VelmoSession(context, useTicket)
{
    auto open = context ? context->Entry<PFN_ATTR_openSession>(ATTR_openSession) : nullptr;
    if (!open)
        return;
    const int status =
        RunTicketed(*this, ArmTicket(), [&](VelmoTicket* ticket) { return open(block, &m_record, ticket); });
    m_open = status == 0;
}

ATTRSession::~ATTRSession()
{
    auto close = m_context ? m_context->Entry<PFN_ATTR_closeSession>(ATTR_closeSession) : nullptr;
    if (!m_open || !close)
        return;
    RunTicketed(*this, ArmTicket(), [&](VelmoTicket* ticket) { return close(&m_record, ticket); });
    m_open = 0;
}
