// OEM module loading, entry-point binding, picture layers, job buffers and the two password
// encryptions over the module's key material.
#include "storage/OEMManager.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "foundation/BlockCipher.h"
#include "foundation/StrUtil.h"
#include "storage/ModuleRegistry.h"
#include "storage/XMLParser.h"

namespace {

// Byte buffer that is wiped before it is freed (plain text, keys, key schedules).
class SecretBytes {
public:
    explicit SecretBytes(size_t size) : m_bytes(size, 0) {}
    ~SecretBytes() { WipeMemory(m_bytes.data(), m_bytes.size()); }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    uint8_t* Data() noexcept { return m_bytes.data(); }
    size_t Size() const noexcept { return m_bytes.size(); }

private:
    std::vector<uint8_t> m_bytes;
};

// 8-bit form of a wide text in the thread's code page, wiped when freed; null on failure.
SecretAText ToSecretNarrow(const wchar_t* text)
{
    StrUtil<char, wchar_t> narrow(text);
    return SecretAText(narrow.Detach());
}

// Copies a record from the module, giving it its own condition array; text fields are cut to
// their size so a record without terminators cannot run on.
bool CopyModuleRecord(const PrinterBitmapRecord& source, PrinterBitmapTable& table)
{
    PrinterBitmapRecord copy = source;
    copy.feature[PRINTER_BITMAP_NAME_CHARS - 1] = L'\0';
    copy.option[PRINTER_BITMAP_NAME_CHARS - 1] = L'\0';
    copy.conditions = nullptr;
    copy.conditionCount = 0;
    uint32_t count = source.conditions != nullptr ? source.conditionCount : 0;
    if (count > PRINTER_BITMAP_MAX_CONDITIONS)
        count = PRINTER_BITMAP_MAX_CONDITIONS;
    if (count > 0) {
        copy.conditions = new (std::nothrow) PrinterBitmapCondition[count];
        if (copy.conditions == nullptr)
            return false;
        std::memcpy(copy.conditions, source.conditions, sizeof(PrinterBitmapCondition) * count);
        for (uint32_t i = 0; i < count; ++i) {
            copy.conditions[i].feature[PRINTER_BITMAP_NAME_CHARS - 1] = L'\0';
            copy.conditions[i].option[PRINTER_BITMAP_NAME_CHARS - 1] = L'\0';
        }
        copy.conditionCount = count;
    }
    return table.Adopt(copy);
}

ModuleManagerRegistry<OEMManager>& OEMRegistry()
{
    return GuardedStatic<ModuleManagerRegistry<OEMManager>>::Get([] { return ModuleManagerRegistry<OEMManager>(); });
}

} // namespace

// ---------------------------------------------------------------------------------------------
// COEMInterface

COEMInterface::COEMInterface(HMODULE module) noexcept
{
    m_getPrinterBitmapInfo = nullptr;
    m_getBufferEx = nullptr;
    m_getBuffer = nullptr;
    m_getEncryptionData = nullptr;
    if (module == nullptr)
        return;
    m_getPrinterBitmapInfo = BindEntryPoint<PFN_OEMGetPrinterBitmapInfo>(module, "OEMGetPrinterBitmapInfo");
    m_getBufferEx = BindEntryPoint<PFN_OEMGetBufferEx>(module, "GetBufferEx");
    m_getBuffer = BindEntryPoint<PFN_OEMGetBuffer>(module, "GetBuffer");
    m_getEncryptionData = BindEntryPoint<PFN_OEMGetEncryptionData>(module, "GetEncryptionData");
    m_module = module;
}

COEMInterface::~COEMInterface()
{
    WipeMemory(m_keyText, sizeof(m_keyText));
    m_keyLength = 0;
}

bool COEMInterface::HasEntryPoint(const char* name) const noexcept
{
    if (name == nullptr)
        return false;
    if (std::strcmp(name, "OEMGetPrinterBitmapInfo") == 0)
        return m_getPrinterBitmapInfo != nullptr;
    if (std::strcmp(name, "GetBufferEx") == 0)
        return m_getBufferEx != nullptr;
    if (std::strcmp(name, "GetBuffer") == 0)
        return m_getBuffer != nullptr;
    if (std::strcmp(name, "GetEncryptionData") == 0)
        return m_getEncryptionData != nullptr;
    return false;
}

wchar_t* COEMInterface::GetResXmlPath() const noexcept
{
    if (m_module == nullptr)
        return nullptr;
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(m_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    // Only the file name's extension goes: a dotted folder ("C:\Users\john.doe\") stays whole.
    wchar_t* name = path;
    for (wchar_t* p = path; *p != L'\0'; ++p) {
        if (*p == L'\\' || *p == L'/' || *p == L':')
            name = p + 1;
    }
    if (wchar_t* dot = std::wcsrchr(name, L'.'))
        *dot = L'\0';
    return FormatAlloc(L"%sRes.xml", path);
}

INT_PTR COEMInterface::GetPrinterBitmapInfo(PrinterBitmapTable* table) noexcept
{
    if (m_module == nullptr || table == nullptr)
        return OEM_CALL_FAILED;
    table->Clear();

    if (m_getPrinterBitmapInfo != nullptr) {
        PrinterBitmapRecord* records = nullptr;
        int count = 0;
        ULONG_PTR ignored[4] = {};
        const int result = m_getPrinterBitmapInfo(&records, &count, &ignored[0], &ignored[1], &ignored[2], &ignored[3]);
        if (result != 0)
            return result;
        if (count <= 0 || records == nullptr)
            return 0;
        if (count > PRINTER_BITMAP_MAX_RECORDS)
            count = PRINTER_BITMAP_MAX_RECORDS;
        for (int i = 0; i < count; ++i) {
            if (!CopyModuleRecord(records[i], *table)) {
                table->Clear();
                return OEM_CALL_FAILED;
            }
        }
        return 0;
    }

    WText path(GetResXmlPath());
    if (!path)
        return OEM_CALL_FAILED;
    CXMLParser parser(path.get());
    const int count = parser.GetBitmapTable(nullptr, 0);
    if (count <= 0)
        return OEM_CALL_FAILED;
    std::vector<PrinterBitmapRecord> records;
    try {
        records.resize(static_cast<size_t>(count));
    } catch (...) {
        return OEM_CALL_FAILED;
    }
    const int filled = parser.GetBitmapTable(records.data(), count);
    for (int i = 0; i < filled; ++i)
        table->Adopt(records[static_cast<size_t>(i)]);
    return table->Count() > 0 ? 0 : OEM_CALL_FAILED;
}

INT_PTR COEMInterface::GetBuffer(DWORD zero, DWORD one, const wchar_t* driverName, int bufferId, char* buffer,
                                 DWORD* size) noexcept
{
    if (m_module == nullptr || m_getBuffer == nullptr || size == nullptr)
        return OEM_CALL_FAILED;
    char* target = buffer;
    return m_getBuffer(zero, one, driverName, 0, bufferId, &target, size);
}

INT_PTR COEMInterface::GetBufferEx(DWORD zero, DWORD one, const wchar_t* driverName, int bufferId, char* buffer,
                                   DWORD* size) noexcept
{
    if (m_module == nullptr || m_getBufferEx == nullptr || size == nullptr)
        return OEM_CALL_FAILED;
    char* target = buffer;
    DWORD flag = 0;
    return m_getBufferEx(zero, one, driverName, 0, bufferId, &target, size, &flag);
}

bool COEMInterface::LoadKeyMaterial() noexcept
{
    if (m_keyTried)
        return m_keyLength > 0;
    m_keyTried = true;
    if (m_module == nullptr)
        return false;
    // Both buffers hold the same resource: "Algo_2_Extra" reads the second, the rest the first.
    int longest = 0;
    for (auto& buffer : m_keyText) {
        SecretWText text(LoadStringResource(m_module, 1, 0, kThreadAnsiCodePage));
        if (!text)
            continue;
        StrNCopy(buffer, OEM_KEY_TEXT_CHARS + 1, text.get(), OEM_KEY_TEXT_CHARS);
        const int length = static_cast<int>(std::wcslen(buffer));
        if (length > longest)
            longest = length;
    }
    m_keyLength = longest;
    return m_keyLength > 0;
}

int COEMInterface::ReadKeyBytes(int buffer, uint8_t* out, int outSize) noexcept
{
    if (!LoadKeyMaterial() || out == nullptr || outSize <= 0)
        return 0;
    const wchar_t* text = m_keyText[buffer != 0 ? 1 : 0];
    return HexToBytes(text, out, static_cast<unsigned>(outSize));
}

int COEMInterface::GetAlgorithmData(const wchar_t* name, uint8_t* out, int outSize) noexcept
{
    if (name == nullptr || !LoadKeyMaterial())
        return 0;
    const int buffer = std::wcscmp(name, L"Algo_2_Extra") == 0 ? 1 : 0;
    const int needed = static_cast<int>(std::wcslen(m_keyText[buffer]) / 2);
    if (out == nullptr || outSize < needed)
        return needed;
    return ReadKeyBytes(buffer, out, outSize);
}

int COEMInterface::CipherAlgo2(const char* text, uint8_t* cipher, size_t capacity) noexcept
{
    // A key shorter than the cipher needs fails rather than being read past its end.
    const int material = GetAlgorithmData(L"Algo_2", nullptr, 0);
    const int extra = GetAlgorithmData(L"Algo_2_Extra", nullptr, 0);
    if (material < OEM_AES_KEY_BYTES || extra < OEM_AES_IV_BYTES)
        return 0;
    SecretBytes key(static_cast<size_t>(material));
    SecretBytes iv(static_cast<size_t>(extra));
    if (GetAlgorithmData(L"Algo_2", key.Data(), material) < OEM_AES_KEY_BYTES ||
        GetAlgorithmData(L"Algo_2_Extra", iv.Data(), extra) < OEM_AES_IV_BYTES)
        return 0;
    size_t length = capacity;
    if (!AesEncryptString(key.Data(), iv.Data(), text, cipher, &length) || length > capacity)
        return 0;
    return static_cast<int>(length);
}

int COEMInterface::CipherAlgo1(const char* text, uint8_t* cipher, size_t capacity) noexcept
{
    const int material = GetAlgorithmData(L"Algo_1", nullptr, 0);
    if (material < OEM_DES_KEY_BYTES)
        return 0;
    SecretBytes key(static_cast<size_t>(material));
    if (GetAlgorithmData(L"Algo_1", key.Data(), material) < OEM_DES_KEY_BYTES)
        return 0;
    const size_t length = std::strlen(text);
    const size_t padded = (length / 8) * 8 + 8;
    if (padded > capacity)
        return 0;
    // Padding: n bytes of value n, a whole block when the text fills its last one.
    const uint8_t pad = static_cast<uint8_t>(8 - length % 8);
    std::memcpy(cipher, text, length);
    std::memset(cipher + length, pad, padded - length);
    DesSchedule schedule;
    DesSetKey(schedule, key.Data(), kDesEncrypt);
    for (size_t block = 0; block < padded; block += 8)
        DesCryptBlock(schedule, cipher + block, cipher + block);
    WipeMemory(&schedule, sizeof(schedule));
    return static_cast<int>(padded);
}

int COEMInterface::EncryptAlgo2A(const char* text, char* out, int outSize) noexcept
{
    if (text == nullptr || GetAlgorithmData(L"Algo_2", nullptr, 0) < OEM_AES_KEY_BYTES)
        return 0;
    const size_t length = std::strlen(text);
    if (length > 0x3FFFFFF0)
        return 0;
    const int needed = static_cast<int>(2 * length + 41);
    if (out == nullptr)
        return needed;
    if (outSize <= static_cast<int>(2 * length + 40))
        return 0;
    try {
        SecretBytes cipher(2 * length + 40);
        const int cipherLength = CipherAlgo2(text, cipher.Data(), cipher.Size());
        if (cipherLength <= 0 || 2 * cipherLength >= outSize)
            return 0;
        BytesToHexA(cipher.Data(), cipherLength, out, static_cast<unsigned>(outSize));
        out[2 * cipherLength] = '\0';
        return 2 * cipherLength;
    } catch (...) {
        return 0;
    }
}

int COEMInterface::EncryptAlgo1A(const char* text, char* out, int outSize) noexcept
{
    if (text == nullptr || GetAlgorithmData(L"Algo_1", nullptr, 0) < OEM_DES_KEY_BYTES)
        return 0;
    const size_t length = std::strlen(text);
    if (length > 0x3FFFFFF0)
        return 0;
    const size_t padded = (length / 8) * 8 + 8;
    const int needed = static_cast<int>(2 * padded + 1);
    if (out == nullptr)
        return needed;
    if (outSize < needed)
        return 0;
    try {
        SecretBytes cipher(padded);
        const int cipherLength = CipherAlgo1(text, cipher.Data(), cipher.Size());
        if (cipherLength <= 0)
            return 0;
        BytesToHexA(cipher.Data(), cipherLength, out, static_cast<unsigned>(outSize));
        out[2 * cipherLength] = '\0';
        return 2 * cipherLength;
    } catch (...) {
        return 0;
    }
}

// The wide forms size and encrypt the 8-bit conversion of the text: a character that takes
// two bytes in the code page must not make the output overflow.
int COEMInterface::EncryptWide(int (COEMInterface::*encryptA)(const char*, char*, int) noexcept,
                               const wchar_t* text, wchar_t* out, int outSize) noexcept
{
    if (text == nullptr)
        return 0;
    SecretAText narrow = ToSecretNarrow(text);
    if (!narrow)
        return 0;
    const int needed = (this->*encryptA)(narrow.get(), nullptr, 0);
    if (needed <= 0 || out == nullptr)
        return needed;
    if (outSize < needed)
        return 0;
    SecretAText hex(new (std::nothrow) char[static_cast<size_t>(needed)]);
    if (!hex)
        return 0;
    hex[0] = '\0';
    const int written = (this->*encryptA)(narrow.get(), hex.get(), needed);
    if (written <= 0 || written >= outSize)
        return 0;
    for (int i = 0; i <= written; ++i)
        out[i] = static_cast<unsigned char>(hex[i]);
    return written;
}

int COEMInterface::EncryptAlgo2(const wchar_t* text, wchar_t* out, int outSize) noexcept
{
    return EncryptWide(&COEMInterface::EncryptAlgo2A, text, out, outSize);
}

int COEMInterface::EncryptAlgo1(const wchar_t* text, wchar_t* out, int outSize) noexcept
{
    return EncryptWide(&COEMInterface::EncryptAlgo1A, text, out, outSize);
}

// ---------------------------------------------------------------------------------------------
// OEMManager

OEMManager::OEMManager(const wchar_t* path) noexcept
{
    if (path == nullptr || path[0] == L'\0')
        return;
    m_module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (m_module == nullptr)
        return;
    m_interface = new (std::nothrow) COEMInterface(m_module);
    if (m_interface == nullptr) {
        FreeLibrary(m_module);
        m_module = nullptr;
    }
}

OEMManager::~OEMManager()
{
    delete m_interface;
    m_interface = nullptr;
    if (m_module != nullptr)
        FreeLibrary(m_module);
    m_module = nullptr;
}

Syncher<OEMManager>& GetOEMManager(const wchar_t* path) noexcept
{
    return OEMRegistry().Get(path);
}

COEMInterface* AcquireOEMInterface(void*, const wchar_t* path) noexcept
{
    if (path == nullptr)
        return nullptr;
    Syncher<OEMManager>& syncher = GetOEMManager(path);
    OEMManager* manager = syncher.Lock();
    if (manager == nullptr)
        return nullptr;
    COEMInterface* oem = manager->GetInterface();
    if (oem == nullptr)
        syncher.Unlock(manager);  // nothing to give back later, so hold nothing
    return oem;
}

void ReleaseOEMInterface(void*, const wchar_t* path, COEMInterface* oem) noexcept
{
    if (path == nullptr || oem == nullptr)
        return;
    Syncher<OEMManager>& syncher = GetOEMManager(path);
    syncher.Unlock(syncher.Get());
}

wchar_t* MakeOEMModulePath(const wchar_t* ppdPath) noexcept
{
    return ReplaceExtensionAlloc(ppdPath, L".OEM");
}
