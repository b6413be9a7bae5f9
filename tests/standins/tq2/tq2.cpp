// Stand-in for the maker's job-settings library "tq2.dll". One source, one build per .def
// (full, novalidate, nofree, nosdm). It plays the library's side in the order the real one
// does: it keeps what Quenta hands it, draws it in a child window of the page, asks for the
// SMDData document and the pictures when run, and hands back its own arrays with the changes
// that "tq2.cfg" beside it names. Every call is logged (TestCallLog, and "tq2.log" beside it).
//
// tq2.cfg, one "name=value" a line:
//   init=N           Init's result (0: the library refuses)            default 1
//   ready=N|never|message  IsServerReady answers ready from poll N + 1 on; message: once
//                    the window got the message Init2 posts to it           default 0
//   complete=S,E|none  settings-data completion status and error        default 100,0
//   queue1=K=V;K=V   the queue's first text;  queue2=... its second     default none
//   changes=K=V;K=V  values the window "changes", applied at SaveDrvUI  default none
//   validate=N       ValidateSettings' answer (read again at each call)  default 1
//   device=TEXT|none the library's own device document (none: no provider)  default a small one
//   notify=thread    the change notice comes from a worker thread of the library, not from
//                    the registering call                                    default inline
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/standins/StandInCallLog.h"
#include "uiplugin/TQAbi.h"

namespace {

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

struct Config {
    UINT_PTR init = 1;
    long readyAfter = 0;  // -1: never
    bool complete = true;
    uint32_t status = 100;
    uint32_t error = 0;
    std::wstring queue1, queue2;
    Pairs changes;
    DWORD validate = 1;
    bool ownProvider = true;
    bool readyByMessage = false;
    bool notifyFromThread = false;
    std::wstring device = L"<?xml version=\"1.0\"?><SMDData><Configuration locale=\"xx\"/><Device>"
                          L"<InstallableOptions><InstalledOptions key=\"Old\" value=\"1\"/></InstallableOptions>"
                          L"</Device></SMDData>";
};

std::recursive_mutex g_lock;
StandInCallLog g_log;
Config g_config;
TQCallbacks* g_callbacks = nullptr;
long g_polls = 0;
Pairs g_keys;
Pairs g_watermarks;
std::wstring g_readOnly;
std::wstring g_document;
HBITMAP g_picture = nullptr;
HWND g_window = nullptr;
bool g_sdmActive = false;
void* g_sdmClient = nullptr;
TQNotificationList* g_list = nullptr;
bool g_notifyPending = false;
std::map<void*, size_t> g_live;  // buffers and arrays handed out and not yet freed
int g_session = 0;
int g_userData = 0;
HANDLE g_completionThread = nullptr;
HANDLE g_notifyThread = nullptr;
bool g_readyMessageSeen = false;
// Posted by Init2 to the library's own window: readiness that only a thread dispatching its
// messages ever sees.
constexpr UINT kReadyMessage = WM_APP + 7;

HMODULE Self() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Self), &module);
    return module;
}

std::wstring Beside(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(Self(), path, MAX_PATH);
    wchar_t* slash = wcsrchr(path, L'\\');
    std::wstring folder = slash ? std::wstring(path, static_cast<size_t>(slash - path + 1)) : std::wstring();
    return folder + name;
}

std::string Narrow(const std::wstring& text) {
    int count = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(count > 0 ? static_cast<size_t>(count) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), count, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}

std::wstring Wide(const std::string& text) {
    int count = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(count > 0 ? static_cast<size_t>(count) : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), count);
    out.resize(wcslen(out.c_str()));
    return out;
}

void Log(const std::string& line) {
    g_log.Add(line);
    std::wstring path = Beside(L"tq2.log");
    if (FILE* file = _wfopen(path.c_str(), L"ab")) {
        fprintf(file, "%s\r\n", line.c_str());
        fclose(file);
    }
}

Pairs ParsePairs(const std::string& text) {
    Pairs pairs;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(';', at);
        if (end == std::string::npos) end = text.size();
        std::string item = text.substr(at, end - at);
        size_t equals = item.find('=');
        if (equals != std::string::npos) pairs.emplace_back(Wide(item.substr(0, equals)), Wide(item.substr(equals + 1)));
        at = end + 1;
    }
    return pairs;
}

// "K=V;K=V" as "K\0V\0K\0V\0\0".
std::wstring MultiText(const std::string& text) {
    std::wstring out;
    for (auto& pair : ParsePairs(text)) {
        out += pair.first;
        out.push_back(L'\0');
        out += pair.second;
        out.push_back(L'\0');
    }
    out.push_back(L'\0');
    return out;
}

void ReadConfig() {
    g_config = Config();
    std::wstring path = Beside(L"tq2.cfg");
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return;
    char line[8192];
    while (fgets(line, sizeof line, file)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        size_t equals = text.find('=');
        if (equals == std::string::npos) continue;
        std::string name = text.substr(0, equals), value = text.substr(equals + 1);
        if (name == "init") g_config.init = static_cast<UINT_PTR>(strtoul(value.c_str(), nullptr, 10));
        else if (name == "ready" && value == "message") g_config.readyByMessage = true;
        else if (name == "ready") g_config.readyAfter = value == "never" ? -1 : strtol(value.c_str(), nullptr, 10);
        else if (name == "notify") g_config.notifyFromThread = value == "thread";
        else if (name == "complete") {
            if (value == "none") g_config.complete = false;
            else {
                g_config.status = static_cast<uint32_t>(strtoul(value.c_str(), nullptr, 10));
                size_t comma = value.find(',');
                g_config.error = comma == std::string::npos ? 0 : static_cast<uint32_t>(strtoul(value.c_str() + comma + 1, nullptr, 10));
            }
        } else if (name == "queue1") g_config.queue1 = MultiText(value);
        else if (name == "queue2") g_config.queue2 = MultiText(value);
        else if (name == "changes") g_config.changes = ParsePairs(value);
        else if (name == "validate") g_config.validate = static_cast<DWORD>(strtoul(value.c_str(), nullptr, 10));
        else if (name == "device" && value == "none") g_config.ownProvider = false;
        else if (name == "device") g_config.device = Wide(value);
    }
    fclose(file);
}

Pairs ReadArray(const TQKeyValueArray* array) {
    Pairs pairs;
    if (!array) return pairs;
    const TQKeyValueItem* items = reinterpret_cast<const TQKeyValueItem*>(array + 1);
    if (array->items != items) return pairs;  // not the layout both sides agreed on
    for (uint64_t i = 0; i < array->count && i < 100000; ++i)
        pairs.emplace_back(items[i].keyword ? items[i].keyword : L"(null)", items[i].value ? items[i].value : L"(null)");
    return pairs;
}

std::string Joined(const Pairs& pairs) {
    std::string out;
    for (auto& pair : pairs) {
        if (!out.empty()) out += ';';
        out += Narrow(pair.first) + "=" + Narrow(pair.second);
    }
    return out;
}

wchar_t* NewText(const std::wstring& text) {
    auto* copy = static_cast<wchar_t*>(malloc((text.size() + 1) * sizeof(wchar_t)));
    memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return copy;
}

// The library's own array: header, items, then the texts, one allocation per text.
TQKeyValueArray* MakeArray(const Pairs& pairs) {
    size_t bytes = sizeof(TQKeyValueArray) + pairs.size() * sizeof(TQKeyValueItem);
    auto* array = static_cast<TQKeyValueArray*>(calloc(1, bytes));
    auto* items = reinterpret_cast<TQKeyValueItem*>(array + 1);
    array->count = pairs.size();
    array->items = items;
    for (size_t i = 0; i < pairs.size(); ++i) {
        items[i].keyword = NewText(pairs[i].first);
        items[i].value = NewText(pairs[i].second);
    }
    g_live[array] = bytes;
    return array;
}

void FreeArray(TQKeyValueArray* array) {
    auto* items = reinterpret_cast<TQKeyValueItem*>(array + 1);
    for (uint64_t i = 0; i < array->count; ++i) {
        free(items[i].keyword);
        free(items[i].value);
    }
    free(array);
}

// ---- The window drawn in the page -------------------------------------------------------

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kReadyMessage) {
        std::lock_guard<std::recursive_mutex> hold(g_lock);
        g_readyMessageSeen = true;
        Log("ReadyMessage");
        return 0;
    }
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT all;
        GetClientRect(window, &all);
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        std::lock_guard<std::recursive_mutex> hold(g_lock);
        int y = 4;
        if (g_picture) {
            HDC from = CreateCompatibleDC(dc);
            HGDIOBJ old = SelectObject(from, g_picture);
            BitBlt(dc, 4, y, 260, 160, from, 0, 0, SRCCOPY);
            SelectObject(from, old);
            DeleteDC(from);
            y += 164;
        }
        SetBkMode(dc, TRANSPARENT);
        for (auto& pair : g_keys) {
            std::wstring line = pair.first + L" = " + pair.second;
            TextOutW(dc, 4, y, line.c_str(), static_cast<int>(line.size()));
            y += 16;
            if (y > all.bottom) break;
        }
        int row = 0;
        for (auto& pair : g_watermarks) {
            std::wstring line = L"Watermark " + pair.first + L": " + pair.second;
            TextOutW(dc, 280, 4 + 16 * row++, line.c_str(), static_cast<int>(line.size()));
        }
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

const wchar_t kWindowClass[] = L"TQ2StandInWindow";

}  // namespace

namespace {
void JoinNotifyThread();
}  // namespace

// ---- Test exports --------------------------------------------------------------------------

extern "C" const char* TestCallLog() { return g_log.Snapshot(); }
extern "C" void TestResetLog() {
    g_log.Clear();
    DeleteFileW(Beside(L"tq2.log").c_str());
}
// The last document Run was given, as UTF-8.
extern "C" const char* TestLastDocument() {
    static std::string copy;
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    copy = Narrow(g_document);
    return copy.c_str();
}
extern "C" int TestLiveBuffers() {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    return static_cast<int>(g_live.size());
}

// ---- Job-settings entry points ---------------------------------------------------------------

extern "C" UINT_PTR TQAPI Init(void* client) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    ReadConfig();
    g_polls = 0;
    Log("Init " + std::string(client ? "client" : "(null)") + " -> " + std::to_string(g_config.init));
    return g_config.init;
}

extern "C" UINT_PTR TQAPI Init2(UINT_PTR library, HWND page) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    Log("Init2 " + std::to_string(library));
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = &WindowProc;
    windowClass.hInstance = Self();
    windowClass.lpszClassName = kWindowClass;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    RegisterClassW(&windowClass);
    g_window = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 700, 600, page, nullptr, Self(), nullptr);
    g_readyMessageSeen = false;
    if (g_config.readyByMessage && g_window) PostMessageW(g_window, kReadyMessage, 0, 0);
    return g_window ? reinterpret_cast<UINT_PTR>(g_window) : 1;
}

extern "C" DWORD TQAPI Term(UINT_PTR library) {
    Log("Term " + std::to_string(library));
    return 0;
}

extern "C" DWORD TQAPI Term2(UINT_PTR library) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    Log("Term2 " + std::to_string(library));
    if (g_window && IsWindow(g_window)) DestroyWindow(g_window);
    g_window = nullptr;
    if (g_picture) DeleteObject(g_picture);
    g_picture = nullptr;
    return 0;
}

extern "C" DWORD TQAPI Run(UINT_PTR, TQSession session, TQRunRecord* record, DWORD mode, DWORD flags, DWORD* value) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    char line[400];
    snprintf(line, sizeof line, "Run %s %lu %lu \"%s\" 0x%X", session ? "session" : "(null)", static_cast<unsigned long>(mode),
             static_cast<unsigned long>(flags), record ? record->title : "(null)", record ? record->measure : 0);
    Log(line);
    if (value) *value = 0;
    if (!g_callbacks) return 1;
    // The document: from the settings-data session's user data when there is one.
    void* owner = g_sdmActive ? static_cast<void*>(&g_userData) : g_callbacks->userData;
    wchar_t* text = nullptr;
    DWORD answer = g_callbacks->documentProvider ? g_callbacks->documentProvider(owner, &text) : 1;
    g_document = text ? text : L"";
    Log("Document " + std::to_string(answer) + " " + std::to_string(g_document.size()));
    if (text) {
        if (g_sdmActive) {
            g_live.erase(text);
            free(text);
            Log("Document freed by SDMFreeMemory");
        } else if (g_callbacks->bufferRelease) {
            void* buffer = text;
            g_callbacks->bufferRelease(owner, &buffer);
            Log(std::string("Document freed by release ") + (buffer ? "(kept)" : "(cleared)"));
        }
    }
    for (int which : {1, 0, 2}) {
        HBITMAP bitmap = nullptr;
        LONG width = 1, height = 1, depth = 1;
        BYTE got = g_callbacks->pictureProvider ? g_callbacks->pictureProvider(owner, &bitmap, &width, &height, &depth, which) : 0;
        snprintf(line, sizeof line, "Picture %d %s %ldx%ld %ld", which, got ? "TRUE" : "FALSE", width, height, depth);
        Log(line);
        if (got && which == 1 && bitmap) g_picture = static_cast<HBITMAP>(CopyImage(bitmap, IMAGE_BITMAP, 0, 0, 0));
    }
    g_notifyPending = true;
    if (g_window) InvalidateRect(g_window, nullptr, TRUE);
    return 0;
}

extern "C" DWORD TQAPI TQSetJobReadOnlyKeys(TQSession, const wchar_t* keys) {
    std::string text;
    for (const wchar_t* p = keys; p && *p; p += wcslen(p) + 1) {
        text += Narrow(p);
        text += '|';
    }
    Log("TQSetJobReadOnlyKeys " + text);
    return 0;
}

extern "C" DWORD TQAPI TQ1_1BeginSession(TQCallbacks* callbacks, TQSession* session) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    g_callbacks = callbacks;
    Log("BeginSession version " + std::to_string(callbacks ? callbacks->version : 0));
    if (session) *session = &g_session;
    return 0;
}

extern "C" DWORD TQAPI TQ1_1EndSession(TQSession) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    Log("EndSession");
    g_callbacks = nullptr;
    return 0;
}

extern "C" DWORD TQAPI TQ1_1IsServerReady(TQSession) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    ++g_polls;
    bool ready = g_config.readyByMessage ? g_readyMessageSeen : g_config.readyAfter >= 0 && g_polls > g_config.readyAfter;
    Log(std::string("IsServerReady ") + (ready ? "1" : "0"));
    return ready ? 1 : 0;
}

extern "C" DWORD TQAPI TQ1_1SetJobKeyValues(TQSession, TQKeyValueArray* values) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    g_keys = ReadArray(values);
    Log("SetJobKeyValues " + std::to_string(g_keys.size()) + " " + Joined(g_keys));
    return 0;
}

extern "C" DWORD TQAPI TQ1_1SetWatermarks(TQSession, TQKeyValueArray* watermarks) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    g_watermarks = ReadArray(watermarks);
    Log("SetWatermarks " + std::to_string(g_watermarks.size()) + " " + Joined(g_watermarks));
    return 0;
}

extern "C" DWORD TQAPI TQ1_1OpenUI(TQSession) { Log("OpenUI"); return 0; }
extern "C" DWORD TQAPI TQ1_1CreateDrvUI(TQSession) { Log("CreateDrvUI"); return 0; }
extern "C" DWORD TQAPI TQ1_1DestroyDrvUI(TQSession) { Log("DestroyDrvUI"); return 0; }

extern "C" DWORD TQAPI TQ1_1GetJobKeyValues(TQSession, DWORD, DWORD* value, TQKeyValueArray** values) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    Log("GetJobKeyValues " + std::to_string(g_keys.size()));
    if (value) *value = 0;
    if (values) *values = MakeArray(g_keys);
    return 0;
}

extern "C" DWORD TQAPI TQ1_1GetWatermarks(TQSession, TQKeyValueArray** watermarks) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    Log("GetWatermarks " + std::to_string(g_watermarks.size()));
    if (watermarks) *watermarks = MakeArray(g_watermarks);
    return 0;
}

extern "C" DWORD TQAPI TQ1_1Free(void* array) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    bool known = g_live.erase(array) != 0;
    Log(std::string("Free ") + (known ? "array" : "UNKNOWN"));
    if (known) FreeArray(static_cast<TQKeyValueArray*>(array));
    return 0;
}

extern "C" DWORD TQAPI TQ1_1SaveDrvUI(TQSession) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    Log("SaveDrvUI " + Joined(g_config.changes));
    for (auto& change : g_config.changes) {
        bool found = false;
        for (auto& pair : g_keys)
            if (pair.first == change.first) {
                pair.second = change.second;
                found = true;
            }
        if (!found) g_keys.push_back(change);
    }
    return 0;
}

extern "C" DWORD TQAPI TQ1_1SetJobControlsSettings(TQSession, TQKeyValueArray* values) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    g_keys = ReadArray(values);
    Log("SetJobControlsSettings " + std::to_string(g_keys.size()) + " " + Joined(g_keys));
    return 0;
}

extern "C" DWORD TQAPI TQ1_1DllEnd() {
    JoinNotifyThread();
    Log("DllEnd");
    return 0;
}

extern "C" DWORD TQAPI TQ1_1CreateNotificationList(TQNotificationList** list) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    Log("CreateNotificationList");
    if (!list) return 1;
    *list = static_cast<TQNotificationList*>(calloc(1, sizeof(TQNotificationList)));
    g_live[*list] = sizeof(TQNotificationList);
    return 0;
}

extern "C" DWORD TQAPI TQ1_1DestroyNotificationList(TQNotificationList* list) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    bool known = g_live.erase(list) != 0;
    Log(std::string("DestroyNotificationList") + (known ? "" : " UNKNOWN"));
    if (known) free(list);
    if (g_list == list) g_list = nullptr;
    return 0;
}

namespace {

struct Notice {
    TQNotificationProc callback;
    void* client;
};

DWORD WINAPI NotifyThread(void* parameter) {
    Notice* notice = static_cast<Notice*>(parameter);
    BOOL answer = notice->callback(notice->client, 1, nullptr);
    Log("Notified from thread " + std::to_string(GetCurrentThreadId()) + " " + std::to_string(answer));
    delete notice;
    return 0;
}

// Ends the notifier thread; its notice may be waiting for this thread's messages meanwhile.
void JoinNotifyThread() {
    HANDLE thread = nullptr;
    {
        std::lock_guard<std::recursive_mutex> hold(g_lock);
        thread = g_notifyThread;
        g_notifyThread = nullptr;
    }
    if (!thread) return;
    MSG message;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 10000, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1)
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    CloseHandle(thread);
}

}  // namespace

extern "C" DWORD TQAPI TQ1_1RegisterNotificationList(TQSession, TQNotificationList* list) {
    TQNotificationProc callback = nullptr;
    void* client = nullptr;
    bool fromThread = false;
    {
        std::lock_guard<std::recursive_mutex> hold(g_lock);
        Log("RegisterNotificationList");
        g_list = list;
        if (g_notifyPending && list) {
            callback = list->callback;
            client = list->client;
        }
        g_notifyPending = false;
        fromThread = g_config.notifyFromThread;
    }
    // The window "changed" while it ran: tell the client.
    if (callback && fromThread) {
        JoinNotifyThread();
        HANDLE thread = CreateThread(nullptr, 0, &NotifyThread, new Notice{callback, client}, 0, nullptr);
        std::lock_guard<std::recursive_mutex> hold(g_lock);
        g_notifyThread = thread;
    } else if (callback) {
        BOOL answer = callback(client, 1, nullptr);
        Log("Notified " + std::to_string(answer));
    }
    return 0;
}

extern "C" DWORD TQAPI TQ1_1UnRegisterNotificationList(TQSession) {
    JoinNotifyThread();
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    Log("UnRegisterNotificationList");
    g_list = nullptr;
    return 0;
}

extern "C" DWORD TQAPI TQ1_1ValidateSettings(TQSession) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    ReadConfig();  // a test may change its answer while the window is open
    Log("ValidateSettings " + std::to_string(g_config.validate));
    return g_config.validate;
}

// ---- Settings-data entry points -------------------------------------------------------------

namespace {

DWORD TQAPI OwnDeviceDocument(void* userData, wchar_t** text) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    Log(std::string("OwnDeviceDocument ") + (userData == &g_userData ? "userdata" : "OTHER"));
    if (!text) return 1;
    size_t bytes = (g_config.device.size() + 1) * sizeof(wchar_t);
    *text = static_cast<wchar_t*>(malloc(bytes));
    memcpy(*text, g_config.device.c_str(), bytes);
    g_live[*text] = bytes;
    return 0;
}

DWORD WINAPI CompletionThread(void* parameter) {
    auto* completion = static_cast<TQCompletion*>(parameter);
    Sleep(20);
    uint32_t status, error;
    {
        std::lock_guard<std::recursive_mutex> hold(g_lock);
        status = g_config.status;
        error = g_config.error;
    }
    completion->status = status;
    completion->error = error;
    Log("Completion " + std::to_string(status) + " " + std::to_string(error) + " thread " +
        std::to_string(GetCurrentThreadId()));
    if (completion->callback) completion->callback(completion);
    return 0;
}

}  // namespace

extern "C" DWORD TQAPI SDMInitialize(TQSessionInfo* session, TQCallbacks* callbacks, TQCompletion* completion,
                                     void** userData) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    char line[200];
    snprintf(line, sizeof line, "SDMInitialize server \"%.63s\" flags %u kind %u", session ? session->server : "",
             session ? session->dataFlags : 0, session ? session->sessionKind : 0);
    Log(line);
    if (!callbacks || !completion || !userData) return 1;
    callbacks->version = TQ_CALLBACKS_VERSION;
    callbacks->userData = &g_userData;
    callbacks->documentProvider = g_config.ownProvider ? &OwnDeviceDocument : nullptr;
    *userData = &g_userData;
    g_sdmActive = true;
    if (g_config.complete) g_completionThread = CreateThread(nullptr, 0, &CompletionThread, completion, 0, nullptr);
    return 0;
}

extern "C" DWORD TQAPI SDMTerminate(void*) {
    HANDLE thread;
    {
        std::lock_guard<std::recursive_mutex> hold(g_lock);
        Log("SDMTerminate");
        g_sdmActive = false;
        g_sdmClient = nullptr;
        thread = g_completionThread;
        g_completionThread = nullptr;
    }
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    return 0;
}

extern "C" DWORD TQAPI SDMDllEnd() { Log("SDMDllEnd"); return 0; }
extern "C" DWORD TQAPI SDMDllEndEx() { Log("SDMDllEndEx"); return 0; }

extern "C" DWORD TQAPI SDMFreeMemory(void*, void* buffer) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    bool known = g_live.erase(buffer) != 0;
    Log(std::string("SDMFreeMemory") + (known ? "" : " UNKNOWN"));
    if (known) free(buffer);
    return 0;
}

extern "C" DWORD TQAPI SDMAllocMemory(void*, void** buffer, DWORD bytes) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    Log("SDMAllocMemory " + std::to_string(bytes));
    if (!buffer) return 1;
    *buffer = malloc(bytes ? bytes : 1);
    g_live[*buffer] = bytes;
    return *buffer ? 0 : 1;
}

extern "C" DWORD TQAPI SDMSetUserData(void*, void* client) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    Log("SDMSetUserData");
    g_sdmClient = client;
    return 0;
}

extern "C" DWORD TQAPI SDMGetUserData(void* userData, void** client) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    if (!client || userData != &g_userData || !g_sdmClient) return 1;
    *client = g_sdmClient;
    return 0;
}

extern "C" DWORD TQAPI SDMGetQueueAttributes(void*, const wchar_t* queue, wchar_t** first, wchar_t** second) {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    Log("SDMGetQueueAttributes \"" + Narrow(queue ? queue : L"(null)") + "\"");
    if (first) *first = nullptr;
    if (second) *second = nullptr;
    if (g_config.queue1.empty() || g_config.queue2.empty() || !first || !second) return 1;
    for (auto [out, text] : {std::pair{first, &g_config.queue1}, std::pair{second, &g_config.queue2}}) {
        size_t bytes = text->size() * sizeof(wchar_t);
        *out = static_cast<wchar_t*>(malloc(bytes));
        memcpy(*out, text->data(), bytes);
        g_live[*out] = bytes;
    }
    return 0;
}
