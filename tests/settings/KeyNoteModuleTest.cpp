// Note keys against the OEM and user-authentication test modules: the encrypting
// setup emitter and the map entries that carry packed credentials and the domain tag.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "KeyTestSupport.h"
#include "foundation/StrUtil.h"
#include "settings/KeyNoteSetting.h"
#include "storage/OEMManager.h"
#include "storage/UATManager.h"

namespace {
std::wstring ModulePpd(const wchar_t* stem) { return std::wstring(TOLVA_KEY_MODULES_DIR_W) + L"\\" + stem + L".PPD"; }

// The hexadecimal cipher text the module itself gives for text.
std::string ModuleCipher(const std::wstring& ppd, bool algo2, const char* text) {
    const WText path(MakeOEMModulePath(ppd.c_str()));
    COEMInterface* oem = AcquireOEMInterface(nullptr, path.get());
    if (!oem) return "<no module>";
    const int n = algo2 ? oem->EncryptAlgo2A(text, nullptr, 0) : oem->EncryptAlgo1A(text, nullptr, 0);
    std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
    const int w = algo2 ? oem->EncryptAlgo2A(text, out.data(), n) : oem->EncryptAlgo1A(text, out.data(), n);
    ReleaseOEMInterface(nullptr, path.get(), oem);
    out.resize(w > 0 ? static_cast<size_t>(w) : 0);
    return out;
}

std::wstring g_ppd;
CBaseSoup* g_soup = nullptr;
CBaseSoup* SettingsSoup(CfgSettings*) { return g_soup; }
const wchar_t* SettingsPath(CfgSettings*) { return g_ppd.c_str(); }
}  // namespace

TEST(NoteKeyModules, EncryptedTextIsTheOptionAndTheValue) {
    for (const bool algo2 : {false, true}) {
        FakeDrvState st;
        st.ppdPath = ModulePpd(L"PRNFULL");
        st.SetKeyValueList(L"*QVAccountCode", L"Encrypt");
        st.AddOption(L"*VYRSpecialOption", L"*UseSpecialAlgorithm", L"", algo2 ? L"2" : L"1");
        const CKeyNoteSetting k(st.Slot(L"*QVAccountCode"), L"4711", SoupSlotID(),
                                st.Slot(L"userdict (VYRAccount) cvn (<*QVAccountCode>) put"), SoupSlotID(), 16);
        const std::string hex = ModuleCipher(st.ppdPath, algo2, "4711");
        ASSERT_GT(hex.size(), 8u) << algo2;
        const std::string expected = "%%BeginFeature: *QVAccountCode " + hex + "\r\n  userdict (VYRAccount) cvn (" +
                                     hex + ") put\r\n%%EndFeature\r\n";
        EXPECT_EQ(expected, SetupA(k, st.State())) << algo2;
        const std::wstring w = SetupW(k, st.State());
        EXPECT_EQ(std::wstring(expected.begin(), expected.end()), w) << algo2;
        WritePostScriptJob(algo2 ? "encrypt-algo2" : "encrypt-algo1", expected, false, false);
    }
    FakeDrvState bare;
    bare.ppdPath = ModulePpd(L"PRNBARE");  // a module without key material
    bare.SetKeyValueList(L"*QVAccountCode", L"Encrypt");
    const CKeyNoteSetting k(bare.Slot(L"*QVAccountCode"), L"4711", SoupSlotID(), bare.Slot(L"(<*QVAccountCode>)"),
                            SoupSlotID(), 16);
    EXPECT_EQ(0, k.GetSetupCodeA(bare.State(), nullptr, 0));
}

TEST(NoteKeyModules, UserAuthenticationEntries) {
    struct Case {
        const char* name;
        const wchar_t* module;
        SettingMap in;
        const wchar_t* tag;  // VYRUATag
    };
    const SettingMap named{{L"*LDAP_server", L"ldap.example"}, {L"*LDAP_port", L"389"},
                           {L"*QVUserAuthName", L"CORP\\ann"}, {L"*QVUserAuthPwd", L"pw"}};
    SettingMap guest = named;
    guest[L"*TQUserAuthGuest"] = L"True";
    SettingMap noServer = named;
    noServer.erase(L"*LDAP_server");
    const Case cases[] = {
        {"named user", L"AUTHFULL", named, L"TOKEN{CORP\\ann:pw;mode=1;win=0;dir=OPT[ldap.example|389]}"},
        {"guest", L"AUTHFULL", guest, L"TOKEN{\\guest:;mode=2;win=0;dir=OPT[ldap.example|389]}"},
        {"no server", L"AUTHFULL", noServer, L""},
        {"no module", L"NOSUCHMODULE", named, L""},
    };
    for (const Case& c : cases) {
        CStrSoup soup;
        g_soup = &soup;
        g_ppd = ModulePpd(c.module);
        SetCfgSettingsSoupAccessor(&SettingsSoup);
        SetCfgSettingsPathAccessor(&SettingsPath);
        const CKeyNoteSetting k(soup.FindOrAdd(L"*QVUserAuthTag"), L"", SoupSlotID(), SoupSlotID(), SoupSlotID(), 8);
        SettingMap map = c.in;
        k.AddToMap(map, reinterpret_cast<CfgSettings*>(&soup));
        EXPECT_EQ(c.tag, map[L"VYRUATag"]) << c.name;
        EXPECT_EQ(0u, map.count(L"*QVUserAuthName")) << c.name;
        EXPECT_EQ(0u, map.count(L"*QVUserAuthPwd")) << c.name;
        EXPECT_EQ(0u, map.count(L"*QVUserAuthTag")) << c.name;
        SetCfgSettingsSoupAccessor(nullptr);
        SetCfgSettingsPathAccessor(nullptr);
    }
}

TEST(NoteKeyModules, DomainTag) {
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(computer, &size));
    const WText user(GetCurrentUserName());
    ASSERT_NE(nullptr, user);
    struct Case {
        const wchar_t* module;
        bool withUser;
    };
    for (const Case& c : {Case{L"AUTHFULL", true}, Case{L"NOSUCHMODULE", false}}) {
        CStrSoup soup;
        g_soup = &soup;
        g_ppd = ModulePpd(c.module);
        SetCfgSettingsSoupAccessor(&SettingsSoup);
        SetCfgSettingsPathAccessor(&SettingsPath);
        const CKeyNoteSetting k(soup.FindOrAdd(L"*VYRDomainTag"), L"ignored", SoupSlotID(), SoupSlotID(),
                                SoupSlotID(), 8);
        SettingMap map;
        k.AddToMap(map, reinterpret_cast<CfgSettings*>(&soup));
        SetCfgSettingsSoupAccessor(nullptr);
        SetCfgSettingsPathAccessor(nullptr);
        // Wine's workstation domain is the computer name.
        std::wstring expected = std::wstring(computer) + L"_LOCAL_";
        if (c.withUser) expected += std::wstring(L"_USER_") + user.get();
        EXPECT_EQ(expected, map[L"*VYRDomainTag"]) << static_cast<const void*>(c.module);
    }
}
