// The sixteen exports of the print-server interface library, as the two-way server binds
// them by name. Every export takes the address of the caller's context pointer first and
// returns a pointer-sized status: 0 for success, QVSERVER_FAILED (only the sign bit set)
// for failure; callers test for a negative result. Exported with plain names through the
// library's .def file (WINAPI is __stdcall on i686).
#pragma once

#include <windows.h>

#include <cstdint>

#include "serverif/QVRecords.h"
#include "serverif/VelmoProtocol.h"

// Opaque to callers: made by QVServerInitialize, deleted by QVServerTerminate.
class ServerInterfaceContext;

inline constexpr INT_PTR QVSERVER_OK = 0;
inline constexpr INT_PTR QVSERVER_FAILED = INTPTR_MIN;

extern "C" {

typedef INT_PTR(WINAPI* PFN_QVServerConnect)(ServerInterfaceContext** context, const wchar_t* address,
                                             ServerConnectionBlock* block);
typedef INT_PTR(WINAPI* PFN_QVServerDisconnect)(ServerInterfaceContext** context, ServerConnectionBlock* block);
// size receives the bytes used (the final NUL included); buffer a new[] array given back
// through QVServerFreeDiscover.
typedef INT_PTR(WINAPI* PFN_QVServerDiscover)(ServerInterfaceContext** context, int* size, BYTE** buffer,
                                              const wchar_t* filter1, const wchar_t* filter2, unsigned timeout);
typedef INT_PTR(WINAPI* PFN_QVServerFreeDiscover)(ServerInterfaceContext** context, BYTE** buffer);
typedef INT_PTR(WINAPI* PFN_QVServerFreeFeaturesList)(ServerInterfaceContext** context,
                                                      ServerConnectionBlock* block, QVObList* list);
typedef INT_PTR(WINAPI* PFN_QVServerFreeInstallablesList)(ServerInterfaceContext** context,
                                                          ServerConnectionBlock* block, QVObList* list);
typedef INT_PTR(WINAPI* PFN_QVServerFreeMultipleDefaults)(ServerInterfaceContext** context,
                                                          ServerConnectionBlock* block, QVObList* list);
typedef INT_PTR(WINAPI* PFN_QVServerFreeVPAttributes)(ServerInterfaceContext** context,
                                                      ServerConnectionBlock* block, QVObList* all,
                                                      QVObList* flagged);
typedef INT_PTR(WINAPI* PFN_QVServerGetEMailNotifyInfo)(ServerInterfaceContext** context,
                                                        ServerConnectionBlock* block,
                                                        QVEmailNotification* notification, int unused);
typedef INT_PTR(WINAPI* PFN_QVServerGetFeaturesList)(ServerInterfaceContext** context,
                                                     ServerConnectionBlock* block, QVObList* list, int unused);
typedef INT_PTR(WINAPI* PFN_QVServerGetInstallablesList)(ServerInterfaceContext** context,
                                                         ServerConnectionBlock* block, QVObList* list,
                                                         int unused);
typedef INT_PTR(WINAPI* PFN_QVServerGetMultipleDefaults)(ServerInterfaceContext** context,
                                                         ServerConnectionBlock* block, QVObList* list,
                                                         int unused);
typedef INT_PTR(WINAPI* PFN_QVServerGetPPD)(ServerInterfaceContext** context, ServerConnectionBlock* block,
                                            const wchar_t* path);
typedef INT_PTR(WINAPI* PFN_QVServerGetVPAttributes)(ServerInterfaceContext** context,
                                                     ServerConnectionBlock* block, const wchar_t* printer,
                                                     QVObList* all, QVObList* flagged);
typedef INT_PTR(WINAPI* PFN_QVServerInitialize)(ServerInterfaceContext** context);
typedef INT_PTR(WINAPI* PFN_QVServerTerminate)(ServerInterfaceContext** context);

}  // extern "C"

// The export names in ordinal order (ordinal = index + 1).
inline constexpr const char* kQVServerExportNames[16] = {
    "QVServerConnect",
    "QVServerDisconnect",
    "QVServerDiscover",
    "QVServerFreeDiscover",
    "QVServerFreeFeaturesList",
    "QVServerFreeInstallablesList",
    "QVServerFreeMultipleDefaults",
    "QVServerFreeVPAttributes",
    "QVServerGetEMailNotifyInfo",
    "QVServerGetFeaturesList",
    "QVServerGetInstallablesList",
    "QVServerGetMultipleDefaults",
    "QVServerGetPPD",
    "QVServerGetVPAttributes",
    "QVServerInitialize",
    "QVServerTerminate",
};
