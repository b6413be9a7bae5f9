// Binary interface between Quenta and the job-settings library "tq2.dll": the records
// that cross the module boundary, the entry points it exports and the callbacks it calls
// back. Both sides (Quenta and the test stand-in) include this one header; the size
// checks at the end hold the layout in both widths.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Every entry point and callback uses the platform calling convention (stdcall on i686).
#define TQAPI __stdcall

// One {keyword, value} pair; each text is allocated on its own.
struct TQKeyValueItem {
    wchar_t* keyword;
    wchar_t* value;
};

// Header of a key/value (or watermark) array; the items follow it in the same allocation.
struct TQKeyValueArray {
    uint64_t count;
    TQKeyValueItem* items;
};

// The items that follow a header in its allocation.
inline TQKeyValueItem* TQArrayItems(TQKeyValueArray* array) noexcept {
    return reinterpret_cast<TQKeyValueItem*>(reinterpret_cast<unsigned char*>(array) + sizeof(TQKeyValueArray));
}

// Session record handed to the settings-data session (texts are 8-bit, terminated).
struct TQSessionInfo {
    char server[64];           // 0
    char password[512];        // 64
    char userName[512];        // 576
    char tempFolder[512];      // 1088
    char language[64];         // 1600
    char encoding[64];         // 1664
    uint32_t dataFlags;        // 1728
    uint32_t sessionKind;      // 1732
    char reserved1[512];       // 1736
    char reserved2[512];       // 2248
};

// Run record handed to Run.
struct TQRunRecord {
    char title[256];
    char subtitle[256];
    uint32_t measure;  // 0x1000 inches, 0x2000 metric
};

constexpr uint32_t TQ_MEASURE_INCH = 0x1000;
constexpr uint32_t TQ_MEASURE_METRIC = 0x2000;
constexpr uint32_t TQ_CALLBACKS_VERSION = 13;
constexpr DWORD TQ_FAILED = 4096;          // a callback or start that cannot answer
constexpr uint32_t TQ_SDM_READY = 100;     // completion status of a ready session

struct TQCallbacks;
struct TQCompletion;

// Callbacks the library calls. The first argument is the client (no settings-data
// session) or the library's user data (with one).
using TQDocumentProc = DWORD(TQAPI*)(void* owner, wchar_t** text);
using TQStubProc = DWORD(TQAPI*)(void* owner, void* argument);
using TQBufferReleaseProc = DWORD(TQAPI*)(void* owner, void** buffer);
using TQPictureProc = BYTE(TQAPI*)(void* owner, HBITMAP* bitmap, LONG* width, LONG* height, LONG* depth, int which);
using TQCompletionProc = DWORD(TQAPI*)(TQCompletion* completion);
using TQNotificationProc = BOOL(TQAPI*)(void* client, DWORD flag, void* unused);

// Callback record. Besides the document, picture and buffer-release callbacks, Quenta fills
// only stubs whose answers the library takes as "nothing to report" (0), "cannot answer"
// (TQ_FAILED) and "no" (FALSE), and leaves the rest empty. x64 offsets in the comments
// (i686 halves them).
struct TQCallbacks {
    uint32_t version;                  // 0: TQ_CALLBACKS_VERSION
    void* userData;                    // 8: the client
    void* reserved0[2];                // 16
    TQDocumentProc documentProvider;   // 32
    TQStubProc answersZero1[2];        // 40, 48
    TQStubProc unset1;                 // 56
    TQStubProc answersZero2[2];        // 64, 72
    TQStubProc answersFailed;          // 80: TQ_FAILED
    TQStubProc unset2;                 // 88
    TQStubProc answersFalse;           // 96
    TQStubProc answersZero3[3];        // 104, 112, 120
    TQStubProc unset3[3];              // 128, 136, 144
    TQBufferReleaseProc bufferRelease; // 152
    TQStubProc unset4;                 // 160
    void* reserved1[18];               // 168
    TQPictureProc pictureProvider;     // 312
    void* reserved2[16];               // 320
};

// Completion record of a settings-data start.
struct TQCompletion {
    uint32_t reserved;
    uint32_t status;          // 4
    uint32_t error;           // 8
    TQCompletionProc callback;  // 16 (i686 12)
    void* client;             // 24 (i686 16)
};

// Notification list the library makes; Quenta fills both fields before registering it.
struct TQNotificationList {
    void* client;
    TQNotificationProc callback;
};

using TQSession = void*;

// Entry points of "tq2.dll", bound by name.
using PFN_TQ1_1BeginSession = DWORD(TQAPI*)(TQCallbacks* callbacks, TQSession* session);
using PFN_TQ1_1EndSession = DWORD(TQAPI*)(TQSession session);
using PFN_TQ1_1IsServerReady = DWORD(TQAPI*)(TQSession session);
using PFN_TQ1_1SetJobKeyValues = DWORD(TQAPI*)(TQSession session, TQKeyValueArray* values);
using PFN_TQ1_1SetWatermarks = DWORD(TQAPI*)(TQSession session, TQKeyValueArray* watermarks);
using PFN_TQ1_1OpenUI = DWORD(TQAPI*)(TQSession session);
using PFN_TQ1_1CreateDrvUI = DWORD(TQAPI*)(TQSession session);
using PFN_TQ1_1DestroyDrvUI = DWORD(TQAPI*)(TQSession session);
using PFN_TQ1_1GetJobKeyValues = DWORD(TQAPI*)(TQSession session, DWORD reserved, DWORD* value, TQKeyValueArray** values);
using PFN_TQ1_1GetWatermarks = DWORD(TQAPI*)(TQSession session, TQKeyValueArray** watermarks);
using PFN_TQ1_1Free = DWORD(TQAPI*)(void* array);
using PFN_TQ1_1SaveDrvUI = DWORD(TQAPI*)(TQSession session);
using PFN_TQ1_1SetJobControlsSettings = DWORD(TQAPI*)(TQSession session, TQKeyValueArray* values);
using PFN_TQ1_1DllEnd = DWORD(TQAPI*)();
using PFN_TQ1_1CreateNotificationList = DWORD(TQAPI*)(TQNotificationList** list);
using PFN_TQ1_1DestroyNotificationList = DWORD(TQAPI*)(TQNotificationList* list);
using PFN_TQ1_1RegisterNotificationList = DWORD(TQAPI*)(TQSession session, TQNotificationList* list);
using PFN_TQ1_1UnRegisterNotificationList = DWORD(TQAPI*)(TQSession session);
using PFN_TQInit = UINT_PTR(TQAPI*)(void* client);
using PFN_TQInit2 = UINT_PTR(TQAPI*)(UINT_PTR library, HWND page);
using PFN_TQTerm = DWORD(TQAPI*)(UINT_PTR library);
using PFN_TQTerm2 = DWORD(TQAPI*)(UINT_PTR library);
using PFN_TQRun = DWORD(TQAPI*)(UINT_PTR library, TQSession session, TQRunRecord* record, DWORD mode, DWORD flags, DWORD* value);
// keys: the queue's read-only keys, "keyword\0value\0...\0" (wide).
using PFN_TQSetJobReadOnlyKeys = DWORD(TQAPI*)(TQSession session, const wchar_t* keys);
using PFN_TQ1_1ValidateSettings = DWORD(TQAPI*)(TQSession session);

// Settings-data entry points.
using PFN_SDMInitialize = DWORD(TQAPI*)(TQSessionInfo* session, TQCallbacks* callbacks, TQCompletion* completion, void** userData);
using PFN_SDMTerminate = DWORD(TQAPI*)(void* userData);
using PFN_SDMDllEnd = DWORD(TQAPI*)();
using PFN_SDMDllEndEx = DWORD(TQAPI*)();
using PFN_SDMFreeMemory = DWORD(TQAPI*)(void* userData, void* buffer);
using PFN_SDMAllocMemory = DWORD(TQAPI*)(void* userData, void** buffer, DWORD bytes);
using PFN_SDMSetUserData = DWORD(TQAPI*)(void* userData, void* client);
using PFN_SDMGetUserData = DWORD(TQAPI*)(void* userData, void** client);
// Both texts are "keyword\0value\0...\0" (wide), allocated by the library.
using PFN_SDMGetQueueAttributes = DWORD(TQAPI*)(void* userData, const wchar_t* queue, wchar_t** first, wchar_t** second);

// The job-settings entry points in bind order; ValidateSettings alone is optional.
struct TQEntryPoints {
    PFN_TQ1_1BeginSession BeginSession;
    PFN_TQ1_1EndSession EndSession;
    PFN_TQ1_1IsServerReady IsServerReady;
    PFN_TQ1_1SetJobKeyValues SetJobKeyValues;
    PFN_TQ1_1SetWatermarks SetWatermarks;
    PFN_TQ1_1OpenUI OpenUI;
    PFN_TQ1_1CreateDrvUI CreateDrvUI;
    PFN_TQ1_1DestroyDrvUI DestroyDrvUI;
    PFN_TQ1_1GetJobKeyValues GetJobKeyValues;
    PFN_TQ1_1GetWatermarks GetWatermarks;
    PFN_TQ1_1Free Free;
    PFN_TQ1_1SaveDrvUI SaveDrvUI;
    PFN_TQ1_1SetJobControlsSettings SetJobControlsSettings;
    PFN_TQ1_1DllEnd DllEnd;
    PFN_TQ1_1CreateNotificationList CreateNotificationList;
    PFN_TQ1_1DestroyNotificationList DestroyNotificationList;
    PFN_TQ1_1RegisterNotificationList RegisterNotificationList;
    PFN_TQ1_1UnRegisterNotificationList UnRegisterNotificationList;
    PFN_TQInit Init;
    PFN_TQInit2 Init2;
    PFN_TQTerm Term;
    PFN_TQTerm2 Term2;
    PFN_TQRun Run;
    PFN_TQSetJobReadOnlyKeys SetJobReadOnlyKeys;
    PFN_TQ1_1ValidateSettings ValidateSettings;
};

// The settings-data entry points in bind order; all mandatory.
struct SDMEntryPoints {
    PFN_SDMInitialize Initialize;
    PFN_SDMTerminate Terminate;
    PFN_SDMDllEnd DllEnd;
    PFN_SDMDllEndEx DllEndEx;
    PFN_SDMFreeMemory FreeMemory;
    PFN_SDMAllocMemory AllocMemory;
    PFN_SDMSetUserData SetUserData;
    PFN_SDMGetUserData GetUserData;
    PFN_SDMGetQueueAttributes GetQueueAttributes;
};

// Export names, in the order of the tables above.
inline constexpr const char* kTQEntryNames[] = {
    "TQ1_1BeginSession", "TQ1_1EndSession", "TQ1_1IsServerReady", "TQ1_1SetJobKeyValues",
    "TQ1_1SetWatermarks", "TQ1_1OpenUI", "TQ1_1CreateDrvUI", "TQ1_1DestroyDrvUI",
    "TQ1_1GetJobKeyValues", "TQ1_1GetWatermarks", "TQ1_1Free", "TQ1_1SaveDrvUI",
    "TQ1_1SetJobControlsSettings", "TQ1_1DllEnd", "TQ1_1CreateNotificationList",
    "TQ1_1DestroyNotificationList", "TQ1_1RegisterNotificationList",
    "TQ1_1UnRegisterNotificationList", "Init", "Init2", "Term", "Term2", "Run",
    "TQSetJobReadOnlyKeys", "TQ1_1ValidateSettings"};
inline constexpr const char* kSDMEntryNames[] = {
    "SDMInitialize", "SDMTerminate", "SDMDllEnd", "SDMDllEndEx", "SDMFreeMemory",
    "SDMAllocMemory", "SDMSetUserData", "SDMGetUserData", "SDMGetQueueAttributes"};

static_assert(sizeof(kTQEntryNames) / sizeof(kTQEntryNames[0]) * sizeof(void*) == sizeof(TQEntryPoints));
static_assert(sizeof(kSDMEntryNames) / sizeof(kSDMEntryNames[0]) * sizeof(void*) == sizeof(SDMEntryPoints));
static_assert(sizeof(TQKeyValueArray) == 16 && sizeof(TQSessionInfo) == 2760 && sizeof(TQRunRecord) == 516);
static_assert(offsetof(TQSessionInfo, language) == 1600 && offsetof(TQSessionInfo, dataFlags) == 1728 &&
              offsetof(TQSessionInfo, sessionKind) == 1732 && offsetof(TQSessionInfo, reserved2) == 2248);
static_assert(offsetof(TQCompletion, status) == 4 && offsetof(TQCompletion, error) == 8);
#if defined(_WIN64)
static_assert(offsetof(TQCallbacks, userData) == 8 && offsetof(TQCallbacks, answersZero1) == 40 &&
              offsetof(TQCallbacks, answersFalse) == 96 && offsetof(TQCallbacks, answersZero3) == 104 && offsetof(TQCallbacks, documentProvider) == 32 &&
              offsetof(TQCallbacks, answersFailed) == 80 && offsetof(TQCallbacks, bufferRelease) == 152 &&
              offsetof(TQCallbacks, unset4) == 160 && offsetof(TQCallbacks, pictureProvider) == 312 &&
              sizeof(TQCallbacks) == 448);
static_assert(offsetof(TQCompletion, callback) == 16 && offsetof(TQCompletion, client) == 24);
#else
static_assert(offsetof(TQCallbacks, userData) == 4 && offsetof(TQCallbacks, answersZero1) == 20 &&
              offsetof(TQCallbacks, answersFalse) == 48 && offsetof(TQCallbacks, answersZero3) == 52 && offsetof(TQCallbacks, documentProvider) == 16 &&
              offsetof(TQCallbacks, answersFailed) == 40 && offsetof(TQCallbacks, bufferRelease) == 76 &&
              offsetof(TQCallbacks, unset4) == 80 && offsetof(TQCallbacks, pictureProvider) == 156 &&
              sizeof(TQCallbacks) == 224);
static_assert(offsetof(TQCompletion, callback) == 12 && offsetof(TQCompletion, client) == 16);
#endif
