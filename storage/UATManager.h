// Manager of the printer maker's optional user-authentication module (the PPD's stem with ".UAT"),
// which packs a user's credentials and the LDAP server address into an encrypted token.
//
// Every use is bracketed: `CUATInterface* uat = AcquireUATInterface(nullptr, path); if (uat) {
// ...; ReleaseUATInterface(nullptr, path, uat); }`. A null interface holds no lock.
#pragma once

#include <windows.h>
#include <cstdint>

#include "foundation/StrUtil.h"
#include "foundation/Syncher.h"

// The module's entry points (all four mandatory), C calling convention.
using PFN_AUTH_packAndEncrypt = int(__cdecl*)(const char* user, const char* password, const char* domain,
                                              unsigned mode, int windowsUser, char** output);
using PFN_AUTH_Option_PackAndEncrypt = int(__cdecl*)(const char* buffer, int length, char** option);
using PFN_AUTH_freeBuffer = void(__cdecl*)(char** buffer);
using PFN_AUTH_setOption = int(__cdecl*)(const char* name, const char* option);

// Name of the module option that carries the packed key directory (server and port).
constexpr char UAT_KEY_DIRECTORY_OPTION[] = "com.vyr.auth.keydirectory";

// Credential modes the module receives.
constexpr unsigned UAT_MODE_DOMAIN_USER = 1;  // a user with a domain, or the logged-on Windows user
constexpr unsigned UAT_MODE_PLAIN_USER = 2;   // a user without domain

class CUATInterface {
public:
    // Binds the four entry points; when one is missing nothing is kept and every call fails.
    explicit CUATInterface(HMODULE module) noexcept;
    virtual ~CUATInterface() = default;

    CUATInterface(const CUATInterface&) = delete;
    CUATInterface& operator=(const CUATInterface&) = delete;

    bool IsBound() const noexcept { return m_module != nullptr; }
    HMODULE GetModule() const noexcept { return m_module; }

    // The module's calls; -1 (or nothing) when the binding failed.
    int PackAndEncrypt(const char* user, const char* password, const char* domain, unsigned mode, int windowsUser,
                       char** output) noexcept;
    int OptionPackAndEncrypt(const char* buffer, int length, char** option) noexcept;
    void FreeBuffer(char** buffer) noexcept;
    int SetOption(const char* name, const char* option) noexcept;

private:
    PFN_AUTH_packAndEncrypt m_packAndEncrypt = nullptr;
    PFN_AUTH_Option_PackAndEncrypt m_optionPackAndEncrypt = nullptr;
    PFN_AUTH_freeBuffer m_freeBuffer = nullptr;
    PFN_AUTH_setOption m_setOption = nullptr;
    HMODULE m_module = nullptr;
};

// One set of credentials for one packing. Names and password are wiped when freed.
class CUATData {
public:
    // The logged-on Windows user (valid when the user principal name can be read).
    explicit CUATData(CUATInterface* uat) noexcept;
    // A named user without password.
    CUATData(CUATInterface* uat, const wchar_t* userName) noexcept;
    // "domain\user" (or a plain user) with a password; fallbackName replaces an empty user text.
    CUATData(CUATInterface* uat, const wchar_t* userText, const wchar_t* password, const wchar_t* fallbackName) noexcept;
    virtual ~CUATData() = default;

    CUATData(const CUATData&) = delete;
    CUATData& operator=(const CUATData&) = delete;

    // New 8-bit token (delete[]) for the LDAP server and port, or null on any failure.
    char* Pack(const wchar_t* server, const wchar_t* port) noexcept;

    bool IsValid() const noexcept { return m_valid != 0; }
    unsigned GetMode() const noexcept { return m_mode; }
    int GetWindowsFlag() const noexcept { return m_windows; }
    const wchar_t* GetUser() const noexcept { return m_user.get(); }
    const wchar_t* GetPassword() const noexcept { return m_password.get(); }
    const wchar_t* GetDomain() const noexcept { return m_domain.get(); }

private:
    CUATInterface* m_interface;
    int32_t m_valid = 0;
    SecretWText m_user;
    SecretWText m_password;
    SecretWText m_domain;
    unsigned m_mode = UAT_MODE_PLAIN_USER;
    int32_t m_windows = 0;
};

class UATManager {
public:
    // Loads the module at path (nothing for a null path).
    explicit UATManager(const wchar_t* path) noexcept;
    virtual ~UATManager();

    UATManager(const UATManager&) = delete;
    UATManager& operator=(const UATManager&) = delete;

    // The interface, null when the module is not loaded (or could not be bound).
    CUATInterface* GetInterface() const noexcept { return m_interface; }

private:
    HMODULE m_module = nullptr;
    CUATInterface* m_interface = nullptr;
};

// The manager of the module at path, made (and the module loaded) on first use; one per path.
Syncher<UATManager>& GetUATManager(const wchar_t* path) noexcept;
// Locks the path's manager and returns its interface; null (and no lock held) when the module is
// not loaded or lacks an entry point.
CUATInterface* AcquireUATInterface(void* unused, const wchar_t* path) noexcept;
// Gives back an interface from AcquireUATInterface; null does nothing.
void ReleaseUATInterface(void* unused, const wchar_t* path, CUATInterface* uat) noexcept;

// New text (delete[]): the Windows user name of the calling thread; null on failure.
wchar_t* GetCurrentUserName() noexcept;

// Tokens (new 8-bit texts, delete[]) for the logged-on Windows user, for "domain\user" with a
// password (the current user replaces an empty user text when useCurrentUser is set), and for a
// named user without password. Null on any failure.
char* PackWindowsUserCredentials(CUATInterface* uat, const wchar_t* server, const wchar_t* port) noexcept;
char* PackUserCredentials(CUATInterface* uat, const wchar_t* server, const wchar_t* port, const wchar_t* userText,
                          const wchar_t* password, bool useCurrentUser) noexcept;
char* PackNamedUserCredentials(CUATInterface* uat, const wchar_t* server, const wchar_t* port,
                               const wchar_t* userName) noexcept;

// New path (delete[]) of the user-authentication module beside a PPD: its stem with ".UAT".
wchar_t* MakeUATModulePath(const wchar_t* ppdPath) noexcept;
