// The calls of the maker's protocol libraries that the print-server interface library
// makes, with the records they exchange. All entry points are __cdecl and bound by name.
// Shared by the library, the protocol-library stand-ins and the two-way server (which
// only zeroes a ServerConnectionBlock and passes its address).
#pragma once

#include <cstdint>

// One controller connection: the caller allocates and zeroes it, the connect call fills it.
// A block is valid when self holds the block's own address.
struct ServerConnectionBlock {
    ServerConnectionBlock* self;
    void* connection;
    char address[256];
};

// A non-blocking call record, owned by the caller: zeroed before its first use, armed by
// every call given it, read by the ticket wait (NB_block, NB_checkTicket) and released by
// NB_destroy. A call given no ticket is synchronous.
struct VelmoTicket {
    void* work;
    uintptr_t reserved[3];
};

// A protocol session: two words filled by the library's open call.
struct VelmoSessionRecord {
    void* owner;
    void* handle;
};

// Attributes of a virtual printer: parallel arrays of names and values (8-bit texts), one
// flag byte per attribute and the count; one allocation, freed with one velmo_free.
struct LPAttributeRecord {
    char** names;
    char** values;
    uint8_t* flags;
    int32_t count;
};

// Server information: name and version texts and two disk sizes in bytes (total, free).
struct VelmoServerInfo {
    char* name;
    char* version;
    uint64_t diskTotal;
    uint64_t diskFree;
};

// One discovered controller: two texts.
struct DiscoveredTolvaEx {
    char* first;
    char* second;
};

// Bits of an attribute value's flag word.
constexpr int32_t kVelmoPrimaryValue = 0x1;
constexpr int32_t kVelmoSecondaryValue = 0x2;

#if defined(_WIN64)
static_assert(sizeof(ServerConnectionBlock) == 272, "ServerConnectionBlock layout (x64)");
static_assert(sizeof(VelmoTicket) == 32, "VelmoTicket layout (x64)");
static_assert(sizeof(VelmoSessionRecord) == 16, "VelmoSessionRecord layout (x64)");
static_assert(sizeof(LPAttributeRecord) == 32, "LPAttributeRecord layout (x64)");
static_assert(sizeof(VelmoServerInfo) == 32, "VelmoServerInfo layout (x64)");
static_assert(sizeof(DiscoveredTolvaEx) == 16, "DiscoveredTolvaEx layout (x64)");
#else
static_assert(sizeof(ServerConnectionBlock) == 264, "ServerConnectionBlock layout (x86)");
static_assert(sizeof(VelmoTicket) == 16, "VelmoTicket layout (x86)");
static_assert(sizeof(VelmoSessionRecord) == 8, "VelmoSessionRecord layout (x86)");
static_assert(sizeof(LPAttributeRecord) == 16, "LPAttributeRecord layout (x86)");
static_assert(sizeof(VelmoServerInfo) == 24, "VelmoServerInfo layout (x86)");
static_assert(sizeof(DiscoveredTolvaEx) == 8, "DiscoveredTolvaEx layout (x86)");
#endif

extern "C" {

// The entry points that are bound but never called: no signature is relied on.
typedef int(__cdecl* PFN_VelmoUnused)(void);

// velmoqzt10.dll
typedef int(__cdecl* PFN_velmo_load)(void);
typedef int(__cdecl* PFN_velmo_unload)(void);
typedef void(__cdecl* PFN_velmo_free)(void* pointer);
typedef int(__cdecl* PFN_NB_block)(VelmoTicket* ticket);
typedef int(__cdecl* PFN_NB_checkTicket)(VelmoTicket* ticket, int32_t* done, int32_t* progress, int32_t* status);
typedef int(__cdecl* PFN_NB_destroy)(VelmoTicket* ticket);
// Asks the ticket's work to stop; the ticket is still destroyed afterwards.
typedef int(__cdecl* PFN_NB_cancel)(VelmoTicket* ticket);
typedef int(__cdecl* PFN_DISCOV_getTolvaList)(uint32_t timeout, int32_t reserved1, const char* filter1,
                                               const char* filter2, int32_t reserved2, int32_t reserved3,
                                               int32_t reserved4, DiscoveredTolvaEx** entries, int32_t* count,
                                               int32_t reserved5);
typedef int(__cdecl* PFN_DISCOV_freeDiscoveredTolvaExList)(DiscoveredTolvaEx* entries, int32_t count,
                                                            int32_t reserved);

// velmoqzt_vyrm.dll
typedef int(__cdecl* PFN_VYRM_connect)(const char* address, int32_t mode, int32_t version,
                                       ServerConnectionBlock* block, VelmoTicket* ticket);
typedef int(__cdecl* PFN_VYRM_getPPDEx)(ServerConnectionBlock* block, int32_t reserved1, const char* pdl,
                                        const char* language, const char* path, int32_t reserved2);
typedef int(__cdecl* PFN_INIT_disconnectFromServer)(ServerConnectionBlock* block, VelmoTicket* ticket);
typedef int(__cdecl* PFN_LP_openSession)(ServerConnectionBlock* block, VelmoSessionRecord* session,
                                         VelmoTicket* ticket);
typedef int(__cdecl* PFN_LP_closeSession)(VelmoSessionRecord* session, VelmoTicket* ticket);
typedef int(__cdecl* PFN_LP_getAttributes)(VelmoSessionRecord* session, const char* printer,
                                           LPAttributeRecord** record, int32_t reserved);
typedef int(__cdecl* PFN_FEAT_getFeatureList)(ServerConnectionBlock* block, char*** names, char*** values,
                                              int32_t* count, VelmoTicket* ticket);
typedef int(__cdecl* PFN_SERVER_getInfo)(ServerConnectionBlock* block, VelmoServerInfo** info, int32_t reserved);
typedef int(__cdecl* PFN_SERVER_freeInfo)(ServerConnectionBlock* block, VelmoServerInfo* info, int32_t reserved);
typedef int(__cdecl* PFN_ATTR_openSession)(ServerConnectionBlock* block, VelmoSessionRecord* session,
                                           VelmoTicket* ticket);
typedef int(__cdecl* PFN_ATTR_closeSession)(VelmoSessionRecord* session, VelmoTicket* ticket);
// The second and third arrays hold strings too; the caller only gives them back.
typedef int(__cdecl* PFN_ATTR_getAttributeKeys)(VelmoSessionRecord* session, int32_t reserved, const char* key,
                                                char*** names, char*** second, char*** third, int32_t* count,
                                                VelmoTicket* ticket);
typedef int(__cdecl* PFN_ATTR_getAttributeValues)(VelmoSessionRecord* session, int32_t reserved,
                                                  const char* name, char*** values, int32_t** flags,
                                                  int32_t* count, VelmoTicket* ticket);
// names and values are UTF-8, index-aligned.
typedef int(__cdecl* PFN_ATTR_getMultipleDefaults)(VelmoSessionRecord* session, int32_t reserved,
                                                   const char* const* names, char*** values, int32_t nameCount,
                                                   int32_t* count, int32_t reserved2);

}  // extern "C"
