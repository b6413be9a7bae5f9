// The user-authentication module manager against the test modules: a module missing any entry
// point is never called, user texts split into domain, user and mode, the key directory, and
// every module failure gives no token.
#include <gtest/gtest.h>

#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <secext.h>

#include <string>

#include "TestModulesDir.h"
#include "tests/standins/ModuleCallLog.h"
#include "foundation/StrUtil.h"
#include "storage/UATManager.h"

namespace {

std::wstring ModulePath(const wchar_t* file)
{
    return std::wstring(TOLVA_TEST_MODULES_DIR_W) + L"\\" + file;
}


std::string Narrow(const wchar_t* text)
{
    StrUtil<char, wchar_t> utf8(text != nullptr ? text : L"(null)", kUtf8CodePage);
    return utf8.Get() != nullptr ? utf8.Get() : "";
}

// The complete module, acquired for the whole suite.
class UATManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = ModulePath(L"AUTHFULL.UAT");
        m_uat = AcquireUATInterface(nullptr, m_path.c_str());
        ASSERT_NE(m_uat, nullptr);
        ResetModuleCallLog(m_uat->GetModule());
    }
    void TearDown() override { ReleaseUATInterface(nullptr, m_path.c_str(), m_uat); }
    std::string Log() const { return ReadModuleCallLog(m_uat->GetModule()); }

    std::wstring m_path;
    CUATInterface* m_uat = nullptr;
};

struct UserCase {
    const char* label;
    const wchar_t* userText;
    const wchar_t* password;
    bool useCurrentUser;
    const char* domain;  // as the module receives it
    const char* user;    // null: the current Windows user
    unsigned mode;
};

const UserCase kUserCases[] = {
    {"domain and user", L"DOM\\bob", L"pw", false, "DOM", "bob", 1},
    {"leading backslash is part of the user", L"\\bob", L"pw", false, "", "\\bob", 2},
    {"plain user", L"bob", L"pw", false, "", "bob", 2},
    {"only the first backslash splits", L"a\\b\\c", L"pw", false, "a", "b\\c", 1},
    {"empty text with the current-user flag", L"", L"pw", true, "", nullptr, 2},
    {"empty text without the flag", L"", L"pw", false, "", "", 2},
    {"current-user flag does not replace a given user", L"bob", L"pw", true, "", "bob", 2},
    {"non-ASCII user travels as UTF-8", L"DOM\\j\u00F6rg", L"p\u00E4ss", false, "DOM", "j\xC3\xB6rg", 1},
};

TEST_F(UATManagerTest, UserTextGivesDomainUserAndMode)
{
    WText current(GetCurrentUserName());
    ASSERT_TRUE(current);
    for (const auto& c : kUserCases) {
        SCOPED_TRACE(c.label);
        ResetModuleCallLog(m_uat->GetModule());
        AText token(PackUserCredentials(m_uat, L"srv", L"389", c.userText, c.password, c.useCurrentUser));
        ASSERT_TRUE(token);
        const std::string user = c.user != nullptr ? c.user : Narrow(current.get());
        const std::string expected = "TOKEN{" + std::string(c.domain) + "\\" + user + ":" + Narrow(c.password) +
                                     ";mode=" + std::to_string(c.mode) + ";win=0;dir=OPT[srv|389]}";
        EXPECT_EQ(std::string(token.get()), expected);
    }
}

TEST_F(UATManagerTest, CredentialDataHoldsTheSplit)
{
    CUATData data(m_uat, L"DOM\\bob", L"pw", nullptr);
    EXPECT_TRUE(data.IsValid());
    EXPECT_EQ(data.GetMode(), 1u);
    EXPECT_EQ(data.GetWindowsFlag(), 0);
    EXPECT_STREQ(data.GetDomain(), L"DOM");
    EXPECT_STREQ(data.GetUser(), L"bob");
    EXPECT_STREQ(data.GetPassword(), L"pw");

    CUATData named(m_uat, L"guest");
    EXPECT_TRUE(named.IsValid());
    EXPECT_EQ(named.GetMode(), 2u);
    EXPECT_EQ(named.GetPassword(), nullptr);
    EXPECT_EQ(named.GetDomain(), nullptr);
}

TEST_F(UATManagerTest, KeyDirectoryIsServerNulPortNulWithItsLength)
{
    AText token(PackNamedUserCredentials(m_uat, L"srv", L"port", L"guest"));
    ASSERT_TRUE(token);
    EXPECT_EQ(std::string(token.get()), "TOKEN{\\guest:;mode=2;win=0;dir=OPT[srv|port]}");
    // "srv\0port\0" is counted as 10: both lengths and three terminators.
    EXPECT_EQ(Log(),
              "AUTH_Option_PackAndEncrypt 10 73727600706F72740000\n"
              "AUTH_setOption com.vyr.auth.keydirectory OPT[srv|port]\n"
              "AUTH_freeBuffer buffer\n"
              "AUTH_packAndEncrypt guest   2 0\n"
              "AUTH_freeBuffer buffer\n");
}

TEST_F(UATManagerTest, EmptyServerAndPortStillPack)
{
    AText token(PackNamedUserCredentials(m_uat, L"", L"", L"guest"));
    ASSERT_TRUE(token);
    EXPECT_EQ(Log().rfind("AUTH_Option_PackAndEncrypt 3 000000\n", 0), 0u) << Log();
    AText nullServer(PackNamedUserCredentials(m_uat, nullptr, nullptr, L"guest"));
    EXPECT_TRUE(nullServer);
}

TEST_F(UATManagerTest, ModuleFailuresGiveNoToken)
{
    // The key directory is refused: the credentials are never packed.
    AText refused(PackUserCredentials(m_uat, L"fail-option", L"389", L"DOM\\bob", L"pw", false));
    EXPECT_FALSE(refused);
    EXPECT_EQ(Log().find("AUTH_packAndEncrypt"), std::string::npos) << Log();

    ResetModuleCallLog(m_uat->GetModule());
    AText failed(PackUserCredentials(m_uat, L"srv", L"389", L"DOM\\fail", L"pw", false));
    EXPECT_FALSE(failed);
    EXPECT_NE(Log().find("AUTH_packAndEncrypt fail pw DOM 1 0"), std::string::npos) << Log();
}

TEST_F(UATManagerTest, InvalidCredentialsNeverReachTheModule)
{
    EXPECT_EQ(PackUserCredentials(m_uat, L"srv", L"389", nullptr, L"pw", false), nullptr);
    EXPECT_EQ(PackUserCredentials(m_uat, L"srv", L"389", L"bob", nullptr, false), nullptr);
    EXPECT_EQ(PackNamedUserCredentials(m_uat, L"srv", L"389", nullptr), nullptr);
    EXPECT_EQ(PackUserCredentials(nullptr, L"srv", L"389", L"bob", L"pw", false), nullptr);
    EXPECT_EQ(Log(), "");
}

TEST_F(UATManagerTest, WindowsUserNeedsAPrincipalName)
{
    ULONG size = 0;
    const bool hasPrincipal = !GetUserNameExW(NameUserPrincipal, nullptr, &size) && GetLastError() == ERROR_MORE_DATA;
    AText token(PackWindowsUserCredentials(m_uat, L"srv", L"389"));
    if (!hasPrincipal) {
        // A machine without a domain logon (Wine answers 1332): no token, the module is not called.
        EXPECT_FALSE(token);
        EXPECT_EQ(Log(), "");
        return;
    }
    ASSERT_TRUE(token);
    EXPECT_EQ(std::string(token.get()), "TOKEN{\\:;mode=1;win=1;dir=OPT[srv|389]}");
}

TEST(UATBindingTest, ModuleMissingAnyEntryPointIsNeverCalled)
{
    const struct {
        const wchar_t* file;
        bool bound;
    } cases[] = {
        {L"AUTHFULL.UAT", true},        {L"AUTHNOPACK.UAT", false}, {L"AUTHNOOPTION.UAT", false},
        {L"AUTHNOFREE.UAT", false},     {L"AUTHNOSETOPT.UAT", false}, {L"NOSUCH.UAT", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.file));
        const std::wstring path = ModulePath(c.file);
        CUATInterface* uat = AcquireUATInterface(nullptr, path.c_str());
        EXPECT_EQ(uat != nullptr, c.bound);
        ReleaseUATInterface(nullptr, path.c_str(), uat);
        if (c.bound)
            continue;

        // Bind the module directly: the interface refuses every call and the module logs none.
        HMODULE module = LoadLibraryW(path.c_str());
        if (module == nullptr)
            continue;
        ResetModuleCallLog(module);
        CUATInterface direct(module);
        EXPECT_FALSE(direct.IsBound());
        EXPECT_EQ(direct.GetModule(), nullptr);
        AText token(PackUserCredentials(&direct, L"srv", L"389", L"DOM\\bob", L"pw", false));
        EXPECT_FALSE(token);
        AText named(PackNamedUserCredentials(&direct, L"srv", L"389", L"guest"));
        EXPECT_FALSE(named);
        char* output = nullptr;
        EXPECT_EQ(direct.PackAndEncrypt("a", "b", "c", 2, 0, &output), -1);
        direct.FreeBuffer(&output);
        EXPECT_EQ(ReadModuleCallLog(module), "");
        FreeLibrary(module);
    }
}

TEST(UATBindingTest, ModulePathIsThePpdStemWithUat)
{
    const struct {
        const wchar_t* ppd;
        const wchar_t* module;
    } cases[] = {
        {L"C:\\Drivers\\PRN.PPD", L"C:\\Drivers\\PRN.UAT"},
        {L"C:\\Users\\john.doe\\PRN.PPD", L"C:\\Users\\john.doe\\PRN.UAT"},
        {L"C:\\x\\PRN.ppdx", L"C:\\x\\PRN.UAT"},
    };
    for (const auto& c : cases) {
        WText path(MakeUATModulePath(c.ppd));
        ASSERT_TRUE(path) << Narrow(c.ppd);
        EXPECT_STREQ(path.get(), c.module);
    }
}

TEST(UATBindingTest, CurrentUserNameIsTheWindowsUser)
{
    WText name(GetCurrentUserName());
    ASSERT_TRUE(name);
    wchar_t expected[256];
    DWORD size = 256;
    ASSERT_TRUE(GetUserNameW(expected, &size));
    EXPECT_STREQ(name.get(), expected);
}

} // namespace
