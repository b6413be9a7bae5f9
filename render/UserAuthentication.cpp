// The user-authentication values a job carries: computed when a document starts and stored
// into the job's note settings, whose keys then write them like any other setting.
#include <windows.h>

#include <lm.h>

#include <cwctype>
#include <memory>
#include <new>
#include <string>

#include "foundation/StrUtil.h"
#include "render/OemPDev.h"
#include "settings/KeyNoteSetting.h"
#include "settings/KeyNoteSpecials.h"
#include "settings/KeyUtility.h"
#include "settings/PropertyNames.h"
#include "settings/StrSoup.h"
#include "storage/OEMManager.h"
#include "storage/UATManager.h"

namespace {

// The plain text of a note setting (a password key's is decrypted), wiped when freed; null
// when the key is no note key.
SecretWText PlainNoteText(const CKeySettingsUtility& settings, int property) {
    const CKeySetting* setting = settings.GetSettingByProp(property);
    if (const auto* password = dynamic_cast<const CKeyPasswordStr*>(setting))
        return CKeyPasswordStr::Decrypt(password->GetNoteText());
    if (const auto* note = dynamic_cast<const CKeyNoteSetting*>(setting))
        return SecretWText(StrDup(note->GetNoteText()));
    return nullptr;
}

const wchar_t* TextOrEmpty(const SecretWText& text) { return text ? text.get() : L""; }

// Holders that give an interface back to its manager.
struct UATHold {
    explicit UATHold(const wchar_t* path) : path(path), uat(path[0] ? AcquireUATInterface(nullptr, path) : nullptr) {}
    ~UATHold() { ReleaseUATInterface(nullptr, path, uat); }
    UATHold(const UATHold&) = delete;
    UATHold& operator=(const UATHold&) = delete;
    const wchar_t* path;
    CUATInterface* uat;
};
struct OEMHold {
    explicit OEMHold(const wchar_t* path) : path(path), oem(path[0] ? AcquireOEMInterface(nullptr, path) : nullptr) {}
    ~OEMHold() { ReleaseOEMInterface(nullptr, path, oem); }
    OEMHold(const OEMHold&) = delete;
    OEMHold& operator=(const OEMHold&) = delete;
    const wchar_t* path;
    COEMInterface* oem;
};

// Size query, then fill, of one of the OEM module's encryptions.
wchar_t* EncryptText(COEMInterface* oem, const wchar_t* text,
                     int (COEMInterface::*encrypt)(const wchar_t*, wchar_t*, int) noexcept) noexcept {
    if (!oem || !text)
        return nullptr;
    const int size = (oem->*encrypt)(text, nullptr, 0);
    if (size <= 0)
        return nullptr;
    WText out(new (std::nothrow) wchar_t[static_cast<size_t>(size) + 1]());
    if (!out || (oem->*encrypt)(text, out.get(), size + 1) <= 0)
        return nullptr;
    return out.release();
}

}  // namespace

wchar_t* StripUserDomain(const wchar_t* text) noexcept {
    if (!text)
        return nullptr;
    const wchar_t* user = StrChr(text, L'\\');
    user = user ? user + 1 : text;
    try {
        std::wstring doubled;
        for (const wchar_t* at = user; *at; ++at) {
            doubled += *at;
            if (*at == L'\\')
                doubled += L'\\';
        }
        return StrDup(doubled.c_str());
    } catch (...) {
        return nullptr;
    }
}

wchar_t* EncryptAlgo2Text(COEMInterface* oem, const wchar_t* text) noexcept {
    return EncryptText(oem, text, &COEMInterface::EncryptAlgo2);
}

wchar_t* EncryptAlgo1Text(COEMInterface* oem, const wchar_t* text) noexcept {
    return EncryptText(oem, text, &COEMInterface::EncryptAlgo1);
}

// --- OemPDev ---------------------------------------------------------------------------------

bool OemPDev::IsSpecialOptionOn(int option, int value) const {
    if (!m_state || !m_state->GetSoup())
        return false;
    CKeyOptionUtility options;
    options.Init(m_state->GetKeyForest(), m_state->GetSoup());
    return options.IsValueListedByProp(QV_PROP_SPECIALOPTION, option, value);
}

int OemPDev::GetAuthenticationMode() const {
    CKeySettingsUtility settings(m_state);
    const SoupSlotID off = SoupPropertySlot(m_state->GetSoup(), QV_PROP_FALSE);
    if (settings.GetOptionByProp(QV_PROP_TQUSERAUTHWINDOWS) != off)
        return 0;
    if (settings.GetOptionByProp(QV_PROP_TQUSERAUTHGUEST) != off)
        return 2;
    return 1;
}

const wchar_t* OemPDev::GetCurrentLogin() noexcept {
    if (!m_login.empty())
        return m_login.c_str();
    UATHold hold(GetPlugInPath(kPlugInUAT));
    if (!hold.uat)
        return nullptr;
    WText name(GetCurrentUserName());
    try {
        m_login = name ? name.get() : L"";
    } catch (...) {
        m_login.clear();
    }
    return m_login.empty() ? nullptr : m_login.c_str();
}

const wchar_t* OemPDev::AuthenticateUser() noexcept {
    if (!m_state || !m_state->GetSoup())
        return nullptr;
    try {
        CKeySettingsUtility settings(m_state);
        SecretWText server = PlainNoteText(settings, QV_PROP_LDAPSERVER);
        std::wstring port = L"389";
        // Without LDAP the module gets no server at all, not the default port.
        if (!settings.IsOptionSetByProp(QV_PROP_LDAPENABLE, QV_PROP_LDAPYES)) {
            server.reset(StrDup(L""));
            port.clear();
        }
        UATHold hold(GetPlugInPath(kPlugInUAT));
        if (!hold.uat || !IsSpecialOptionOn(QV_PROP_SPECIAL_OPN_LDAP, QV_PROP_TRUE))
            return nullptr;
        int mode = GetAuthenticationMode();
        bool fallback = false;
        std::unique_ptr<char[]> token;
        if (mode == 0) {
            token.reset(PackWindowsUserCredentials(hold.uat, TextOrEmpty(server), port.c_str()));
            if (!token) {
                mode = 1;
                fallback = true;
            }
        }
        if (mode == 1) {
            SecretWText name = PlainNoteText(settings, QV_PROP_QVUSERAUTHNAME);
            SecretWText password = PlainNoteText(settings, QV_PROP_QVUSERAUTHPWD);
            token.reset(PackUserCredentials(hold.uat, TextOrEmpty(server), port.c_str(), TextOrEmpty(name),
                                            TextOrEmpty(password), fallback));
        } else if (mode == 2) {
            token.reset(PackNamedUserCredentials(hold.uat, TextOrEmpty(server), port.c_str(), L"guest"));
        }
        if (!token)
            return nullptr;
        StrUtil<wchar_t, char> wide(token.get(), kUtf8CodePage);
        WipeMemory(token.get(), StrLenA(token.get()));
        if (!wide.Get())
            return nullptr;
        m_token = wide.Get();
        return m_token.c_str();
    } catch (...) {
        return nullptr;
    }
}

const wchar_t* OemPDev::GetUserName() noexcept {
    if (!m_userName.empty())
        return m_userName.c_str();
    if (!m_state || !m_state->GetSoup())
        return nullptr;
    try {
        CKeySettingsUtility settings(m_state);
        SecretWText name;
        switch (GetAuthenticationMode()) {
        case 0:
            name.reset(StrDup(GetCurrentLogin()));
            break;
        case 1:
            name = PlainNoteText(settings, QV_PROP_QVUSERAUTHNAME);
            break;
        default:
            name.reset(StrDup(L"guest"));
            break;
        }
        UATHold hold(GetPlugInPath(kPlugInUAT));
        if (!hold.uat || !IsSpecialOptionOn(QV_PROP_SPECIAL_OPN_LDAP, QV_PROP_TRUE))
            return nullptr;
        SecretWText user(StripUserDomain(name.get()));
        if (!user)
            return nullptr;
        m_userName = user.get();
        return m_userName.c_str();
    } catch (...) {
        return nullptr;
    }
}

const wchar_t* OemPDev::GetEncryptedPassword() noexcept {
    if (!m_encryptedPassword.empty())
        return m_encryptedPassword.c_str();
    if (!m_state || !m_state->GetSoup())
        return nullptr;
    try {
        CKeySettingsUtility settings(m_state);
        SecretWText password = GetAuthenticationMode() == 1 ? PlainNoteText(settings, QV_PROP_QVUSERAUTHPWD)
                                                              : SecretWText(StrDup(L""));
        UATHold uat(GetPlugInPath(kPlugInUAT));
        OEMHold oem(GetPlugInPath(kPlugInOEM));
        if (!uat.uat || !oem.oem || !IsSpecialOptionOn(QV_PROP_SPECIAL_OPN_LDAP, QV_PROP_TRUE))
            return nullptr;
        WText encrypted;
        if (IsSpecialOptionOn(QV_PROP_USESPECIALALGORITHM, QV_PROP_TWO))
            encrypted.reset(EncryptAlgo2Text(oem.oem, TextOrEmpty(password)));
        if (!encrypted)
            encrypted.reset(EncryptAlgo1Text(oem.oem, TextOrEmpty(password)));
        if (!encrypted)
            return nullptr;
        m_encryptedPassword = encrypted.get();
        return m_encryptedPassword.c_str();
    } catch (...) {
        return nullptr;
    }
}

const wchar_t* OemPDev::GetIdentityKey() noexcept {
    if (!m_identityKey.empty())
        return m_identityKey.c_str();
    try {
        const wchar_t* user = GetCurrentLogin();
        std::wstring computer;
        DWORD size = 0;
        GetComputerNameW(nullptr, &size);
        if (size > 0 && size < 32768) {
            std::unique_ptr<wchar_t[]> name(new wchar_t[size + 1]());
            DWORD filled = size + 1;
            if (GetComputerNameW(name.get(), &filled))
                computer = name.get();
        }
        std::wstring domain, local, userTag, userName;
        WKSTA_USER_INFO_1* info = nullptr;
        if (NetWkstaUserGetInfo(nullptr, 1, reinterpret_cast<LPBYTE*>(&info)) != NERR_Success || !info) {
            if (!computer.empty()) {
                domain = computer;
                local = L"[LOCAL]";
            }
        } else {
            domain = info->wkui1_logon_domain ? info->wkui1_logon_domain : L"";
            if (domain == computer)
                local = L"[LOCAL]";
        }
        if (info)
            NetApiBufferFree(info);
        if (user) {
            userTag = L"[USER]";
            userName = user;
        }
        std::wstring key = domain + local + userTag + userName;
        for (wchar_t& ch : key)
            ch = static_cast<wchar_t>(towupper(ch));
        m_identityKey = key;
        return m_identityKey.c_str();
    } catch (...) {
        return nullptr;
    }
}

int OemPDev::PrepareDocument() noexcept {
    if (!m_state || !m_state->GetSoup())
        return m_state ? 1 : 0;
    try {
        CKeySettingsUtility settings(m_state);
        const wchar_t* identity = GetIdentityKey();
        const bool ldap = IsSpecialOptionOn(QV_PROP_SPECIAL_OPN_LDAP, QV_PROP_TRUE);
        const bool copier = IsSpecialOptionOn(QV_PROP_COPIERUSERAUTH, QV_PROP_TRUE);

        // A feature that is off stores an empty text (clearing a value left in the device mode);
        // a value that could not be computed (null) leaves the setting as it was.
        std::wstring email;
        if (settings.IsOptionSetByProp(QV_PROP_ENABLEEMAIL, QV_PROP_TRUE) &&
            settings.IsOptionSetByProp(QV_PROP_BIDI_EMAILREADY, QV_PROP_YES)) {
            const wchar_t* address = settings.GetNoteTextByProp(QV_PROP_EMAILADDR);
            email = address ? address : L"";
        }
        const wchar_t* token = L"";
        const wchar_t* login = L"";
        std::wstring saved;
        const wchar_t* savedName = L"";
        if (ldap) {
            token = AuthenticateUser();
            login = GetCurrentLogin();
            const wchar_t* text = settings.GetNoteTextByProp(QV_PROP_TQUSERAUTHSAVE);
            savedName = text ? (saved = text).c_str() : nullptr;
        }
        const wchar_t* userName = L"";
        const wchar_t* password = L"";
        if (ldap && copier) {
            userName = GetUserName();
            password = GetEncryptedPassword();
        }

        KVCache values;
        const struct {
            int property;
            const wchar_t* text;
        } notes[] = {
            {QV_PROP_VYRDOMAINTAG, identity},       {QV_PROP_QVUserAuthTag, token},
            {QV_PROP_LDAPNAME, login},              {QV_PROP_QVCOPIERAUTHNAME, userName},
            {QV_PROP_QVCOPIERAUTHPASSWD, password}, {QV_PROP_LDAPSAVEUNAME, savedName},
            {QV_PROP_QVPSREMAILADDR, email.c_str()},
        };
        for (const auto& note : notes)
            if (note.text)
                settings.SetNoteTextByProp(&values, note.property, note.text);
        m_state->UpdateValues(&values);
    } catch (...) {
        // The job goes on with the values the device mode brought.
    }
    return 1;
}
