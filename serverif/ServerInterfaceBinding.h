// The sixteen exports of a loaded print-server interface library, bound by name into one typed
// table: the two-way server binds its library with it, and so do the inspection tool and the
// tests, which load the library as the server does.
#pragma once

#include <windows.h>

#include "serverif/ServerInterface.h"

// In binding order; all mandatory.
struct ServerInterfaceTable {
    PFN_QVServerInitialize Initialize = nullptr;
    PFN_QVServerTerminate Terminate = nullptr;
    PFN_QVServerConnect Connect = nullptr;
    PFN_QVServerDisconnect Disconnect = nullptr;
    PFN_QVServerGetInstallablesList GetInstallablesList = nullptr;
    PFN_QVServerFreeInstallablesList FreeInstallablesList = nullptr;
    PFN_QVServerGetFeaturesList GetFeaturesList = nullptr;
    PFN_QVServerFreeFeaturesList FreeFeaturesList = nullptr;
    PFN_QVServerGetEMailNotifyInfo GetEMailNotifyInfo = nullptr;
    PFN_QVServerGetMultipleDefaults GetMultipleDefaults = nullptr;
    PFN_QVServerFreeMultipleDefaults FreeMultipleDefaults = nullptr;
    PFN_QVServerGetVPAttributes GetVPAttributes = nullptr;
    PFN_QVServerFreeVPAttributes FreeVPAttributes = nullptr;
    PFN_QVServerDiscover Discover = nullptr;
    PFN_QVServerFreeDiscover FreeDiscover = nullptr;
    PFN_QVServerGetPPD GetPPD = nullptr;

    // Binds every export in table order (the export names are the 8-bit texts
    // "QVServerInitialize" to "QVServerGetPPD"); false when the module is null or lacks one
    // (the ones bound before stay set).
    bool BindAll(HMODULE module) noexcept
    {
        return Bind(module, "QVServerInitialize", Initialize) && Bind(module, "QVServerTerminate", Terminate) &&
               Bind(module, "QVServerConnect", Connect) && Bind(module, "QVServerDisconnect", Disconnect) &&
               Bind(module, "QVServerGetInstallablesList", GetInstallablesList) &&
               Bind(module, "QVServerFreeInstallablesList", FreeInstallablesList) &&
               Bind(module, "QVServerGetFeaturesList", GetFeaturesList) &&
               Bind(module, "QVServerFreeFeaturesList", FreeFeaturesList) &&
               Bind(module, "QVServerGetEMailNotifyInfo", GetEMailNotifyInfo) &&
               Bind(module, "QVServerGetMultipleDefaults", GetMultipleDefaults) &&
               Bind(module, "QVServerFreeMultipleDefaults", FreeMultipleDefaults) &&
               Bind(module, "QVServerGetVPAttributes", GetVPAttributes) &&
               Bind(module, "QVServerFreeVPAttributes", FreeVPAttributes) &&
               Bind(module, "QVServerDiscover", Discover) && Bind(module, "QVServerFreeDiscover", FreeDiscover) &&
               Bind(module, "QVServerGetPPD", GetPPD);
    }

private:
    template <class Fn>
    static bool Bind(HMODULE module, const char* name, Fn& fn) noexcept
    {
        fn = module ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
        return fn != nullptr;
    }
};

// The name the inspection tool and the tests know the table by.
using QVServerExports = ServerInterfaceTable;
