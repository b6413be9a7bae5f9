// The state behind one QVServerInitialize: the maker's five protocol libraries loaded from
// the folder beside this library, their entry points bound by name, and per controller
// connection the protocol sessions the exports open on demand. Also the library's small
// shared routines (value lookup, line-break cut, debug trace).
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/AutoMutex.h"
#include "serverif/VelmoProtocol.h"

class VelmoSession;

// The protocol libraries, in load order.
enum class VelmoLibrary : int {
    Velmo10 = 0,  // velmoqzt10.dll
    Vyrm,         // velmoqzt_vyrm.dll
    VyrColor,     // velmoqzt_vyr_color.dll
    Ctp,          // velmoqzt_ctp.dll
    Pcat,         // velmoqzt_pcat.dll
    Count,
    None = Count  // no second library to look in
};
constexpr int kVelmoLibraryCount = static_cast<int>(VelmoLibrary::Count);

// The entry-point table, in binding order: name, the library it is bound from, the library
// that is asked when the first lacks it, and its function type (fixed here once).
// The connection, session, feature and attribute calls are looked for in velmoqzt10.dll
// first: the maker's libraries may keep them there or in velmoqzt_vyrm.dll.
#define VELMO_ENTRY_TABLE(X) \
    X(velmo_malloc, Velmo10, None, PFN_VelmoUnused) \
    X(velmo_realloc, Velmo10, None, PFN_VelmoUnused) \
    X(velmo_free, Velmo10, None, PFN_velmo_free) \
    X(velmo_load, Velmo10, None, PFN_velmo_load) \
    X(velmo_unload, Velmo10, None, PFN_velmo_unload) \
    X(AUTH_openSession, Velmo10, None, PFN_VelmoUnused) \
    X(AUTH_closeSession, Velmo10, None, PFN_VelmoUnused) \
    X(AUTH_getUserRights, Velmo10, None, PFN_VelmoUnused) \
    X(AUTH_verifyPasswordUTF8, Velmo10, None, PFN_VelmoUnused) \
    X(LOCL_openSession, Velmo10, None, PFN_VelmoUnused) \
    X(LOCL_closeSession, Velmo10, None, PFN_VelmoUnused) \
    X(LOCL_getString, Velmo10, None, PFN_VelmoUnused) \
    X(LOCL_getStringWithContext, Velmo10, None, PFN_VelmoUnused) \
    X(VYRM_connect, Vyrm, None, PFN_VYRM_connect) \
    X(INIT_connectToNonStandardServer, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(INIT_disconnectFromServer, Velmo10, Vyrm, PFN_INIT_disconnectFromServer) \
    X(LP_openSession, Velmo10, Vyrm, PFN_LP_openSession) \
    X(LP_closeSession, Velmo10, Vyrm, PFN_LP_closeSession) \
    X(LP_getAttributes, Velmo10, Vyrm, PFN_LP_getAttributes) \
    X(FT_openSession, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(FT_closeSession, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(FT_getFile, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(DEV_getInfo, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(DEV_freeInfo, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(DEV_getCurrentEvents, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(DEV_getMessages, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(DEV_getNumDevices, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(DEV_getDeviceEventDescription, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(DEV_getDeviceNameList, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(JOBM_openSession, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(JOBM_closeSession, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(JOBM_getNumJobs, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(JOBM_getJobListWithSelectedAttributes, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(JOBM_getPreviewFilename, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(JOBM_lockJobList, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(JOBM_unlockJobList, Velmo10, Vyrm, PFN_VelmoUnused) \
    X(FEAT_getFeatureList, Velmo10, Vyrm, PFN_FEAT_getFeatureList) \
    X(SERVER_getInfo, Velmo10, Vyrm, PFN_SERVER_getInfo) \
    X(SERVER_freeInfo, Velmo10, Vyrm, PFN_SERVER_freeInfo) \
    X(ATTR_openSession, Velmo10, Vyrm, PFN_ATTR_openSession) \
    X(ATTR_closeSession, Velmo10, Vyrm, PFN_ATTR_closeSession) \
    X(ATTR_getAttributeKeys, Velmo10, Vyrm, PFN_ATTR_getAttributeKeys) \
    X(ATTR_getAttributeValues, Velmo10, Vyrm, PFN_ATTR_getAttributeValues) \
    X(ATTR_getMultipleDefaults, Velmo10, Vyrm, PFN_ATTR_getMultipleDefaults) \
    X(CLDF_openSession, VyrColor, None, PFN_VelmoUnused) \
    X(CLDF_closeSession, VyrColor, None, PFN_VelmoUnused) \
    X(CLDF_getNextValue, VyrColor, None, PFN_VelmoUnused) \
    X(CLDF_getDefaultValue, VyrColor, None, PFN_VelmoUnused) \
    X(CLDF_getCurrentKey, VyrColor, None, PFN_VelmoUnused) \
    X(CLDF_setNextKey, VyrColor, None, PFN_VelmoUnused) \
    X(CLDF_setCurrentKey, VyrColor, None, PFN_VelmoUnused) \
    X(CLDF_query_api_version, VyrColor, None, PFN_VelmoUnused) \
    X(COLR_openSession, VyrColor, None, PFN_VelmoUnused) \
    X(COLR_closeSession, VyrColor, None, PFN_VelmoUnused) \
    X(COLR_getCurrentLinkedProfiles, VyrColor, None, PFN_VelmoUnused) \
    X(CTP_openSession, Ctp, None, PFN_VelmoUnused) \
    X(CTP_closeSession, Ctp, None, PFN_VelmoUnused) \
    X(CTP_getOptionsForKey, Ctp, None, PFN_VelmoUnused) \
    X(PCAT_getMIDs, Pcat, None, PFN_VelmoUnused) \
    X(PCAT_getMIDsEx, Pcat, None, PFN_VelmoUnused) \
    X(PCAT_getVisibleColumnNames, Pcat, None, PFN_VelmoUnused) \
    X(PCAT_getRowForMID, Pcat, None, PFN_VelmoUnused) \
    X(PCAT_getInternalValueForMID, Pcat, None, PFN_VelmoUnused) \
    X(PCAT_getPPDKeys, Pcat, None, PFN_VelmoUnused) \
    X(PCAT_getPPDValues, Pcat, None, PFN_VelmoUnused) \
    X(PCAT_getVersion, Pcat, None, PFN_VelmoUnused) \
    X(PCAT_serialize, Pcat, None, PFN_VelmoUnused) \
    X(PCAT_getAllRowsEx, Pcat, None, PFN_VelmoUnused) \
    X(PCAT_freeRows, Pcat, None, PFN_VelmoUnused) \
    X(NB_zero, Velmo10, None, PFN_VelmoUnused) \
    X(NB_destroy, Velmo10, None, PFN_NB_destroy) \
    X(NB_cancel_block_destroy, Velmo10, None, PFN_VelmoUnused) \
    X(NB_block, Velmo10, None, PFN_NB_block) \
    X(NB_cancel, Velmo10, None, PFN_NB_cancel) \
    X(NB_checkTicket, Velmo10, None, PFN_NB_checkTicket) \
    X(DISCOV_getTolvaList, Velmo10, None, PFN_DISCOV_getTolvaList) \
    X(DISCOV_freeDiscoveredTolvaExList, Velmo10, None, PFN_DISCOV_freeDiscoveredTolvaExList) \
    X(VYRM_getPPDEx, Vyrm, None, PFN_VYRM_getPPDEx)

enum class VelmoEntry : int {
#define VELMO_ENTRY_ENUM(name, library, fallback, type) name,
    VELMO_ENTRY_TABLE(VELMO_ENTRY_ENUM)
#undef VELMO_ENTRY_ENUM
    Count
};
constexpr int kVelmoEntryCount = static_cast<int>(VelmoEntry::Count);
static_assert(kVelmoEntryCount == 78, "the protocol libraries' entry-point table has 78 rows");

// The function type of each entry point.
template <VelmoEntry E>
struct VelmoEntryTraits;
#define VELMO_ENTRY_TRAITS(name, library, fallback, type) \
    template <>                                            \
    struct VelmoEntryTraits<VelmoEntry::name> {            \
        using Type = type;                                 \
    };
VELMO_ENTRY_TABLE(VELMO_ENTRY_TRAITS)
#undef VELMO_ENTRY_TRAITS
template <VelmoEntry E>
using VelmoEntryType = typename VelmoEntryTraits<E>::Type;

struct VelmoEntryRow {
    const char* name;
    VelmoLibrary library;
    VelmoLibrary fallback;
};
// The 78 rows, in table order.
extern const VelmoEntryRow kVelmoEntryRows[kVelmoEntryCount];
// The libraries' file names, in load order.
extern const wchar_t* const kVelmoLibraryNames[kVelmoLibraryCount];

// Every ticket wait ends within this bound; on time-out the ticket is cancelled.
constexpr DWORD kVelmoTicketBoundMs = 10000;
// Tesmor's own statuses of a ticketed call (the library's are small negatives).
constexpr int kVelmoTicketTimedOut = -0x10001;     // cancelled when its bound ran out
constexpr int kVelmoTicketUnavailable = -0x10002;  // refused: no ticket entry points

// Keeps the library's own module handle (from DllMain); the protocol libraries are found
// beside the file of this module.
void SetServerInterfaceModule(HMODULE module) noexcept;
HMODULE GetServerInterfaceModule() noexcept;

// A session kept alive for as long as a call uses it.
using VelmoSessionUse = std::shared_ptr<VelmoSession>;

class ServerInterfaceContext {
public:
    // Session slots of a connection's vector.
    static constexpr size_t kSessionSlots = 9;
    static constexpr size_t kLPSlot = 1;
    static constexpr size_t kATTRSlot = 2;

    ServerInterfaceContext() noexcept;
    ~ServerInterfaceContext();

    ServerInterfaceContext(const ServerInterfaceContext&) = delete;
    ServerInterfaceContext& operator=(const ServerInterfaceContext&) = delete;

    // Loads the five libraries from the folder named after this module's file without its
    // extension (C:\Drivers\Printer.KQM: C:\Drivers\Printer\) and binds the entry points of
    // each that loaded. Missing libraries or entry points stay null. Always 0.
    int LoadProtocolLibraries() noexcept;
    // Clears the table, then frees the libraries in reverse load order.
    void UnloadProtocolLibraries() noexcept;
    // Folder the libraries are loaded from (with its trailing backslash); empty when the
    // path could not be built. Exposed for the tests of the path rule.
    static bool BuildLibraryFolder(const wchar_t* modulePath, wchar_t* folder, size_t folderChars) noexcept;
    // The same for a module's own file, read into a buffer of pathChars characters; false
    // (no folder) when the path does not fit it whole.
    static bool BuildModuleLibraryFolder(HMODULE module, DWORD pathChars, wchar_t* folder, size_t folderChars) noexcept;

    // The bound entry point, or null.
    template <VelmoEntry E>
    VelmoEntryType<E> Entry() const noexcept
    {
        return reinterpret_cast<VelmoEntryType<E>>(
            reinterpret_cast<void (*)()>(m_entries[static_cast<int>(E)]));
    }
    bool IsBound(VelmoEntry entry) const noexcept { return m_entries[static_cast<int>(entry)] != nullptr; }
    bool IsLoaded(VelmoLibrary library) const noexcept { return m_modules[static_cast<int>(library)] != nullptr; }
    // The library an entry point was bound from (VelmoLibrary::None when unbound).
    VelmoLibrary BoundFrom(VelmoEntry entry) const noexcept { return m_boundFrom[static_cast<int>(entry)]; }

    // True when a ticketed call can be made: its wait, cancel and release are all bound.
    // Without them the library's work would outlive the caller's frame.
    bool HasTicketEntries() const noexcept;
    // The deadline of a wait that starts now and lasts the ticket bound.
    static ULONGLONG TicketDeadline() noexcept;
    // Ticket wait: until NB_checkTicket reports the work done (or the deadline), then
    // NB_block, NB_checkTicket, NB_destroy; the ticket's status. Without a ticket 0;
    // without the ticket entry points kVelmoTicketUnavailable; past the deadline the
    // ticket is cancelled and destroyed, kVelmoTicketTimedOut.
    int WaitForTicket(VelmoTicket* ticket) noexcept { return WaitForTicket(ticket, TicketDeadline()); }
    int WaitForTicket(VelmoTicket* ticket, ULONGLONG deadline) noexcept;

    // The block's cached LP / ATTR session, opened on first use (with a ticket when
    // useTicket); a session that did not open stays cached (its handle is null) until the
    // block's sessions are closed. Null when none could be made, or when the block's
    // sessions were closed while this one opened (it is closed again, never cached).
    VelmoSessionUse GetLPSession(ServerConnectionBlock* block, bool useTicket) noexcept;
    VelmoSessionUse GetATTRSession(ServerConnectionBlock* block, bool useTicket) noexcept;
    // Closes every session of the block and forgets the block; ticket waits end by the
    // deadline. A session still in use by a call closes when that call lets it go.
    void CloseConnectionSessions(ServerConnectionBlock* block) noexcept
    {
        CloseConnectionSessions(block, TicketDeadline());
    }
    void CloseConnectionSessions(ServerConnectionBlock* block, ULONGLONG deadline) noexcept;
    // Closes every cached session of every block, all by the one deadline.
    void CloseAllSessions(ULONGLONG deadline) noexcept;

    // Give every non-null string and then the array(s) back through velmo_free; nothing
    // when velmo_free is not bound or an array is null.
    void FreeStringArray(char** array, int32_t count) noexcept;
    void FreeValueArrays(char** values, int32_t* flags, int32_t count) noexcept;
    void FreePointer(void* pointer) noexcept;

private:
    // One block's sessions; replaced (never reused) when the block's sessions are closed,
    // so an open that straddles the close can tell.
    struct BlockSessions {
        std::vector<VelmoSessionUse> slots;
    };
    using BlockEntry = std::shared_ptr<BlockSessions>;
    VelmoSessionUse GetSession(ServerConnectionBlock* block, size_t slot, bool useTicket) noexcept;
    static void CloseSessions(BlockSessions& sessions, ULONGLONG deadline) noexcept;

    // Guards the session map; never held during a library call.
    AutoMutex m_lock;
    std::map<ServerConnectionBlock*, BlockEntry> m_sessions;
    FARPROC m_entries[kVelmoEntryCount] = {};
    VelmoLibrary m_boundFrom[kVelmoEntryCount] = {};
    HMODULE m_modules[kVelmoLibraryCount] = {};
};

// The first non-null value whose flag has bit 0x1 (primary) / 0x2 (secondary); null when
// none or when an array is null.
const char* FindPrimaryValue(char** values, const int32_t* flags, int32_t count) noexcept;
const char* FindSecondaryValue(char** values, const int32_t* flags, int32_t count) noexcept;
// Ends the text at its first carriage return or line feed.
void TruncateAtLineBreak(wchar_t* text) noexcept;
// Formats 8-bit text and writes it to the debugger output.
void DebugTrace(const char* format, ...) noexcept;

// The code page a conversion in codePage really uses: the thread's or process's ANSI or OEM
// code page for the pseudo numbers (3, 0, 1), else codePage itself.
UINT ResolveCodePage(UINT codePage) noexcept;
// Wide text to 8-bit in the code page (3: the thread's ANSI code page), exactly: a character
// the code page cannot hold, or an unpaired surrogate, fails the conversion (false). Null
// converts to an empty text. A code page that resolves to UTF-8 converts as UTF-8.
bool ToNarrowExact(const wchar_t* text, UINT codePage, std::string& out) noexcept;
// 8-bit text in the code page to wide; null or unreadable bytes give what converts (an
// empty text at worst).
std::wstring ToWideText(const char* text, UINT codePage) noexcept;
// ASCII comparison ignoring case; false when either text is null.
bool EqualsNoCase(const char* a, const char* b) noexcept;
