// User-authentication module loading and binding, and the packing of credentials into tokens.
#include "storage/UATManager.h"

#define SECURITY_WIN32
#include <security.h>
#include <secext.h>

#include <cstring>
#include <cwchar>
#include <new>

#include "storage/ModuleRegistry.h"

namespace {

ModuleManagerRegistry<UATManager>& UATRegistry()
{
    return GuardedStatic<ModuleManagerRegistry<UATManager>>::Get([] { return ModuleManagerRegistry<UATManager>(); });
}

// UTF-8 form of a text (a null text as an empty one), wiped when freed; null on failure.
SecretAText ToUtf8(const wchar_t* text)
{
    StrUtil<char, wchar_t> utf8(text != nullptr ? text : L"", kUtf8CodePage);
    return SecretAText(utf8.Detach());
}

// New copy of count characters of text, wiped when freed.
SecretWText CopyPart(const wchar_t* text, size_t count)
{
    SecretWText copy(new (std::nothrow) wchar_t[count + 1]);
    if (copy) {
        std::wmemcpy(copy.get(), text, count);
        copy[count] = L'\0';
    }
    return copy;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CUATInterface

CUATInterface::CUATInterface(HMODULE module) noexcept
{
    if (module == nullptr)
        return;
    auto pack = BindEntryPoint<PFN_AUTH_packAndEncrypt>(module, "AUTH_packAndEncrypt");
    auto option = BindEntryPoint<PFN_AUTH_Option_PackAndEncrypt>(module, "AUTH_Option_PackAndEncrypt");
    auto freeBuffer = BindEntryPoint<PFN_AUTH_freeBuffer>(module, "AUTH_freeBuffer");
    auto setOption = BindEntryPoint<PFN_AUTH_setOption>(module, "AUTH_setOption");
    // All four are needed: a module without one of them is never called at all.
    if (pack == nullptr || option == nullptr || freeBuffer == nullptr || setOption == nullptr)
        return;
    m_packAndEncrypt = pack;
    m_optionPackAndEncrypt = option;
    m_freeBuffer = freeBuffer;
    m_setOption = setOption;
    m_module = module;
}

int CUATInterface::PackAndEncrypt(const char* user, const char* password, const char* domain, unsigned mode,
                                  int windowsUser, char** output) noexcept
{
    if (m_module == nullptr || output == nullptr)
        return -1;
    return m_packAndEncrypt(user, password, domain, mode, windowsUser, output);
}

int CUATInterface::OptionPackAndEncrypt(const char* buffer, int length, char** option) noexcept
{
    if (m_module == nullptr || option == nullptr)
        return -1;
    return m_optionPackAndEncrypt(buffer, length, option);
}

void CUATInterface::FreeBuffer(char** buffer) noexcept
{
    if (m_module == nullptr || buffer == nullptr || *buffer == nullptr)
        return;
    m_freeBuffer(buffer);
}

int CUATInterface::SetOption(const char* name, const char* option) noexcept
{
    if (m_module == nullptr)
        return -1;
    return m_setOption(name, option);
}

// ---------------------------------------------------------------------------------------------
// CUATData

CUATData::CUATData(CUATInterface* uat) noexcept : m_interface(uat)
{
    // The principal name proves a domain logon; the module takes the identity from the session.
    ULONG size = 0;
    if (!GetUserNameExW(NameUserPrincipal, nullptr, &size) && GetLastError() != ERROR_MORE_DATA)
        return;
    if (size == 0 || size > 32768)
        return;
    SecretWText name(new (std::nothrow) wchar_t[size + 1]);
    if (!name)
        return;
    ULONG filled = size + 1;
    if (!GetUserNameExW(NameUserPrincipal, name.get(), &filled))
        return;
    m_valid = 1;
    m_mode = UAT_MODE_DOMAIN_USER;
    m_windows = 1;
}

CUATData::CUATData(CUATInterface* uat, const wchar_t* userName) noexcept : m_interface(uat)
{
    if (userName == nullptr)
        return;
    m_user = CopyPart(userName, std::wcslen(userName));
    m_mode = UAT_MODE_PLAIN_USER;
    m_valid = m_user ? 1 : 0;
}

CUATData::CUATData(CUATInterface* uat, const wchar_t* userText, const wchar_t* password,
                   const wchar_t* fallbackName) noexcept
    : m_interface(uat)
{
    if (userText == nullptr || password == nullptr)
        return;
    const wchar_t* slash = std::wcschr(userText, L'\\');
    if (slash != nullptr && slash != userText) {
        m_domain = CopyPart(userText, static_cast<size_t>(slash - userText));
        m_user = CopyPart(slash + 1, std::wcslen(slash + 1));
        m_mode = UAT_MODE_DOMAIN_USER;
        if (!m_domain)
            return;
    } else {
        const wchar_t* user = (userText[0] == L'\0' && fallbackName != nullptr) ? fallbackName : userText;
        m_user = CopyPart(user, std::wcslen(user));
        m_mode = UAT_MODE_PLAIN_USER;
    }
    m_password = CopyPart(password, std::wcslen(password));
    m_valid = (m_user && m_password) ? 1 : 0;
}

char* CUATData::Pack(const wchar_t* server, const wchar_t* port) noexcept
{
    if (!m_valid || m_interface == nullptr || !m_interface->IsBound())
        return nullptr;

    // Key directory: server NUL port NUL, and one more terminator the length counts.
    SecretAText serverText = ToUtf8(server);
    SecretAText portText = ToUtf8(port);
    if (!serverText || !portText)
        return nullptr;
    const size_t serverLength = std::strlen(serverText.get());
    const size_t portLength = std::strlen(portText.get());
    if (serverLength + portLength > 0x10000)
        return nullptr;
    const size_t directoryLength = serverLength + portLength + 3;
    SecretAText directory(new (std::nothrow) char[directoryLength]);
    if (!directory)
        return nullptr;
    std::memset(directory.get(), 0, directoryLength);
    std::memcpy(directory.get(), serverText.get(), serverLength);
    std::memcpy(directory.get() + serverLength + 1, portText.get(), portLength);

    char* option = nullptr;
    if (m_interface->OptionPackAndEncrypt(directory.get(), static_cast<int>(directoryLength), &option) != 0) {
        m_interface->FreeBuffer(&option);
        return nullptr;
    }
    if (option != nullptr) {
        m_interface->SetOption(UAT_KEY_DIRECTORY_OPTION, option);
        m_interface->FreeBuffer(&option);
    }

    SecretAText user = ToUtf8(m_user.get());
    SecretAText password = ToUtf8(m_password.get());
    SecretAText domain = ToUtf8(m_domain.get());
    if (!user || !password || !domain)
        return nullptr;
    char* output = nullptr;
    const int result =
        m_interface->PackAndEncrypt(user.get(), password.get(), domain.get(), m_mode, m_windows, &output);
    if (result == -1 || output == nullptr) {
        m_interface->FreeBuffer(&output);
        return nullptr;
    }
    const size_t length = std::strlen(output);
    char* token = new (std::nothrow) char[length + 1];
    if (token != nullptr)
        std::memcpy(token, output, length + 1);
    m_interface->FreeBuffer(&output);
    return token;
}

// ---------------------------------------------------------------------------------------------
// UATManager and the free functions

UATManager::UATManager(const wchar_t* path) noexcept
{
    if (path == nullptr || path[0] == L'\0')
        return;
    m_module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (m_module == nullptr)
        return;
    m_interface = new (std::nothrow) CUATInterface(m_module);
    if (m_interface == nullptr) {
        FreeLibrary(m_module);
        m_module = nullptr;
    }
}

UATManager::~UATManager()
{
    delete m_interface;
    m_interface = nullptr;
    if (m_module != nullptr)
        FreeLibrary(m_module);
    m_module = nullptr;
}

Syncher<UATManager>& GetUATManager(const wchar_t* path) noexcept
{
    return UATRegistry().Get(path);
}

CUATInterface* AcquireUATInterface(void*, const wchar_t* path) noexcept
{
    if (path == nullptr)
        return nullptr;
    Syncher<UATManager>& syncher = GetUATManager(path);
    UATManager* manager = syncher.Lock();
    if (manager == nullptr)
        return nullptr;
    CUATInterface* uat = manager->GetInterface();
    if (uat == nullptr || !uat->IsBound()) {
        syncher.Unlock(manager);  // nothing usable to give back later, so hold nothing
        return nullptr;
    }
    return uat;
}

void ReleaseUATInterface(void*, const wchar_t* path, CUATInterface* uat) noexcept
{
    if (path == nullptr || uat == nullptr)
        return;
    Syncher<UATManager>& syncher = GetUATManager(path);
    syncher.Unlock(syncher.Get());
}

wchar_t* GetCurrentUserName() noexcept
{
    DWORD size = 0;
    GetUserNameW(nullptr, &size);
    if (size == 0 || size > 32768)
        return nullptr;
    auto* name = new (std::nothrow) wchar_t[size + 1];
    if (name == nullptr)
        return nullptr;
    DWORD filled = size + 1;
    if (!GetUserNameW(name, &filled)) {
        delete[] name;
        return nullptr;
    }
    name[size] = L'\0';
    return name;
}

char* PackWindowsUserCredentials(CUATInterface* uat, const wchar_t* server, const wchar_t* port) noexcept
{
    if (uat == nullptr)
        return nullptr;
    CUATData data(uat);
    return data.Pack(server, port);
}

char* PackUserCredentials(CUATInterface* uat, const wchar_t* server, const wchar_t* port, const wchar_t* userText,
                          const wchar_t* password, bool useCurrentUser) noexcept
{
    if (uat == nullptr)
        return nullptr;
    SecretWText fallback(useCurrentUser ? GetCurrentUserName() : nullptr);
    CUATData data(uat, userText, password, fallback.get());
    return data.Pack(server, port);
}

char* PackNamedUserCredentials(CUATInterface* uat, const wchar_t* server, const wchar_t* port,
                               const wchar_t* userName) noexcept
{
    if (uat == nullptr)
        return nullptr;
    CUATData data(uat, userName);
    return data.Pack(server, port);
}

wchar_t* MakeUATModulePath(const wchar_t* ppdPath) noexcept
{
    return ReplaceExtensionAlloc(ppdPath, L".UAT");
}
