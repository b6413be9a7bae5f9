// The settings-data entry points of the job-settings library, bound once per process and
// shared by every settings-data session, and the callbacks Quenta answers the library with.
#pragma once

#include <windows.h>

#include "foundation/Syncher.h"
#include "uiplugin/TQAbi.h"

class CSDMInterface {
public:
    CSDMInterface() = default;
    ~CSDMInterface() { Unload(); }
    CSDMInterface(const CSDMInterface&) = delete;
    CSDMInterface& operator=(const CSDMInterface&) = delete;

    // Loads path and binds all nine names; ignored when already loaded. Any missing name
    // frees the library and keeps nothing.
    void Load(const wchar_t* path);
    void Unload();

    HMODULE GetModule() const noexcept { return m_module; }
    SDMEntryPoints* GetEntryPoints() const noexcept { return m_entries; }
    LONG GetUseCount() const noexcept { return m_useCount; }

private:
    friend CSDMInterface* AcquireSDMInterface(const wchar_t* path);
    friend void ReleaseSDMInterface();

    HMODULE m_module = nullptr;
    SDMEntryPoints* m_entries = nullptr;
    LONG m_useCount = 0;
};

Syncher<CSDMInterface>& GetSDMSyncher();
// Raises the use count (the first acquisition loads path); the process's interface.
CSDMInterface* AcquireSDMInterface(const wchar_t* path);
// Lowers the use count; the last release frees the library.
void ReleaseSDMInterface();
// Acquires the interface and gives its table; null when not bound (the acquisition is then
// given back already).
SDMEntryPoints* AcquireSDMEntryPoints(const wchar_t* path);

// Empties the texts, data flags 0xFFFF, session kind 64.
void InitTQSessionInfo(TQSessionInfo* session);

// Callbacks handed to the library.
DWORD TQAPI SDMInitCompleteCallback(TQCompletion* completion);
DWORD TQAPI BuildSMDDataCallback(void* client, wchar_t** text);
DWORD TQAPI BuildDeviceSMDDataCallback(void* userData, wchar_t** text);
BYTE TQAPI GetPrinterPictureCallback(void* client, HBITMAP* bitmap, LONG* width, LONG* height, LONG* depth, int which);
BYTE TQAPI GetPrinterPictureSDMCallback(void* userData, HBITMAP* bitmap, LONG* width, LONG* height, LONG* depth,
                                        int which);

// XML attribute text with & < > " escaped (new text, delete[]); null for null.
wchar_t* EscapeXmlAttribute(const wchar_t* text);
