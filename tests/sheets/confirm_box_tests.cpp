// The confirm-installables box on the test language modules, driven from a second thread as a
// user would: its texts, what OK and Cancel write under the data file's user key, the built-in
// text for a bad string 126 and a language module without the dialog; and the key's name.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "TestModulesDir.h"
#include "foundation/GPRegUtil.h"
#include "foundation/StrUtil.h"
#include "sheets/MessageBox.h"
#include "storage/DriverUserKey.h"

namespace {

const std::wstring kModules = TOLVA_TEST_MODULES_DIR_W;

// What the driving thread saw and did.
struct Seen {
    std::wstring title;
    std::wstring text;
};

BOOL CALLBACK FindBoxWindow(HWND hwnd, LPARAM out)
{
    if (GetDlgItem(hwnd, kConfirmTextControl) && GetDlgItem(hwnd, kConfirmCheckControl)) {
        *reinterpret_cast<HWND*>(out) = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Finds the box among the top-level windows of a thread.
HWND FindBox(DWORD thread)
{
    HWND found = nullptr;
    EnumThreadWindows(thread, FindBoxWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Shows the box on this thread; a second thread waits for it, reads it, ticks the box when
// asked and presses the button. Returns DoModal's result.
INT_PTR RunBox(const ConfirmBoxSources& sources, bool tick, int button, Seen* seen)
{
    DWORD self = GetCurrentThreadId();
    std::thread user([&] {
        for (int i = 0; i < 500; ++i) {
            if (HWND box = FindBox(self)) {
                wchar_t buffer[512] = {};
                GetWindowTextW(box, buffer, 512);
                seen->title = buffer;
                GetDlgItemTextW(box, kConfirmTextControl, buffer, 512);
                seen->text = buffer;
                if (tick) SendDlgItemMessageW(box, kConfirmCheckControl, BM_SETCHECK, BST_CHECKED, 0);
                SendMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                return;
            }
            Sleep(10);
        }
    });
    CMessageBox box(sources, nullptr);
    INT_PTR result = box.DoModal();
    user.join();
    return result;
}

class ConfirmBoxTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (HMODULE m : modules)
            if (m) FreeLibrary(m);
        for (const std::wstring& key : keys) DeleteRegKeyTree(HKEY_CURRENT_USER, key.c_str());
    }
    ConfirmBoxSources Sources(const wchar_t* lan, const std::wstring& dataFile)
    {
        HMODULE module = LoadLibraryW((kModules + L"\\" + lan).c_str());
        modules.push_back(module);
        keys.push_back(DriverUserKeyPath(dataFile.c_str()));
        DeleteRegKeyTree(HKEY_CURRENT_USER, keys.back().c_str());
        ConfirmBoxSources sources;
        sources.language = module;
        sources.languageId = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
        sources.codePage = CP_ACP;
        sources.dataFile = dataFile;
        sources.driverName = L"Tolva Test Driver";
        return sources;
    }
    // A data file whose first 8 characters are unique to this process and case.
    static std::wstring DataFile(int n)
    {
        wchar_t name[64];
        FormatToBuffer(name, 64, L"C:\\drv\\c%05x%d.PPD", GetCurrentProcessId() & 0xFFFFF, n % 10);
        return name;
    }
    static DWORD Confirmed(const std::wstring& dataFile)
    {
        std::wstring path = DriverUserKeyPath(dataFile.c_str());
        GPRegUtil key(HKEY_CURRENT_USER, path.c_str());
        return key.GetDWord(kConfirmInstallablesValue, static_cast<DWORD>(-1));
    }
    std::vector<HMODULE> modules;
    std::vector<std::wstring> keys;
};

TEST_F(ConfirmBoxTest, OkWithTheBoxTickedWritesAndNothingElseDoes)
{
    const std::wstring expectedText =
        L"The installable options of Tolva Test Driver may have changed. Check them in the printer properties of "
        L"Tolva Test Driver.";
    struct Case {
        const char* name;
        bool tick;
        int button;
        INT_PTR result;
        DWORD stored;
    } cases[] = {
        {"ticked OK", true, IDOK, IDOK, 1},
        {"unticked OK", false, IDOK, IDOK, static_cast<DWORD>(-1)},
        {"ticked Cancel", true, IDCANCEL, IDCANCEL, static_cast<DWORD>(-1)},
        {"unticked Cancel", false, IDCANCEL, IDCANCEL, static_cast<DWORD>(-1)},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::wstring dataFile = DataFile(n++);
        Seen seen;
        EXPECT_EQ(RunBox(Sources(L"tabs.LAN", dataFile), c.tick, c.button, &seen), c.result) << c.name;
        EXPECT_EQ(seen.title, L"Installable Options") << c.name;
        EXPECT_EQ(seen.text, expectedText) << c.name;
        EXPECT_EQ(Confirmed(dataFile), c.stored) << c.name;
    }
}

TEST_F(ConfirmBoxTest, AStringThatIsNotAFormatOfTwoStringsGivesTheBuiltInText)
{
    std::wstring dataFile = DataFile(5);
    Seen seen;
    EXPECT_EQ(RunBox(Sources(L"tabsbadfmt.LAN", dataFile), true, IDOK, &seen), IDOK);
    WText expected(FormatAlloc(kConfirmBuiltInText, L"Tolva Test Driver", L"Tolva Test Driver"));
    EXPECT_EQ(seen.text, expected.get());
    EXPECT_EQ(Confirmed(dataFile), 1u);
}

TEST_F(ConfirmBoxTest, WithoutTheDialogNothingIsShownOrWritten)
{
    std::wstring dataFile = DataFile(6);
    CMessageBox box(Sources(L"tabsnomsg.LAN", dataFile), nullptr);
    EXPECT_EQ(box.DoModal(), IDCANCEL);
    EXPECT_EQ(Confirmed(dataFile), static_cast<DWORD>(-1));
    ConfirmBoxSources none;
    CMessageBox noModule(none, nullptr);
    EXPECT_EQ(noModule.DoModal(), IDCANCEL);
}

TEST(DriverUserKeyTest, NamesTheKeyAfterTheFirstEightCharactersOfTheFileName)
{
    struct Case {
        const wchar_t* dataFile;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\drv\\PRINTERXYZ.PPD", L"Software\\VYR\\Quillet\\Driver\\PRINTERX"},
        {L"C:\\drv\\tolva-sample.ppd", L"Software\\VYR\\Quillet\\Driver\\tolva-sa"},
        {L"C:\\other\\tolva-saX.ppd", L"Software\\VYR\\Quillet\\Driver\\tolva-sa"},
        {L"C:\\d\\ab.ppd", L"Software\\VYR\\Quillet\\Driver\\ab.ppd"},
        {L"ab.ppd", L"Software\\VYR\\Quillet\\Driver\\ab.ppd"},
        {L"C:ab.ppd", L"Software\\VYR\\Quillet\\Driver\\ab.ppd"},
        {L"C:\\d.x\\ABCDEFGHIJ", L"Software\\VYR\\Quillet\\Driver\\ABCDEFGH"},
        {L"C:\\d\\", L""},
        {L"", L""},
        {nullptr, L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DriverUserKeyPath(c.dataFile), c.expected) << (c.dataFile ? c.dataFile : L"(null)");
    EXPECT_FALSE(MarkInstallablesConfirmed(nullptr));
}

TEST_F(ConfirmBoxTest, TwoDataFilesSharingTheirFirstEightCharactersShareTheAnswer)
{
    wchar_t a[64], b[64];
    FormatToBuffer(a, 64, L"C:\\one\\s%05xZZa.ppd", GetCurrentProcessId() & 0xFFFFF);
    FormatToBuffer(b, 64, L"C:\\two\\s%05xZZbother.ppd", GetCurrentProcessId() & 0xFFFFF);
    keys.push_back(DriverUserKeyPath(a));
    ASSERT_EQ(DriverUserKeyPath(a), DriverUserKeyPath(b));
    Seen seen;
    EXPECT_EQ(RunBox(Sources(L"tabs.LAN", a), true, IDOK, &seen), IDOK);
    EXPECT_EQ(Confirmed(b), 1u);
}

}  // namespace
