// The sixteen exports: each checks the context and its preconditions, then translates
// between the caller's wide texts and records and the protocol libraries' 8-bit arrays.
// No export throws; every failure is QVSERVER_FAILED.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "foundation/StrUtil.h"
#include "serverif/ServerInterface.h"
#include "serverif/ServerInterfaceContext.h"
#include "serverif/VelmoSession.h"

namespace {

constexpr UINT kAnsi = kThreadAnsiCodePage;

ServerInterfaceContext* ContextOf(ServerInterfaceContext** context) noexcept
{
    return context ? *context : nullptr;
}

bool IsValidBlock(const ServerConnectionBlock* block) noexcept { return block && block->self == block; }

INT_PTR Result(bool succeeded) noexcept { return succeeded ? QVSERVER_OK : QVSERVER_FAILED; }

// A ticketed library call: its own failure status, else the ticket's final status; the
// wait ends by the deadline. Refused when the ticket cannot be waited for: the library's
// work would write into this frame (the ticket, the outputs) after it returned.
template <class Call>
int CallWithTicket(ServerInterfaceContext& context, Call call,
                   ULONGLONG deadline = ServerInterfaceContext::TicketDeadline())
{
    if (!context.HasTicketEntries())
        return kVelmoTicketUnavailable;
    VelmoTicket ticket = {};
    const int status = call(&ticket);
    const int waited = context.WaitForTicket(&ticket, deadline);
    return status != 0 ? status : waited;
}

// The handle of a session, or null (no session, or one that did not open).
VelmoSessionRecord* HandleOf(const VelmoSessionUse& session) noexcept
{
    return session ? session->GetHandle() : nullptr;
}

// Appends a record, deleting it when the list cannot take it.
void Append(QVObList& list, QVKeyVal* record) noexcept
{
    if (record && !list.AddTail(record))
        delete record;
}

QVKeyVal* MakeRecord(const std::wstring& key, const std::wstring& value) noexcept
{
    return new (std::nothrow) QVKeyVal(key.c_str(), value.c_str());
}

bool IsYes(const char* value) noexcept { return EqualsNoCase(value, "yes") || EqualsNoCase(value, "1"); }

// The primary value of one attribute (synchronous); false when the call fails or no value
// is flagged primary. The value arrays are always given back.
bool ReadPrimaryValue(ServerInterfaceContext& context, VelmoSessionRecord* session, const char* name,
                      std::string& value)
{
    value.clear();
    auto getValues = context.Entry<VelmoEntry::ATTR_getAttributeValues>();
    char** values = nullptr;
    int32_t* flags = nullptr;
    int32_t count = 0;
    const int status = getValues(session, 0, name, &values, &flags, &count, nullptr);
    const char* primary = status == 0 ? FindPrimaryValue(values, flags, count) : nullptr;
    if (primary)
        value = primary;
    context.FreeValueArrays(values, flags, count);
    return primary != nullptr;
}

INT_PTR GetInstallables(ServerInterfaceContext& context, ServerConnectionBlock* block, QVObList* list)
{
    if (!context.IsBound(VelmoEntry::ATTR_openSession) || !context.IsBound(VelmoEntry::ATTR_closeSession) ||
        !context.IsBound(VelmoEntry::ATTR_getAttributeValues) || !context.IsBound(VelmoEntry::ATTR_getAttributeKeys) ||
        !context.IsBound(VelmoEntry::velmo_free) || !context.HasTicketEntries() || !list || !IsValidBlock(block))
        return QVSERVER_FAILED;
    const VelmoSessionUse use = context.GetATTRSession(block, true);
    VelmoSessionRecord* session = HandleOf(use);
    if (!session)
        return QVSERVER_FAILED;
    auto getKeys = context.Entry<VelmoEntry::ATTR_getAttributeKeys>();
    auto getValues = context.Entry<VelmoEntry::ATTR_getAttributeValues>();

    char** names = nullptr;
    char** second = nullptr;
    char** third = nullptr;
    int32_t count = 0;
    auto askKeys = [&](const char* key) {
        return CallWithTicket(context, [&](VelmoTicket* ticket) {
            return getKeys(session, 0, key, &names, &second, &third, &count, ticket);
        });
    };
    int status = askKeys("fpinstallableoptions");
    if (status == -17) {
        // Older controllers keep their installable options under the other key.
        context.FreeStringArray(names, count);
        context.FreeStringArray(second, count);
        context.FreeStringArray(third, count);
        names = second = third = nullptr;
        count = 0;
        status = askKeys("qvppinstallableoptions");
    }
    if (status == 0 && names) {
        for (int32_t i = 0; i < count; ++i) {
            const char* name = names[i];
            if (!name)
                continue;
            char** values = nullptr;
            int32_t* flags = nullptr;
            int32_t valueCount = 0;
            const int valueStatus = CallWithTicket(context, [&](VelmoTicket* ticket) {
                return getValues(session, 0, name, &values, &flags, &valueCount, ticket);
            });
            const char* value = nullptr;
            if (valueStatus == 0) {
                value = FindPrimaryValue(values, flags, valueCount);
                if (!value)
                    value = FindSecondaryValue(values, flags, valueCount);
            }
            Append(*list, MakeRecord(ToWideText(name, kAnsi), ToWideText(value, kAnsi)));
            context.FreeValueArrays(values, flags, valueCount);
            // A controller that let one ticket run out is not asked for the rest.
            if (valueStatus == kVelmoTicketTimedOut)
                break;
        }
    }
    context.FreeStringArray(names, count);
    context.FreeStringArray(second, count);
    context.FreeStringArray(third, count);
    return QVSERVER_OK;
}

INT_PTR GetFeatures(ServerInterfaceContext& context, ServerConnectionBlock* block, QVObList* list)
{
    if (!context.IsBound(VelmoEntry::FEAT_getFeatureList) || !context.IsBound(VelmoEntry::SERVER_getInfo) ||
        !context.IsBound(VelmoEntry::SERVER_freeInfo) || !context.IsBound(VelmoEntry::ATTR_openSession) ||
        !context.IsBound(VelmoEntry::ATTR_closeSession) || !context.IsBound(VelmoEntry::ATTR_getAttributeValues) ||
        !context.IsBound(VelmoEntry::velmo_free) || !context.HasTicketEntries() || !list || !IsValidBlock(block))
        return QVSERVER_FAILED;

    // 1. The feature list, "yes" and "no" as 1 and 0.
    auto getFeatures = context.Entry<VelmoEntry::FEAT_getFeatureList>();
    char** names = nullptr;
    char** values = nullptr;
    int32_t count = 0;
    const int status = CallWithTicket(
        context, [&](VelmoTicket* ticket) { return getFeatures(block, &names, &values, &count, ticket); });
    if (status == 0 && names && values) {
        for (int32_t i = 0; i < count; ++i) {
            if (!names[i])
                continue;
            const char* value = values[i] ? values[i] : "";
            if (EqualsNoCase(value, "yes"))
                value = "1";
            else if (EqualsNoCase(value, "no"))
                value = "0";
            DebugTrace("%s######%s\n", names[i], value);
            Append(*list, MakeRecord(ToWideText(names[i], kAnsi), ToWideText(value, kAnsi)));
        }
    }
    context.FreeStringArray(names, count);
    context.FreeStringArray(values, count);

    // 2. The installed memory, followed by one blank.
    std::string memory;
    const VelmoSessionUse use = context.GetATTRSession(block, false);
    if (VelmoSessionRecord* session = HandleOf(use)) {
        std::string primary;
        if (ReadPrimaryValue(context, session, "PHYSMEMSIZE", primary)) {
            memory = primary.substr(0, 62);
            memory += ' ';
        }
    }

    // 3-5. The server information.
    auto getInfo = context.Entry<VelmoEntry::SERVER_getInfo>();
    auto freeInfo = context.Entry<VelmoEntry::SERVER_freeInfo>();
    VelmoServerInfo* info = nullptr;
    if (getInfo(block, &info, 0) != 0 || !info)
        return QVSERVER_OK;
    std::wstring name = ToWideText(info->name, kAnsi);
    std::wstring version = ToWideText(info->version, kAnsi);
    TruncateAtLineBreak(name.data());
    TruncateAtLineBreak(version.data());
    wchar_t disk[64] = {};
    FormatToBuffer(disk, 64, L"%d / %d ", static_cast<int>(info->diskTotal >> 20),
                   static_cast<int>(info->diskFree >> 20));
    Append(*list, MakeRecord(L"QVDRVServerName", name.c_str()));
    Append(*list, MakeRecord(L"QVDRVServerVersion", version.c_str()));
    Append(*list, MakeRecord(L"QVDRVDiskSpace", disk));
    Append(*list, MakeRecord(L"QVDRVMemory", ToWideText(memory.c_str(), kAnsi)));
    freeInfo(block, info, 0);
    return QVSERVER_OK;
}

INT_PTR GetEmailNotify(ServerInterfaceContext& context, ServerConnectionBlock* block,
                       QVEmailNotification* notification)
{
    if (!context.IsBound(VelmoEntry::ATTR_openSession) || !context.IsBound(VelmoEntry::ATTR_getAttributeValues) ||
        !context.IsBound(VelmoEntry::ATTR_closeSession) || !context.IsBound(VelmoEntry::velmo_free) || !notification ||
        !IsValidBlock(block))
        return QVSERVER_FAILED;
    const VelmoSessionUse use = context.GetATTRSession(block, false);
    VelmoSessionRecord* session = HandleOf(use);
    if (!session)
        return QVSERVER_FAILED;
    std::string capable, enabled;
    const bool isCapable = ReadPrimaryValue(context, session, "MAIL_capable", capable) && IsYes(capable.c_str());
    const bool isEnabled = ReadPrimaryValue(context, session, "MAIL_enable", enabled) && IsYes(enabled.c_str());
    if (isCapable && isEnabled)
        notification->SetReady(1);
    return QVSERVER_OK;
}

const char* const kDefaultNames[12] = {
    "LDAP_capable", "LDAP_enable", "LDAP_server", "LDAP_port", "LDAP_user", "LDAP_domain",
    "LDAP_searchKey", "LDAP_authReq", "LDAP_secure_comm_enabled", "LDAP_authType", "WS_PRINT_QUEUE",
    "WS_PRINT_ENABLE",
};

INT_PTR GetDefaults(ServerInterfaceContext& context, ServerConnectionBlock* block, QVObList* list)
{
    if (!list || !IsValidBlock(block) || !context.IsBound(VelmoEntry::ATTR_openSession) ||
        !context.IsBound(VelmoEntry::ATTR_closeSession) || !context.IsBound(VelmoEntry::ATTR_getMultipleDefaults) ||
        !context.IsBound(VelmoEntry::velmo_free))
        return QVSERVER_FAILED;
    const VelmoSessionUse use = context.GetATTRSession(block, false);
    VelmoSessionRecord* session = HandleOf(use);
    if (!session)
        return QVSERVER_FAILED;
    auto getDefaults = context.Entry<VelmoEntry::ATTR_getMultipleDefaults>();
    char** values = nullptr;
    int32_t count = 0;
    const int status = getDefaults(session, 0, kDefaultNames, &values, 12, &count, 0);
    if (status == 0 && values) {
        // The names are ours: never read past them, whatever count the library reports.
        const int32_t used = std::min<int32_t>(count, 12);
        for (int32_t i = 0; i < used; ++i) {
            if (!values[i])
                continue;
            Append(*list, MakeRecord(ToWideText(kDefaultNames[i], CP_UTF8), ToWideText(values[i], CP_UTF8)));
        }
    }
    context.FreeStringArray(values, count);
    return QVSERVER_OK;
}

bool IsReportedAttribute(const char* name) noexcept
{
    return !strchr(name, ' ') || EqualsNoCase(name, "num copies");
}

INT_PTR GetVPAttributes(ServerInterfaceContext& context, ServerConnectionBlock* block, const wchar_t* printer,
                        QVObList* all, QVObList* flagged)
{
    // velmo_free gives the attribute record back: without it the record would leak.
    if (!context.IsBound(VelmoEntry::LP_openSession) || !context.IsBound(VelmoEntry::LP_closeSession) ||
        !context.IsBound(VelmoEntry::LP_getAttributes) || !context.IsBound(VelmoEntry::velmo_free) || !all ||
        !flagged || !IsValidBlock(block))
        return QVSERVER_FAILED;
    std::string name;
    if (!ToNarrowExact(printer, kAnsi, name))
        return QVSERVER_FAILED;
    const VelmoSessionUse use = context.GetLPSession(block, false);
    VelmoSessionRecord* session = HandleOf(use);
    if (!session)
        return QVSERVER_FAILED;
    auto getAttributes = context.Entry<VelmoEntry::LP_getAttributes>();
    LPAttributeRecord* record = nullptr;
    getAttributes(session, name.c_str(), &record, 0);
    const int32_t count =
        record && record->names && record->values && record->flags ? std::max<int32_t>(record->count, 0) : 0;

    bool hidden = false;
    for (int32_t i = 0; i < count && !hidden; ++i)
        hidden = EqualsNoCase(record->names[i], "LP Hidden") && IsYes(record->values[i]);
    if (hidden) {
        for (int32_t i = 0; i < count; ++i) {
            const char* key = record->names[i];
            const char* value = record->values[i];
            if (!key || !value || !IsReportedAttribute(key))
                continue;
            const std::wstring wideKey = ToWideText(key, kAnsi);
            const std::wstring wideValue = ToWideText(value, kAnsi);
            Append(*all, MakeRecord(wideKey, wideValue));
            if (record->flags[i])
                Append(*flagged, MakeRecord(wideKey, wideValue));
        }
    }
    context.FreePointer(record);
    return QVSERVER_OK;
}

INT_PTR Discover(ServerInterfaceContext& context, int* size, BYTE** buffer, const wchar_t* filter1,
                 const wchar_t* filter2, unsigned timeout)
{
    if (!size || !buffer)
        return QVSERVER_FAILED;
    *size = 0;
    *buffer = nullptr;
    auto getList = context.Entry<VelmoEntry::DISCOV_getTolvaList>();
    auto freeList = context.Entry<VelmoEntry::DISCOV_freeDiscoveredTolvaExList>();
    if (!getList || !freeList)
        return QVSERVER_FAILED;
    std::string first, second;
    if (!ToNarrowExact(filter1, kAnsi, first) || !ToNarrowExact(filter2, kAnsi, second))
        return QVSERVER_FAILED;
    const bool filtered = !first.empty() && !second.empty();

    DiscoveredTolvaEx* entries = nullptr;
    int32_t count = 0;
    const int status = getList(timeout, 0, filtered ? first.c_str() : nullptr, filtered ? second.c_str() : nullptr,
                               0, 0, 0, &entries, &count, 0);
    auto giveBack = [&] {
        if (entries)
            freeList(entries, count, 0);
    };
    if (status != 0) {
        giveBack();
        return QVSERVER_FAILED;
    }
    if (count <= 0 || !entries) {
        giveBack();
        BYTE* empty = new (std::nothrow) BYTE[1];
        if (!empty)
            return QVSERVER_FAILED;
        empty[0] = 0;
        *buffer = empty;
        *size = 1;
        return QVSERVER_OK;
    }

    size_t capacity = 512;
    size_t used = 0;
    BYTE* bytes = new (std::nothrow) BYTE[capacity];
    if (!bytes) {
        giveBack();
        return QVSERVER_FAILED;
    }
    for (int32_t i = 0; i < count; ++i) {
        const char* a = entries[i].second ? entries[i].second : "";
        const char* b = entries[i].first ? entries[i].first : "";
        // An empty text would read as the list's end.
        if (!a[0] || !b[0])
            continue;
        const size_t lengthA = strlen(a) + 1;
        const size_t lengthB = strlen(b) + 1;
        const size_t need = lengthA + lengthB + 1;
        if (capacity - used < need) {
            const size_t grown = need + capacity + 512;
            BYTE* larger = new (std::nothrow) BYTE[grown];
            if (!larger) {
                delete[] bytes;
                giveBack();
                return QVSERVER_FAILED;
            }
            memcpy(larger, bytes, used);
            delete[] bytes;
            bytes = larger;
            capacity = grown;
        }
        memcpy(bytes + used, a, lengthA);
        used += lengthA;
        memcpy(bytes + used, b, lengthB);
        used += lengthB;
    }
    bytes[used++] = 0;
    giveBack();
    if (used > static_cast<size_t>(INT32_MAX)) {
        delete[] bytes;
        return QVSERVER_FAILED;
    }
    *buffer = bytes;
    *size = static_cast<int>(used);
    return QVSERVER_OK;
}

// Runs an export's work on the caller's context: failure without one, and nothing thrown.
template <class Work>
INT_PTR Guarded(ServerInterfaceContext** context, Work work) noexcept
{
    ServerInterfaceContext* state = ContextOf(context);
    if (!state)
        return QVSERVER_FAILED;
    try {
        return work(*state);
    } catch (...) {
        return QVSERVER_FAILED;
    }
}

// Deletes the records of the given lists (each may be null); fails only without a context.
INT_PTR FreeRecords(ServerInterfaceContext** context, QVObList* first, QVObList* second) noexcept
{
    if (!ContextOf(context))
        return QVSERVER_FAILED;
    for (QVObList* list : {first, second})
        if (list)
            list->DeleteAll();
    return QVSERVER_OK;
}

}  // namespace

extern "C" {

INT_PTR WINAPI QVServerInitialize(ServerInterfaceContext** context) noexcept
{
    // A context already there belongs to an earlier initialise: replacing it would lose its
    // loaded libraries.
    if (!context || *context)
        return QVSERVER_FAILED;
    try {
        ServerInterfaceContext* made = new (std::nothrow) ServerInterfaceContext();
        if (!made)
            return QVSERVER_FAILED;
        made->LoadProtocolLibraries();
        auto load = made->Entry<VelmoEntry::velmo_load>();
        if (!load) {
            // Leave nothing behind that a retry would overwrite.
            delete made;
            return QVSERVER_FAILED;
        }
        *context = made;
        load();
        return QVSERVER_OK;
    } catch (...) {
        return QVSERVER_FAILED;
    }
}

INT_PTR WINAPI QVServerTerminate(ServerInterfaceContext** context) noexcept
{
    ServerInterfaceContext* state = ContextOf(context);
    if (!state)
        return QVSERVER_FAILED;
    // Sessions belong to the libraries' state: close them while the libraries still run;
    // a hung controller holds the closes no longer than one ticket bound in all.
    state->CloseAllSessions(ServerInterfaceContext::TicketDeadline());
    if (auto unload = state->Entry<VelmoEntry::velmo_unload>())
        unload();
    Sleep(1000);  // lets the libraries' own threads finish before their code goes
    state->UnloadProtocolLibraries();
    delete state;
    *context = nullptr;
    return QVSERVER_OK;
}

INT_PTR WINAPI QVServerConnect(ServerInterfaceContext** context, const wchar_t* address,
                               ServerConnectionBlock* block) noexcept
{
    ServerInterfaceContext* state = ContextOf(context);
    if (!state || !address || !block)
        return QVSERVER_FAILED;
    auto connect = state->Entry<VelmoEntry::VYRM_connect>();
    if (!connect || !state->HasTicketEntries())
        return QVSERVER_FAILED;
    std::string narrow;
    if (!ToNarrowExact(address, kAnsi, narrow))
        return QVSERVER_FAILED;
    try {
        // A new connection at this block's address must not inherit an old one's sessions.
        state->CloseConnectionSessions(block);
        const int status = CallWithTicket(
            *state, [&](VelmoTicket* ticket) { return connect(narrow.c_str(), 5, 2, block, ticket); });
        return Result(status == 0);
    } catch (...) {
        return QVSERVER_FAILED;
    }
}

INT_PTR WINAPI QVServerDisconnect(ServerInterfaceContext** context, ServerConnectionBlock* block) noexcept
{
    ServerInterfaceContext* state = ContextOf(context);
    if (!state)
        return QVSERVER_FAILED;
    if (!IsValidBlock(block))
        return QVSERVER_OK;
    try {
        // One bound for the whole disconnect: the session closes and the connection's end.
        const ULONGLONG deadline = ServerInterfaceContext::TicketDeadline();
        state->CloseConnectionSessions(block, deadline);
        if (auto disconnect = state->Entry<VelmoEntry::INIT_disconnectFromServer>())
            CallWithTicket(
                *state, [&](VelmoTicket* ticket) { return disconnect(block, ticket); }, deadline);
    } catch (...) {
    }
    return QVSERVER_OK;
}

INT_PTR WINAPI QVServerDiscover(ServerInterfaceContext** context, int* size, BYTE** buffer, const wchar_t* filter1,
                                const wchar_t* filter2, unsigned timeout) noexcept
{
    return Guarded(context, [&](ServerInterfaceContext& state) { return Discover(state, size, buffer, filter1, filter2, timeout); });
}

INT_PTR WINAPI QVServerFreeDiscover(ServerInterfaceContext** context, BYTE** buffer) noexcept
{
    if (!ContextOf(context) || !buffer || !*buffer)
        return QVSERVER_FAILED;
    delete[] *buffer;
    *buffer = nullptr;
    return QVSERVER_OK;
}

INT_PTR WINAPI QVServerFreeFeaturesList(ServerInterfaceContext** context, ServerConnectionBlock*,
                                        QVObList* list) noexcept
{
    // The records are this library's whatever the block: never leave them to the caller.
    return FreeRecords(context, list, nullptr);
}

INT_PTR WINAPI QVServerFreeInstallablesList(ServerInterfaceContext** context, ServerConnectionBlock*,
                                            QVObList* list) noexcept
{
    return FreeRecords(context, list, nullptr);
}

INT_PTR WINAPI QVServerFreeMultipleDefaults(ServerInterfaceContext** context, ServerConnectionBlock*,
                                            QVObList* list) noexcept
{
    return FreeRecords(context, list, nullptr);
}

INT_PTR WINAPI QVServerFreeVPAttributes(ServerInterfaceContext** context, ServerConnectionBlock*, QVObList* all,
                                        QVObList* flagged) noexcept
{
    return FreeRecords(context, all, flagged);
}

INT_PTR WINAPI QVServerGetEMailNotifyInfo(ServerInterfaceContext** context, ServerConnectionBlock* block,
                                          QVEmailNotification* notification, int) noexcept
{
    return Guarded(context, [&](ServerInterfaceContext& state) { return GetEmailNotify(state, block, notification); });
}

INT_PTR WINAPI QVServerGetFeaturesList(ServerInterfaceContext** context, ServerConnectionBlock* block, QVObList* list,
                                       int) noexcept
{
    return Guarded(context, [&](ServerInterfaceContext& state) { return GetFeatures(state, block, list); });
}

INT_PTR WINAPI QVServerGetInstallablesList(ServerInterfaceContext** context, ServerConnectionBlock* block,
                                           QVObList* list, int) noexcept
{
    return Guarded(context, [&](ServerInterfaceContext& state) { return GetInstallables(state, block, list); });
}

INT_PTR WINAPI QVServerGetMultipleDefaults(ServerInterfaceContext** context, ServerConnectionBlock* block,
                                           QVObList* list, int) noexcept
{
    return Guarded(context, [&](ServerInterfaceContext& state) { return GetDefaults(state, block, list); });
}

INT_PTR WINAPI QVServerGetPPD(ServerInterfaceContext** context, ServerConnectionBlock* block,
                              const wchar_t* path) noexcept
{
    ServerInterfaceContext* state = ContextOf(context);
    if (!state || !block || !path)
        return QVSERVER_FAILED;
    auto getPPD = state->Entry<VelmoEntry::VYRM_getPPDEx>();
    std::string narrow;
    // A path the code page cannot hold exactly would name another file.
    if (!getPPD || !ToNarrowExact(path, kAnsi, narrow) || narrow.empty())
        return QVSERVER_FAILED;
    return Result(getPPD(block, 0, "ps", "en", narrow.c_str(), 0) == 0);
}

INT_PTR WINAPI QVServerGetVPAttributes(ServerInterfaceContext** context, ServerConnectionBlock* block,
                                       const wchar_t* printer, QVObList* all, QVObList* flagged) noexcept
{
    return Guarded(context, [&](ServerInterfaceContext& state) { return GetVPAttributes(state, block, printer, all, flagged); });
}

}  // extern "C"
