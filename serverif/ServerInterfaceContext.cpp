// Loader of the protocol libraries, ticket wait, per-connection session cache and the
// library's shared routines.
#include "serverif/ServerInterfaceContext.h"

#include <cstdarg>
#include <new>

#include "foundation/StrUtil.h"
#include "serverif/VelmoSession.h"

namespace {

HMODULE g_module = nullptr;

}  // namespace

#define VELMO_ROW(name, library) {#name, library}
const VelmoEntryRow kVelmoEntryRows[kVelmoEntryCount] = {
    VELMO_ROW(velmo_malloc, kVelmoLib10), VELMO_ROW(velmo_realloc, kVelmoLib10),
    VELMO_ROW(velmo_free, kVelmoLib10), VELMO_ROW(velmo_load, kVelmoLib10), VELMO_ROW(velmo_unload, kVelmoLib10),
    VELMO_ROW(AUTH_openSession, kVelmoLib10), VELMO_ROW(AUTH_closeSession, kVelmoLib10),
    VELMO_ROW(AUTH_getUserRights, kVelmoLib10), VELMO_ROW(AUTH_verifyPasswordUTF8, kVelmoLib10),
    VELMO_ROW(LOCL_openSession, kVelmoLib10), VELMO_ROW(LOCL_closeSession, kVelmoLib10),
    VELMO_ROW(LOCL_getString, kVelmoLib10), VELMO_ROW(LOCL_getStringWithContext, kVelmoLib10),
    VELMO_ROW(VYRM_connect, kVelmoLibVyrm), VELMO_ROW(INIT_connectToNonStandardServer, kVelmoLibVyrm),
    VELMO_ROW(INIT_disconnectFromServer, kVelmoLibVyrm), VELMO_ROW(LP_openSession, kVelmoLibVyrm),
    VELMO_ROW(LP_closeSession, kVelmoLibVyrm), VELMO_ROW(LP_getAttributes, kVelmoLibVyrm),
    VELMO_ROW(FT_openSession, kVelmoLibVyrm), VELMO_ROW(FT_closeSession, kVelmoLibVyrm),
    VELMO_ROW(FT_getFile, kVelmoLibVyrm), VELMO_ROW(DEV_getInfo, kVelmoLibVyrm),
    VELMO_ROW(DEV_freeInfo, kVelmoLibVyrm), VELMO_ROW(DEV_getCurrentEvents, kVelmoLibVyrm),
    VELMO_ROW(DEV_getMessages, kVelmoLibVyrm), VELMO_ROW(DEV_getNumDevices, kVelmoLibVyrm),
    VELMO_ROW(DEV_getDeviceEventDescription, kVelmoLibVyrm), VELMO_ROW(DEV_getDeviceNameList, kVelmoLibVyrm),
    VELMO_ROW(JOBM_openSession, kVelmoLibVyrm), VELMO_ROW(JOBM_closeSession, kVelmoLibVyrm),
    VELMO_ROW(JOBM_getNumJobs, kVelmoLibVyrm), VELMO_ROW(JOBM_getJobListWithSelectedAttributes, kVelmoLibVyrm),
    VELMO_ROW(JOBM_getPreviewFilename, kVelmoLibVyrm), VELMO_ROW(JOBM_lockJobList, kVelmoLibVyrm),
    VELMO_ROW(JOBM_unlockJobList, kVelmoLibVyrm), VELMO_ROW(FEAT_getFeatureList, kVelmoLibVyrm),
    VELMO_ROW(SERVER_getInfo, kVelmoLibVyrm), VELMO_ROW(SERVER_freeInfo, kVelmoLibVyrm),
    VELMO_ROW(ATTR_openSession, kVelmoLibVyrm), VELMO_ROW(ATTR_closeSession, kVelmoLibVyrm),
    VELMO_ROW(ATTR_getAttributeKeys, kVelmoLibVyrm), VELMO_ROW(ATTR_getAttributeValues, kVelmoLibVyrm),
    VELMO_ROW(ATTR_getMultipleDefaults, kVelmoLibVyrm),
    VELMO_ROW(CLDF_openSession, kVelmoLibVyrColor), VELMO_ROW(CLDF_closeSession, kVelmoLibVyrColor),
    VELMO_ROW(CLDF_getNextValue, kVelmoLibVyrColor), VELMO_ROW(CLDF_getDefaultValue, kVelmoLibVyrColor),
    VELMO_ROW(CLDF_getCurrentKey, kVelmoLibVyrColor), VELMO_ROW(CLDF_setNextKey, kVelmoLibVyrColor),
    VELMO_ROW(CLDF_setCurrentKey, kVelmoLibVyrColor), VELMO_ROW(CLDF_query_api_version, kVelmoLibVyrColor),
    VELMO_ROW(COLR_openSession, kVelmoLibVyrColor), VELMO_ROW(COLR_closeSession, kVelmoLibVyrColor),
    VELMO_ROW(COLR_getCurrentLinkedProfiles, kVelmoLibVyrColor),
    VELMO_ROW(CTP_openSession, kVelmoLibCtp), VELMO_ROW(CTP_closeSession, kVelmoLibCtp),
    VELMO_ROW(CTP_getOptionsForKey, kVelmoLibCtp),
    VELMO_ROW(PCAT_getMIDs, kVelmoLibPcat), VELMO_ROW(PCAT_getMIDsEx, kVelmoLibPcat),
    VELMO_ROW(PCAT_getVisibleColumnNames, kVelmoLibPcat), VELMO_ROW(PCAT_getRowForMID, kVelmoLibPcat),
    VELMO_ROW(PCAT_getInternalValueForMID, kVelmoLibPcat), VELMO_ROW(PCAT_getPPDKeys, kVelmoLibPcat),
    VELMO_ROW(PCAT_getPPDValues, kVelmoLibPcat), VELMO_ROW(PCAT_getVersion, kVelmoLibPcat),
    VELMO_ROW(PCAT_serialize, kVelmoLibPcat), VELMO_ROW(PCAT_getAllRowsEx, kVelmoLibPcat),
    VELMO_ROW(PCAT_freeRows, kVelmoLibPcat),
    VELMO_ROW(NB_zero, kVelmoLib10), VELMO_ROW(NB_destroy, kVelmoLib10),
    VELMO_ROW(NB_cancel_block_destroy, kVelmoLib10), VELMO_ROW(NB_block, kVelmoLib10),
    VELMO_ROW(NB_cancel, kVelmoLib10), VELMO_ROW(NB_checkTicket, kVelmoLib10),
    VELMO_ROW(DISCOV_getTolvaList, kVelmoLib10), VELMO_ROW(DISCOV_freeDiscoveredTolvaExList, kVelmoLib10),
    VELMO_ROW(VYRM_getPPDEx, kVelmoLibVyrm),
};
#undef VELMO_ROW

const wchar_t* const kVelmoLibraryNames[kVelmoLibraryCount] = {
    L"velmoqzt10.dll", L"velmoqzt_vyrm.dll", L"velmoqzt_vyr_color.dll", L"velmoqzt_ctp.dll", L"velmoqzt_pcat.dll",
};

void SetServerInterfaceModule(HMODULE module) noexcept { g_module = module; }

HMODULE GetServerInterfaceModule() noexcept { return g_module; }

ServerInterfaceContext::ServerInterfaceContext() noexcept = default;

ServerInterfaceContext::~ServerInterfaceContext()
{
    CloseAllSessions();
    UnloadProtocolLibraries();
}

bool ServerInterfaceContext::BuildLibraryFolder(const wchar_t* modulePath, wchar_t* folder, size_t folderChars) noexcept
{
    if (!folder || folderChars == 0)
        return false;
    folder[0] = L'\0';
    if (!modulePath || !modulePath[0])
        return false;
    // Only the file name's extension goes: a dot in a folder name stays.
    size_t length = wcslen(modulePath);
    size_t nameStart = length;
    while (nameStart > 0 && modulePath[nameStart - 1] != L'\\' && modulePath[nameStart - 1] != L'/')
        --nameStart;
    if (nameStart == length)
        return false;  // no file name
    size_t stemEnd = length;
    for (size_t i = length; i > nameStart; --i) {
        if (modulePath[i - 1] == L'.') {
            stemEnd = i - 1;
            break;
        }
    }
    if (stemEnd == nameStart || stemEnd + 2 > folderChars)
        return false;  // a name that is all extension, or no room for the separator
    wmemcpy(folder, modulePath, stemEnd);
    folder[stemEnd] = L'\\';
    folder[stemEnd + 1] = L'\0';
    return true;
}

bool ServerInterfaceContext::BuildModuleLibraryFolder(HMODULE module, DWORD pathChars, wchar_t* folder,
                                                      size_t folderChars) noexcept
{
    if (folder && folderChars > 0)
        folder[0] = L'\0';
    if (pathChars == 0)
        return false;
    std::unique_ptr<wchar_t[]> modulePath(new (std::nothrow) wchar_t[pathChars]);
    if (!modulePath)
        return false;
    // A path cut at the buffer's end (error 122) would name another folder: build none.
    const DWORD n = GetModuleFileNameW(module, modulePath.get(), pathChars);
    if (n == 0 || n >= pathChars)
        return false;
    return BuildLibraryFolder(modulePath.get(), folder, folderChars);
}

int ServerInterfaceContext::LoadProtocolLibraries() noexcept
{
    constexpr DWORD kPathChars = 32768;
    std::unique_ptr<wchar_t[]> folder(new (std::nothrow) wchar_t[kPathChars]);
    if (!folder || !BuildModuleLibraryFolder(g_module, kPathChars, folder.get(), kPathChars))
        return 0;

    std::wstring paths[kVelmoLibraryCount];
    for (int i = 0; i < kVelmoLibraryCount; ++i) {
        paths[i] = folder.get();
        paths[i] += kVelmoLibraryNames[i];
        if (paths[i].size() >= kPathChars)
            return 0;
    }
    for (int i = 0; i < kVelmoLibraryCount; ++i) {
        if (!m_modules[i])
            m_modules[i] = LoadLibraryExW(paths[i].c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    for (int e = 0; e < kVelmoEntryCount; ++e) {
        HMODULE module = m_modules[kVelmoEntryRows[e].library];
        m_entries[e] = module ? GetProcAddress(module, kVelmoEntryRows[e].name) : nullptr;
    }
    return 0;
}

void ServerInterfaceContext::UnloadProtocolLibraries() noexcept
{
    for (FARPROC& entry : m_entries)
        entry = nullptr;
    for (int i = kVelmoLibraryCount - 1; i >= 0; --i) {
        if (m_modules[i]) {
            FreeLibrary(m_modules[i]);
            m_modules[i] = nullptr;
        }
    }
}

int ServerInterfaceContext::WaitForTicket(VelmoTicket* ticket) noexcept
{
    if (!ticket)
        return 0;
    auto block = Entry<PFN_NB_block>(NB_block);
    auto check = Entry<PFN_NB_checkTicket>(NB_checkTicket);
    auto destroy = Entry<PFN_NB_destroy>(NB_destroy);
    if (!block || !check || !destroy)
        return -1;  // a ticketed call whose end cannot be read has not succeeded
    block(ticket);
    int32_t done = 0, progress = 0, status = -1;
    check(ticket, &done, &progress, &status);
    destroy(ticket);
    return status;
}

VelmoSessionRecord* ServerInterfaceContext::GetSession(ServerConnectionBlock* block, size_t slot, bool useTicket) noexcept
{
    if (!block)
        return nullptr;
    try {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            SessionSlots& slots = m_sessions[block];
            if (slots.size() != kSessionSlots)
                slots.resize(kSessionSlots, nullptr);
            if (slots[slot])
                return slots[slot]->GetHandle();
        }
        // Opened outside the lock: the open is a library call that may wait on the network.
        VelmoSession* made = nullptr;
        if (slot == kLPSlot)
            made = new (std::nothrow) LPSession(this, block, useTicket);
        else
            made = new (std::nothrow) ATTRSession(this, block, useTicket);
        if (!made)
            return nullptr;
        VelmoSession* loser = nullptr;
        VelmoSessionRecord* handle = nullptr;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            SessionSlots& slots = m_sessions[block];
            if (slots.size() != kSessionSlots)
                slots.resize(kSessionSlots, nullptr);
            if (slots[slot])
                loser = made;  // another thread opened it meanwhile: keep that one
            else
                slots[slot] = made;
            handle = slots[slot]->GetHandle();
        }
        delete loser;
        return handle;
    } catch (...) {
        return nullptr;
    }
}

VelmoSessionRecord* ServerInterfaceContext::GetLPSession(ServerConnectionBlock* block, bool useTicket) noexcept
{
    return GetSession(block, kLPSlot, useTicket);
}

VelmoSessionRecord* ServerInterfaceContext::GetATTRSession(ServerConnectionBlock* block, bool useTicket) noexcept
{
    return GetSession(block, kATTRSlot, useTicket);
}

void ServerInterfaceContext::CloseConnectionSessions(ServerConnectionBlock* block) noexcept
{
    SessionSlots slots;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        auto found = m_sessions.find(block);
        if (found == m_sessions.end())
            return;
        slots.swap(found->second);
        m_sessions.erase(found);
    }
    for (VelmoSession* session : slots)
        delete session;
}

void ServerInterfaceContext::CloseAllSessions() noexcept
{
    std::map<ServerConnectionBlock*, SessionSlots> all;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        all.swap(m_sessions);
    }
    for (auto& entry : all)
        for (VelmoSession* session : entry.second)
            delete session;
}

void ServerInterfaceContext::FreePointer(void* pointer) noexcept
{
    auto release = Entry<PFN_velmo_free>(velmo_free);
    if (release && pointer)
        release(pointer);
}

void ServerInterfaceContext::FreeStringArray(char** array, int32_t count) noexcept
{
    if (!array || !IsBound(velmo_free))
        return;
    for (int32_t i = 0; i < count; ++i)
        FreePointer(array[i]);
    FreePointer(array);
}

void ServerInterfaceContext::FreeValueArrays(char** values, int32_t* flags, int32_t count) noexcept
{
    FreeStringArray(values, count);
    FreePointer(flags);
}

namespace {

const char* FindFlaggedValue(char** values, const int32_t* flags, int32_t count, int32_t bit) noexcept
{
    if (!values || !flags)
        return nullptr;
    for (int32_t i = 0; i < count; ++i)
        if (values[i] && (flags[i] & bit))
            return values[i];
    return nullptr;
}

}  // namespace

const char* FindPrimaryValue(char** values, const int32_t* flags, int32_t count) noexcept
{
    return FindFlaggedValue(values, flags, count, kVelmoPrimaryValue);
}

const char* FindSecondaryValue(char** values, const int32_t* flags, int32_t count) noexcept
{
    return FindFlaggedValue(values, flags, count, kVelmoSecondaryValue);
}

void TruncateAtLineBreak(wchar_t* text) noexcept
{
    if (!text)
        return;
    for (wchar_t* at = text; *at; ++at) {
        if (*at == L'\r' || *at == L'\n') {
            *at = L'\0';
            return;
        }
    }
}

void DebugTrace(const char* format, ...) noexcept
{
    if (!format)
        return;
    va_list args;
    va_start(args, format);
    // One pass over the arguments: an argument list cannot be walked twice.
    char* text = FormatAllocVA(format, args);
    va_end(args);
    if (text) {
        OutputDebugStringA(text);
        delete[] text;
    }
}

bool ToNarrowExact(const wchar_t* text, UINT codePage, std::string& out) noexcept
{
    out.clear();
    if (!text || !text[0])
        return true;
    try {
        const bool utf8 = codePage == CP_UTF8;
        // Best fit would quietly turn a name into another ("ł" into "l"): refuse instead.
        const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
        BOOL usedDefault = FALSE;
        BOOL* usedDefaultOut = utf8 ? nullptr : &usedDefault;
        const int n = WideCharToMultiByte(codePage, flags, text, -1, nullptr, 0, nullptr, usedDefaultOut);
        if (n < 1 || usedDefault)
            return false;
        std::string converted(static_cast<size_t>(n), '\0');
        if (WideCharToMultiByte(codePage, flags, text, -1, converted.data(), n, nullptr, usedDefaultOut) != n ||
            usedDefault)
            return false;
        converted.resize(static_cast<size_t>(n) - 1);
        // Wine lets a lone surrogate through the ANSI code pages: refuse it here too.
        for (const wchar_t* at = text; *at; ++at) {
            const bool high = *at >= 0xD800 && *at <= 0xDBFF;
            const bool low = *at >= 0xDC00 && *at <= 0xDFFF;
            if (low)
                return false;
            if (high) {
                if (!(at[1] >= 0xDC00 && at[1] <= 0xDFFF))
                    return false;
                ++at;
            }
        }
        out.swap(converted);
        return true;
    } catch (...) {
        out.clear();
        return false;
    }
}

std::wstring ToWideText(const char* text, UINT codePage) noexcept
{
    if (!text || !text[0])
        return std::wstring();
    try {
        const int n = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
        if (n < 1)
            return std::wstring();
        std::wstring converted(static_cast<size_t>(n), L'\0');
        if (MultiByteToWideChar(codePage, 0, text, -1, converted.data(), n) != n)
            return std::wstring();
        converted.resize(static_cast<size_t>(n) - 1);
        return converted;
    } catch (...) {
        return std::wstring();
    }
}

bool EqualsNoCase(const char* a, const char* b) noexcept
{
    if (!a || !b)
        return false;
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
        if (!x)
            return true;
    }
}
