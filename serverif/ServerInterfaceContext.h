// The state behind one QVServerInitialize: the maker's five protocol libraries loaded from
// the folder beside this library, their entry points bound by name, and per controller
// connection the protocol sessions the exports open on demand. Also the library's small
// shared routines (value lookup, line-break cut, debug trace).
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "serverif/VelmoProtocol.h"

class VelmoSession;

// The protocol libraries, in load order.
enum VelmoLibrary : int {
    kVelmoLib10 = 0,     // velmoqzt10.dll
    kVelmoLibVyrm,       // velmoqzt_vyrm.dll
    kVelmoLibVyrColor,   // velmoqzt_vyr_color.dll
    kVelmoLibCtp,        // velmoqzt_ctp.dll
    kVelmoLibPcat,       // velmoqzt_pcat.dll
    kVelmoLibraryCount
};

// The entry-point table, in binding order.
enum VelmoEntry : int {
    velmo_malloc, velmo_realloc, velmo_free, velmo_load, velmo_unload,
    AUTH_openSession, AUTH_closeSession, AUTH_getUserRights, AUTH_verifyPasswordUTF8,
    LOCL_openSession, LOCL_closeSession, LOCL_getString, LOCL_getStringWithContext,
    VYRM_connect, INIT_connectToNonStandardServer, INIT_disconnectFromServer,
    LP_openSession, LP_closeSession, LP_getAttributes,
    FT_openSession, FT_closeSession, FT_getFile,
    DEV_getInfo, DEV_freeInfo, DEV_getCurrentEvents, DEV_getMessages, DEV_getNumDevices,
    DEV_getDeviceEventDescription, DEV_getDeviceNameList,
    JOBM_openSession, JOBM_closeSession, JOBM_getNumJobs, JOBM_getJobListWithSelectedAttributes,
    JOBM_getPreviewFilename, JOBM_lockJobList, JOBM_unlockJobList,
    FEAT_getFeatureList, SERVER_getInfo, SERVER_freeInfo,
    ATTR_openSession, ATTR_closeSession, ATTR_getAttributeKeys, ATTR_getAttributeValues,
    ATTR_getMultipleDefaults,
    CLDF_openSession, CLDF_closeSession, CLDF_getNextValue, CLDF_getDefaultValue, CLDF_getCurrentKey,
    CLDF_setNextKey, CLDF_setCurrentKey, CLDF_query_api_version,
    COLR_openSession, COLR_closeSession, COLR_getCurrentLinkedProfiles,
    CTP_openSession, CTP_closeSession, CTP_getOptionsForKey,
    PCAT_getMIDs, PCAT_getMIDsEx, PCAT_getVisibleColumnNames, PCAT_getRowForMID,
    PCAT_getInternalValueForMID, PCAT_getPPDKeys, PCAT_getPPDValues, PCAT_getVersion, PCAT_serialize,
    PCAT_getAllRowsEx, PCAT_freeRows,
    NB_zero, NB_destroy, NB_cancel_block_destroy, NB_block, NB_cancel, NB_checkTicket,
    DISCOV_getTolvaList, DISCOV_freeDiscoveredTolvaExList,
    VYRM_getPPDEx,
    kVelmoEntryCount
};
static_assert(kVelmoEntryCount == 78, "the protocol libraries' entry-point table has 78 rows");

struct VelmoEntryRow {
    const char* name;
    VelmoLibrary library;
};
// The 78 rows {name, library}, in table order.
extern const VelmoEntryRow kVelmoEntryRows[kVelmoEntryCount];
// The libraries' file names, in load order.
extern const wchar_t* const kVelmoLibraryNames[kVelmoLibraryCount];

// Keeps the library's own module handle (from DllMain); the protocol libraries are found
// beside the file of this module.
void SetServerInterfaceModule(HMODULE module) noexcept;
HMODULE GetServerInterfaceModule() noexcept;

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
    template <class Fn>
    Fn Entry(VelmoEntry entry) const noexcept
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(m_entries[entry]));
    }
    bool IsBound(VelmoEntry entry) const noexcept { return m_entries[entry] != nullptr; }
    bool IsLoaded(VelmoLibrary library) const noexcept { return m_modules[library] != nullptr; }

    // Ticket wait: NB_block, NB_checkTicket, NB_destroy; the ticket's status. Without a
    // ticket 0; with the ticket entry points unbound, the failure status -1.
    int WaitForTicket(VelmoTicket* ticket) noexcept;

    // The handle of the block's cached LP / ATTR session, opened on first use (with a
    // ticket when useTicket); null for a session that did not open (it stays cached until
    // the block's sessions are closed).
    VelmoSessionRecord* GetLPSession(ServerConnectionBlock* block, bool useTicket) noexcept;
    VelmoSessionRecord* GetATTRSession(ServerConnectionBlock* block, bool useTicket) noexcept;
    // Closes (deletes) every session of the block and forgets the block.
    void CloseConnectionSessions(ServerConnectionBlock* block) noexcept;
    // Closes every cached session of every block.
    void CloseAllSessions() noexcept;

    // Give every non-null string and then the array(s) back through velmo_free; nothing
    // when velmo_free is not bound or an array is null.
    void FreeStringArray(char** array, int32_t count) noexcept;
    void FreeValueArrays(char** values, int32_t* flags, int32_t count) noexcept;
    void FreePointer(void* pointer) noexcept;

private:
    using SessionSlots = std::vector<VelmoSession*>;
    VelmoSessionRecord* GetSession(ServerConnectionBlock* block, size_t slot, bool useTicket) noexcept;

    // Guards the session map; never held during a library call.
    std::mutex m_lock;
    std::map<ServerConnectionBlock*, SessionSlots> m_sessions;
    FARPROC m_entries[kVelmoEntryCount] = {};
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

// Wide text to 8-bit in the code page (3: the thread's ANSI code page), exactly: a character
// the code page cannot hold, or an unpaired surrogate, fails the conversion (false). Null
// converts to an empty text.
bool ToNarrowExact(const wchar_t* text, UINT codePage, std::string& out) noexcept;
// 8-bit text in the code page to wide; null or unreadable bytes give what converts (an
// empty text at worst).
std::wstring ToWideText(const char* text, UINT codePage) noexcept;
// ASCII comparison ignoring case; false when either text is null.
bool EqualsNoCase(const char* a, const char* b) noexcept;
