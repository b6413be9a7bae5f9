// velmoqzt_sim.dll: the state behind the five protocol-library stand-ins. It plays the
// controllers that a script describes (VELMO_SIM_SCRIPT), keeps every allocation, session,
// ticket and connection it hands out, and writes one log line per call and per fault it
// sees (VELMO_SIM_LOG): unknown frees, reused tickets, bad handles, calls no caller should
// make ("UNEXPECTED"), and what velmo_unload finds left ("LEFT").
#pragma once

#include "serverif/VelmoProtocol.h"

#ifdef VELMO_SIM_BUILD
#define VELMO_SIM_API extern "C" __declspec(dllexport)
#else
#define VELMO_SIM_API extern "C" __declspec(dllimport)
#endif

VELMO_SIM_API void __cdecl Sim_LibraryEvent(const char* event, const char* library);
VELMO_SIM_API int __cdecl Sim_Unexpected(const char* name);

VELMO_SIM_API int __cdecl Sim_velmo_load(const char* libraryPath);
VELMO_SIM_API int __cdecl Sim_velmo_unload(void);
VELMO_SIM_API void __cdecl Sim_velmo_free(void* pointer);
VELMO_SIM_API int __cdecl Sim_NB_block(VelmoTicket* ticket);
VELMO_SIM_API int __cdecl Sim_NB_checkTicket(VelmoTicket* ticket, int32_t* done, int32_t* progress, int32_t* status);
VELMO_SIM_API int __cdecl Sim_NB_destroy(VelmoTicket* ticket);
VELMO_SIM_API int __cdecl Sim_NB_cancel(VelmoTicket* ticket);
VELMO_SIM_API int __cdecl Sim_DISCOV_getTolvaList(uint32_t timeout, int32_t reserved1, const char* filter1,
                                                  const char* filter2, int32_t reserved2, int32_t reserved3,
                                                  int32_t reserved4, DiscoveredTolvaEx** entries, int32_t* count,
                                                  int32_t reserved5);
VELMO_SIM_API int __cdecl Sim_DISCOV_freeDiscoveredTolvaExList(DiscoveredTolvaEx* entries, int32_t count,
                                                               int32_t reserved);
VELMO_SIM_API int __cdecl Sim_VYRM_connect(const char* address, int32_t mode, int32_t version,
                                           ServerConnectionBlock* block, VelmoTicket* ticket);
VELMO_SIM_API int __cdecl Sim_VYRM_getPPDEx(ServerConnectionBlock* block, int32_t reserved1, const char* pdl,
                                            const char* language, const char* path, int32_t reserved2);
VELMO_SIM_API int __cdecl Sim_INIT_disconnectFromServer(ServerConnectionBlock* block, VelmoTicket* ticket);
VELMO_SIM_API int __cdecl Sim_OpenSession(const char* kind, ServerConnectionBlock* block,
                                          VelmoSessionRecord* session, VelmoTicket* ticket);
VELMO_SIM_API int __cdecl Sim_CloseSession(const char* kind, VelmoSessionRecord* session, VelmoTicket* ticket);
VELMO_SIM_API int __cdecl Sim_LP_getAttributes(VelmoSessionRecord* session, const char* printer,
                                               LPAttributeRecord** record, int32_t reserved);
VELMO_SIM_API int __cdecl Sim_FEAT_getFeatureList(ServerConnectionBlock* block, char*** names, char*** values,
                                                  int32_t* count, VelmoTicket* ticket);
VELMO_SIM_API int __cdecl Sim_SERVER_getInfo(ServerConnectionBlock* block, VelmoServerInfo** info, int32_t reserved);
VELMO_SIM_API int __cdecl Sim_SERVER_freeInfo(ServerConnectionBlock* block, VelmoServerInfo* info, int32_t reserved);
VELMO_SIM_API int __cdecl Sim_ATTR_getAttributeKeys(VelmoSessionRecord* session, int32_t reserved, const char* key,
                                                    char*** names, char*** second, char*** third, int32_t* count,
                                                    VelmoTicket* ticket);
VELMO_SIM_API int __cdecl Sim_ATTR_getAttributeValues(VelmoSessionRecord* session, int32_t reserved,
                                                      const char* name, char*** values, int32_t** flags,
                                                      int32_t* count, VelmoTicket* ticket);
VELMO_SIM_API int __cdecl Sim_ATTR_getMultipleDefaults(VelmoSessionRecord* session, int32_t reserved,
                                                       const char* const* names, char*** values, int32_t nameCount,
                                                       int32_t* count, int32_t reserved2);
