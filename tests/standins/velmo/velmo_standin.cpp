// One source for the five protocol-library stand-ins (velmoqzt10.dll, velmoqzt_vyrm.dll,
// velmoqzt_vyr_color.dll, velmoqzt_ctp.dll, velmoqzt_pcat.dll). Every entry point of the
// family is defined here; each library's .def exports the ones it holds. The called ones
// hand over to velmoqzt_sim.dll, which keeps the state; the rest log "UNEXPECTED" and fail.
// VELMO_LIBRARY names the library being built.
#include <windows.h>

#include "VelmoSim.h"

namespace {
HMODULE g_self = nullptr;
}

extern "C" {

int __cdecl velmo_load(void)
{
    char path[MAX_PATH * 4] = {};
    GetModuleFileNameA(g_self, path, sizeof(path) - 1);
    return Sim_velmo_load(path);
}
int __cdecl velmo_unload(void) { return Sim_velmo_unload(); }
void __cdecl velmo_free(void* pointer) { Sim_velmo_free(pointer); }
int __cdecl NB_block(VelmoTicket* ticket) { return Sim_NB_block(ticket); }
int __cdecl NB_checkTicket(VelmoTicket* ticket, int32_t* done, int32_t* progress, int32_t* status)
{
    return Sim_NB_checkTicket(ticket, done, progress, status);
}
int __cdecl NB_destroy(VelmoTicket* ticket) { return Sim_NB_destroy(ticket); }
int __cdecl NB_cancel(VelmoTicket* ticket) { return Sim_NB_cancel(ticket); }
int __cdecl DISCOV_getTolvaList(uint32_t timeout, int32_t r1, const char* filter1, const char* filter2, int32_t r2,
                                int32_t r3, int32_t r4, DiscoveredTolvaEx** entries, int32_t* count, int32_t r5)
{
    return Sim_DISCOV_getTolvaList(timeout, r1, filter1, filter2, r2, r3, r4, entries, count, r5);
}
int __cdecl DISCOV_freeDiscoveredTolvaExList(DiscoveredTolvaEx* entries, int32_t count, int32_t reserved)
{
    return Sim_DISCOV_freeDiscoveredTolvaExList(entries, count, reserved);
}

int __cdecl VYRM_connect(const char* address, int32_t mode, int32_t version, ServerConnectionBlock* block,
                         VelmoTicket* ticket)
{
    return Sim_VYRM_connect(address, mode, version, block, ticket);
}
int __cdecl VYRM_getPPDEx(ServerConnectionBlock* block, int32_t r1, const char* pdl, const char* language,
                          const char* path, int32_t r2)
{
    return Sim_VYRM_getPPDEx(block, r1, pdl, language, path, r2);
}
int __cdecl INIT_disconnectFromServer(ServerConnectionBlock* block, VelmoTicket* ticket)
{
    return Sim_INIT_disconnectFromServer(block, ticket);
}
int __cdecl LP_openSession(ServerConnectionBlock* block, VelmoSessionRecord* session, VelmoTicket* ticket)
{
    return Sim_OpenSession("LP", block, session, ticket);
}
int __cdecl LP_closeSession(VelmoSessionRecord* session, VelmoTicket* ticket)
{
    return Sim_CloseSession("LP", session, ticket);
}
int __cdecl LP_getAttributes(VelmoSessionRecord* session, const char* printer, LPAttributeRecord** record,
                             int32_t reserved)
{
    return Sim_LP_getAttributes(session, printer, record, reserved);
}
int __cdecl FEAT_getFeatureList(ServerConnectionBlock* block, char*** names, char*** values, int32_t* count,
                                VelmoTicket* ticket)
{
    return Sim_FEAT_getFeatureList(block, names, values, count, ticket);
}
int __cdecl SERVER_getInfo(ServerConnectionBlock* block, VelmoServerInfo** info, int32_t reserved)
{
    return Sim_SERVER_getInfo(block, info, reserved);
}
int __cdecl SERVER_freeInfo(ServerConnectionBlock* block, VelmoServerInfo* info, int32_t reserved)
{
    return Sim_SERVER_freeInfo(block, info, reserved);
}
int __cdecl ATTR_openSession(ServerConnectionBlock* block, VelmoSessionRecord* session, VelmoTicket* ticket)
{
    return Sim_OpenSession("ATTR", block, session, ticket);
}
int __cdecl ATTR_closeSession(VelmoSessionRecord* session, VelmoTicket* ticket)
{
    return Sim_CloseSession("ATTR", session, ticket);
}
int __cdecl ATTR_getAttributeKeys(VelmoSessionRecord* session, int32_t reserved, const char* key, char*** names,
                                  char*** second, char*** third, int32_t* count, VelmoTicket* ticket)
{
    return Sim_ATTR_getAttributeKeys(session, reserved, key, names, second, third, count, ticket);
}
int __cdecl ATTR_getAttributeValues(VelmoSessionRecord* session, int32_t reserved, const char* name, char*** values,
                                    int32_t** flags, int32_t* count, VelmoTicket* ticket)
{
    return Sim_ATTR_getAttributeValues(session, reserved, name, values, flags, count, ticket);
}
int __cdecl ATTR_getMultipleDefaults(VelmoSessionRecord* session, int32_t reserved, const char* const* names,
                                     char*** values, int32_t nameCount, int32_t* count, int32_t reserved2)
{
    return Sim_ATTR_getMultipleDefaults(session, reserved, names, values, nameCount, count, reserved2);
}

// Bound but never called: a call is a fault of the caller.
#define VELMO_UNEXPECTED(name) \
    int __cdecl name(void) { return Sim_Unexpected(#name); }
VELMO_UNEXPECTED(velmo_malloc)
VELMO_UNEXPECTED(velmo_realloc)
VELMO_UNEXPECTED(AUTH_openSession)
VELMO_UNEXPECTED(AUTH_closeSession)
VELMO_UNEXPECTED(AUTH_getUserRights)
VELMO_UNEXPECTED(AUTH_verifyPasswordUTF8)
VELMO_UNEXPECTED(LOCL_openSession)
VELMO_UNEXPECTED(LOCL_closeSession)
VELMO_UNEXPECTED(LOCL_getString)
VELMO_UNEXPECTED(LOCL_getStringWithContext)
VELMO_UNEXPECTED(INIT_connectToNonStandardServer)
VELMO_UNEXPECTED(FT_openSession)
VELMO_UNEXPECTED(FT_closeSession)
VELMO_UNEXPECTED(FT_getFile)
VELMO_UNEXPECTED(DEV_getInfo)
VELMO_UNEXPECTED(DEV_freeInfo)
VELMO_UNEXPECTED(DEV_getCurrentEvents)
VELMO_UNEXPECTED(DEV_getMessages)
VELMO_UNEXPECTED(DEV_getNumDevices)
VELMO_UNEXPECTED(DEV_getDeviceEventDescription)
VELMO_UNEXPECTED(DEV_getDeviceNameList)
VELMO_UNEXPECTED(JOBM_openSession)
VELMO_UNEXPECTED(JOBM_closeSession)
VELMO_UNEXPECTED(JOBM_getNumJobs)
VELMO_UNEXPECTED(JOBM_getJobListWithSelectedAttributes)
VELMO_UNEXPECTED(JOBM_getPreviewFilename)
VELMO_UNEXPECTED(JOBM_lockJobList)
VELMO_UNEXPECTED(JOBM_unlockJobList)
VELMO_UNEXPECTED(CLDF_openSession)
VELMO_UNEXPECTED(CLDF_closeSession)
VELMO_UNEXPECTED(CLDF_getNextValue)
VELMO_UNEXPECTED(CLDF_getDefaultValue)
VELMO_UNEXPECTED(CLDF_getCurrentKey)
VELMO_UNEXPECTED(CLDF_setNextKey)
VELMO_UNEXPECTED(CLDF_setCurrentKey)
VELMO_UNEXPECTED(CLDF_query_api_version)
VELMO_UNEXPECTED(COLR_openSession)
VELMO_UNEXPECTED(COLR_closeSession)
VELMO_UNEXPECTED(COLR_getCurrentLinkedProfiles)
VELMO_UNEXPECTED(CTP_openSession)
VELMO_UNEXPECTED(CTP_closeSession)
VELMO_UNEXPECTED(CTP_getOptionsForKey)
VELMO_UNEXPECTED(PCAT_getMIDs)
VELMO_UNEXPECTED(PCAT_getMIDsEx)
VELMO_UNEXPECTED(PCAT_getVisibleColumnNames)
VELMO_UNEXPECTED(PCAT_getRowForMID)
VELMO_UNEXPECTED(PCAT_getInternalValueForMID)
VELMO_UNEXPECTED(PCAT_getPPDKeys)
VELMO_UNEXPECTED(PCAT_getPPDValues)
VELMO_UNEXPECTED(PCAT_getVersion)
VELMO_UNEXPECTED(PCAT_serialize)
VELMO_UNEXPECTED(PCAT_getAllRowsEx)
VELMO_UNEXPECTED(PCAT_freeRows)
VELMO_UNEXPECTED(NB_zero)
VELMO_UNEXPECTED(NB_cancel_block_destroy)
#undef VELMO_UNEXPECTED

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = instance;
        Sim_LibraryEvent("LOADED", VELMO_LIBRARY);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Only a FreeLibrary: at process exit the order of detaches is the loader's.
        Sim_LibraryEvent("FREED", VELMO_LIBRARY);
    }
    return TRUE;
}

}  // extern "C"
