// Printer data in the spooler, behind one replaceable table of calls (see PrinterData.h).
#include "storage/PrinterData.h"

#include <winspool.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

using DeleteKeyFn = DWORD(WINAPI*)(HANDLE, LPCWSTR);

// The spooler's DeletePrinterKeyW, looked up by name once: it is absent or a stub on some
// platforms, and a missing export must not keep the module from loading.
DeleteKeyFn BindDeleteKey() noexcept {
    HMODULE spooler = GetModuleHandleW(L"winspool.drv");
    if (!spooler)
        spooler = LoadLibraryW(L"winspool.drv");  // kept for the life of the process
    if (!spooler)
        return nullptr;
    return reinterpret_cast<DeleteKeyFn>(reinterpret_cast<void*>(GetProcAddress(spooler, "DeletePrinterKeyW")));
}

DWORD WINAPI SpoolerDeleteKey(HANDLE printer, LPCWSTR key) {
    static const DeleteKeyFn bound = BindDeleteKey();
    return bound ? bound(printer, key) : ERROR_CALL_NOT_IMPLEMENTED;
}

const PrinterDataCalls kSpoolerCalls = {
    &GetPrinterDataW, &SetPrinterDataW, &GetPrinterDataExW, &SetPrinterDataExW, &EnumPrinterDataExW, &SpoolerDeleteKey,
};

std::atomic<const PrinterDataCalls*> g_calls{&kSpoolerCalls};

const PrinterDataCalls& Calls() noexcept { return *g_calls.load(std::memory_order_acquire); }

// The spooler's functions take non-const pointers for data they only read.
LPWSTR Mutable(const wchar_t* text) noexcept { return const_cast<LPWSTR>(text); }
LPBYTE MutableBytes(const void* data) noexcept { return static_cast<LPBYTE>(const_cast<void*>(data)); }

}  // namespace

const PrinterDataCalls& SpoolerPrinterDataCalls() noexcept { return kSpoolerCalls; }

const PrinterDataCalls* SetPrinterDataCalls(const PrinterDataCalls* calls) noexcept {
    return g_calls.exchange(calls ? calls : &kSpoolerCalls, std::memory_order_acq_rel);
}

DWORD PrnGetData(HANDLE printer, const wchar_t* name, DWORD* type, void* data, DWORD size, DWORD* needed) noexcept {
    if (!printer || !name || !needed)
        return ERROR_INVALID_PARAMETER;
    DWORD ignored = 0;
    return Calls().getData(printer, Mutable(name), type ? type : &ignored, static_cast<LPBYTE>(data), size, needed);
}

DWORD PrnSetData(HANDLE printer, const wchar_t* name, DWORD type, const void* data, DWORD size) noexcept {
    if (!printer || !name || (!data && size))
        return ERROR_INVALID_PARAMETER;
    return Calls().setData(printer, Mutable(name), type, MutableBytes(data), size);
}

DWORD PrnGetDataEx(HANDLE printer, const wchar_t* key, const wchar_t* name, DWORD* type, void* data, DWORD size,
                   DWORD* needed) noexcept {
    if (!printer || !key || !name || !needed)
        return ERROR_INVALID_PARAMETER;
    DWORD ignored = 0;
    return Calls().getDataEx(printer, key, name, type ? type : &ignored, static_cast<LPBYTE>(data), size, needed);
}

DWORD PrnSetDataEx(HANDLE printer, const wchar_t* key, const wchar_t* name, DWORD type, const void* data,
                   DWORD size) noexcept {
    if (!printer || !key || !name || (!data && size))
        return ERROR_INVALID_PARAMETER;
    return Calls().setDataEx(printer, key, name, type, MutableBytes(data), size);
}

DWORD PrnEnumDataEx(HANDLE printer, const wchar_t* key, void* values, DWORD size, DWORD* needed,
                    DWORD* count) noexcept {
    if (!printer || !key || !needed || !count)
        return ERROR_INVALID_PARAMETER;
    return Calls().enumDataEx(printer, key, static_cast<LPBYTE>(values), size, needed, count);
}

DWORD PrnDeleteKey(HANDLE printer, const wchar_t* key) noexcept {
    if (!printer || !key)
        return ERROR_INVALID_PARAMETER;
    const PrinterDataCalls& calls = Calls();
    return calls.deleteKey ? calls.deleteKey(printer, key) : ERROR_CALL_NOT_IMPLEMENTED;
}

BYTE* PrnReadValue(HANDLE printer, const wchar_t* name, DWORD* type, DWORD* bytes) noexcept {
    if (type)
        *type = REG_NONE;
    if (bytes)
        *bytes = 0;
    if (!printer || !name)
        return nullptr;
    DWORD valueType = REG_NONE;
    DWORD needed = 0;
    DWORD error = PrnGetData(printer, name, &valueType, nullptr, 0, &needed);
    if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA && error != ERROR_INSUFFICIENT_BUFFER)
        return nullptr;
    // The value may grow between the calls: retry with the size the spooler reports, a few
    // times at most.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (needed > 0x4000000)  // no printer-data value of this system comes near 64 MB
            return nullptr;
        DWORD capacity = needed;
        BYTE* buffer = new (std::nothrow) BYTE[capacity + 2];
        if (!buffer)
            return nullptr;
        DWORD got = 0;
        error = PrnGetData(printer, name, &valueType, buffer, capacity, &got);
        if (error == ERROR_SUCCESS) {
            DWORD used = got < capacity ? got : capacity;
            buffer[used] = 0;
            buffer[used + 1] = 0;
            if (type)
                *type = valueType;
            if (bytes)
                *bytes = used;
            return buffer;
        }
        delete[] buffer;
        if (error != ERROR_MORE_DATA || got <= capacity)
            return nullptr;
        needed = got;
    }
    return nullptr;
}

wchar_t* PrnGetText(HANDLE printer, const wchar_t* name) noexcept {
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    BYTE* data = PrnReadValue(printer, name, &type, &bytes);
    if (!data)
        return nullptr;
    if (type != REG_SZ) {
        delete[] data;
        return nullptr;
    }
    // Terminated at the size returned; an odd trailing byte is not part of the text.
    size_t chars = bytes / 2;
    wchar_t* text = new (std::nothrow) wchar_t[chars + 1];
    if (text) {
        std::memcpy(text, data, chars * sizeof(wchar_t));
        text[chars] = L'\0';
    }
    delete[] data;
    return text;
}

DWORD PrnSetText(HANDLE printer, const wchar_t* name, const wchar_t* text) noexcept {
    const wchar_t* value = text ? text : L"(null)";
    size_t length = std::wcslen(value);
    if (length > 0x1000000)
        return ERROR_INVALID_PARAMETER;
    return PrnSetData(printer, name, REG_SZ, value, static_cast<DWORD>((length + 1) * sizeof(wchar_t)));
}
