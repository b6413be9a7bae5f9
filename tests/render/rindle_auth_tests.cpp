// The user-authentication values a job carries, printed through the core-driver stand-in with
// the stand-in user-authentication and OEM modules beside the PPD: the identity key, the
// credentials token of each authentication mode, the login, the user name and encrypted
// password for the printer's own authentication, the saved name and the e-mail address.
#include <gtest/gtest.h>

#include <windows.h>

#include <cwctype>
#include <string>

#include "foundation/StrUtil.h"
#include "render/OemPDev.h"
#include "storage/OEMManager.h"
#include "tests/render/RenderTestUtil.h"
#include "tests/standins/coredriver/RenderHost.h"

namespace {

struct AuthPPD {
    bool ldap = true;             // the special option that turns user authentication on
    bool copier = true;           // ... and the printer's own user authentication
    const char* algorithm = "2";  // "2": the AES encryption of the password
    const char* ldapEnable = "YES";
    const char* userName = "DOM\\bob";
};

std::string PPDText(const AuthPPD& p)
{
    auto note = [](const char* keyword, const char* defaultText) {
        std::string text = std::string("*%VYRUI_JobNote *") + keyword + "/" + keyword + ": 255:\r\n";
        if (defaultText) text += std::string("*%VYRUI_Default") + keyword + ": " + defaultText + "\r\n";
        return text;
    };
    auto boolean = [](const char* keyword, const char* defaultOption, const char* on, const char* off) {
        return std::string("*%VYRUI_Default") + keyword + ": " + defaultOption + "\r\n*%VYRUI_" + keyword + " " + on +
               "/" + on + ": \"\"\r\n*%VYRUI_" + keyword + " " + off + "/" + off + ": \"\"\r\n";
    };
    std::string text = "*PPD-Adobe: \"4.3\"\r\n*LanguageVersion: English\r\n*ShortNickName: \"Tolva Auth\"\r\n";
    text += std::string("*%VYRNONUI_VYRSpecialOption *VYRAuthenticateWithLDAP/LDAP: \"") + (p.ldap ? "True" : "False") +
            "\"\r\n";
    text += std::string("*%VYRNONUI_VYRSpecialOption *CopierUserAuth/Copier: \"") + (p.copier ? "True" : "False") +
            "\"\r\n";
    text += std::string("*%VYRNONUI_VYRSpecialOption *UseSpecialAlgorithm/Algorithm: \"") + p.algorithm + "\"\r\n";
    text += boolean("LDAP_enable", p.ldapEnable, "YES", "NO");
    text += boolean("TQUserAuthWindows", "False", "True", "False");
    text += boolean("TQUserAuthGuest", "False", "True", "False");
    text += boolean("EnableEmail", "False", "True", "False");
    text += boolean("BIDI_EmailReady", "No", "Yes", "No");
    text += note("LDAP_server", "ldap.example");
    text += note("VYREmailAddress", "bob@example.com");
    text += note("TQUserAuthSave", "saved-bob");
    text += note("QVUserAuthName", p.userName);
    text += note("QVUserAuthPwd", "secret");
    for (const char* target : {"VYRDomainTag", "QVUserAuthTag", "QVFor", "QVUserName", "QVUserAccessCode",
                               "LDAPSaveUName", "email"})
        text += note(target, "stale");
    return text;
}

struct AuthJob {
    coredriver::PrintJobResult job;
    std::string setup;  // the BEGINSETUP text
};

AuthJob PrintAuthJob(const AuthPPD& ppd, const std::vector<std::pair<std::wstring, std::wstring>>& selections = {},
                     bool withModules = true)
{
    AuthJob result;
    const std::wstring path = rendertest::WriteTempPPD(L"tolva-auth", PPDText(ppd));
    coredriver::PrintJobSetup setup;
    setup.rindlePath = TOLVA_RINDLE_PATH_W;
    setup.quentaPath = TOLVA_QUENTA_PATH_W;
    setup.ppdPath = path;
    setup.selections = selections;
    if (withModules) {
        setup.companions.push_back({std::wstring(TOLVA_TEST_MODULE_DIR_W) + L"\\AUTHFULL.UAT", L"{stem}.UAT"});
        setup.companions.push_back({std::wstring(TOLVA_TEST_MODULE_DIR_W) + L"\\PRNFULL.OEM", L"{stem}.OEM"});
    }
    result.job = coredriver::PrintJob(setup);
    result.setup = coredriver::TextOf(result.job, PSINJECT_BEGINSETUP);
    DeleteFileW(path.c_str());
    return result;
}

// The option of "%%BeginFeature: *KEY option" in text; "<absent>" when the key wrote nothing.
std::string FeatureValue(const std::string& text, const char* keyword)
{
    const std::string start = std::string("%%BeginFeature: *") + keyword + " ";
    const size_t at = text.find(start);
    if (at == std::string::npos) return "<absent>";
    const size_t end = text.find("\r\n", at);
    return text.substr(at + start.size(), end - at - start.size());
}

std::string Upper(std::wstring text)
{
    for (wchar_t& ch : text) ch = static_cast<wchar_t>(towupper(ch));
    return std::string(text.begin(), text.end());
}

std::string Login()
{
    wchar_t name[256] = {};
    DWORD size = 256;
    GetUserNameW(name, &size);
    std::wstring text = name;
    return std::string(text.begin(), text.end());
}

// Under Wine the workstation's logon domain is the computer name.
std::string IdentityKey(bool withUser)
{
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(computer, &size);
    std::wstring user;
    for (char ch : Login()) user += static_cast<wchar_t>(ch);
    return Upper(computer) + "[LOCAL]" + (withUser ? "[USER]" + Upper(user) : "");
}

// The stand-in OEM module's encryption of text, as the job must carry it.
std::string Encrypted(const wchar_t* text, bool algorithm2)
{
    const std::wstring module = std::wstring(TOLVA_TEST_MODULE_DIR_W) + L"\\PRNFULL.OEM";
    COEMInterface* oem = AcquireOEMInterface(nullptr, module.c_str());
    if (!oem) return "<no module>";
    WText hex(algorithm2 ? EncryptAlgo2Text(oem, text) : EncryptAlgo1Text(oem, text));
    ReleaseOEMInterface(nullptr, module.c_str(), oem);
    return hex ? std::string(hex.get(), hex.get() + StrLen(hex.get())) : "<failed>";
}

TEST(RindleAuth, ExplicitUserWithPassword)
{
    AuthJob auth = PrintAuthJob(AuthPPD{});
    ASSERT_TRUE(auth.job.ok) << std::string(auth.job.error.begin(), auth.job.error.end());
    EXPECT_EQ(FeatureValue(auth.setup, "VYRDomainTag"), IdentityKey(true));
    const std::string token = FeatureValue(auth.setup, "QVUserAuthTag");
    EXPECT_EQ(token.find("TOKEN{DOM\\bob:secret;"), 0u) << token;
    EXPECT_NE(token.find("dir=OPT[ldap.example|389]"), std::string::npos) << token;
    EXPECT_EQ(FeatureValue(auth.setup, "QVFor"), Login());
    EXPECT_EQ(FeatureValue(auth.setup, "QVUserName"), "bob");
    EXPECT_EQ(FeatureValue(auth.setup, "QVUserAccessCode"), Encrypted(L"secret", true));
    EXPECT_EQ(FeatureValue(auth.setup, "LDAPSaveUName"), "saved-bob");
    // E-mail is off: the stale value of the device mode is cleared.
    EXPECT_EQ(FeatureValue(auth.setup, "email"), "");
}

TEST(RindleAuth, ModesAndSwitches)
{
    struct Case {
        const char* name;
        AuthPPD ppd;
        std::vector<std::pair<std::wstring, std::wstring>> selections;
        const char* tokenStart;  // null: the token is empty
        std::string userName;
        std::string password;
    };
    AuthPPD noUser;
    noUser.userName = nullptr;
    AuthPPD algorithm1;
    algorithm1.algorithm = "1";
    AuthPPD ldapOff;
    ldapOff.ldap = false;
    AuthPPD copierOff;
    copierOff.copier = false;
    const Case cases[] = {
        // Wine cannot pack the Windows credentials: the explicit user is packed instead, and
        // the current user stands in for the empty name.
        {"windows login falls back", noUser, {{L"*TQUserAuthWindows", L"True"}}, "TOKEN{", Login(),
         Encrypted(L"", true)},
        {"guest", AuthPPD{}, {{L"*TQUserAuthGuest", L"True"}}, "TOKEN{", "guest", Encrypted(L"", true)},
        {"first algorithm", algorithm1, {}, "TOKEN{DOM\\bob:secret;", "bob", Encrypted(L"secret", false)},
        {"authentication off", ldapOff, {}, nullptr, "", ""},
        {"copier authentication off", copierOff, {}, "TOKEN{DOM\\bob:secret;", "", ""},
    };
    for (const Case& c : cases) {
        AuthJob auth = PrintAuthJob(c.ppd, c.selections);
        ASSERT_TRUE(auth.job.ok) << c.name;
        const std::string token = FeatureValue(auth.setup, "QVUserAuthTag");
        if (c.tokenStart)
            EXPECT_EQ(token.find(c.tokenStart), 0u) << c.name << ": " << token;
        else
            EXPECT_EQ(token, "") << c.name;
        EXPECT_EQ(FeatureValue(auth.setup, "QVUserName"), c.userName) << c.name;
        EXPECT_EQ(FeatureValue(auth.setup, "QVUserAccessCode"), c.password) << c.name;
        EXPECT_EQ(FeatureValue(auth.setup, "QVFor"), c.ppd.ldap ? Login() : "") << c.name;
        EXPECT_EQ(FeatureValue(auth.setup, "VYRDomainTag"), IdentityKey(true)) << c.name;
    }
    // The Windows-login case packs the current user in place of the empty name.
    AuthJob windows = PrintAuthJob(noUser, {{L"*TQUserAuthWindows", L"True"}});
    EXPECT_NE(FeatureValue(windows.setup, "QVUserAuthTag").find("\\" + Login() + ":secret;"), std::string::npos)
        << FeatureValue(windows.setup, "QVUserAuthTag");
}

TEST(RindleAuth, LdapDisabledGivesTheModuleNoServer)
{
    AuthPPD ppd;
    ppd.ldapEnable = "NO";
    AuthJob auth = PrintAuthJob(ppd);
    ASSERT_TRUE(auth.job.ok);
    const std::string token = FeatureValue(auth.setup, "QVUserAuthTag");
    EXPECT_EQ(token.find("TOKEN{DOM\\bob:secret;"), 0u) << token;
    EXPECT_EQ(token.find("389"), std::string::npos) << token;
    EXPECT_EQ(token.find("ldap.example"), std::string::npos) << token;
}

TEST(RindleAuth, EmailAddressWhenTheServiceIsReady)
{
    AuthJob auth = PrintAuthJob(AuthPPD{}, {{L"*EnableEmail", L"True"}, {L"*BIDI_EmailReady", L"Yes"}});
    ASSERT_TRUE(auth.job.ok);
    EXPECT_EQ(FeatureValue(auth.setup, "email"), "bob@example.com");
}

TEST(RindleAuth, WithoutModulesTheValuesStayAsTheyWere)
{
    AuthJob auth = PrintAuthJob(AuthPPD{}, {}, false);
    ASSERT_TRUE(auth.job.ok);
    // No login without the user-authentication module, so the key has no user part.
    EXPECT_EQ(FeatureValue(auth.setup, "VYRDomainTag"), IdentityKey(false));
    for (const char* keyword : {"QVUserAuthTag", "QVFor", "QVUserName", "QVUserAccessCode"})
        EXPECT_EQ(FeatureValue(auth.setup, keyword), "stale") << keyword;
    EXPECT_EQ(FeatureValue(auth.setup, "LDAPSaveUName"), "saved-bob");
}

TEST(RindleAuth, StripUserDomain)
{
    struct Case {
        const wchar_t* text;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"DOM\\bob", L"bob"}, {L"bob", L"bob"}, {L"A\\B\\c", L"B\\\\c"}, {L"\\", L""}, {L"", L""},
    };
    for (const Case& c : cases) {
        WText stripped(StripUserDomain(c.text));
        ASSERT_NE(stripped, nullptr);
        EXPECT_STREQ(stripped.get(), c.expected);
    }
    EXPECT_EQ(StripUserDomain(nullptr), nullptr);
}

}  // namespace
