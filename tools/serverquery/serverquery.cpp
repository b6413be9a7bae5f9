// serverquery TESMOR ADDRESS [--script F] [--vp NAME] [--ppd PATH] [--discover F1 F2]
//
// Loads the print-server interface library TESMOR (altered search path, exports bound by
// name) and runs its exports in the two-way server's order: initialise, connect, features,
// installables, e-mail readiness, multiple defaults, virtual-printer attributes (--vp),
// the PPD (--ppd), discovery (--discover), disconnect, terminate. Prints one line per
// status ("QVServerConnect 0" / "QVServerConnect FAILED") and per record
// ("FEATURE Duplex=1"), UTF-8. --script names the protocol-library stand-ins' script.
// Exit code: 0, 1 when the connection fails, 2 for bad arguments, an unloadable library or a
// failed initialise.
#include <windows.h>

#include <cstdio>
#include <string>

#include "serverif/ServerInterfaceBinding.h"

namespace {

void Print(const std::wstring& line)
{
    const std::wstring text = line + L"\n";
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string bytes(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

std::wstring Wide(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

bool Status(const wchar_t* name, INT_PTR status)
{
    Print(std::wstring(name) + (status < 0 ? L" FAILED" : L" 0"));
    return status >= 0;
}

void PrintList(const wchar_t* tag, const QVObList& list)
{
    QVObList::Position position = list.GetHeadPosition();
    while (position) {
        const auto* record = static_cast<const QVKeyVal*>(list.GetNext(position));
        if (record)
            Print(std::wstring(tag) + L" " + record->Key() + L"=" + record->Value());
    }
}

int Usage()
{
    Print(L"usage: serverquery TESMOR ADDRESS [--script F] [--vp NAME] [--ppd PATH] [--discover F1 F2]");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return Usage();
    const wchar_t* library = argv[1];
    const wchar_t* address = argv[2];
    const wchar_t* printer = nullptr;
    const wchar_t* ppd = nullptr;
    const wchar_t* filter1 = nullptr;
    const wchar_t* filter2 = nullptr;
    for (int i = 3; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--script" && i + 1 < argc)
            SetEnvironmentVariableW(L"VELMO_SIM_SCRIPT", argv[++i]);
        else if (option == L"--vp" && i + 1 < argc)
            printer = argv[++i];
        else if (option == L"--ppd" && i + 1 < argc)
            ppd = argv[++i];
        else if (option == L"--discover" && i + 2 < argc) {
            filter1 = argv[++i];
            filter2 = argv[++i];
        } else
            return Usage();
    }

    HMODULE module = LoadLibraryExW(library, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    QVServerExports api;
    if (!module || !api.BindAll(module)) {
        Print(L"cannot load the sixteen exports of " + std::wstring(library) + L" (error " +
              std::to_wstring(GetLastError()) + L")");
        if (module)
            FreeLibrary(module);
        return 2;
    }

    ServerInterfaceContext* context = nullptr;
    int exitCode = 0;
    if (Status(L"QVServerInitialize", api.Initialize(&context))) {
        ServerConnectionBlock block = {};
        if (!Status(L"QVServerConnect", api.Connect(&context, address, &block))) {
            exitCode = 1;
        } else {
            QVObList list(10);
            if (Status(L"QVServerGetFeaturesList", api.GetFeaturesList(&context, &block, &list, 0)))
                PrintList(L"FEATURE", list);
            Status(L"QVServerFreeFeaturesList", api.FreeFeaturesList(&context, &block, &list));
            if (Status(L"QVServerGetInstallablesList", api.GetInstallablesList(&context, &block, &list, 0)))
                PrintList(L"INSTALLABLE", list);
            Status(L"QVServerFreeInstallablesList", api.FreeInstallablesList(&context, &block, &list));
            QVEmailNotification mail;
            if (Status(L"QVServerGetEMailNotifyInfo", api.GetEMailNotifyInfo(&context, &block, &mail, 0)))
                Print(L"EMAIL ready=" + std::to_wstring(mail.IsReady()));
            if (Status(L"QVServerGetMultipleDefaults", api.GetMultipleDefaults(&context, &block, &list, 0)))
                PrintList(L"DEFAULT", list);
            Status(L"QVServerFreeMultipleDefaults", api.FreeMultipleDefaults(&context, &block, &list));
            if (printer) {
                QVObList flagged(10);
                if (Status(L"QVServerGetVPAttributes", api.GetVPAttributes(&context, &block, printer, &list, &flagged))) {
                    PrintList(L"VPATTRIBUTE", list);
                    PrintList(L"VPFLAGGED", flagged);
                }
                Status(L"QVServerFreeVPAttributes", api.FreeVPAttributes(&context, &block, &list, &flagged));
            }
            if (ppd && Status(L"QVServerGetPPD", api.GetPPD(&context, &block, ppd)))
                Print(std::wstring(L"PPD ") + ppd);
        }
        if (filter1) {
            int size = 0;
            BYTE* buffer = nullptr;
            if (Status(L"QVServerDiscover", api.Discover(&context, &size, &buffer, filter1, filter2, 3000))) {
                // Pairs of texts (second, then first), ended by an empty text.
                const char* at = reinterpret_cast<const char*>(buffer);
                const char* end = at + size;
                while (at < end && *at) {
                    const std::string second = at;
                    at += second.size() + 1;
                    const std::string first = at < end ? at : "";
                    at += first.size() + 1;
                    Print(L"DISCOVERED " + Wide(second) + L" " + Wide(first));
                }
                Status(L"QVServerFreeDiscover", api.FreeDiscover(&context, &buffer));
            }
        }
        Status(L"QVServerDisconnect", api.Disconnect(&context, &block));
        Status(L"QVServerTerminate", api.Terminate(&context));
    } else {
        exitCode = 2;
    }
    FreeLibrary(module);
    return exitCode;
}
