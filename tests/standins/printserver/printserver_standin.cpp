// Stand-in for the print-server interface library, played by a script: the sixteen QVServer
// exports with the library's rules (context, block validity, records, free functions), and
// what each call answers taken from "<library>.script" beside the module:
//
//   QVServer<Name> ok|fail|die [delay-ms]   how that export answers (default: ok, no delay);
//                                           die ends the whole process mid-call; the delay
//                                           holds the call (a controller that does not answer)
//   feature <key>=<value>                   a record of the features list
//   installable <key>=<value>               a record of the installables list
//   default <key>=<value>                   a record of the multiple defaults
//   vp <key>=<value>  /  vpflag <key>=<value>   a virtual-printer attribute (flagged or not)
//   email 1                                 e-mail notification ready
//   discover <first> <second>               a found controller
//   discover-empty                          the discovery succeeds with a result of no bytes
//   ppd <source path>                       the file QVServerGetPPD copies to its destination
//
// Every call appends "enter" and "leave" lines to "<library>.log" (tick, process, thread,
// block, arguments; status), and the module's load appends "load", so a test can replay
// what the server did from the log.
#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "serverif/ServerInterface.h"

namespace {

HMODULE g_module = nullptr;

struct Rule {
    std::string action = "ok";
    DWORD delay = 0;
};
struct Pair {
    std::wstring key, value;
    bool flagged = false;
};
struct Script {
    std::map<std::string, Rule> rules;
    std::vector<Pair> features, installables, defaults, attributes;
    bool email = false;
    std::vector<std::pair<std::string, std::string>> found;
    bool emptyDiscover = false;
    std::wstring ppdSource;
};

std::wstring SiblingPath(const wchar_t* extension) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_module, path, MAX_PATH);
    std::wstring text = path;
    const size_t dot = text.find_last_of(L'.');
    const size_t slash = text.find_last_of(L"\\/");
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) text.resize(dot);
    return text + extension;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string Narrow(const wchar_t* text) {
    if (!text || !*text) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

void AppendLog(const std::string& line) {
    char head[96];
    snprintf(head, sizeof(head), "%lu %lu %lu ", GetTickCount(), GetCurrentProcessId(), GetCurrentThreadId());
    const std::string text = head + line + "\n";
    // Appends of two processes at once lose lines under Wine (FILE_APPEND_DATA writes at the
    // end it saw, not at the end there is), so the writers of every log take turns.
    HANDLE turn = CreateMutexW(nullptr, FALSE, L"TolvaPrintServerStandInLog");
    const DWORD waited = turn ? WaitForSingleObject(turn, 5000) : WAIT_FAILED;
    HANDLE file = CreateFileW(SiblingPath(L".log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(turn);
    if (turn) CloseHandle(turn);
}

Script ReadScript() {
    Script script;
    FILE* file = _wfopen(SiblingPath(L".script").c_str(), L"rb");
    if (!file) return script;
    char buffer[1024];
    while (fgets(buffer, sizeof(buffer), file)) {
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t space = line.find(' ');
        const std::string word = line.substr(0, space);
        const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
        const size_t equals = rest.find('=');
        Pair pair;
        if (equals != std::string::npos) {
            pair.key = Wide(rest.substr(0, equals));
            pair.value = Wide(rest.substr(equals + 1));
        }
        if (word.rfind("QVServer", 0) == 0) {
            Rule rule;
            const size_t second = rest.find(' ');
            rule.action = rest.substr(0, second);
            if (second != std::string::npos) rule.delay = static_cast<DWORD>(strtoul(rest.c_str() + second + 1, nullptr, 10));
            script.rules[word] = rule;
        } else if (word == "feature") {
            script.features.push_back(pair);
        } else if (word == "installable") {
            script.installables.push_back(pair);
        } else if (word == "default") {
            script.defaults.push_back(pair);
        } else if (word == "vp" || word == "vpflag") {
            pair.flagged = word == "vpflag";
            script.attributes.push_back(pair);
        } else if (word == "email") {
            script.email = rest == "1";
        } else if (word == "discover-empty") {
            script.emptyDiscover = true;
        } else if (word == "discover") {
            const size_t split = rest.find(' ');
            script.found.emplace_back(rest.substr(0, split), split == std::string::npos ? std::string() : rest.substr(split + 1));
        } else if (word == "ppd") {
            script.ppdSource = Wide(rest);
        }
    }
    fclose(file);
    return script;
}

// One call: logs its entry, reads the script, applies the export's delay and action.
class Call {
public:
    Call(const char* name, const void* block, const std::string& arguments) : m_name(name), m_script(ReadScript()) {
        char head[64];
        snprintf(head, sizeof(head), " block=%p", block);
        AppendLog(std::string("enter ") + name + head + (arguments.empty() ? "" : " " + arguments));
        const Rule& rule = m_script.rules[name];
        if (rule.delay) Sleep(rule.delay);
        if (rule.action == "die") {
            AppendLog(std::string("die ") + name);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        m_fail = rule.action == "fail";
    }
    bool Fails() const { return m_fail; }
    const Script& GetScript() const { return m_script; }
    INT_PTR Leave(bool ok) {
        AppendLog(std::string("leave ") + m_name + (ok ? " ok" : " failed"));
        return ok ? QVSERVER_OK : QVSERVER_FAILED;
    }

private:
    const char* m_name;
    Script m_script;
    bool m_fail = false;
};

bool ValidBlock(const ServerConnectionBlock* block) { return block && block->self == block; }

void AppendPairs(QVObList* list, const std::vector<Pair>& pairs) {
    for (const Pair& pair : pairs) {
        auto* record = new QVKeyVal(pair.key.c_str(), pair.value.c_str());
        if (!list->AddTail(record)) delete record;
    }
}

}  // namespace

extern "C" {

INT_PTR WINAPI QVServerInitialize(ServerInterfaceContext** context) {
    Call call("QVServerInitialize", nullptr, "");
    if (!context || call.Fails()) return call.Leave(false);
    *context = reinterpret_cast<ServerInterfaceContext*>(new int(1));
    return call.Leave(true);
}

INT_PTR WINAPI QVServerTerminate(ServerInterfaceContext** context) {
    Call call("QVServerTerminate", nullptr, "");
    if (!context || !*context) return call.Leave(false);
    delete reinterpret_cast<int*>(*context);
    *context = nullptr;
    return call.Leave(!call.Fails());
}

INT_PTR WINAPI QVServerConnect(ServerInterfaceContext** context, const wchar_t* address, ServerConnectionBlock* block) {
    Call call("QVServerConnect", block, "address=" + Narrow(address));
    if (!context || !*context || !address || !block || call.Fails()) return call.Leave(false);
    block->self = block;
    snprintf(block->address, sizeof(block->address), "%s", Narrow(address).c_str());
    return call.Leave(true);
}

INT_PTR WINAPI QVServerDisconnect(ServerInterfaceContext** context, ServerConnectionBlock* block) {
    Call call("QVServerDisconnect", block, "");
    if (!context || !*context) return call.Leave(false);
    if (ValidBlock(block)) block->self = nullptr;
    return call.Leave(true);
}

INT_PTR WINAPI QVServerDiscover(ServerInterfaceContext** context, int* size, BYTE** buffer, const wchar_t* filter1,
                                const wchar_t* filter2, unsigned timeout) {
    Call call("QVServerDiscover", nullptr,
              "filter1=" + Narrow(filter1) + " filter2=" + Narrow(filter2) + " timeout=" + std::to_string(timeout));
    if (size) *size = 0;
    if (buffer) *buffer = nullptr;
    if (!context || !*context || !size || !buffer || call.Fails()) return call.Leave(false);
    if (call.GetScript().emptyDiscover) {
        *buffer = new BYTE[1];
        return call.Leave(true);
    }
    std::string bytes;
    for (const auto& found : call.GetScript().found) {
        bytes += found.second;
        bytes += '\0';
        bytes += found.first;
        bytes += '\0';
    }
    bytes += '\0';
    *buffer = new BYTE[bytes.size()];
    memcpy(*buffer, bytes.data(), bytes.size());
    *size = static_cast<int>(bytes.size());
    return call.Leave(true);
}

INT_PTR WINAPI QVServerFreeDiscover(ServerInterfaceContext** context, BYTE** buffer) {
    Call call("QVServerFreeDiscover", nullptr, "");
    if (!context || !*context || !buffer || !*buffer) return call.Leave(false);
    delete[] *buffer;
    *buffer = nullptr;
    return call.Leave(true);
}

INT_PTR WINAPI QVServerGetFeaturesList(ServerInterfaceContext** context, ServerConnectionBlock* block, QVObList* list, int) {
    Call call("QVServerGetFeaturesList", block, "");
    if (!context || !*context || !list || !ValidBlock(block) || call.Fails()) return call.Leave(false);
    AppendPairs(list, call.GetScript().features);
    return call.Leave(true);
}

INT_PTR WINAPI QVServerFreeFeaturesList(ServerInterfaceContext** context, ServerConnectionBlock* block, QVObList* list) {
    Call call("QVServerFreeFeaturesList", block, "");
    if (!context || !*context) return call.Leave(false);
    if (list && ValidBlock(block)) list->DeleteAll();
    return call.Leave(true);
}

INT_PTR WINAPI QVServerGetInstallablesList(ServerInterfaceContext** context, ServerConnectionBlock* block, QVObList* list,
                                           int) {
    Call call("QVServerGetInstallablesList", block, "");
    if (!context || !*context || !list || !ValidBlock(block) || call.Fails()) return call.Leave(false);
    AppendPairs(list, call.GetScript().installables);
    return call.Leave(true);
}

INT_PTR WINAPI QVServerFreeInstallablesList(ServerInterfaceContext** context, ServerConnectionBlock* block,
                                            QVObList* list) {
    Call call("QVServerFreeInstallablesList", block, "");
    if (!context || !*context) return call.Leave(false);
    if (list) list->DeleteAll();
    return call.Leave(true);
}

INT_PTR WINAPI QVServerGetMultipleDefaults(ServerInterfaceContext** context, ServerConnectionBlock* block, QVObList* list,
                                           int) {
    Call call("QVServerGetMultipleDefaults", block, "");
    if (!context || !*context || !list || !ValidBlock(block) || call.Fails()) return call.Leave(false);
    AppendPairs(list, call.GetScript().defaults);
    return call.Leave(true);
}

INT_PTR WINAPI QVServerFreeMultipleDefaults(ServerInterfaceContext** context, ServerConnectionBlock* block,
                                            QVObList* list) {
    Call call("QVServerFreeMultipleDefaults", block, "");
    if (!context || !*context) return call.Leave(false);
    if (list) list->DeleteAll();
    return call.Leave(true);
}

INT_PTR WINAPI QVServerGetVPAttributes(ServerInterfaceContext** context, ServerConnectionBlock* block,
                                       const wchar_t* printer, QVObList* all, QVObList* flagged) {
    Call call("QVServerGetVPAttributes", block, "printer=" + Narrow(printer));
    if (!context || !*context || !all || !flagged || !ValidBlock(block) || call.Fails()) return call.Leave(false);
    for (const Pair& pair : call.GetScript().attributes) {
        auto* record = new QVKeyVal(pair.key.c_str(), pair.value.c_str());
        if (!all->AddTail(record)) delete record;
        if (pair.flagged) {
            auto* copy = new QVKeyVal(pair.key.c_str(), pair.value.c_str());
            if (!flagged->AddTail(copy)) delete copy;
        }
    }
    return call.Leave(true);
}

INT_PTR WINAPI QVServerFreeVPAttributes(ServerInterfaceContext** context, ServerConnectionBlock* block, QVObList* all,
                                        QVObList* flagged) {
    Call call("QVServerFreeVPAttributes", block, "");
    if (!context || !*context) return call.Leave(false);
    if (all) all->DeleteAll();
    if (flagged) flagged->DeleteAll();
    return call.Leave(true);
}

INT_PTR WINAPI QVServerGetEMailNotifyInfo(ServerInterfaceContext** context, ServerConnectionBlock* block,
                                          QVEmailNotification* notification, int) {
    Call call("QVServerGetEMailNotifyInfo", block, "");
    if (!context || !*context || !notification || !ValidBlock(block) || call.Fails()) return call.Leave(false);
    if (call.GetScript().email) notification->SetReady(1);
    return call.Leave(true);
}

INT_PTR WINAPI QVServerGetPPD(ServerInterfaceContext** context, ServerConnectionBlock* block, const wchar_t* path) {
    Call call("QVServerGetPPD", block, "path=" + Narrow(path));
    if (!context || !*context || !block || !path || call.Fails() || call.GetScript().ppdSource.empty())
        return call.Leave(false);
    return call.Leave(CopyFileW(call.GetScript().ppdSource.c_str(), path, FALSE) != FALSE);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        AppendLog("load");
    }
    return TRUE;
}

}  // extern "C"
