// Manager of the printer maker's optional OEM module (the PPD's stem with ".OEM"): printer-picture
// bitmaps, job text buffers, and the key material of the two password encryptions.
//
// Every use is bracketed: `COEMInterface* oem = AcquireOEMInterface(nullptr, path); if (oem) {
// ...; ReleaseOEMInterface(nullptr, path, oem); }`. A null interface holds no lock.
#pragma once

#include <windows.h>
#include <cstdint>

#include "foundation/Syncher.h"
#include "storage/PrinterBitmap.h"

// Result of a module call that could not be made (no module, no entry point, no list).
constexpr INT_PTR OEM_CALL_FAILED = static_cast<INT_PTR>(static_cast<UINT_PTR>(1) << (sizeof(INT_PTR) * 8 - 1));

// The module's entry points (all optional).
using PFN_OEMGetPrinterBitmapInfo = int(WINAPI*)(PrinterBitmapRecord** records, int* count, ULONG_PTR* out1,
                                                  ULONG_PTR* out2, ULONG_PTR* out3, ULONG_PTR* out4);
using PFN_OEMGetBuffer = int(WINAPI*)(DWORD zero, DWORD one, const wchar_t* driverName, DWORD reserved,
                                      int bufferId, char** buffer, DWORD* size);
using PFN_OEMGetBufferEx = int(WINAPI*)(DWORD zero, DWORD one, const wchar_t* driverName, DWORD reserved,
                                        int bufferId, char** buffer, DWORD* size, DWORD* flag);
using PFN_OEMGetEncryptionData = int(WINAPI*)();

// Key material sizes the two encryptions need: a DES key, and an AES-256 key whose first 16
// bytes also serve as the chaining start.
constexpr int OEM_DES_KEY_BYTES = 8;
constexpr int OEM_AES_KEY_BYTES = 32;
constexpr int OEM_AES_IV_BYTES = 16;
constexpr int OEM_KEY_TEXT_CHARS = 256;

class COEMInterface {
public:
    // Binds the entry points of module (kept only when module is non-null).
    explicit COEMInterface(HMODULE module) noexcept;
    virtual ~COEMInterface();

    COEMInterface(const COEMInterface&) = delete;
    COEMInterface& operator=(const COEMInterface&) = delete;

    HMODULE GetModule() const noexcept { return m_module; }
    bool HasEntryPoint(const char* name) const noexcept;

    // New text (delete[]): the module's path with its file extension replaced by "Res.xml"
    // (C:\Drivers\PRN.OEM gives C:\Drivers\PRNRes.xml); null without a module.
    wchar_t* GetResXmlPath() const noexcept;

    // Fills table with the picture layers: from the module's "OEMGetPrinterBitmapInfo", else from
    // the Res.xml file. 0 on success (the file must give at least one layer); the module's own
    // failure value; OEM_CALL_FAILED without module or table.
    INT_PTR GetPrinterBitmapInfo(PrinterBitmapTable* table) noexcept;

    // Module text for a job buffer id: with a null buffer *size receives the size needed; with a
    // buffer of *size bytes it is filled. 0 on success; OEM_CALL_FAILED without the entry point.
    INT_PTR GetBuffer(DWORD zero, DWORD one, const wchar_t* driverName, int bufferId, char* buffer,
                      DWORD* size) noexcept;
    // The same through "GetBufferEx" (its flag word is 0).
    INT_PTR GetBufferEx(DWORD zero, DWORD one, const wchar_t* driverName, int bufferId, char* buffer,
                        DWORD* size) noexcept;

    // Key material of "Algo_1", "Algo_2" or "Algo_2_Extra": with a null or too small out, the size
    // in bytes; otherwise the bytes written. 0 when the module has no key material.
    int GetAlgorithmData(const wchar_t* name, uint8_t* out, int outSize) noexcept;

    // Upper-case hexadecimal of the text encrypted with "Algo_2" (AES-256-CBC) or "Algo_1"
    // (DES-ECB), terminated. Null out: the size in characters; otherwise the characters written
    // without the terminator. 0 on failure (no or too short key material, too small out).
    int EncryptAlgo2(const wchar_t* text, wchar_t* out, int outSize) noexcept;
    int EncryptAlgo1(const wchar_t* text, wchar_t* out, int outSize) noexcept;
    int EncryptAlgo2A(const char* text, char* out, int outSize) noexcept;
    int EncryptAlgo1A(const char* text, char* out, int outSize) noexcept;

private:
    bool LoadKeyMaterial() noexcept;
    // Bytes of the key material into out (outSize at least the material size); 0 on failure.
    int ReadKeyBytes(int buffer, uint8_t* out, int outSize) noexcept;
    // Cipher bytes of an 8-bit text; returns the cipher length, 0 on failure.
    int CipherAlgo2(const char* text, uint8_t* cipher, size_t capacity) noexcept;
    int CipherAlgo1(const char* text, uint8_t* cipher, size_t capacity) noexcept;
    // The wide form of an 8-bit encryptor: sizes and encrypts the text's 8-bit conversion.
    int EncryptWide(int (COEMInterface::*encryptA)(const char*, char*, int) noexcept, const wchar_t* text,
                    wchar_t* out, int outSize) noexcept;

    PFN_OEMGetPrinterBitmapInfo m_getPrinterBitmapInfo = nullptr;
    PFN_OEMGetBufferEx m_getBufferEx = nullptr;
    PFN_OEMGetBuffer m_getBuffer = nullptr;
    PFN_OEMGetEncryptionData m_getEncryptionData = nullptr;
    HMODULE m_module = nullptr;

    // Key material: string resource 1 of the module (hexadecimal), read once.
    bool m_keyTried = false;
    wchar_t m_keyText[2][OEM_KEY_TEXT_CHARS + 1] = {};
    int m_keyLength = 0;
};

class OEMManager {
public:
    // Loads the module at path (nothing for a null path).
    explicit OEMManager(const wchar_t* path) noexcept;
    virtual ~OEMManager();

    OEMManager(const OEMManager&) = delete;
    OEMManager& operator=(const OEMManager&) = delete;

    // The interface, null when the module is not loaded.
    COEMInterface* GetInterface() const noexcept { return m_interface; }

private:
    HMODULE m_module = nullptr;
    COEMInterface* m_interface = nullptr;
};

// The manager of the module at path, made (and the module loaded) on first use; one per path.
Syncher<OEMManager>& GetOEMManager(const wchar_t* path) noexcept;

// Locks the path's manager and returns its interface; null (and no lock held) when the module
// is not loaded.
COEMInterface* AcquireOEMInterface(void* unused, const wchar_t* path) noexcept;
// Gives back an interface from AcquireOEMInterface; null does nothing.
void ReleaseOEMInterface(void* unused, const wchar_t* path, COEMInterface* oem) noexcept;

// New path (delete[]) of the OEM module beside a PPD: its stem with ".OEM"; null for null.
wchar_t* MakeOEMModulePath(const wchar_t* ppdPath) noexcept;
