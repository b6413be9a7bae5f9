// The sixteen entry points of the print-server library as Brimsa binds them by name, and
// small readers of its records.
#pragma once

#include "serverif/ServerInterface.h"

// In binding order; all mandatory.
struct ServerInterfaceTable {
    PFN_QVServerInitialize Initialize;
    PFN_QVServerTerminate Terminate;
    PFN_QVServerConnect Connect;
    PFN_QVServerDisconnect Disconnect;
    PFN_QVServerGetInstallablesList GetInstallablesList;
    PFN_QVServerFreeInstallablesList FreeInstallablesList;
    PFN_QVServerGetFeaturesList GetFeaturesList;
    PFN_QVServerFreeFeaturesList FreeFeaturesList;
    PFN_QVServerGetEMailNotifyInfo GetEMailNotifyInfo;
    PFN_QVServerGetMultipleDefaults GetMultipleDefaults;
    PFN_QVServerFreeMultipleDefaults FreeMultipleDefaults;
    PFN_QVServerGetVPAttributes GetVPAttributes;
    PFN_QVServerFreeVPAttributes FreeVPAttributes;
    PFN_QVServerDiscover Discover;
    PFN_QVServerFreeDiscover FreeDiscover;
    PFN_QVServerGetPPD GetPPD;
};
inline constexpr int kServerInterfaceEntries = 16;
static_assert(sizeof(ServerInterfaceTable) == kServerInterfaceEntries * sizeof(void*), "one slot per entry point");
