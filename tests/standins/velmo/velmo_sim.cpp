// velmoqzt_sim.dll: scripted controllers behind the protocol-library stand-ins.
//
// Script (VELMO_SIM_SCRIPT, read on first use and again whenever the variable names another
// file): one record per line, fields separated by tabs; "#" starts a comment line. In a
// field, \t \r \n \\ and \xHH are escapes, and a field of just \N is a null text.
//   server ADDRESS                      starts the records of one controller
//   connect STATUS                      status of its connect ticket (default 0)
//   info STATUS NAME VERSION TOTAL FREE server information (default: status -1)
//   features STATUS                     status of the feature list (default 0)
//   feature NAME VALUE                  one feature, in order
//   keys KEY STATUS [NAME...]           answer of ATTR_getAttributeKeys for KEY (else -17)
//   values NAME STATUS [VALUE FLAGS]... answer of ATTR_getAttributeValues (else -5)
//   defaults STATUS COUNT               ATTR_getMultipleDefaults status and reported count
//                                       (-1: the number of names asked)
//   default NAME VALUE                  one default value (a name without one gets null)
//   printer NAME STATUS                 a virtual printer for LP_getAttributes (else -5)
//   attr NAME VALUE FLAG                one attribute of the last printer
//   ppd STATUS SOURCE                   VYRM_getPPDEx copies SOURCE to the destination
//   delay ENTRY MS / status ENTRY N     per entry point, in a server section for it alone;
//                                       a ticketed call with delay -1 never completes
//                                       until NB_cancel
// Without VELMO_SIM_SCRIPT the script is velmo_sim_script.txt beside this module, and a
// relative ppd SOURCE is taken from the script's folder.
// Global records (outside a server section): discover STATUS, entry FIRST SECOND,
// entries N (N generated controllers), and delay / status for every server.
#include "VelmoSim.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using Text = std::optional<std::string>;

struct Override {
    int delay = 0;
    bool hasStatus = false;
    int status = 0;
};

struct ValueAnswer {
    int status = 0;
    std::vector<std::pair<Text, int32_t>> values;
};

struct KeyAnswer {
    int status = 0;
    std::vector<Text> names;
};

struct Attribute {
    Text name;
    Text value;
    uint8_t flag = 0;
};

struct Printer {
    int status = 0;
    std::vector<Attribute> attributes;
};

struct Server {
    int connectStatus = 0;
    bool hasInfo = false;
    int infoStatus = -1;
    Text name, version;
    uint64_t total = 0, free = 0;
    int featuresStatus = 0;
    std::vector<std::pair<Text, Text>> features;
    std::map<std::string, KeyAnswer> keys;
    std::map<std::string, ValueAnswer> values;
    int defaultsStatus = 0;
    int defaultsCount = -1;
    std::map<std::string, Text> defaults;
    std::map<std::string, Printer> printers;
    bool hasPpd = false;
    int ppdStatus = 0;
    std::string ppdSource;
    std::map<std::string, Override> overrides;
};

struct Script {
    std::map<std::string, Server> servers;
    int discoverStatus = 0;
    std::vector<std::pair<Text, Text>> entries;
    std::map<std::string, Override> overrides;
};

struct Connection {
    std::string address;
};

struct Session {
    std::string kind;
    Connection* connection;
};

struct TicketWork {
    HANDLE done = nullptr;    // set when the work has ended
    HANDLE cancel = nullptr;  // set by NB_cancel
    std::function<int()> job;
    int delay = 0;
    volatile LONG finished = 0;
    int status = -1;
    std::string entry;
};

HMODULE g_self = nullptr;
std::mutex g_lock;
std::string g_scriptPath;
Script g_script;
std::map<void*, std::string> g_allocations;  // given out, freed with velmo_free
std::set<void*> g_infos;                     // SERVER_getInfo records
std::set<void*> g_discoveries;               // DISCOV_getTolvaList arrays
std::set<Session*> g_sessions;
std::set<TicketWork*> g_tickets;
std::set<Connection*> g_connections;

std::string Env(const char* name)
{
    char buffer[1024];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    return n > 0 && n < sizeof(buffer) ? std::string(buffer, n) : std::string();
}

std::mutex g_logLock;
HANDLE g_logFile = INVALID_HANDLE_VALUE;
std::string g_logPath;

// Appends one line to the log that VELMO_SIM_LOG names (kept open while the name stays).
void Log(const std::string& line)
{
    std::lock_guard<std::mutex> hold(g_logLock);
    const std::string path = Env("VELMO_SIM_LOG");
    if (path != g_logPath) {
        if (g_logFile != INVALID_HANDLE_VALUE)
            CloseHandle(g_logFile);
        g_logFile = INVALID_HANDLE_VALUE;
        g_logPath = path;
        if (!path.empty())
            g_logFile = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (g_logFile == INVALID_HANDLE_VALUE)
        return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(g_logFile, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void CloseLog()
{
    std::lock_guard<std::mutex> hold(g_logLock);
    if (g_logFile != INVALID_HANDLE_VALUE)
        CloseHandle(g_logFile);
    g_logFile = INVALID_HANDLE_VALUE;
    g_logPath.clear();
}

std::string Show(const char* text) { return text ? std::string(text) : std::string("(null)"); }

// ---- script ----------------------------------------------------------------------

Text Unescape(const std::string& field)
{
    if (field == "\\N")
        return std::nullopt;
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 >= field.size()) {
            out += field[i];
            continue;
        }
        const char c = field[++i];
        if (c == 't')
            out += '\t';
        else if (c == 'r')
            out += '\r';
        else if (c == 'n')
            out += '\n';
        else if (c == 'x' && i + 2 < field.size()) {
            out += static_cast<char>(strtol(field.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else
            out += c;
    }
    return out;
}

int Number(const std::vector<Text>& fields, size_t index, int fallback = 0)
{
    return index < fields.size() && fields[index] ? atoi(fields[index]->c_str()) : fallback;
}

Text Field(const std::vector<Text>& fields, size_t index)
{
    return index < fields.size() ? fields[index] : Text(std::string());
}

void ParseScript(const std::string& path)
{
    g_script = Script();
    g_scriptPath = path;
    if (path.empty())
        return;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        Log("SCRIPT MISSING " + path);
        return;
    }
    std::string content;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0)
        content.append(chunk, n);
    fclose(file);

    Server* server = nullptr;
    Printer* printer = nullptr;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        std::string line = content.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<Text> fields;
        size_t from = 0;
        for (;;) {
            const size_t tab = line.find('\t', from);
            fields.push_back(Unescape(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from)));
            if (tab == std::string::npos)
                break;
            from = tab + 1;
        }
        const std::string record = fields[0].value_or("");
        if (record == "server") {
            server = &g_script.servers[Field(fields, 1).value_or("")];
            printer = nullptr;
        } else if (record == "discover") {
            g_script.discoverStatus = Number(fields, 1);
        } else if (record == "entry") {
            g_script.entries.emplace_back(Field(fields, 1), Field(fields, 2));
        } else if (record == "entries") {
            const int count = Number(fields, 1);
            for (int i = 0; i < count; ++i) {
                char first[32], second[32];
                snprintf(first, sizeof(first), "10.9.%d.%d", i / 250, i % 250 + 1);
                snprintf(second, sizeof(second), "Tolva-%03d", i);
                g_script.entries.emplace_back(std::string(first), std::string(second));
            }
        } else if (record == "delay" || record == "status") {
            auto& overrides = server ? server->overrides : g_script.overrides;
            Override& o = overrides[Field(fields, 1).value_or("")];
            if (record == "delay")
                o.delay = Number(fields, 2);
            else {
                o.hasStatus = true;
                o.status = Number(fields, 2);
            }
        } else if (!server) {
            Log("SCRIPT BAD LINE " + line);
        } else if (record == "connect") {
            server->connectStatus = Number(fields, 1);
        } else if (record == "info") {
            server->hasInfo = true;
            server->infoStatus = Number(fields, 1);
            server->name = Field(fields, 2);
            server->version = Field(fields, 3);
            server->total = strtoull(Field(fields, 4).value_or("0").c_str(), nullptr, 10);
            server->free = strtoull(Field(fields, 5).value_or("0").c_str(), nullptr, 10);
        } else if (record == "features") {
            server->featuresStatus = Number(fields, 1);
        } else if (record == "feature") {
            server->features.emplace_back(Field(fields, 1), Field(fields, 2));
        } else if (record == "keys") {
            KeyAnswer& answer = server->keys[Field(fields, 1).value_or("")];
            answer.status = Number(fields, 2);
            answer.names.assign(fields.begin() + std::min<size_t>(3, fields.size()), fields.end());
        } else if (record == "values") {
            ValueAnswer& answer = server->values[Field(fields, 1).value_or("")];
            answer.status = Number(fields, 2);
            answer.values.clear();
            for (size_t i = 3; i + 1 < fields.size(); i += 2)
                answer.values.emplace_back(fields[i], Number(fields, i + 1));
        } else if (record == "defaults") {
            server->defaultsStatus = Number(fields, 1);
            server->defaultsCount = Number(fields, 2, -1);
        } else if (record == "default") {
            server->defaults[Field(fields, 1).value_or("")] = Field(fields, 2);
        } else if (record == "printer") {
            printer = &server->printers[Field(fields, 1).value_or("")];
            printer->status = Number(fields, 2);
        } else if (record == "attr" && printer) {
            printer->attributes.push_back({Field(fields, 1), Field(fields, 2), static_cast<uint8_t>(Number(fields, 3))});
        } else if (record == "ppd") {
            server->hasPpd = true;
            server->ppdStatus = Number(fields, 1);
            server->ppdSource = Field(fields, 2).value_or("");
            const std::string& source = server->ppdSource;
            const bool absolute = source.find(':') != std::string::npos || (!source.empty() && source[0] == '\\');
            const size_t slash = path.find_last_of("\\/");
            if (!absolute && slash != std::string::npos)
                server->ppdSource = path.substr(0, slash + 1) + source;
        } else {
            Log("SCRIPT BAD LINE " + line);
        }
    }
}

// Under g_lock: the script of the current VELMO_SIM_SCRIPT.
Script& CurrentScript()
{
    std::string path = Env("VELMO_SIM_SCRIPT");
    if (path.empty()) {
        char self[MAX_PATH * 4] = {};
        GetModuleFileNameA(g_self, self, sizeof(self) - 1);
        path = self;
        const size_t slash = path.find_last_of("\\/");
        path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "velmo_sim_script.txt";
    }
    if (path != g_scriptPath)
        ParseScript(path);
    return g_script;
}

Server* FindServer(const std::string& address)
{
    auto& servers = CurrentScript().servers;
    auto found = servers.find(address);
    return found == servers.end() ? nullptr : &found->second;
}

// Under g_lock: the override of an entry point, the server's own over the global one.
Override OverrideFor(const std::string& entry, const Server* server)
{
    Override result;
    auto& global = CurrentScript().overrides;
    if (auto found = global.find(entry); found != global.end())
        result = found->second;
    if (server) {
        if (auto found = server->overrides.find(entry); found != server->overrides.end()) {
            if (found->second.delay)
                result.delay = found->second.delay;
            if (found->second.hasStatus) {
                result.hasStatus = true;
                result.status = found->second.status;
            }
        }
    }
    return result;
}

// ---- allocations -----------------------------------------------------------------

void* Allocate(size_t bytes, const std::string& what)
{
    void* pointer = calloc(1, bytes ? bytes : 1);
    g_allocations[pointer] = what;
    return pointer;
}

char* AllocateText(const Text& text, const std::string& what)
{
    if (!text)
        return nullptr;
    char* copy = static_cast<char*>(Allocate(text->size() + 1, what));
    memcpy(copy, text->c_str(), text->size() + 1);
    return copy;
}

// ---- calls -----------------------------------------------------------------------

// The status of a ticket whose work was cancelled before it ran.
constexpr int kCancelledStatus = -31;

DWORD WINAPI TicketThread(void* parameter)
{
    auto* work = static_cast<TicketWork*>(parameter);
    // The delay ends early when the ticket is cancelled; a cancelled work writes nothing.
    const DWORD wait = work->delay < 0 ? INFINITE : static_cast<DWORD>(work->delay);
    if (work->delay != 0 && WaitForSingleObject(work->cancel, wait) == WAIT_OBJECT_0) {
        work->status = kCancelledStatus;
        Log("CANCELLED " + work->entry);
    } else {
        work->status = work->job();
    }
    InterlockedExchange(&work->finished, 1);
    SetEvent(work->done);
    return 0;
}

// Runs job now (no ticket) or on its own thread (ticket): outputs are written by the job,
// so a ticketed call's outputs appear only when its work ends. Called without g_lock.
int Run(const std::string& entry, VelmoTicket* ticket, const Override& o, std::function<int()> job)
{
    auto withOverride = [job, o]() {
        const int status = job();
        return o.hasStatus ? o.status : status;
    };
    if (!ticket) {
        if (o.delay > 0)
            Sleep(static_cast<DWORD>(o.delay));
        return withOverride();
    }
    auto* work = new TicketWork;
    work->job = withOverride;
    work->delay = o.delay;
    work->entry = entry;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (ticket->work)
            Log("REUSED TICKET " + entry);
        g_tickets.insert(work);
    }
    ticket->work = work;
    work->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    work->cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // A pool thread: the work ends on a thread of its own, as the library's does.
    if (!QueueUserWorkItem(TicketThread, work, WT_EXECUTELONGFUNCTION))
        TicketThread(work);
    return 0;
}

// Under g_lock: the ticket's work when it is one of ours.
TicketWork* FindWork(VelmoTicket* ticket, const char* entry)
{
    if (!ticket || !ticket->work)
        return nullptr;
    auto* work = static_cast<TicketWork*>(ticket->work);
    if (!g_tickets.count(work)) {
        Log(std::string("BAD HANDLE ticket in ") + entry);
        return nullptr;
    }
    return work;
}

// Under g_lock: the connection a block names, or null (logged).
Connection* FindConnection(ServerConnectionBlock* block, const char* entry)
{
    auto* connection = block && block->self == block ? static_cast<Connection*>(block->connection) : nullptr;
    if (!connection || !g_connections.count(connection)) {
        Log(std::string("BAD HANDLE block in ") + entry);
        return nullptr;
    }
    return connection;
}

// Under g_lock: the session a record names, or null (logged). A session whose connection
// ended is good only for its close (closing).
Session* FindSession(VelmoSessionRecord* record, const char* entry, bool closing = false)
{
    auto* session = record ? static_cast<Session*>(record->handle) : nullptr;
    if (!session || !g_sessions.count(session)) {
        Log(std::string("BAD HANDLE session in ") + entry);
        return nullptr;
    }
    if (!session->connection && !closing) {
        Log(std::string("BAD HANDLE session of an ended connection in ") + entry);
        return nullptr;
    }
    return session;
}

}  // namespace

// ---- exports ---------------------------------------------------------------------

void __cdecl Sim_LibraryEvent(const char* event, const char* library) { Log(Show(event) + " " + Show(library)); }

int __cdecl Sim_Unexpected(const char* name)
{
    Log("UNEXPECTED " + Show(name));
    return -1;
}

int __cdecl Sim_velmo_load(const char* libraryPath)
{
    std::string folder = Show(libraryPath);
    const size_t slash = folder.find_last_of("\\/");
    if (slash != std::string::npos)
        folder.resize(slash + 1);
    Log("velmo_load " + folder);
    return 0;
}

int __cdecl Sim_velmo_unload(void)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Log("velmo_unload");
    for (auto& entry : g_allocations)
        Log("LEFT allocation " + entry.second);
    for (size_t i = 0; i < g_infos.size(); ++i)
        Log("LEFT server information");
    for (size_t i = 0; i < g_discoveries.size(); ++i)
        Log("LEFT discovery list");
    for (Session* session : g_sessions)
        Log("LEFT session " + session->kind + " " +
            (session->connection ? session->connection->address : std::string("(ended connection)")));
    for (TicketWork* work : g_tickets)
        Log("LEFT ticket " + work->entry);
    for (Connection* connection : g_connections)
        Log("LEFT connection " + connection->address);
    return 0;
}

void __cdecl Sim_velmo_free(void* pointer)
{
    if (!pointer)
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    auto found = g_allocations.find(pointer);
    if (found == g_allocations.end()) {
        Log("UNKNOWN FREE");
        return;
    }
    g_allocations.erase(found);
    free(pointer);
}

int __cdecl Sim_NB_block(VelmoTicket* ticket)
{
    HANDLE done = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        TicketWork* work = FindWork(ticket, "NB_block");
        if (!work)
            return -1;
        done = work->done;
    }
    WaitForSingleObject(done, INFINITE);
    return 0;
}

int __cdecl Sim_NB_checkTicket(VelmoTicket* ticket, int32_t* done, int32_t* progress, int32_t* status)
{
    std::lock_guard<std::mutex> hold(g_lock);
    TicketWork* work = FindWork(ticket, "NB_checkTicket");
    const bool finished = work && work->finished;
    if (done)
        *done = finished ? 1 : 0;
    if (progress)
        *progress = finished ? 100 : 0;
    if (status)
        *status = finished ? work->status : -1;
    return work ? 0 : -1;
}

int __cdecl Sim_NB_destroy(VelmoTicket* ticket)
{
    TicketWork* work = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        work = FindWork(ticket, "NB_destroy");
        if (!work)
            return ticket && !ticket->work ? 0 : -1;
        g_tickets.erase(work);
    }
    ticket->work = nullptr;
    WaitForSingleObject(work->done, INFINITE);
    CloseHandle(work->done);
    CloseHandle(work->cancel);
    delete work;
    return 0;
}

int __cdecl Sim_NB_cancel(VelmoTicket* ticket)
{
    std::lock_guard<std::mutex> hold(g_lock);
    TicketWork* work = FindWork(ticket, "NB_cancel");
    if (!work)
        return -1;
    Log("NB_cancel " + work->entry);
    SetEvent(work->cancel);
    return 0;
}

int __cdecl Sim_DISCOV_getTolvaList(uint32_t timeout, int32_t, const char* filter1, const char* filter2, int32_t,
                                    int32_t, int32_t, DiscoveredTolvaEx** entries, int32_t* count, int32_t)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Log("DISCOV_getTolvaList " + std::to_string(timeout) + " " + Show(filter1) + " " + Show(filter2));
    if (!entries || !count)
        return -2;
    Script& script = CurrentScript();
    const Override o = OverrideFor("DISCOV_getTolvaList", nullptr);
    const int status = o.hasStatus ? o.status : script.discoverStatus;
    *entries = nullptr;
    *count = 0;
    if (status != 0)
        return status;
    // One allocation: the array, then the texts.
    size_t bytes = script.entries.size() * sizeof(DiscoveredTolvaEx);
    for (auto& entry : script.entries)
        bytes += (entry.first ? entry.first->size() + 1 : 0) + (entry.second ? entry.second->size() + 1 : 0);
    auto* array = static_cast<DiscoveredTolvaEx*>(calloc(1, bytes ? bytes : 1));
    char* text = reinterpret_cast<char*>(array + script.entries.size());
    auto place = [&](const Text& source) -> char* {
        if (!source)
            return nullptr;
        char* at = text;
        memcpy(at, source->c_str(), source->size() + 1);
        text += source->size() + 1;
        return at;
    };
    for (size_t i = 0; i < script.entries.size(); ++i) {
        array[i].first = place(script.entries[i].first);
        array[i].second = place(script.entries[i].second);
    }
    g_discoveries.insert(array);
    *entries = array;
    *count = static_cast<int32_t>(script.entries.size());
    return 0;
}

int __cdecl Sim_DISCOV_freeDiscoveredTolvaExList(DiscoveredTolvaEx* entries, int32_t count, int32_t)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Log("DISCOV_freeDiscoveredTolvaExList " + std::to_string(count));
    if (!g_discoveries.erase(entries)) {
        Log("UNKNOWN FREE discovery list");
        return -1;
    }
    free(entries);
    return 0;
}

int __cdecl Sim_VYRM_connect(const char* address, int32_t mode, int32_t version, ServerConnectionBlock* block,
                             VelmoTicket* ticket)
{
    Override o;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        Log("VYRM_connect " + Show(address) + " " + std::to_string(mode) + " " + std::to_string(version));
        if (!address || !block)
            return -2;
        o = OverrideFor("VYRM_connect", FindServer(address));
    }
    const std::string name = address;
    return Run("VYRM_connect", ticket, o, [name, block]() {
        std::lock_guard<std::mutex> hold(g_lock);
        Server* server = FindServer(name);
        const int status = server ? server->connectStatus : -1;
        if (status != 0)
            return status;
        auto* connection = new Connection{name};
        g_connections.insert(connection);
        block->self = block;
        block->connection = connection;
        snprintf(block->address, sizeof(block->address), "%s", name.c_str());
        return 0;
    });
}

int __cdecl Sim_INIT_disconnectFromServer(ServerConnectionBlock* block, VelmoTicket* ticket)
{
    Override o;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        Connection* connection = FindConnection(block, "INIT_disconnectFromServer");
        if (!connection)
            return -2;
        Log("INIT_disconnectFromServer " + connection->address);
        for (Session* session : g_sessions)
            if (session->connection == connection)
                Log("OPEN SESSION AT DISCONNECT " + session->kind);
        o = OverrideFor("INIT_disconnectFromServer", FindServer(connection->address));
    }
    return Run("INIT_disconnectFromServer", ticket, o, [block]() {
        std::lock_guard<std::mutex> hold(g_lock);
        auto* connection = static_cast<Connection*>(block->connection);
        // A session still open names no connection from now on: only its close is allowed.
        for (Session* session : g_sessions)
            if (session->connection == connection)
                session->connection = nullptr;
        if (g_connections.erase(connection))
            delete connection;
        memset(block, 0, sizeof(*block));
        return 0;
    });
}

int __cdecl Sim_VYRM_getPPDEx(ServerConnectionBlock* block, int32_t reserved1, const char* pdl, const char* language,
                              const char* path, int32_t reserved2)
{
    std::string source;
    int status = 0;
    Override o;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        Log("VYRM_getPPDEx " + std::to_string(reserved1) + " " + Show(pdl) + " " + Show(language) + " " + Show(path) +
            " " + std::to_string(reserved2));
        Connection* connection = FindConnection(block, "VYRM_getPPDEx");
        if (!connection || !path)
            return -2;
        Server* server = FindServer(connection->address);
        if (!server || !server->hasPpd)
            return -5;
        source = server->ppdSource;
        status = server->ppdStatus;
        o = OverrideFor("VYRM_getPPDEx", server);
    }
    const std::string destination = path;
    return Run("VYRM_getPPDEx", nullptr, o, [=]() {
        if (status != 0)
            return status;
        return CopyFileA(source.c_str(), destination.c_str(), FALSE) ? 0 : -6;
    });
}

int __cdecl Sim_OpenSession(const char* kind, ServerConnectionBlock* block, VelmoSessionRecord* record,
                            VelmoTicket* ticket)
{
    const std::string entry = Show(kind) + "_openSession";
    Override o;
    Connection* connection = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        connection = FindConnection(block, entry.c_str());
        if (!connection || !record)
            return -2;
        Log(entry + " " + connection->address + (ticket ? " ticket" : ""));
        o = OverrideFor(entry, FindServer(connection->address));
    }
    const std::string name = Show(kind);
    return Run(entry, ticket, o, [name, connection, record, entry]() {
        std::lock_guard<std::mutex> hold(g_lock);
        // The connection may have ended while the open was under way.
        if (!g_connections.count(connection)) {
            Log(entry + " on an ended connection");
            return -2;
        }
        auto* session = new Session{name, connection};
        g_sessions.insert(session);
        record->owner = connection;
        record->handle = session;
        return 0;
    });
}

int __cdecl Sim_CloseSession(const char* kind, VelmoSessionRecord* record, VelmoTicket* ticket)
{
    const std::string entry = Show(kind) + "_closeSession";
    Override o;
    Session* session = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        session = FindSession(record, entry.c_str(), true);
        if (!session)
            return -2;
        const std::string address = session->connection ? session->connection->address : "(ended connection)";
        Log(entry + " " + address + (ticket ? " ticket" : ""));
        o = OverrideFor(entry, session->connection ? FindServer(address) : nullptr);
    }
    return Run(entry, ticket, o, [session, record]() {
        std::lock_guard<std::mutex> hold(g_lock);
        if (g_sessions.erase(session))
            delete session;
        record->handle = nullptr;
        return 0;
    });
}

int __cdecl Sim_LP_getAttributes(VelmoSessionRecord* record, const char* printer, LPAttributeRecord** out, int32_t)
{
    Override o;
    Printer copy;
    bool found = false;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        Session* session = FindSession(record, "LP_getAttributes");
        Log("LP_getAttributes " + Show(printer));
        if (!session || !out)
            return -2;
        Server* server = FindServer(session->connection->address);
        if (server && printer) {
            auto it = server->printers.find(printer);
            if (it != server->printers.end()) {
                copy = it->second;
                found = true;
            }
        }
        o = OverrideFor("LP_getAttributes", server);
    }
    return Run("LP_getAttributes", nullptr, o, [=]() {
        std::lock_guard<std::mutex> hold(g_lock);
        *out = nullptr;
        if (!found)
            return -5;
        if (copy.status != 0)
            return copy.status;
        // One allocation: the record, the arrays and the texts.
        const size_t n = copy.attributes.size();
        size_t bytes = sizeof(LPAttributeRecord) + n * (2 * sizeof(char*) + 1) + sizeof(char*);
        for (auto& a : copy.attributes)
            bytes += (a.name ? a.name->size() + 1 : 0) + (a.value ? a.value->size() + 1 : 0);
        auto* result = static_cast<LPAttributeRecord*>(Allocate(bytes, "LP attribute record"));
        result->names = reinterpret_cast<char**>(result + 1);
        result->values = result->names + n;
        result->flags = reinterpret_cast<uint8_t*>(result->values + n);
        char* text = reinterpret_cast<char*>(result->flags + n);
        auto place = [&](const Text& source) -> char* {
            if (!source)
                return nullptr;
            char* at = text;
            memcpy(at, source->c_str(), source->size() + 1);
            text += source->size() + 1;
            return at;
        };
        for (size_t i = 0; i < n; ++i) {
            result->names[i] = place(copy.attributes[i].name);
            result->values[i] = place(copy.attributes[i].value);
            result->flags[i] = copy.attributes[i].flag;
        }
        result->count = static_cast<int32_t>(n);
        *out = result;
        return 0;
    });
}

int __cdecl Sim_FEAT_getFeatureList(ServerConnectionBlock* block, char*** names, char*** values, int32_t* count,
                                    VelmoTicket* ticket)
{
    Override o;
    std::string address;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        Connection* connection = FindConnection(block, "FEAT_getFeatureList");
        if (!connection || !names || !values || !count)
            return -2;
        Log("FEAT_getFeatureList " + connection->address);
        address = connection->address;
        o = OverrideFor("FEAT_getFeatureList", FindServer(address));
    }
    return Run("FEAT_getFeatureList", ticket, o, [=]() {
        std::lock_guard<std::mutex> hold(g_lock);
        Server* server = FindServer(address);
        if (!server)
            return -5;
        if (server->featuresStatus != 0)
            return server->featuresStatus;
        const size_t n = server->features.size();
        auto** nameArray = static_cast<char**>(Allocate(n * sizeof(char*), "feature names"));
        auto** valueArray = static_cast<char**>(Allocate(n * sizeof(char*), "feature values"));
        for (size_t i = 0; i < n; ++i) {
            nameArray[i] = AllocateText(server->features[i].first, "feature name");
            valueArray[i] = AllocateText(server->features[i].second, "feature value");
        }
        *names = nameArray;
        *values = valueArray;
        *count = static_cast<int32_t>(n);
        return 0;
    });
}

int __cdecl Sim_SERVER_getInfo(ServerConnectionBlock* block, VelmoServerInfo** info, int32_t)
{
    Override o;
    Server copy;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        Connection* connection = FindConnection(block, "SERVER_getInfo");
        if (!connection || !info)
            return -2;
        Log("SERVER_getInfo " + connection->address);
        Server* server = FindServer(connection->address);
        if (server)
            copy = *server;
        o = OverrideFor("SERVER_getInfo", server);
    }
    return Run("SERVER_getInfo", nullptr, o, [=]() {
        std::lock_guard<std::mutex> hold(g_lock);
        *info = nullptr;
        if (!copy.hasInfo || copy.infoStatus != 0)
            return copy.hasInfo ? copy.infoStatus : -1;
        const size_t bytes = sizeof(VelmoServerInfo) + (copy.name ? copy.name->size() + 1 : 0) +
                             (copy.version ? copy.version->size() + 1 : 0);
        auto* result = static_cast<VelmoServerInfo*>(calloc(1, bytes));
        char* text = reinterpret_cast<char*>(result + 1);
        if (copy.name) {
            memcpy(text, copy.name->c_str(), copy.name->size() + 1);
            result->name = text;
            text += copy.name->size() + 1;
        }
        if (copy.version) {
            memcpy(text, copy.version->c_str(), copy.version->size() + 1);
            result->version = text;
        }
        result->diskTotal = copy.total;
        result->diskFree = copy.free;
        g_infos.insert(result);
        *info = result;
        return 0;
    });
}

int __cdecl Sim_SERVER_freeInfo(ServerConnectionBlock*, VelmoServerInfo* info, int32_t)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Log("SERVER_freeInfo");
    if (!g_infos.erase(info)) {
        Log("UNKNOWN FREE server information");
        return -1;
    }
    free(info);
    return 0;
}

int __cdecl Sim_ATTR_getAttributeKeys(VelmoSessionRecord* record, int32_t, const char* key, char*** names,
                                      char*** second, char*** third, int32_t* count, VelmoTicket* ticket)
{
    Override o;
    std::string address;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        Session* session = FindSession(record, "ATTR_getAttributeKeys");
        Log("ATTR_getAttributeKeys " + Show(key) + (ticket ? " ticket" : ""));
        if (!session || !key || !names || !second || !third || !count)
            return -2;
        address = session->connection->address;
        o = OverrideFor("ATTR_getAttributeKeys", FindServer(address));
    }
    const std::string wanted = key;
    return Run("ATTR_getAttributeKeys", ticket, o, [=]() {
        std::lock_guard<std::mutex> hold(g_lock);
        Server* server = FindServer(address);
        auto found = server ? server->keys.find(wanted) : decltype(server->keys.end())();
        if (!server || found == server->keys.end())
            return -17;
        if (found->second.status != 0)
            return found->second.status;
        const size_t n = found->second.names.size();
        auto** a = static_cast<char**>(Allocate(n * sizeof(char*), "key names"));
        auto** b = static_cast<char**>(Allocate(n * sizeof(char*), "key second array"));
        auto** c = static_cast<char**>(Allocate(n * sizeof(char*), "key third array"));
        for (size_t i = 0; i < n; ++i) {
            a[i] = AllocateText(found->second.names[i], "key name");
            b[i] = AllocateText(std::string("second"), "key second text");
            c[i] = AllocateText(std::string("third"), "key third text");
        }
        *names = a;
        *second = b;
        *third = c;
        *count = static_cast<int32_t>(n);
        return 0;
    });
}

int __cdecl Sim_ATTR_getAttributeValues(VelmoSessionRecord* record, int32_t, const char* name, char*** values,
                                        int32_t** flags, int32_t* count, VelmoTicket* ticket)
{
    Override o;
    std::string address;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        Session* session = FindSession(record, "ATTR_getAttributeValues");
        Log("ATTR_getAttributeValues " + Show(name) + (ticket ? " ticket" : ""));
        if (!session || !name || !values || !flags || !count)
            return -2;
        address = session->connection->address;
        o = OverrideFor("ATTR_getAttributeValues", FindServer(address));
    }
    const std::string wanted = name;
    return Run("ATTR_getAttributeValues", ticket, o, [=]() {
        std::lock_guard<std::mutex> hold(g_lock);
        Server* server = FindServer(address);
        auto found = server ? server->values.find(wanted) : decltype(server->values.end())();
        if (!server || found == server->values.end())
            return -5;
        if (found->second.status != 0)
            return found->second.status;
        const size_t n = found->second.values.size();
        auto** v = static_cast<char**>(Allocate(n * sizeof(char*), "value array"));
        auto* f = static_cast<int32_t*>(Allocate(n * sizeof(int32_t), "flag array"));
        for (size_t i = 0; i < n; ++i) {
            v[i] = AllocateText(found->second.values[i].first, "value text");
            f[i] = found->second.values[i].second;
        }
        *values = v;
        *flags = f;
        *count = static_cast<int32_t>(n);
        return 0;
    });
}

int __cdecl Sim_ATTR_getMultipleDefaults(VelmoSessionRecord* record, int32_t, const char* const* names,
                                         char*** values, int32_t nameCount, int32_t* count, int32_t)
{
    Override o;
    std::string address;
    std::vector<Text> asked;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        Session* session = FindSession(record, "ATTR_getMultipleDefaults");
        std::string line = "ATTR_getMultipleDefaults " + std::to_string(nameCount);
        for (int32_t i = 0; names && i < nameCount; ++i) {
            line += i ? "," : " ";
            line += Show(names[i]);
            asked.push_back(names[i] ? Text(names[i]) : Text());
        }
        Log(line);
        if (!session || !names || !values || !count)
            return -2;
        address = session->connection->address;
        o = OverrideFor("ATTR_getMultipleDefaults", FindServer(address));
    }
    return Run("ATTR_getMultipleDefaults", nullptr, o, [=]() {
        std::lock_guard<std::mutex> hold(g_lock);
        Server* server = FindServer(address);
        if (!server)
            return -5;
        if (server->defaultsStatus != 0)
            return server->defaultsStatus;
        const int32_t n = server->defaultsCount < 0 ? static_cast<int32_t>(asked.size()) : server->defaultsCount;
        auto** v = static_cast<char**>(Allocate(static_cast<size_t>(n) * sizeof(char*), "default values"));
        for (int32_t i = 0; i < n; ++i) {
            if (static_cast<size_t>(i) >= asked.size()) {
                v[i] = AllocateText(std::string("extra"), "default value");
                continue;
            }
            auto it = asked[i] ? server->defaults.find(*asked[i]) : server->defaults.end();
            v[i] = it == server->defaults.end() ? nullptr : AllocateText(it->second, "default value");
        }
        *values = v;
        *count = n;
        return 0;
    });
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_self = instance;
    if (reason == DLL_PROCESS_DETACH)
        CloseLog();
    return TRUE;
}
