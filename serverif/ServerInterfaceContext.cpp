// Loader of the protocol libraries, ticket wait, per-connection session cache and the
// library's shared routines.
#include "serverif/ServerInterfaceContext.h"

#include <algorithm>
#include <cstdarg>
#include <new>

#include "foundation/StrUtil.h"
#include "serverif/VelmoSession.h"

namespace {

HMODULE g_module = nullptr;

}  // namespace

#define VELMO_ENTRY_ROW(name, library, fallback, type) {#name, VelmoLibrary::library, VelmoLibrary::fallback},
const VelmoEntryRow kVelmoEntryRows[kVelmoEntryCount] = {VELMO_ENTRY_TABLE(VELMO_ENTRY_ROW)};
#undef VELMO_ENTRY_ROW

const wchar_t* const kVelmoLibraryNames[kVelmoLibraryCount] = {
    L"velmoqzt10.dll", L"velmoqzt_vyrm.dll", L"velmoqzt_vyr_color.dll", L"velmoqzt_ctp.dll", L"velmoqzt_pcat.dll",
};

void SetServerInterfaceModule(HMODULE module) noexcept { g_module = module; }

HMODULE GetServerInterfaceModule() noexcept { return g_module; }

ServerInterfaceContext::ServerInterfaceContext() noexcept
{
    for (VelmoLibrary& library : m_boundFrom)
        library = VelmoLibrary::None;
}

ServerInterfaceContext::~ServerInterfaceContext()
{
    CloseAllSessions(TicketDeadline());
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
        m_entries[e] = nullptr;
        m_boundFrom[e] = VelmoLibrary::None;
        for (VelmoLibrary library : {kVelmoEntryRows[e].library, kVelmoEntryRows[e].fallback}) {
            if (library == VelmoLibrary::None)
                continue;
            HMODULE module = m_modules[static_cast<int>(library)];
            FARPROC found = module ? GetProcAddress(module, kVelmoEntryRows[e].name) : nullptr;
            if (found) {
                m_entries[e] = found;
                m_boundFrom[e] = library;
                break;
            }
        }
    }
    return 0;
}

void ServerInterfaceContext::UnloadProtocolLibraries() noexcept
{
    for (FARPROC& entry : m_entries)
        entry = nullptr;
    for (VelmoLibrary& library : m_boundFrom)
        library = VelmoLibrary::None;
    for (int i = kVelmoLibraryCount - 1; i >= 0; --i) {
        if (m_modules[i]) {
            FreeLibrary(m_modules[i]);
            m_modules[i] = nullptr;
        }
    }
}

bool ServerInterfaceContext::HasTicketEntries() const noexcept
{
    return IsBound(VelmoEntry::NB_block) && IsBound(VelmoEntry::NB_checkTicket) &&
           IsBound(VelmoEntry::NB_destroy) && IsBound(VelmoEntry::NB_cancel);
}

ULONGLONG ServerInterfaceContext::TicketDeadline() noexcept { return GetTickCount64() + kVelmoTicketBoundMs; }

int ServerInterfaceContext::WaitForTicket(VelmoTicket* ticket, ULONGLONG deadline) noexcept
{
    if (!ticket)
        return 0;
    if (!HasTicketEntries())
        return kVelmoTicketUnavailable;
    auto block = Entry<VelmoEntry::NB_block>();
    auto check = Entry<VelmoEntry::NB_checkTicket>();
    auto destroy = Entry<VelmoEntry::NB_destroy>();
    auto cancel = Entry<VelmoEntry::NB_cancel>();
    // NB_block has no time-out: it is called only once the work is done. A ticket the
    // library does not know (a call that failed at once) answers the check with an error.
    DWORD pause = 0;
    for (;;) {
        int32_t done = 0, progress = 0, status = -1;
        if (check(ticket, &done, &progress, &status) != 0 || done)
            break;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            cancel(ticket);
            destroy(ticket);
            return kVelmoTicketTimedOut;
        }
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause, deadline - now)));
        pause = pause ? std::min<DWORD>(pause * 2, 16) : 1;
    }
    block(ticket);
    int32_t done = 0, progress = 0, status = -1;
    check(ticket, &done, &progress, &status);
    destroy(ticket);
    return status;
}

VelmoSessionUse ServerInterfaceContext::GetSession(ServerConnectionBlock* block, size_t slot, bool useTicket) noexcept
{
    if (!block)
        return nullptr;
    try {
        BlockEntry entry;
        {
            AutoLock hold(&m_lock);
            BlockEntry& found = m_sessions[block];
            if (!found)
                found = std::make_shared<BlockSessions>();
            if (found->slots.size() != kSessionSlots)
                found->slots.resize(kSessionSlots);
            if (found->slots[slot])
                return found->slots[slot];
            entry = found;
        }
        // Opened outside the lock: the open is a library call that may wait on the network.
        VelmoSessionUse made;
        if (slot == kLPSlot)
            made = std::make_shared<LPSession>(this, block, useTicket);
        else
            made = std::make_shared<ATTRSession>(this, block, useTicket);
        VelmoSessionUse kept;
        {
            AutoLock hold(&m_lock);
            auto found = m_sessions.find(block);
            // The block's sessions were closed meanwhile: this one belongs to a connection
            // that ended, and goes (closed when made is let go).
            if (found != m_sessions.end() && found->second == entry) {
                VelmoSessionUse& cached = entry->slots[slot];
                if (!cached)
                    cached = made;  // else another thread opened it meanwhile: keep that one
                kept = cached;
            }
        }
        return kept;
    } catch (...) {
        return nullptr;
    }
}

VelmoSessionUse ServerInterfaceContext::GetLPSession(ServerConnectionBlock* block, bool useTicket) noexcept
{
    return GetSession(block, kLPSlot, useTicket);
}

VelmoSessionUse ServerInterfaceContext::GetATTRSession(ServerConnectionBlock* block, bool useTicket) noexcept
{
    return GetSession(block, kATTRSlot, useTicket);
}

void ServerInterfaceContext::CloseSessions(BlockSessions& sessions, ULONGLONG deadline) noexcept
{
    for (VelmoSessionUse& session : sessions.slots) {
        // Only a session no call holds closes here; a held one closes when its call ends.
        if (session && session.use_count() == 1)
            session->Close(deadline);
        session.reset();
    }
}

void ServerInterfaceContext::CloseConnectionSessions(ServerConnectionBlock* block, ULONGLONG deadline) noexcept
{
    BlockEntry entry;
    {
        AutoLock hold(&m_lock);
        auto found = m_sessions.find(block);
        if (found == m_sessions.end())
            return;
        entry.swap(found->second);
        m_sessions.erase(found);
    }
    if (entry)
        CloseSessions(*entry, deadline);
}

void ServerInterfaceContext::CloseAllSessions(ULONGLONG deadline) noexcept
{
    std::map<ServerConnectionBlock*, BlockEntry> all;
    {
        AutoLock hold(&m_lock);
        all.swap(m_sessions);
    }
    for (auto& entry : all)
        if (entry.second)
            CloseSessions(*entry.second, deadline);
}

void ServerInterfaceContext::FreePointer(void* pointer) noexcept
{
    auto release = Entry<VelmoEntry::velmo_free>();
    if (release && pointer)
        release(pointer);
}

void ServerInterfaceContext::FreeStringArray(char** array, int32_t count) noexcept
{
    if (!array || !IsBound(VelmoEntry::velmo_free))
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

UINT ResolveCodePage(UINT codePage) noexcept
{
    if (codePage != CP_ACP && codePage != CP_OEMCP && codePage != CP_THREAD_ACP)
        return codePage;
    CPINFOEXW info = {};
    return GetCPInfoExW(codePage, 0, &info) && info.CodePage ? info.CodePage : codePage;
}

bool ToNarrowExact(const wchar_t* text, UINT codePage, std::string& out) noexcept
{
    out.clear();
    if (!text || !text[0])
        return true;
    try {
        // The thread's ANSI code page may itself be UTF-8, which takes neither the no-best-fit
        // flag nor a used-default pointer.
        codePage = ResolveCodePage(codePage);
        const bool utf8 = codePage == CP_UTF8;
        const bool utf7 = codePage == CP_UTF7;
        // Best fit would quietly turn a name into another ("ł" into "l"): refuse instead.
        const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : utf7 ? 0 : WC_NO_BEST_FIT_CHARS;
        BOOL usedDefault = FALSE;
        BOOL* usedDefaultOut = utf8 || utf7 ? nullptr : &usedDefault;
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
