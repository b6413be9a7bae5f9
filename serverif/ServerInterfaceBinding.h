// The sixteen exports of a loaded print-server interface library, bound by name: used by the
// inspection tool and the tests, which load the library as the two-way server does.
#pragma once

#include <windows.h>

#include "serverif/ServerInterface.h"

struct QVServerExports {
    PFN_QVServerConnect Connect = nullptr;
    PFN_QVServerDisconnect Disconnect = nullptr;
    PFN_QVServerDiscover Discover = nullptr;
    PFN_QVServerFreeDiscover FreeDiscover = nullptr;
    PFN_QVServerFreeFeaturesList FreeFeaturesList = nullptr;
    PFN_QVServerFreeInstallablesList FreeInstallablesList = nullptr;
    PFN_QVServerFreeMultipleDefaults FreeMultipleDefaults = nullptr;
    PFN_QVServerFreeVPAttributes FreeVPAttributes = nullptr;
    PFN_QVServerGetEMailNotifyInfo GetEMailNotifyInfo = nullptr;
    PFN_QVServerGetFeaturesList GetFeaturesList = nullptr;
    PFN_QVServerGetInstallablesList GetInstallablesList = nullptr;
    PFN_QVServerGetMultipleDefaults GetMultipleDefaults = nullptr;
    PFN_QVServerGetPPD GetPPD = nullptr;
    PFN_QVServerGetVPAttributes GetVPAttributes = nullptr;
    PFN_QVServerInitialize Initialize = nullptr;
    PFN_QVServerTerminate Terminate = nullptr;

    // Binds every export; false when any is missing (the bound ones stay set).
    bool BindAll(HMODULE module) noexcept
    {
        Bind(module, "QVServerConnect", Connect);
        Bind(module, "QVServerDisconnect", Disconnect);
        Bind(module, "QVServerDiscover", Discover);
        Bind(module, "QVServerFreeDiscover", FreeDiscover);
        Bind(module, "QVServerFreeFeaturesList", FreeFeaturesList);
        Bind(module, "QVServerFreeInstallablesList", FreeInstallablesList);
        Bind(module, "QVServerFreeMultipleDefaults", FreeMultipleDefaults);
        Bind(module, "QVServerFreeVPAttributes", FreeVPAttributes);
        Bind(module, "QVServerGetEMailNotifyInfo", GetEMailNotifyInfo);
        Bind(module, "QVServerGetFeaturesList", GetFeaturesList);
        Bind(module, "QVServerGetInstallablesList", GetInstallablesList);
        Bind(module, "QVServerGetMultipleDefaults", GetMultipleDefaults);
        Bind(module, "QVServerGetPPD", GetPPD);
        Bind(module, "QVServerGetVPAttributes", GetVPAttributes);
        Bind(module, "QVServerInitialize", Initialize);
        Bind(module, "QVServerTerminate", Terminate);
        return Connect && Disconnect && Discover && FreeDiscover && FreeFeaturesList && FreeInstallablesList &&
               FreeMultipleDefaults && FreeVPAttributes && GetEMailNotifyInfo && GetFeaturesList &&
               GetInstallablesList && GetMultipleDefaults && GetPPD && GetVPAttributes && Initialize && Terminate;
    }

private:
    template <class Fn>
    static void Bind(HMODULE module, const char* name, Fn& fn) noexcept
    {
        fn = module ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
    }
};
